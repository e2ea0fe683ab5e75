// Workbooks and the application that holds them; the file formats live in
// spreadsheet_xlsx.cpp and spreadsheet_xls.cpp.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/base/files.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "platform/spreadsheet/spreadsheet_source.h"

namespace spreadsheet {

using model::operator""_t;
using namespace detail;

namespace {
Text pathText(const std::string& path) { return Text::fromUtf8(path); }
}  // namespace

namespace detail {

std::string columnLetters(int column) {
  std::string s;
  while (column > 0) {
    const int d = (column - 1) % 26;
    s.insert(s.begin(), static_cast<char>('A' + d));
    column = (column - 1) / 26;
  }
  return s;
}

std::string numberText(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  // to_chars gives the shortest round trip, but switches to exponents for
  // large whole numbers (1.3800138e+10); a whole number up to 15 digits is
  // written out, as a spreadsheet shows it.
  if (s.find('e') != std::string::npos && v == static_cast<double>(static_cast<long long>(v)) &&
      v > -1e15 && v < 1e15)
    s = std::to_string(static_cast<long long>(v));
  return s;
}

void appendUtf8(std::string* out, char32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}
Text cancelledText() { return "读取已取消"_t; }

bool SheetRows::beginRow(int row) {
  if (ended_ || !error_.empty()) return false;
  if (reading_.watch->cancelled) {
    error_ = cancelledText();
    return false;
  }
  if (row > lastFilled_ + 1) {
    ended_ = true;
    return false;
  }
  if (row > kMaxDataRows + 1) {
    error_ = "工作表超过 "_t + model::numberToText(static_cast<long long>(kMaxDataRows)) +
             " 行数据的上限，未读取"_t;
    return false;
  }
  row_ = row;
  reading_.watch->rows = row;
  if (row % 512 == 0 && reading_.watch->progress) reading_.watch->progress();
  return true;
}

bool SheetRows::cell(int column, const std::string& utf8, unsigned notes) {
  if (column < 1 || column > kReadColumns) return error_.empty();
  SheetNotes& n = *reading_.notes;
  if ((notes & kLongNumber) && (n.longNumberRows.empty() || n.longNumberRows.back() != row_))
    n.longNumberRows.push_back(row_);
  if (notes & kNoResult) ++n.formulasWithoutResult;
  if (utf8.empty()) return error_.empty();
  bytes_ += utf8.size();
  if (bytes_ > kMaxSheetTextBytes) {
    error_ = "工作表的文字超过 "_t +
             model::numberToText(static_cast<long long>(kMaxSheetTextBytes / (1024 * 1024))) +
             " MB 的上限，未读取"_t;
    return false;
  }
  // Copied so that the kept text holds no more memory than its bytes.
  (*reading_.cells)[cellKey(row_, column)] =
      Text::fromGbk(std::string(Text::fromUtf8(utf8).bytes()));
  if (row_ > lastFilled_) lastFilled_ = row_;
  return true;
}

}  // namespace detail

bool parseAddress(std::string_view address, int* row, int* column) {
  size_t i = 0;
  long long col = 0;
  // ASCII letters only: the locale's idea of a letter does not count.
  for (; i < address.size(); ++i) {
    const char c = address[i];
    if (c >= 'a' && c <= 'z')
      col = col * 26 + (c - 'a' + 1);
    else if (c >= 'A' && c <= 'Z')
      col = col * 26 + (c - 'A' + 1);
    else
      break;
    if (col > kMaxColumns) return false;
  }
  if (i == 0 || i == address.size()) return false;
  long long r = 0;
  for (; i < address.size(); ++i) {
    const char c = address[i];
    if (c < '0' || c > '9') return false;
    r = r * 10 + (c - '0');
    if (r > kMaxRows) return false;
  }
  if (r < 1) return false;
  *row = static_cast<int>(r);
  *column = static_cast<int>(col);
  return true;
}

// --- Workbook -------------------------------------------------------------------------

Workbook::Workbook() = default;
Workbook::~Workbook() = default;

int Workbook::sheetCount() const {
  if (writable_) return 1;
  return source_ ? source_->sheetCount() : 0;
}

bool Workbook::selectSheet(int number) {
  current_.clear();
  notes_ = SheetNotes();
  currentSheet_ = 0;
  warning_ = Text();
  if (number < 1 || number > sheetCount()) {
    error_ =
        "工作簿中没有第 "_t + model::numberToText(static_cast<long long>(number)) + " 个工作表"_t;
    return false;
  }
  if (!writable_ && !source_->readSheet(number - 1, {&current_, &notes_, watch_}, &error_)) {
    current_.clear();
    notes_ = SheetNotes();
    return false;
  }
  if (!writable_) warning_ = source_->partialReason();
  currentSheet_ = number;
  return true;
}

Text Workbook::cellText(const std::string& address) const {
  int row = 0, column = 0;
  if (currentSheet_ == 0 || !parseAddress(address, &row, &column)) return Text();
  const CellMap& cells = writable_ ? written_ : current_;
  auto it = cells.find(cellKey(row, column));
  return it == cells.end() ? Text() : it->second;
}

bool Workbook::writableCell(const std::string& address, std::uint64_t* key) {
  int row = 0, column = 0;
  if (!writable_) {
    error_ = "打开的工作簿只能读取"_t;
    return false;
  }
  if (!parseAddress(address, &row, &column)) {
    error_ = "单元格地址无效："_t + Text::fromUtf8(address);
    return false;
  }
  *key = cellKey(row, column);
  return true;
}

bool Workbook::setNumberFormat(const std::string& address, const Text& format) {
  std::uint64_t key = 0;
  if (!writableCell(address, &key)) return false;
  formats_[key] = format;
  return true;
}

bool Workbook::setCellText(const std::string& address, const Text& text) {
  std::uint64_t key = 0;
  if (!writableCell(address, &key)) return false;
  written_[key] = text;
  return true;
}

Text Workbook::numberFormat(const std::string& address) const {
  int row = 0, column = 0;
  if (!writable_ || !parseAddress(address, &row, &column)) return Text();
  auto it = formats_.find(cellKey(row, column));
  return it == formats_.end() ? Text() : it->second;
}

bool Workbook::saveAs(const std::string& path) {
  if (!writable_) {
    error_ = "打开的工作簿只能读取"_t;
    return false;
  }
  if (path.empty()) {
    error_ = "没有给出文件名"_t;
    return false;
  }
  Text writeError;
  int systemError = 0;
  const files::ReplaceResult result = files::replaceFile(
      path,
      [&](const std::string& temp) { return writeXlsx(temp, written_, formats_, &writeError); },
      &systemError);
  if (result == files::ReplaceResult::Done) return true;
  // A cell the workbook cannot hold is named; anything else is the file's.
  error_ = result == files::ReplaceResult::WriteFailed && !writeError.empty()
               ? writeError
               : files::failureMessage(result, path, systemError);
  return false;
}

// --- Application ------------------------------------------------------------------------

Application::Application() = default;
Application::~Application() { quit(); }

Workbook* Application::add() {
  if (quit_) {
    error_ = "电子表格程序已退出"_t;
    return nullptr;
  }
  std::unique_ptr<Workbook> book(new Workbook());
  book->writable_ = true;
  book->currentSheet_ = 1;
  books_.push_back(std::move(book));
  return books_.back().get();
}

Workbook* Application::open(const std::string& path) {
  namespace fs = std::filesystem;
  if (quit_) {
    error_ = "电子表格程序已退出"_t;
    return nullptr;
  }
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(path, ec)) {
    error_ = "文件不存在："_t + pathText(path);
    return nullptr;
  }
  // The format is told by the first bytes: a zip archive (xlsx) or an OLE
  // compound file (xls), whatever the file's name says.
  unsigned char magic[8] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(magic), sizeof magic);
  if (!in && in.gcount() == 0) {
    error_ = "无法读取文件："_t + pathText(path);
    return nullptr;
  }
  in.close();
  const unsigned char zipMagic[4] = {'P', 'K', 3, 4};
  const unsigned char oleMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::unique_ptr<SheetSource> source;
  Text why;
  if (watch_.cancelled) {
    why = cancelledText();
  } else if (std::equal(zipMagic, zipMagic + 4, magic)) {
    source = openXlsx(path, &why);
  } else if (std::equal(oleMagic, oleMagic + 8, magic)) {
    source = openXls(path, &why);
  } else {
    why = "不是 Excel 工作簿（.xlsx 或 .xls）"_t;
  }
  if (!source) {
    error_ = "无法打开工作簿 "_t + pathText(path) + "："_t + why;
    return nullptr;
  }
  std::unique_ptr<Workbook> book(new Workbook());
  book->source_ = std::move(source);
  book->watch_ = &watch_;
  books_.push_back(std::move(book));
  return books_.back().get();
}

void Application::closeAll() { books_.clear(); }

void Application::quit() {
  closeAll();
  quit_ = true;
}

}  // namespace spreadsheet
