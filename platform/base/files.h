// Files the operator chooses to write (exported lists, prize pictures
// written out): replaced whole or not at all.
#pragma once

#include <functional>
#include <string>

#include "model/text.h"

namespace files {

enum class ReplaceResult {
  Done,
  NoFolder,      // the folder of the path does not exist
  IsFolder,      // the path names a folder
  NameTooLong,   // the file name (or the whole path) is longer than the file system allows
  CannotCreate,  // no file can be made in the folder
  WriteFailed,   // the writer reported failure, or the written file could not be synced
  CannotRename,  // the written file could not take the path's place
};

// Writes the file at path (UTF-8) through a temporary file beside it, which
// write(tempPath) fills; the temporary file is then synced to disk and
// renamed into place, and the folder synced: a failure at any step leaves an
// earlier file of that name as it was, and a crash leaves the earlier file or
// the new one whole. A symbolic link at path is replaced by the file, never
// followed. The temporary name fits wherever the final name fits. A new file
// gets the permissions a new file gets (the umask); a replaced one keeps its
// own. On failure, *systemError (when given) is the errno of the step that
// failed, 0 when none applies.
ReplaceResult replaceFile(const std::string& path,
                          const std::function<bool(const std::string& tempPath)>& write,
                          int* systemError = nullptr);

// The same with the file's whole contents.
ReplaceResult replaceFile(const std::string& path, const std::string& bytes,
                          int* systemError = nullptr);

// What a failed replaceFile means to the operator, in Chinese, with what to
// do about it: "磁盘空间不足……请腾出磁盘空间……". Says that an earlier file of
// that name is kept.
model::Text failureMessage(ReplaceResult result, const std::string& path, int systemError);

}  // namespace files
