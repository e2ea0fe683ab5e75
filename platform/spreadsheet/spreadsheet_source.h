// Shared by the spreadsheet readers and writer (platform/spreadsheet*.cpp only).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/spreadsheet/cell_format.h"
#include "platform/spreadsheet/spreadsheet.h"

namespace spreadsheet::detail {

// What a reader reads of a sheet: the participant list's columns A to F,
// from row 1 down to the first blank row after row 1.
constexpr int kReadColumns = 6;
// Rows of data (row 2 onwards) read at most; a longer list is refused with
// a message that names the limit, so that no file can exhaust memory.
constexpr int kMaxDataRows = 200000;
// Bytes of cell text (UTF-8) read from one sheet at most.
constexpr std::size_t kMaxSheetTextBytes = 32u * 1024 * 1024;
// The size of a sheet: the rows and columns a cell address may name.
constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;

// What a reader fills: the cells, the notes on them, and the watch it
// reports its progress to and stops by.
struct SheetReading {
  CellMap* cells;
  SheetNotes* notes;
  ReadWatch* watch;
};

// What a reader tells of one cell besides its text.
enum CellNote : unsigned {
  kLongNumber = 1,  // a number of more than 15 digits (see SheetNotes)
  kNoResult = 2,    // a formula without a stored result: reads ""
};

// The reader contract. readSheet(index, reading, error) of sheet `index`
// (0-based, tab order):
// - fills `cells` with columns A to F (1..6) only, from row 1 down to and
//   excluding the first blank row after row 1 (a row of 2 or more whose six
//   cells are all empty text, or a row the file leaves out), and stops
//   reading the sheet there;
// - reads every cell as the text a spreadsheet program shows for it:
//   numbers and dates through formatNumber with the cell's number format,
//   truth values as TRUE / FALSE, errors as their text (#DIV/0!, #N/A),
//   formulas as their cached result, and a formula whose file holds no
//   result as "" with kNoResult;
// - stops with a message when the watch is cancelled, at the latest at the
//   next row;
// - reads a cell it cannot make sense of (an empty shared-string value, an
//   index out of range) as "" and reads the rest;
// - never allocates by a size the file declares, and keeps its memory
//   bounded for any input: more than kMaxDataRows data rows or
//   kMaxSheetTextBytes of text are refused with a message naming the limit;
// - returns false with the reason (GBK, for the operator) when the sheet
//   cannot be read, or not without reading damage as data: a damaged part,
//   a refused limit;
// - where a file without checksums (.xls) is cut short inside the sheet,
//   keeps the rows before the damage, drops the row it cuts, and says so in
//   partialReason().
struct SheetSource {
  virtual ~SheetSource() = default;
  virtual int sheetCount() const = 0;
  virtual bool readSheet(int index, const SheetReading& reading, Text* error) = 0;
  // After a readSheet that returned true: why only part of the sheet was
  // read and how many rows of data were, for the operator; "" when the
  // sheet was read whole.
  virtual Text partialReason() const { return Text(); }
};

// Collects a reader's cells under the contract above. Rows are given in
// ascending order; a reader asks beginRow before the cells of each row it
// finds and stops at the first false.
class SheetRows {
 public:
  explicit SheetRows(const SheetReading& reading) : reading_(reading) {}
  // False when the reading ends before `row`: a blank row lies between the
  // last row with text and `row` (ended() then says so), `row` is past the
  // row limit or the reading was cancelled (error() says so).
  bool beginRow(int row);
  // A cell of the current row; kept when its column is A to F and its text
  // is not empty, its notes (CellNote bits) counted. False when the sheet's
  // text passes its limit (error()).
  bool cell(int column, const std::string& utf8, unsigned notes = 0);
  bool ended() const { return ended_; }
  const Text& error() const { return error_; }

 private:
  SheetReading reading_;
  int row_ = 0;
  int lastFilled_ = 1;  // row 1 counts as filled: it may be blank
  std::size_t bytes_ = 0;
  bool ended_ = false;
  Text error_;
};

// The readers: nullptr with a message when the file is not one of theirs or
// is damaged.
std::unique_ptr<SheetSource> openXlsx(const std::string& path, Text* error);
std::unique_ptr<SheetSource> openXls(const std::string& path, Text* error);

// Writes one sheet of text cells (formats by the same keys) as .xlsx at path.
bool writeXlsx(const std::string& path, const CellMap& cells, const CellMap& formats, Text* error);

// Column number to letters: 1 "A", 27 "AA".
std::string columnLetters(int column);
// Appends the UTF-8 bytes of code point cp (a lone surrogate as its own
// three bytes).
void appendUtf8(std::string* out, char32_t cp);
// The message of a reading stopped by its watch.
Text cancelledText();
// Shortest text of a double that reads back as the same value (1.5, 13800138000).
std::string numberText(double v);

}  // namespace spreadsheet::detail
