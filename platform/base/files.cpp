#include "platform/base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace files {

namespace {

using model::operator""_t;
using model::Text;

// The longest file name the folder's file system takes.
size_t nameMax(const std::string& dir) {
  const long n = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<size_t>(n) : 255;
}

// The temporary name beside the target: "." + name + ".XXXXXX", the name cut
// (at a character boundary) so that the whole fits where the final name fits.
std::string tempName(const std::string& name, size_t limit) {
  const std::string suffix = ".XXXXXX";
  std::string stem = name;
  if (1 + stem.size() + suffix.size() > limit) {
    size_t keep = limit > 1 + suffix.size() ? limit - 1 - suffix.size() : 0;
    // Not inside a UTF-8 sequence: back up over continuation bytes.
    while (keep > 0 && keep < stem.size() &&
           (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
      --keep;
    stem.resize(keep);
  }
  return "." + stem + suffix;
}

bool syncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

void setError(int* out, int value) {
  if (out) *out = value;
}

}  // namespace

ReplaceResult replaceFile(const std::string& path,
                          const std::function<bool(const std::string& tempPath)>& write,
                          int* systemError) {
  namespace fs = std::filesystem;
  setError(systemError, 0);
  const fs::path target(path);
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return ReplaceResult::NoFolder;
  // A symbolic link is replaced, not followed: only a real folder is one.
  if (fs::is_directory(fs::symlink_status(target, ec))) return ReplaceResult::IsFolder;
  const std::string name = target.filename().string();
  if (name.size() > nameMax(dir.string()) || path.size() >= PATH_MAX) {
    setError(systemError, ENAMETOOLONG);
    return ReplaceResult::NameTooLong;
  }

  // A unique name beside the target, so that the rename stays on one file system.
  std::string temp = (dir / tempName(name, nameMax(dir.string()))).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    const int err = errno;
    setError(systemError, err);
    return err == ENAMETOOLONG ? ReplaceResult::NameTooLong : ReplaceResult::CannotCreate;
  }
  // mkstemp makes the file private to its owner.
  struct stat existing;
  mode_t mode;
  if (::lstat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const bool modeSet = ::fchmod(fd, mode) == 0;
  setError(systemError, modeSet ? 0 : errno);
  ::close(fd);
  if (!modeSet) {
    fs::remove(temp, ec);
    return ReplaceResult::CannotCreate;
  }
  errno = 0;
  // Whatever the writer wrote is on the disk before it takes the name.
  if (!write(temp) || !syncPath(temp, O_RDONLY)) {
    setError(systemError, errno);
    fs::remove(temp, ec);
    return ReplaceResult::WriteFailed;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    setError(systemError, errno);
    fs::remove(temp, ec);
    return ReplaceResult::CannotRename;
  }
  // The rename itself reaches the disk with the folder. A folder that cannot
  // be synced (some file systems refuse) still holds the whole new file.
  syncPath(dir.string(), O_RDONLY | O_DIRECTORY);
  return ReplaceResult::Done;
}

ReplaceResult replaceFile(const std::string& path, const std::string& bytes, int* systemError) {
  return replaceFile(
      path,
      [&bytes](const std::string& temp) {
        const int fd = ::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return false;
        bool ok = true;
        int err = 0;
        for (size_t done = 0; ok && done < bytes.size();) {
          const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
          if (n < 0 && errno == EINTR) continue;
          ok = n > 0;
          if (ok)
            done += static_cast<size_t>(n);
          else
            err = n < 0 ? errno : ENOSPC;
        }
        if (::close(fd) != 0 && ok) {
          ok = false;
          err = errno;
        }
        errno = err;
        return ok;
      },
      systemError);
}

Text failureMessage(ReplaceResult result, const std::string& path, int systemError) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const Text folder =
      Text::fromUtf8(target.parent_path().empty() ? "." : target.parent_path().string());
  std::error_code ec;
  const Text kept =
      fs::exists(fs::symlink_status(target, ec)) ? "同名的原有文件保持不变。"_t : Text();
  switch (result) {
    case ReplaceResult::Done:
      return Text();
    case ReplaceResult::NoFolder:
      return "文件夹不存在："_t + folder + "\n请选择一个存在的文件夹后重试。"_t;
    case ReplaceResult::IsFolder:
      return "该名称是一个文件夹："_t + Text::fromUtf8(path) + "\n请换一个文件名后重试。"_t;
    case ReplaceResult::NameTooLong:
      return "文件名太长："_t + Text::fromUtf8(target.filename().string()) +
             "\n请换一个短一些的文件名（或选择层次浅一些的文件夹）后重试。"_t;
    default:
      break;
  }
  switch (systemError) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return "磁盘空间不足，文件没有保存："_t + Text::fromUtf8(path) +
             "\n请腾出磁盘空间，或保存到其他磁盘后重试。"_t + kept;
    case EROFS:
      return "该位置是只读的，无法写入文件："_t + folder + "\n请保存到其他文件夹后重试。"_t + kept;
    case EACCES:
    case EPERM:
      return "没有在该文件夹中写入文件的权限："_t + folder +
             "\n请保存到其他文件夹，或检查文件夹的权限后重试。"_t + kept;
    case EIO:
      return "写入磁盘时出错，文件没有保存："_t + Text::fromUtf8(path) +
             "\n请检查磁盘，或保存到其他磁盘后重试。"_t + kept;
    default:
      break;
  }
  if (result == ReplaceResult::CannotCreate)
    return "无法在该文件夹中写入文件："_t + folder +
           "\n请检查磁盘空间和文件夹的权限，或保存到其他文件夹后重试。"_t;
  return "无法保存文件："_t + Text::fromUtf8(path) +
         "\n请检查磁盘空间和文件夹的权限，或保存到其他位置后重试。"_t + kept;
}

}  // namespace files
