// Shared by the spreadsheet readers and writer (platform/spreadsheet*.cpp only).
#pragma once

#include <memory>
#include <string>

#include "platform/spreadsheet.h"

namespace spreadsheet::detail {

struct SheetSource {
  virtual ~SheetSource() = default;
  virtual int sheetCount() const = 0;
  // Reads every cell of sheet index (0-based) as text; false with a message.
  virtual bool readSheet(int index, CellMap* cells, Text* error) = 0;
};

// The readers: nullptr with a message when the file is not one of theirs or
// is damaged.
std::unique_ptr<SheetSource> openXlsx(const std::string& path, Text* error);
std::unique_ptr<SheetSource> openXls(const std::string& path, Text* error);

// Writes one sheet of text cells (formats by the same keys) as .xlsx at path.
bool writeXlsx(const std::string& path, const CellMap& cells, const CellMap& formats, Text* error);

// Column number to letters: 1 "A", 27 "AA".
std::string columnLetters(int column);
// Shortest text of a double that reads back as the same value (1.5, 13800138000).
std::string numberText(double v);

}  // namespace spreadsheet::detail
