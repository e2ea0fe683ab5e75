// Number formats: the text a spreadsheet program shows for a number cell.
// Shared by the .xlsx and .xls readers (platform/spreadsheet*.cpp only).
#pragma once

#include <string>

namespace spreadsheet::detail {

// The text a spreadsheet program shows for `value` under the number format
// code `code` (UTF-8, as stored in the file: "General", "0.00", "0%",
// "yyyy-mm-dd", "#,##0.00\"元\"", "[$-F800]dddd...", ...); date1904: the
// workbook counts dates from 1904-01-01.
//
// General shows at most 15 significant digits (22.222200000000001 is
// "22.2222", 72.0 is "72"), but a whole number is always written out with
// every digit the double holds, never with an exponent (an 18-digit
// identity number typed as a number reads as those digits). Codes may have
// up to four sections (positive;negative;zero;text) with colours and
// conditions; dates and times count days from 1899-12-30 (1904-01-01).
// A code this formatter cannot make sense of shows the number as General.
std::string formatNumber(double value, const std::string& code, bool date1904);

// The code of a built-in number format id (0..49 and the East Asian ids the
// files use without declaring them); "General" for unknown ids.
std::string builtinFormatCode(int id);

}  // namespace spreadsheet::detail
