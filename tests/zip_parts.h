// Writing a zip archive of named parts, as another program would (libzip).
#pragma once

#include <zip.h>

#include <string>
#include <utility>
#include <vector>

namespace fixture {

using ZipParts = std::vector<std::pair<std::string, std::string>>;

// False when the archive cannot be written.
inline bool writeZip(const std::string& path, const ZipParts& parts) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) return false;
  for (const auto& [name, data] : parts) {
    zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
    if (!src || zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE) < 0) {
      zip_source_free(src);
      zip_discard(z);
      return false;
    }
  }
  return zip_close(z) == 0;
}

}  // namespace fixture
