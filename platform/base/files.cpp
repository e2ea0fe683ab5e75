#include "platform/base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace files {

ReplaceResult replaceFile(const std::string& path,
                          const std::function<bool(const std::string& tempPath)>& write) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return ReplaceResult::NoFolder;
  if (fs::is_directory(target, ec)) return ReplaceResult::IsFolder;

  // A unique name beside the target, so that the rename stays on one file system.
  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) return ReplaceResult::CannotCreate;
  // mkstemp makes the file private to its owner.
  struct stat existing;
  mode_t mode;
  if (::stat(target.c_str(), &existing) == 0) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const bool modeSet = ::fchmod(fd, mode) == 0;
  ::close(fd);
  if (!modeSet) {
    fs::remove(temp, ec);
    return ReplaceResult::CannotCreate;
  }
  if (!write(temp)) {
    fs::remove(temp, ec);
    return ReplaceResult::WriteFailed;
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return ReplaceResult::CannotRename;
  }
  return ReplaceResult::Done;
}

ReplaceResult replaceFile(const std::string& path, const std::string& bytes) {
  return replaceFile(path, [&bytes](const std::string& temp) {
    const int fd = ::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    return ok;
  });
}

}  // namespace files
