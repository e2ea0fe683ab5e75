// Scratch files of a test: a folder removed with everything in it, and whole
// files written and read as bytes.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace fixture {

class TempDir {
 public:
  explicit TempDir(const char* prefix = "pd-test") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    dir = mkdtemp(buf.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string path(const std::string& name) const { return dir + "/" + name; }
  std::string dir;
};

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything in a folder but the given names (temporary files left behind).
inline std::vector<std::string> strayFiles(const std::string& dir,
                                           std::vector<std::string> expected) {
  std::vector<std::string> stray;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
  }
  return stray;
}

// A name of exactly `bytes` bytes ending in `ending`, made of two- and
// three-byte characters so that a cut in the middle of one would show.
inline std::string nameOfLength(size_t bytes, const std::string& ending) {
  std::string name;
  while (name.size() + ending.size() + 3 <= bytes) name += "名";
  while (name.size() + ending.size() < bytes) name += "a";
  return name + ending;
}

// A full disk for this process, without a file system of its own: while the
// scope lasts, a write that would make a file longer than `bytes` fails
// (EFBIG, SIGXFSZ ignored), as writes fail on a disk with that little room.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t oldHandler_ = SIG_DFL;
};

}  // namespace fixture
