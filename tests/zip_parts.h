// Zip archives of the tests, read and written part by part with libzip, as
// another program would write them.
#pragma once

#include <zip.h>

#include <string>
#include <utility>
#include <vector>

namespace fixture {

using ZipParts = std::vector<std::pair<std::string, std::string>>;

// Every part of the archive at path, in its order; empty when it cannot be opened.
inline ZipParts readZipParts(const std::string& path) {
  ZipParts parts;
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!z) return parts;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
    if (!f) continue;
    std::string data;
    char buf[65536];
    zip_int64_t n = 0;
    while ((n = zip_fread(f, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
    zip_fclose(f);
    parts.emplace_back(zip_get_name(z, static_cast<zip_uint64_t>(i), 0), data);
  }
  zip_discard(z);
  return parts;
}

// Writes the parts as a new archive at path, compressed by `method` (libzip's
// default: deflated); false when it cannot.
inline bool writeZipParts(const std::string& path, const ZipParts& parts,
                          zip_int32_t method = ZIP_CM_DEFAULT) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) return false;
  for (const auto& [name, data] : parts) {
    zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
    const zip_int64_t index = src ? zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE) : -1;
    if (index < 0 || zip_set_file_compression(z, static_cast<zip_uint64_t>(index), method, 0) < 0) {
      if (index < 0) zip_source_free(src);
      zip_discard(z);
      return false;
    }
  }
  return zip_close(z) == 0;
}

}  // namespace fixture
