// Spreadsheet workbooks: the participant lists exchanged with the operator's
// spreadsheet program.
//
// An Application holds the workbooks it opened or added. A workbook opened
// from a file is read-only: .xlsx (Office Open XML) and .xls (BIFF5 and
// BIFF8) are both read, recognised by their contents rather than their name.
// Of a sheet opened from a file only what a participant list uses is read:
// columns A to F, from row 1 down to the first blank row after row 1 (at
// most 200,000 rows of data; a longer sheet is refused with a message naming
// the limit).
// A workbook added to the application is written: cells hold text, each with
// an optional number format ("@" is the text format), and saveAs writes an
// .xlsx file (the only format written).
//
// Cells are addressed as "b2": column letters (either case; "a" is column 1,
// "aa" column 27) followed by the 1-based row number. Every text in and out is
// GBK (model::Text); the files hold UTF-8.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/text.h"

namespace spreadsheet {

using model::Text;

namespace detail {
// The reader behind a workbook opened from a file (xlsx or xls).
struct SheetSource;
// Cells of one sheet by cellKey(row, column).
using CellMap = std::map<std::uint64_t, Text>;
inline std::uint64_t cellKey(int row, int column) {
  return (static_cast<std::uint64_t>(row) << 16) | static_cast<std::uint64_t>(column);
}
// How a reading on one thread is followed and stopped from another.
struct ReadWatch {
  std::atomic<bool> cancelled{false};
  std::atomic<int> rows{0};        // the sheet row reached
  std::function<void()> progress;  // set before a reading starts; see Application
};
}  // namespace detail

// What reading the current sheet found that the operator should know, in
// what is read (columns A to F, down to the first blank row).
struct SheetNotes {
  // Rows (ascending, each once) with a number of more than 15 digits before
  // its point. A spreadsheet keeps 15 significant digits, so the places
  // after them read as zeros: an 18-digit identity number typed as a number
  // reads 110101199001011000, its real last digits lost when the workbook
  // was saved (the column should have been text).
  std::vector<int> longNumberRows;
  // Formula cells for which the file holds no result (written by a program
  // that does not calculate): they read "". A spreadsheet program that opens
  // and saves the workbook stores their results.
  int formulasWithoutResult = 0;
};

// Row and column (both 1-based) of an address such as "b2"; false when the
// address is not one cell inside the sheet limits (1048576 rows, 16384 columns).
bool parseAddress(std::string_view address, int* row, int* column);

class Workbook {
 public:
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;
  ~Workbook();

  bool writable() const { return writable_; }
  int sheetCount() const;
  // Makes sheet `number` (1-based, in the workbook's tab order) the current
  // one. False with a message in error() when there is no such sheet or it
  // cannot be read; there is then no current sheet and every cell reads "".
  bool selectSheet(int number);
  // After selectSheet: "" when the sheet was read whole; else, for a
  // damaged .xls file, that the file is damaged and how many rows of data
  // could be read (the cells before the damage are read, none after it).
  const Text& warning() const { return warning_; }
  // The current sheet's cell as text: "" for an empty cell, a cell outside
  // what is read (see above), a bad address or no current sheet. Every cell
  // reads as the text a spreadsheet program shows for it: numbers and dates
  // under their number format (1.50 under "0.00", 2024-01-15, 12%), with at
  // most 15 significant digits and whole numbers never with an exponent (an
  // 18-digit number reads with zeros after its 15th digit, see SheetNotes),
  // formulas as their last result ("" when the file holds none), truth
  // values as TRUE / FALSE, errors as their text (#DIV/0!). A cell the file
  // damages reads as "" while the rest of the sheet is read.
  Text cellText(const std::string& address) const;
  // What selectSheet found in the current sheet (nothing for a writable
  // workbook).
  const SheetNotes& notes() const { return notes_; }

  // Writable workbooks only: the cell's number format and value. False (and
  // nothing changed) for a read-only workbook or a bad address.
  bool setNumberFormat(const std::string& address, const Text& format);
  bool setCellText(const std::string& address, const Text& text);
  Text numberFormat(const std::string& address) const;

  // Writes the workbook as .xlsx at path (UTF-8). The file is written beside
  // its final name and renamed into place, so a failed save leaves any
  // earlier file of that name untouched. False with a message in error().
  bool saveAs(const std::string& path);

  // The reason of the last failure, for the operator (GBK).
  const Text& error() const { return error_; }

 private:
  friend class Application;
  Workbook();
  // The key of a cell to write, or false (with the reason) when the
  // workbook is read-only or the address is not one.
  bool writableCell(const std::string& address, std::uint64_t* key);

  bool writable_ = false;
  std::unique_ptr<detail::SheetSource> source_;  // read-only workbooks
  detail::CellMap written_;                      // writable workbooks: sheet 1
  detail::CellMap formats_;
  detail::CellMap current_;  // the current sheet of a read-only workbook
  SheetNotes notes_;
  detail::ReadWatch* watch_ = nullptr;  // the application's
  int currentSheet_ = 0;                // 0: none
  Text error_;
  Text warning_;
};

class Application {
 public:
  Application();
  ~Application();  // quits
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // A new, empty, writable workbook with one sheet, current sheet 1.
  Workbook* add();
  // Opens the workbook file at path (UTF-8) read-only; nullptr with a
  // message in error() when the file is missing, unreadable, not a workbook or
  // damaged. No sheet is current until selectSheet.
  Workbook* open(const std::string& path);
  // Closes every workbook of the application; pointers to them are then void.
  void closeAll();
  // Closes everything; the application takes no further workbooks.
  void quit();
  int workbookCount() const { return static_cast<int>(books_.size()); }

  // A workbook may be opened and its sheet selected on another thread than
  // the one that watches: cancel() (any thread) makes the reading that runs
  // stop at its next row, and every later one at once, with a message;
  // rowsRead() (any thread) is the sheet row the reading has reached.
  void cancel() { watch_.cancelled = true; }
  // fn runs on the reading's thread every few hundred rows it reads. Set
  // before the reading starts.
  void onProgress(std::function<void()> fn) { watch_.progress = std::move(fn); }
  bool cancelled() const { return watch_.cancelled; }
  int rowsRead() const { return watch_.rows; }
  const Text& error() const { return error_; }

 private:
  std::vector<std::unique_ptr<Workbook>> books_;
  detail::ReadWatch watch_;
  bool quit_ = false;
  Text error_;
};

}  // namespace spreadsheet
