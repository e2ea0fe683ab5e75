// Files the operator chooses to write (exported lists): replaced whole or
// not at all.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace files {

enum class ReplaceResult {
  Done,
  NoFolder,      // the folder of the path does not exist
  IsFolder,      // the path names a folder
  CannotCreate,  // no file can be made in the folder
  WriteFailed,   // the writer reported failure
  CannotRename,  // the written file could not take the path's place
};

// Writes the file at path (UTF-8) through a temporary file beside it, which
// write(tempPath) fills, then renames it into place: a failure at any step
// leaves an earlier file of that name as it was. A new file gets the
// permissions a new file gets (the umask); a replaced one keeps its own.
ReplaceResult replaceFile(const std::string& path,
                          const std::function<bool(const std::string& tempPath)>& write);

// The same with the file's whole contents, synced to disk before the rename.
ReplaceResult replaceFile(const std::string& path, const std::string& bytes);

}  // namespace files
