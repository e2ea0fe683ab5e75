// Number formats: the text a spreadsheet program shows for a number cell.
// Shared by the .xlsx and .xls readers (platform/spreadsheet*.cpp only).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

namespace spreadsheet::detail {

// A number format code (UTF-8, as stored in the file: "General", "0.00",
// "0%", "yyyy-mm-dd", "#,##0.00\"元\"", "[$-F800]dddd...", ...), parsed once
// into its sections and their tokens, so that formatting a value takes time
// linear in the code. Copies share the parsed code.
//
// Numbers show at most 15 significant digits, as spreadsheet programs keep
// them: 22.222200000000001 under General is "22.2222", and places after the
// 15th digit show zeros (110101199001011234 under General or "0" is
// 110101199001011000). General writes a whole number out, never with an
// exponent. Codes may have up to four sections (positive;negative;zero;text)
// with colours and conditions; dates and times count days from 1899-12-30
// (1904-01-01 when date1904). A code this formatter cannot make sense of
// shows the number as General, and so does a code longer than kMaxCodeBytes
// (no spreadsheet program takes more than 255 characters).
class NumberFormat {
 public:
  static constexpr std::size_t kMaxCodeBytes = 1024;

  explicit NumberFormat(const std::string& code);
  // The text shown for value. *longNumber, when given, tells whether the
  // number has more than 15 digits before its point: the digits after the
  // 15th show as zeros, and whatever they were was lost when the number was
  // stored.
  std::string format(double value, bool date1904, bool* longNumber = nullptr) const;

 private:
  struct Parsed;
  std::shared_ptr<const Parsed> parsed_;
};

// The formats of one workbook by an id (a format or style number), each
// parsed on its first use. Holds a bounded number of them: a workbook with
// more distinct codes in use parses again what it dropped.
class FormatCache {
 public:
  // The format of id; code() gives its code when it is not parsed yet. The
  // reference holds until the next call.
  template <typename CodeOf>
  const NumberFormat& get(int id, CodeOf&& code) {
    auto it = formats_.find(id);
    if (it != formats_.end()) return it->second;
    if (formats_.size() >= kMaxFormats) formats_.clear();
    return formats_.emplace(id, NumberFormat(code())).first->second;
  }

 private:
  static constexpr std::size_t kMaxFormats = 256;
  std::unordered_map<int, NumberFormat> formats_;
};

// One value under one code, parsing the code for this call.
std::string formatNumber(double value, const std::string& code, bool date1904);

// The code of a built-in number format id (0..49 and the East Asian ids the
// files use without declaring them); "General" for unknown ids.
std::string builtinFormatCode(int id);

// The serial day number (days from day 0, as above) of a civil date; a day
// past the end of its month counts on into the next. *ok is false, and 0
// returned, for a month or day out of 1..12 or 1..31, or a year past what a
// calendar date holds.
long long serialDay(int year, int month, int day, bool date1904, bool* ok);

}  // namespace spreadsheet::detail
