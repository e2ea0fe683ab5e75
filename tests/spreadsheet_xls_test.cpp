// .xls workbooks: BIFF8 and BIFF5 cells as a spreadsheet shows them
// (formula results, number formats, shared strings split over records, code
// pages), the workbook stream under any name case, the rows up to the first
// blank one, and damaged or hostile files: a damaged cell reads empty, a
// file is refused only with a reason, and nothing reads outside the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "platform/spreadsheet/spreadsheet.h"
#include "temp_files.h"
#include "tests/xls_builder.h"

using model::operator""_t;
using model::Text;
namespace fs = std::filesystem;
using namespace xlsbuild;

using fixture::readAll;
using fixture::writeBytes;

namespace {

// Scratch folders of this file.
struct TempDir : fixture::TempDir {
  TempDir() : fixture::TempDir("pd-xls") {}
};

// The texts of columns A to F of rows 1..rows, "|" between cells and "\n"
// after each row, as the import reads them.
struct Read {
  bool opened = false;
  std::string error;
  std::string cells;
  spreadsheet::SheetNotes notes;
};
Read readXls(const std::string& bytes, int rows = 6, int sheet = 1) {
  TempDir tmp;
  const std::string path = tmp.path("book.xls");
  writeBytes(path, bytes);
  spreadsheet::Application app;
  Read r;
  spreadsheet::Workbook* book = app.open(path);
  if (!book) {
    r.error = app.error().toUtf8();
    return r;
  }
  r.opened = true;
  if (!book->selectSheet(sheet)) {
    r.error = book->error().toUtf8();
    return r;
  }
  for (int row = 1; row <= rows; ++row) {
    for (char c = 'a'; c <= 'f'; ++c) {
      if (c != 'a') r.cells += '|';
      r.cells += book->cellText(std::string(1, c) + std::to_string(row)).toUtf8();
    }
    r.cells += '\n';
  }
  r.notes = book->notes();
  return r;
}

std::string gbk(const char* utf8) { return Text::fromUtf8(utf8).bytes(); }

std::uint32_t rkInt(int v) { return (static_cast<std::uint32_t>(v) << 2) | 2u; }

// A BIFF8 book as spreadsheet programs write one: a heading row, then rows
// of every kind of cell; formats 164 "0.00" (style 16) and 165 "yyyy-mm-dd"
// (style 17).
Book cellBook() {
  Book b;
  b.codePage = 1200;
  b.formats = {{164, "0.00"}, {165, "yyyy-mm-dd"}};
  b.xfFormats.assign(16, 0);
  b.xfFormats.push_back(164);
  b.xfFormats.push_back(165);
  b.shared = {u"编号", u"姓名", u"张三", u"", u"0001"};
  std::string s;
  s += labelSst(0, 0, 0) + labelSst(0, 1, 1);
  // Row 2: text, a shared empty string, a long number, a formatted number, a date.
  s += labelSst(1, 0, 4) + labelSst(1, 1, 2) + labelSst(1, 2, 3) +
       number(1, 3, 110101199001011232.0) + number(1, 4, 1.5, 16) + rk(1, 5, rkInt(45306), 17);
  // Row 3: formulas only: a text (in the STRING record after it, past a
  // shared-formula record), a number, truth values, an error, an empty text.
  const std::string text = formulaText(2, 0, u"0002", true);
  s += text + record(0x04BC, std::string(10, '\0')) + record(0x0207, unicode(u"0002", false));
  s += formulaNumber(2, 1, 22.222200000000001) + formulaBool(2, 2, true) +
       formulaBool(2, 3, false) + formulaError(2, 4, 0x07) + formulaText(2, 5, u"");
  // Row 4: RK forms, several in one record, LABEL in both widths, errors.
  s += mulrk(3, 0, {rkInt(-7), (1234u << 2) | 3u, 0x3FF00000u}) +
       label(3, 3, unicode(u"Zoë", false)) + label(3, 4, unicode(u"李四")) +
       boolErr(3, 5, 0x2A, true);
  // Row 5: a formula text whose STRING record never comes reads empty; the
  // truth-value cell is read; column G is not read.
  s += formulaText(4, 0, u"lost", true) + boolErr(4, 1, 1, false) + labelSst(4, 6, 2);
  // RSTRING: a text with its formatting runs after it.
  s += record(0x00D6, cellHead(4, 2, 15) + unicode(u"富文本") + "\x01\x00" + std::string(4, '\0'));
  // Row 6 is blank; row 7 is not read.
  s += labelSst(6, 0, 2);
  b.sheets = {s};
  return b;
}

TEST(XlsRead, CellsAsASpreadsheetShowsThem) {
  const Read r = readXls(file(cellBook()), 7);
  ASSERT_TRUE(r.opened) << r.error;
  EXPECT_EQ(r.cells,
            "编号|姓名||||\n"
            "0001|张三||110101199001011000|1.50|2024-01-15\n"
            "0002|22.2222|TRUE|FALSE|#DIV/0!|\n"
            "-7|12.34|1|Zoë|李四|#N/A\n"
            "|TRUE|富文本|||\n"
            "|||||\n"
            "|||||\n");
  // The identity number kept 15 digits; the empty formula result is what a
  // writer that does not calculate stores.
  EXPECT_EQ(r.notes.longNumberRows, std::vector<int>{2});
  EXPECT_EQ(r.notes.formulasWithoutResult, 1);
}

TEST(XlsRead, Date1904AndExcel95Workbook) {
  Book b = cellBook();
  b.date1904 = true;
  b.sheets = {rk(1, 0, rkInt(0), 17) + rk(1, 1, rkInt(1), 17)};
  Read r = readXls(file(b), 2);
  ASSERT_TRUE(r.opened) << r.error;
  EXPECT_EQ(r.cells, "|||||\n1904-01-01|1904-01-02||||\n");

  // Excel 5.0/95: the stream is "Book", texts are GBK bytes (code page 936)
  // in LABEL and STRING records, formats are byte strings.
  Book old;
  old.biff = 5;
  old.codePage = 936;
  old.formats = {{164, "0.0\"" + gbk("元") + "\""}};
  old.xfFormats.assign(16, 0);
  old.xfFormats.push_back(164);
  old.sheets = {
      label(0, 0, bytes16(gbk("编号"))) + label(0, 1, bytes16(gbk("姓名"))) +
          label(1, 0, bytes16("0001")) + label(1, 1, bytes16(gbk("王五"))) +
          rk(1, 2, rkInt(13800138), 16) + formulaText5(1, 3, gbk("备注")) + number(1, 4, 2.5) +
          formulaBool(2, 0, true) +
          record(0x00D6, cellHead(2, 1, 15) + bytes16(gbk("丙")) + "\x01" + std::string(2, '\0')),
      label(0, 0, bytes16(gbk("第二页")))};
  for (const char16_t* name : {u"Book", u"BOOK", u"Workbook"}) {
    r = readXls(file(old, name), 3);
    ASSERT_TRUE(r.opened) << r.error;
    EXPECT_EQ(r.cells, "编号|姓名||||\n0001|王五|13800138.0元|备注|2.5|\nTRUE|丙||||\n");
  }
  r = readXls(file(old, u"Book"), 1, 2);
  EXPECT_EQ(r.cells, "第二页|||||\n");
}

TEST(XlsRead, WorkbookStreamByAnyNameCaseAndSize) {
  Book b;
  b.shared = {u"编号", u"甲"};
  b.sheets = {labelSst(0, 0, 0) + labelSst(1, 0, 1)};
  for (const char16_t* name : {u"Workbook", u"WORKBOOK", u"workbook", u"WorkBook", u"book"}) {
    for (bool small : {false, true}) {  // small: held in the mini stream
      const Read r = readXls(file(b, name, small), 2);
      ASSERT_TRUE(r.opened) << r.error;
      EXPECT_EQ(r.cells, "编号|||||\n甲|||||\n");
    }
  }
  // With both, "Workbook" is the workbook; another stream is not.
  Book other;
  other.shared = {u"旧"};
  other.sheets = {labelSst(0, 0, 0)};
  std::string s = b.stream();
  s.resize(4096, '\0');
  Read r = readXls(compound({{u"Book", other.stream()}, {u"Ole", "x"}, {u"WORKBOOK", s}}), 1);
  EXPECT_EQ(r.cells, "编号|||||\n");
  r = readXls(compound({{u"Workbook1", s}, {u"SummaryInformation", "x"}}));
  EXPECT_FALSE(r.opened);
  EXPECT_NE(r.error.find("没有工作簿数据"), std::string::npos) << r.error;
}

TEST(XlsRead, SharedStringsAcrossContinueRecords) {
  Book b;
  std::u16string longLatin(300, u'a'), mixed = u"abc";
  for (int i = 0; i < 100; ++i) mixed += (i % 2 ? u'x' : u'中');
  b.shared = {u"编号", longLatin, mixed, u"尾"};
  b.maxRecord = 64;  // every string splits
  b.sheets = {labelSst(0, 0, 0) + labelSst(1, 0, 1) + labelSst(1, 1, 2) + labelSst(1, 2, 3)};
  Read r = readXls(file(b), 2);
  ASSERT_TRUE(r.opened) << r.error;
  std::string mixedUtf8 = "abc";
  for (int i = 0; i < 100; ++i) mixedUtf8 += (i % 2 ? "x" : "中");
  EXPECT_EQ(r.cells, "编号|||||\n" + std::string(300, 'a') + "|" + mixedUtf8 + "|尾|||\n");

  // Rich-text runs and phonetic data after a string's characters are
  // skipped, also where they run on into the next record.
  std::string sst;
  put32(&sst, 3), put32(&sst, 3);
  sst += unicode(u"编号");
  put16(&sst, 2), put8(&sst, 0x0D), put16(&sst, 2), put32(&sst, 6);
  put16(&sst, u'李'), put16(&sst, u'四');
  std::string runs(8, '\x01'), ext(6, '\x02');
  std::string first = sst + runs.substr(0, 5);
  std::string rest = runs.substr(5) + ext;
  put16(&rest, 1), put8(&rest, 0), put8(&rest, 'z');
  Book rich;
  rich.extraGlobals = record(0x00FC, first) + record(0x003C, rest);
  rich.sheets = {labelSst(0, 0, 0) + labelSst(1, 0, 1) + labelSst(1, 1, 2)};
  r = readXls(file(rich), 2);
  ASSERT_TRUE(r.opened) << r.error;
  EXPECT_EQ(r.cells, "编号|||||\n李四|z||||\n");
  // A record that takes over a string's characters may hold nothing but
  // their flags byte; an empty one ends the table where it stands.
  auto table = [](const std::vector<std::string>& continues) {
    std::string head;
    put32(&head, 2), put32(&head, 2);
    put16(&head, 5), put8(&head, 0);
    head += "ab";
    std::string out = record(0x00FC, head);
    for (const std::string& c : continues) out += record(0x003C, c);
    return out;
  };
  Book split;
  std::string tail("\0cde", 4);
  tail += unicode(u"尾");
  split.extraGlobals = table({std::string(1, '\0'), tail});
  split.sheets = {labelSst(0, 0, 0) + labelSst(0, 1, 1)};
  EXPECT_EQ(readXls(file(split), 1).cells, "abcde|尾||||\n");
  split.extraGlobals = table({std::string(), tail});
  EXPECT_EQ(readXls(file(split), 1).cells, "|||||\n");
}

TEST(XlsRead, RowsUpToTheFirstBlankRowInAnyRecordOrder) {
  Book b;
  b.shared = {u"h", u"a", u"", u"  "};
  // Written column by column: B3 before A2. Row 4 holds only an empty
  // shared string and a blank cell: blank. Row 5 is not read.
  b.sheets = {labelSst(2, 1, 1) + labelSst(1, 0, 1) + labelSst(0, 0, 0) + labelSst(3, 0, 2) +
              blank(3, 1) + labelSst(4, 0, 1) + labelSst(2, 0, 3)};
  Read r = readXls(file(b), 5);
  ASSERT_TRUE(r.opened) << r.error;
  EXPECT_EQ(r.cells, "h|||||\na|||||\n  |a||||\n|||||\n|||||\n");
  // A blank row 1 is read past; a blank row 2 ends the sheet.
  b.sheets = {labelSst(1, 0, 1) + labelSst(2, 0, 1)};
  EXPECT_EQ(readXls(file(b), 3).cells, "|||||\na|||||\na|||||\n");
  b.sheets = {labelSst(0, 0, 1) + labelSst(2, 0, 1)};
  EXPECT_EQ(readXls(file(b), 3).cells, "a|||||\n|||||\n|||||\n");
}

// Damaged records inside a sound file: the cell reads empty, every other
// cell is read.
TEST(XlsRead, DamagedCellsReadEmpty) {
  Book b;
  b.shared = {u"ok"};
  std::string s = labelSst(0, 0, 0);
  s += labelSst(1, 0, 0) + labelSst(1, 1, 99);           // no such shared string
  s += record(0x0203, cellHead(1, 2, 15) + "abc");       // NUMBER cut short
  s += record(0x0204, cellHead(1, 3, 15) + "\xff\x7f");  // LABEL count past the record
  s += record(0x00BD, cellHead(1, 4, 15).substr(0, 5));  // MULRK with no value
  s += record(0x0006, cellHead(1, 5, 15) + "1234");      // FORMULA cut short
  s += rk(1, 6000, rkInt(1)) + record(0x00FD, "");       // off the sheet; no row at all
  s += record(0x0205, cellHead(2, 0, 15) + "\x05\x01");  // unknown error code
  s += number(2, 1, std::numeric_limits<double>::quiet_NaN());
  s += record(0x0207, unicode(u"stray"));  // a STRING with no formula before it
  s += labelSst(2, 2, 0) + xlsbuild::label(2, 3, unicode(u"end"));
  s += number(2, 4, 5, 16);  // a number format that ends in a lone backslash
  b.formats = {{164, "0\\"}};
  b.xfFormats.assign(16, 0);
  b.xfFormats.push_back(164);
  b.sheets = {s};
  const Read r = readXls(file(b), 3);
  ASSERT_TRUE(r.opened) << r.error;
  EXPECT_EQ(r.cells, "ok|||||\nok|||||\n|#NUM!|ok|end|5|\n");
}

// Hostile containers and workbook streams: each is refused with a reason
// or read as far as it is sound; none may read outside the file.
TEST(XlsRead, DamagedFilesAreRefusedWithAReasonOrReadAsFarAsSound) {
  Book b = cellBook();
  const std::string good = file(b);
  auto patched = [&](std::size_t at, const std::string& bytes) {
    std::string s = good;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  auto u32 = [](std::uint32_t v) {
    std::string s;
    put32(&s, v);
    return s;
  };
  const std::size_t fat = 512, dir = 1024, stream = 1536;
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;  // nullptr: opens
  };
  Book encrypted = b;
  encrypted.extraGlobals = record(0x002F, std::string(54, '\0'));
  Book old = b;
  old.sheets.clear();
  std::string biff4 = good;
  biff4[stream + 1] = 0x04;  // BOF 0x0409
  const std::vector<Case> cases = {
      {"sector size", patched(30, "\x10\x00"), "文件头损坏"},
      {"FAT loops on the stream", patched(fat + 4 * 4, u32(3)), nullptr},
      {"FAT points off the file", patched(fat + 4 * 3, u32(0x7FFFFFF0)), nullptr},
      {"FAT sector off the file", patched(76, u32(0x00FFFFFF)), nullptr},
      {"directory loop", patched(dir + 128 + 68, u32(1) + u32(0)), nullptr},
      {"root child off the table", patched(dir + 76, u32(5000)), "没有工作簿数据"},
      {"stream start off the file", patched(dir + 128 + 116, u32(0x00100000)),
       "Workbook 流无法读取"},
      {"stream size huge", patched(dir + 128 + 120, u32(0xFFFFFFF0)), nullptr},
      {"encrypted", file(encrypted), "密码保护"},
      {"no sheets", file(old), "没有工作表"},
      {"Excel 4.0", biff4, "Excel 5.0 以前"},
      {"not a BOF", patched(stream, "\x01\x02"), "缺少开头记录"},
      {"header only", good.substr(0, 512), "目录损坏"},
      {"half a header", good.substr(0, 300), "太短"},
  };
  for (const Case& c : cases) {
    const Read r = readXls(c.bytes, 3);
    if (c.message) {
      EXPECT_FALSE(r.opened) << c.what;
      EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
    } else {
      EXPECT_TRUE(r.opened) << c.what << ": " << r.error;
    }
  }
  // Declared sizes and counts are not trusted: a header that says every
  // stream is small, a shared-string table that declares four billion
  // strings, a workbook stream declared 4 GB long.
  const std::string cells = readXls(good, 3).cells;
  EXPECT_EQ(readXls(patched(56, u32(0xFFFFFFFF)), 3).cells, cells);
  Book counted = b;
  counted.shared.clear();
  std::string sst;
  put32(&sst, 0xFFFFFFFF), put32(&sst, 0xFFFFFFFF);
  for (const char16_t* t : {u"编号", u"姓名", u"张三", u"", u"0001"}) sst += unicode(t);
  counted.extraGlobals = record(0x00FC, sst);
  EXPECT_EQ(readXls(file(counted), 3).cells, cells);
  // A small workbook (in the mini stream) whose mini chain loops back.
  const std::string small = file(b, u"Workbook", true);
  std::string looped = small;
  looped.replace(1536 + 4 * 4, 4, u32(0));
  const Read r = readXls(looped, 3);
  EXPECT_TRUE(r.opened || !r.error.empty());
  EXPECT_EQ(readXls(small, 3).cells, cells);

  // A sheet whose listed position is wrong is found by its order.
  std::string moved = good;
  const std::size_t sheetAt = good.find(std::string("\x85\x00", 2), stream) + 4;
  moved.replace(sheetAt, 4, u32(3));
  EXPECT_EQ(readXls(moved, 2).cells, readXls(good, 2).cells);
  // Every cut of the file is refused with a reason or reads what is there.
  for (std::size_t n = 0; n < good.size(); n += 97) {
    const Read r = readXls(good.substr(0, n), 7);
    if (!r.opened) {
      EXPECT_FALSE(r.error.empty()) << n;
    }
  }
}

// Texts whose lengths or code page would make a careless conversion read
// past its buffer: cut byte pairs, counts past the record, unknown code
// pages, invalid GBK.
TEST(XlsRead, HostileTextsConvertSafely) {
  for (int codePage : {936, 1200, 65001, 12345, 0, 950}) {
    Book b;
    b.biff = 5;
    b.codePage = codePage;
    b.sheets = {label(0, 0, bytes16("abc")) + label(1, 0, bytes16("\xA1")) +  // cut GBK pair
                label(1, 1, bytes16(std::string(255, '\xFE'))) +
                // a text running on through an empty CONTINUE record
                record(0x0204, cellHead(2, 0, 15) + std::string("\x05\x00"
                                                                "ab",
                                                                4)) +
                record(0x003C, "") + record(0x003C, "cde") +
                record(0x0204, cellHead(1, 2, 15) + "\xFF\xFF" + "x") + label(1, 3, bytes16("ok"))};
    const Read r = readXls(file(b), 3);
    ASSERT_TRUE(r.opened) << codePage << ": " << r.error;
    EXPECT_EQ(r.cells.substr(0, 4), "abc|") << codePage;
    EXPECT_NE(r.cells.find("||ok|"), std::string::npos) << codePage << ": " << r.cells;
    EXPECT_NE(r.cells.find("\nabcde|"), std::string::npos) << codePage << ": " << r.cells;
  }
  // Kept samples of counts that run past their record (each made the
  // earlier library read past a buffer while opening the file).
  const std::vector<std::pair<const char*, const char*>> samples = {
      {"label-count-past-record.xls", "编号|||||\n0001||完|||\n"},
      {"format-count-past-record.xls", "编号|||||\n0001|||||\n"},
  };
  for (const auto& [name, cells] : samples) {
    const std::string path = std::string(PD_SOURCE_DIR) + "/tests/data/xls/" + name;
    ASSERT_TRUE(fs::exists(path)) << path;
    const Read r = readXls(readAll(path), 2);
    EXPECT_TRUE(r.opened) << name << ": " << r.error;
    EXPECT_EQ(r.cells, cells) << name;
  }
}

}  // namespace

namespace {

// The largest sheet a BIFF8 file holds (65536 rows) in a file of over 7 MB,
// whose allocation table no longer fits the header's list: every row is
// read, down to the last.
TEST(XlsRead, FullSheetInALargeFile) {
  Book b;
  for (int i = 0; i < 65536; ++i) b.shared.push_back(u"参加者" + std::u16string(1, u'0' + i % 10));
  std::string s;
  for (unsigned r = 0; r < 65536; ++r) {
    for (unsigned c = 0; c < 4; ++c) s += labelSst(r, c, r);
    s += number(r, 4, r * 1.5) + rk(r, 5, (r << 2) | 2u) + labelSst(r, 9, 1);
  }
  b.sheets = {s};
  const std::string bytes = file(b);
  ASSERT_GT(bytes.size(), 109u * 128 * 512);
  TempDir tmp;
  writeBytes(tmp.path("big.xls"), bytes);
  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.open(tmp.path("big.xls"));
  ASSERT_NE(book, nullptr) << app.error().toUtf8();
  ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
  EXPECT_EQ(book->cellText("a65536").toUtf8(), "参加者5");
  EXPECT_EQ(book->cellText("e65536").toUtf8(), "98302.5");
  EXPECT_EQ(book->cellText("f65536").toUtf8(), "65535");
  int filled = 0;
  for (int r = 1; r <= 65536; ++r) filled += !book->cellText("f" + std::to_string(r)).empty();
  EXPECT_EQ(filled, 65536);
}

}  // namespace
