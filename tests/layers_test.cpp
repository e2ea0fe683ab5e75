// The folders are the libraries, and they depend downward only: every
// project include of a source file names a folder that its own folder may
// use. The table below is the one the CMake targets link by.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "temp_files.h"

namespace fs = std::filesystem;

namespace {

// Each library folder with the folders it may include from.
const std::map<std::string, std::set<std::string>>& allowedUses() {
  static const std::map<std::string, std::set<std::string>> table = {
      {"model", {}},
      {"platform/base", {"model"}},
      {"platform/store", {"platform/base", "model"}},
      {"platform/media", {"platform/base", "model"}},
      {"platform/ui", {"platform/media", "platform/base", "model"}},
      {"platform/spreadsheet", {"platform/base", "model"}},
      {"frame",
       {"platform/ui", "platform/store", "platform/media", "platform/spreadsheet", "platform/base",
        "model"}},
      {"draw",
       {"frame", "platform/ui", "platform/store", "platform/media", "platform/spreadsheet",
        "platform/base", "model"}},
      {"maintenance",
       {"frame", "platform/ui", "platform/store", "platform/media", "platform/spreadsheet",
        "platform/base", "model"}},
      {"app",
       {"draw", "maintenance", "frame", "platform/ui", "platform/store", "platform/media",
        "platform/spreadsheet", "platform/base", "model"}},
  };
  return table;
}

// The library folder a path (relative to the source tree) lies in, or "".
std::string libraryOf(const std::string& path) {
  std::string best;
  for (const auto& [folder, uses] : allowedUses())
    if (path.rfind(folder + "/", 0) == 0 && folder.size() > best.size()) best = folder;
  return best;
}

std::vector<std::string> projectIncludes(const fs::path& file) {
  const std::string s = fixture::readAll(file);
  static const std::regex include(R"re(#include\s+"([^"]+)")re");
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(s.begin(), s.end(), include); it != std::sregex_iterator();
       ++it)
    out.push_back((*it)[1]);
  return out;
}

}  // namespace

TEST(Layers, EveryIncludeReachesALowerLibrary) {
  const fs::path root = PD_SOURCE_DIR;
  int files = 0;
  for (const auto& [folder, uses] : allowedUses()) {
    ASSERT_TRUE(fs::is_directory(root / folder)) << folder;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      const auto ext = entry.path().extension();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      const std::string rel = fs::relative(entry.path(), root).generic_string();
      if (libraryOf(rel) != folder) continue;  // a nested library's file
      ++files;
      for (const std::string& inc : projectIncludes(entry.path())) {
        const std::string target = libraryOf(inc);
        if (target.empty() || target == folder) continue;
        EXPECT_TRUE(uses.count(target))
            << rel << " includes " << inc << ": " << folder << " may not use " << target;
      }
    }
  }
  EXPECT_GT(files, 50);
}

// The table itself has no loop: a depth-first walk never comes back to a
// folder it is still below.
TEST(Layers, TheTableHasNoLoop) {
  std::map<std::string, int> state;  // 1 on the path, 2 done
  std::function<bool(const std::string&)> walk = [&](const std::string& f) {
    if (state[f] == 1) return false;
    if (state[f] == 2) return true;
    state[f] = 1;
    for (const auto& u : allowedUses().at(f))
      if (!walk(u)) return false;
    state[f] = 2;
    return true;
  };
  for (const auto& [folder, uses] : allowedUses()) EXPECT_TRUE(walk(folder)) << folder;
}

// No source file is left directly in platform/: each belongs to one of its
// libraries.
TEST(Layers, PlatformFilesLieInTheirLibraries) {
  const fs::path platform = fs::path(PD_SOURCE_DIR) / "platform";
  for (const auto& entry : fs::directory_iterator(platform)) {
    const auto ext = entry.path().extension();
    EXPECT_FALSE(entry.is_regular_file() && (ext == ".cpp" || ext == ".h"))
        << entry.path().filename() << " lies in platform/ itself";
  }
}
