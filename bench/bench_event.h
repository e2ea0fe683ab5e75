// A program folder for a bench: the folders the program expects and stores
// made from records.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "model/records.h"
#include "platform/store/store.h"

namespace bench {

// An empty program folder `name` under the temporary folder, made anew.
inline std::string makeProgramFolder(const char* name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  for (const char* sub : {"data", "Prize/bj", "Music/bj", "Music/Start", "Music/end"})
    std::filesystem::create_directories(dir / sub);
  return dir.string();
}

// The store `file` of the program folder with the given fields and records.
inline void makeStore(const std::string& folder, const char* file,
                      const std::vector<model::FieldSpec>& specs,
                      const std::vector<std::vector<store::Value>>& rows) {
  const std::string path = model::programPath(folder, file);
  store::createStoreFile(path, store::fieldDefs(specs));
  store::open(path, model::Text::fromGbk("prep"));
  store::Transaction tx;
  for (const auto& r : rows) store::append(r);
  tx.commit();
  store::close();
}

}  // namespace bench
