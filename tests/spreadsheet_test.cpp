// Workbooks: addresses, writing and reading back .xlsx, reading workbooks
// made by other programs (shared strings, rich text, numbers, inline strings,
// relationships, prefixed XML), and clear failures on bad files.
#include <gtest/gtest.h>

#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "number_workbook.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "temp_files.h"

using model::operator""_t;
using model::Text;
namespace fs = std::filesystem;

using fixture::readAll;
using fixture::writeBytes;

namespace {

// Scratch folders of this file.
struct TempDir : fixture::TempDir {
  TempDir() : fixture::TempDir("pd-sheet") {}
};

// A zip archive of the given parts, made with libzip as another program would.
void makeZip(const std::string& path,
             const std::vector<std::pair<std::string, std::string>>& parts) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, data] : parts) {
    zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

// One part of an archive, or "" when it is missing.
std::string zipPart(const std::string& path, const std::string& name) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!z) return std::string();
  zip_stat_t st;
  std::string data;
  if (zip_stat(z, name.c_str(), 0, &st) == 0) {
    data.resize(st.size);
    zip_file_t* f = zip_fopen(z, name.c_str(), 0);
    zip_fread(f, data.data(), data.size());
    zip_fclose(f);
  }
  zip_discard(z);
  return data;
}

const char* kContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)";
const char* kPackageRels =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>
</Relationships>)";

// A workbook as a spreadsheet program writes one: the first sheet in tab
// order is stored under a name that only the relationships give, its strings
// are shared (one of them rich text with a phonetic hint), numbers are
// stored as numbers, one row gives no references.
std::vector<std::pair<std::string, std::string>> handMadeWorkbook() {
  return {
      {"[Content_Types].xml", kContentTypes},
      {"_rels/.rels", kPackageRels},
      {"xl/workbook.xml",
       R"(<?xml version="1.0" encoding="UTF-8"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">
<sheets><sheet name="名单" sheetId="7" r:id="rId9"/><sheet name="其他" sheetId="1" r:id="rId1"/></sheets>
</workbook>)"},
      {"xl/_rels/workbook.xml.rels",
       R"(<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>
<Relationship Id="rId9" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/people.xml"/>
<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="strings.xml"/>
</Relationships>)"},
      {"xl/strings.xml",
       R"(<?xml version="1.0" encoding="UTF-8"?>
<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="5" uniqueCount="5">
<si><t>编号</t></si>
<si><t xml:space="preserve">  张三 </t></si>
<si><r><rPr><b/></rPr><t>李</t></r><r><t>四</t></r><rPh sb="0" eb="1"><t>li</t></rPh></si>
<si><t>A_x005F_x0001_B</t></si>
<si><t>0001</t></si>
</sst>)"},
      {"xl/worksheets/people.xml",
       R"(<?xml version="1.0" encoding="UTF-8"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>
<row r="1"><c r="A1" t="s"><v>0</v></c></row>
<row r="2"><c r="A2" t="s"><v>4</v></c><c r="B2" t="s"><v>1</v></c><c r="C2"><v>13800138000</v></c><c r="D2"><v>1.5</v></c><c r="E2" t="inlineStr"><is><t>行内</t></is></c><c r="F2" t="b"><v>1</v></c></row>
<row><c t="s"><v>2</v></c><c><v>-7</v></c><c r="E3" t="s"><v>3</v></c><c t="str"><f>E3</f><v>式</v></c></row>
<row r="4"><c r="B4" t="e"><v>#N/A</v></c></row>
<row r="6"><c r="A6" t="inlineStr"><is><t>空行之后</t></is></c></row>
</sheetData></worksheet>)"},
      {"xl/worksheets/sheet1.xml",
       R"(<?xml version="1.0" encoding="UTF-8"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>
<row r="1"><c r="A1" t="inlineStr"><is><t>第二页</t></is></c></row>
</sheetData></worksheet>)"},
  };
}

// --- A BIFF8 workbook in an OLE compound file, as older spreadsheet programs
// save .xls: one sheet, shared strings, a number and two compressed (RK) numbers.
void put16(std::string* s, unsigned v) {
  s->push_back(static_cast<char>(v & 0xff));
  s->push_back(static_cast<char>((v >> 8) & 0xff));
}
void put32(std::string* s, unsigned v) {
  put16(s, v & 0xffff);
  put16(s, v >> 16);
}
void record(std::string* s, unsigned type, const std::string& data) {
  put16(s, type);
  put16(s, static_cast<unsigned>(data.size()));
  *s += data;
}
// A BIFF8 unicode string: 16-bit count, flags 1 (UTF-16LE), the characters.
std::string biffString(const std::u16string& text, bool shortCount = false) {
  std::string s;
  if (shortCount)
    s.push_back(static_cast<char>(text.size()));
  else
    put16(&s, static_cast<unsigned>(text.size()));
  s.push_back(1);
  for (char16_t c : text) put16(&s, c);
  return s;
}
std::string bof(unsigned kind) {
  std::string d;
  put16(&d, 0x0600), put16(&d, kind), put16(&d, 0x0DBB), put16(&d, 0x07CC);
  put32(&d, 0), put32(&d, 6);
  return d;
}
std::string cellHead(unsigned row, unsigned col) {
  std::string d;
  put16(&d, row), put16(&d, col), put16(&d, 15);
  return d;
}

std::string makeXlsBytes() {
  const std::vector<std::u16string> strings = {u"编号", u"0001", u"  张三 "};
  std::string globals;
  record(&globals, 0x0809, bof(0x0005));
  {
    std::string d;
    put16(&d, 1200);  // UTF-16
    record(&globals, 0x0042, d);
  }
  for (int i = 0; i < 16; ++i) {  // the default cell styles
    std::string xf;
    put16(&xf, 0), put16(&xf, 0), put16(&xf, i < 15 ? 0xFFF5 : 0x0001);
    xf.append(14, '\0');
    record(&globals, 0x00E0, xf);
  }
  const size_t boundsheetAt = globals.size() + 4;  // where lbPlyPos goes
  {
    std::string d;
    put32(&d, 0), put16(&d, 0);
    d += biffString(u"名单", true);
    record(&globals, 0x0085, d);
  }
  {
    std::string d;
    put32(&d, static_cast<unsigned>(strings.size())),
        put32(&d, static_cast<unsigned>(strings.size()));
    for (const auto& t : strings) d += biffString(t);
    record(&globals, 0x00FC, d);
  }
  record(&globals, 0x000A, "");
  std::string sheet;
  record(&sheet, 0x0809, bof(0x0010));
  {
    std::string d;
    put32(&d, 0), put32(&d, 3), put16(&d, 0), put16(&d, 4), put16(&d, 0);
    record(&sheet, 0x0200, d);
  }
  auto labelSst = [&](unsigned row, unsigned col, unsigned index) {
    std::string d = cellHead(row, col);
    put32(&d, index);
    record(&sheet, 0x00FD, d);
  };
  labelSst(0, 0, 0);
  labelSst(1, 0, 1);
  labelSst(1, 1, 2);
  {
    std::string d = cellHead(1, 2);
    const double v = 13800138000.0;
    d.append(reinterpret_cast<const char*>(&v), 8);
    record(&sheet, 0x0203, d);  // NUMBER
  }
  {
    std::string d = cellHead(1, 3);
    put32(&d, (42u << 2) | 2u);  // RK: the integer 42
    record(&sheet, 0x027E, d);
  }
  {
    std::string d = cellHead(2, 1);
    put32(&d, (1234u << 2) | 3u);  // RK: 12.34 as the integer 1234 / 100
    record(&sheet, 0x027E, d);
  }
  record(&sheet, 0x000A, "");
  std::string stream = globals;
  const unsigned sheetOffset = static_cast<unsigned>(globals.size());
  for (int i = 0; i < 4; ++i)
    stream[boundsheetAt + i] = static_cast<char>((sheetOffset >> (8 * i)) & 0xff);
  stream += sheet;
  if (stream.size() < 4096) stream.resize(4096, '\0');  // no mini stream needed
  stream.resize((stream.size() + 511) / 512 * 512, '\0');
  const unsigned streamSectors = static_cast<unsigned>(stream.size() / 512);
  const unsigned streamSize = static_cast<unsigned>(stream.size());

  // The compound file: header, FAT in sector 0, directory in sector 1,
  // the workbook stream from sector 2.
  std::string header;
  header += std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  header.append(16, '\0');
  put16(&header, 0x003E), put16(&header, 3), put16(&header, 0xFFFE), put16(&header, 9);
  put16(&header, 6);
  header.append(6, '\0');
  put32(&header, 0);           // directory sectors (v3: 0)
  put32(&header, 1);           // FAT sectors
  put32(&header, 1);           // first directory sector
  put32(&header, 0);           // transaction
  put32(&header, 4096);        // mini stream cutoff
  put32(&header, 0xFFFFFFFE);  // no mini FAT
  put32(&header, 0);
  put32(&header, 0xFFFFFFFE);  // no DIFAT sectors
  put32(&header, 0);
  put32(&header, 0);  // DIFAT[0]: the FAT is sector 0
  for (int i = 1; i < 109; ++i) put32(&header, 0xFFFFFFFF);
  std::string fat;
  put32(&fat, 0xFFFFFFFD);  // the FAT itself
  put32(&fat, 0xFFFFFFFE);  // the directory
  for (unsigned i = 0; i < streamSectors; ++i)
    put32(&fat, i + 1 < streamSectors ? 3 + i : 0xFFFFFFFE);
  while (fat.size() < 512) put32(&fat, 0xFFFFFFFF);
  auto entry = [](const std::u16string& name, int type, unsigned child, unsigned start,
                  unsigned size) {
    std::string e;
    for (char16_t c : name) put16(&e, c);
    put16(&e, 0);
    e.resize(64, '\0');
    put16(&e, name.empty() ? 0 : static_cast<unsigned>((name.size() + 1) * 2));
    e.push_back(static_cast<char>(type));
    e.push_back(1);  // black
    put32(&e, 0xFFFFFFFF), put32(&e, 0xFFFFFFFF), put32(&e, child);
    e.append(16 + 4 + 16, '\0');  // class id, state bits, times
    put32(&e, start);
    put32(&e, size), put32(&e, 0);
    return e;
  };
  std::string dir = entry(u"Root Entry", 5, 1, 0xFFFFFFFE, 0) +
                    entry(u"Workbook", 2, 0xFFFFFFFF, 2, streamSize) +
                    entry(u"", 0, 0xFFFFFFFF, 0, 0) + entry(u"", 0, 0xFFFFFFFF, 0, 0);
  return header + fat + dir + stream;
}

TEST(SpreadsheetAddress, ParsesCellsAndRefusesTheRest) {
  struct Case {
    const char* address;
    bool ok;
    int row, column;
  };
  const Case cases[] = {
      {"b2", true, 2, 2},
      {"B2", true, 2, 2},
      {"a1", true, 1, 1},
      {"aa10", true, 10, 27},
      {"xfd1048576", true, 1048576, 16384},
      {"xfe1", false, 0, 0},
      {"a1048577", false, 0, 0},
      {"a0", false, 0, 0},
      {"2b", false, 0, 0},
      {"", false, 0, 0},
      {"a", false, 0, 0},
      {"a1b", false, 0, 0},
      {"a-1", false, 0, 0},
      {"a 1", false, 0, 0},
  };
  for (const auto& c : cases) {
    int row = 0, column = 0;
    EXPECT_EQ(spreadsheet::parseAddress(c.address, &row, &column), c.ok) << c.address;
    if (c.ok) {
      EXPECT_EQ(row, c.row) << c.address;
      EXPECT_EQ(column, c.column) << c.address;
    }
  }
}

TEST(SpreadsheetWrite, TextCellsReadBackUnchanged) {
  TempDir tmp;
  const std::string file = tmp.path("名单.xlsx");
  // Texts that a number format would change, spaces, GBK and a character
  // beyond GBK (four bytes in GB18030).
  const std::vector<std::pair<std::string, Text>> cells = {
      {"a1", "编号"_t},
      {"b1", "姓名"_t},
      {"a2", "0001"_t},
      {"b2", "  张三 "_t},
      {"c2", "110101199001011234"_t},
      {"d2", "1e5"_t},
      {"e2", "𠀀备注"_t},
      {"aa300", "远处"_t},
  };
  {
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.add();
    ASSERT_NE(book, nullptr);
    EXPECT_TRUE(book->writable());
    ASSERT_TRUE(book->selectSheet(1));
    for (const auto& [address, text] : cells) {
      ASSERT_TRUE(book->setNumberFormat(address, "@"_t)) << address;
      ASSERT_TRUE(book->setCellText(address, text)) << address;
    }
    EXPECT_TRUE(book->setNumberFormat("c5", "@"_t));  // formatted, no value
    EXPECT_EQ(book->cellText("b2"), "  张三 "_t);
    EXPECT_EQ(book->numberFormat("a2"), "@"_t);
    ASSERT_TRUE(book->saveAs(file)) << book->error().toUtf8();
    app.quit();
  }
  // No temporary file is left beside it.
  int files = 0;
  for (const auto& e : fs::directory_iterator(tmp.dir)) (void)e, ++files;
  EXPECT_EQ(files, 1);

  // The cells are text cells carrying the text format.
  const std::string sheetXml = zipPart(file, "xl/worksheets/sheet1.xml");
  EXPECT_NE(sheetXml.find(R"(<c r="A2" s="1" t="s">)"), std::string::npos) << sheetXml;
  EXPECT_NE(sheetXml.find(R"(<c r="C2" s="1" t="s">)"), std::string::npos);
  EXPECT_NE(zipPart(file, "xl/styles.xml").find(R"(formatCode="@")"), std::string::npos);

  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.open(file);
  ASSERT_NE(book, nullptr) << app.error().toUtf8();
  EXPECT_FALSE(book->writable());
  EXPECT_EQ(book->sheetCount(), 1);
  EXPECT_EQ(book->cellText("a1"), Text()) << "no sheet selected yet";
  ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
  for (const auto& [address, text] : cells) {
    // Only the participant list's columns A to F are read.
    const Text shown = address == "aa300" ? Text() : text;
    EXPECT_EQ(book->cellText(address).toUtf8(), shown.toUtf8()) << address;
  }
  EXPECT_EQ(book->cellText("c5"), Text());
  EXPECT_EQ(book->cellText("f9"), Text());
  EXPECT_EQ(book->cellText("not a cell"), Text());
}

TEST(SpreadsheetWrite, FailedSaveKeepsTheEarlierFileAndSaysWhy) {
  TempDir tmp;
  const std::string file = tmp.path("out.xlsx");
  writeBytes(file, "earlier contents");
  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.add();
  // Longer than a cell can hold: the writer refuses it while writing.
  ASSERT_TRUE(book->setCellText("a1", Text::fromGbk(std::string(40000, 'x'))));
  EXPECT_FALSE(book->saveAs(file));
  EXPECT_FALSE(book->error().empty());
  EXPECT_EQ(readAll(file), "earlier contents");
  int files = 0;
  for (const auto& e : fs::directory_iterator(tmp.dir)) (void)e, ++files;
  EXPECT_EQ(files, 1) << "the temporary file is removed";

  spreadsheet::Workbook* other = app.add();
  other->setCellText("a1", "x"_t);
  for (const std::string& bad : {tmp.path("missing/out.xlsx"), tmp.dir, std::string()}) {
    EXPECT_FALSE(other->saveAs(bad)) << bad;
    EXPECT_FALSE(other->error().empty()) << bad;
  }
  EXPECT_FALSE(other->setCellText("1a", "x"_t));
  EXPECT_FALSE(other->selectSheet(2));
}

TEST(SpreadsheetRead, WorkbookOfAnotherProgram) {
  TempDir tmp;
  const std::string file = tmp.path("hand.xlsx");
  makeZip(file, handMadeWorkbook());
  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.open(file);
  ASSERT_NE(book, nullptr) << app.error().toUtf8();
  EXPECT_EQ(book->sheetCount(), 2);
  ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"a1", "编号"}, {"a2", "0001"},      {"b2", "  张三 "}, {"c2", "13800138000"},
      {"d2", "1.5"},  {"e2", "行内"},      {"f2", "TRUE"},    {"a3", "李四"},
      {"b3", "-7"},   {"e3", "A_x0001_B"}, {"f3", "式"},      {"b4", "#N/A"},
      {"c3", ""},     {"a4", ""},          {"a6", ""},
  };
  for (const auto& [address, text] : expected)
    EXPECT_EQ(book->cellText(address).toUtf8(), text) << address;
  // Numbers written by another program keep the text the file holds.
  ASSERT_TRUE(book->selectSheet(2));
  EXPECT_EQ(book->cellText("a1").toUtf8(), "第二页");
  EXPECT_EQ(book->cellText("a2"), Text());
  EXPECT_FALSE(book->selectSheet(3));
  EXPECT_FALSE(book->error().empty());
  EXPECT_EQ(book->cellText("a1"), Text()) << "no current sheet after a failed select";
  // Read-only: opened workbooks are not written.
  EXPECT_FALSE(book->setCellText("a1", "x"_t));
  EXPECT_FALSE(book->saveAs(tmp.path("copy.xlsx")));
  EXPECT_FALSE(fs::exists(tmp.path("copy.xlsx")));
  app.closeAll();
  EXPECT_EQ(app.workbookCount(), 0);
}

TEST(SpreadsheetRead, PrefixedElementsAndNoRelationships) {
  // Some writers qualify every element and leave the workbook relationships
  // out; sheets then sit at their conventional names.
  TempDir tmp;
  const std::string file = tmp.path("prefixed.xlsx");
  makeZip(
      file,
      {{"[Content_Types].xml", kContentTypes},
       {"xl/workbook.xml",
        R"(<x:workbook xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:sheets><x:sheet name="S" sheetId="1"/></x:sheets></x:workbook>)"},
       {"xl/sharedStrings.xml",
        R"(<x:sst xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:si><x:t>王五</x:t></x:si></x:sst>)"},
       {"xl/worksheets/sheet1.xml",
        R"(<x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:sheetData><x:row r="2"><x:c r="B2" t="s"><x:v>0</x:v></x:c></x:row></x:sheetData></x:worksheet>)"}});
  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.open(file);
  ASSERT_NE(book, nullptr) << app.error().toUtf8();
  ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
  EXPECT_EQ(book->cellText("b2").toUtf8(), "王五");
}

TEST(SpreadsheetRead, OlderXlsWorkbook) {
  TempDir tmp;
  // Named .xlsx on purpose: the contents decide how it is read.
  for (const char* name : {"old.xls", "renamed.xlsx"}) {
    writeBytes(tmp.path(name), makeXlsBytes());
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.open(tmp.path(name));
    ASSERT_NE(book, nullptr) << app.error().toUtf8();
    EXPECT_EQ(book->sheetCount(), 1);
    ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"a1", "编号"}, {"a2", "0001"},  {"b2", "  张三 "}, {"c2", "13800138000"},
        {"d2", "42"},   {"b3", "12.34"}, {"a3", ""},        {"e2", ""},
    };
    for (const auto& [address, text] : expected)
      EXPECT_EQ(book->cellText(address).toUtf8(), text) << name << " " << address;
    EXPECT_FALSE(book->setCellText("a1", "x"_t));
  }
}

TEST(SpreadsheetRead, BadFilesFailWithAReason) {
  TempDir tmp;
  auto parts = handMadeWorkbook();
  auto without = [&](const std::string& name) {
    auto p = parts;
    std::erase_if(p, [&](const auto& e) { return e.first == name; });
    return p;
  };
  auto replaced = [&](const std::string& name, const std::string& data) {
    auto p = parts;
    for (auto& e : p)
      if (e.first == name) e.second = data;
    return p;
  };
  makeZip(tmp.path("no-workbook.xlsx"), without("xl/workbook.xml"));
  makeZip(tmp.path("no-sheets.xlsx"),
          replaced("xl/workbook.xml", "<workbook><sheets/></workbook>"));
  makeZip(tmp.path("broken-xml.xlsx"), replaced("xl/strings.xml", "<sst><si><t>unclosed"));
  makeZip(tmp.path("plain.zip"), {{"readme.txt", "hello"}});
  writeBytes(tmp.path("empty.xlsx"), "");
  writeBytes(tmp.path("text.xls"), "编号,姓名\n1,张三\n");
  writeBytes(tmp.path("truncated.xlsx"), std::string("PK\x03\x04", 4) + std::string(200, 'z'));
  writeBytes(tmp.path("fake-ole.xls"),
             std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(1000, '\0'));
  makeZip(tmp.path("full.xlsx"), parts);
  const std::string whole = readAll(tmp.path("full.xlsx"));
  writeBytes(tmp.path("cut.xlsx"), whole.substr(0, whole.size() / 2));
  for (const char* name :
       {"missing.xlsx", "no-workbook.xlsx", "no-sheets.xlsx", "broken-xml.xlsx", "plain.zip",
        "empty.xlsx", "text.xls", "truncated.xlsx", "fake-ole.xls", "cut.xlsx", ""}) {
    spreadsheet::Application app;
    const std::string path = *name ? tmp.path(name) : tmp.dir;  // "" : a folder
    EXPECT_EQ(app.open(path), nullptr) << name;
    EXPECT_FALSE(app.error().empty()) << name;
    EXPECT_EQ(app.workbookCount(), 0) << name;
  }

  // A shared string the workbook lacks reads as an empty cell; a cell
  // reference outside the sheet is damage that ends the reading.
  makeZip(
      tmp.path("bad-index.xlsx"),
      replaced(
          "xl/worksheets/people.xml",
          R"(<worksheet><sheetData><row r="2"><c r="A2" t="s"><v>99</v></c></row></sheetData></worksheet>)"));
  makeZip(
      tmp.path("bad-ref.xlsx"),
      replaced(
          "xl/worksheets/people.xml",
          R"(<worksheet><sheetData><row r="2"><c r="A0"><v>1</v></c></row></sheetData></worksheet>)"));
  {
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.open(tmp.path("bad-index.xlsx"));
    ASSERT_NE(book, nullptr);
    EXPECT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
    EXPECT_EQ(book->cellText("a2"), Text());
  }
  {
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.open(tmp.path("bad-ref.xlsx"));
    ASSERT_NE(book, nullptr);
    EXPECT_FALSE(book->selectSheet(1));
    EXPECT_NE(book->error().toUtf8().find("单元格地址无效"), std::string::npos)
        << book->error().toUtf8();
    EXPECT_EQ(book->cellText("a2"), Text());
  }
}

// Number cells through the styles: declared formats, built-in ones the file
// does not declare, styles past the table, ISO dates, the 1904 date system,
// values with spaces around them, and what ends the list.
TEST(SpreadsheetRead, NumbersShowThroughTheirStyles) {
  TempDir tmp;
  const std::string styles =
      R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<numFmts count="2"><numFmt numFmtId="164" formatCode="0.00&quot;元&quot;"/><numFmt numFmtId="165" formatCode="yyyy-mm-dd hh:mm"/></numFmts>
<cellStyleXfs count="1"><xf numFmtId="10"/></cellStyleXfs>
<cellXfs count="5"><xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="14"/><xf numFmtId="165"/><xf numFmtId="10"/></cellXfs>
</styleSheet>)";
  auto workbook = [&](bool date1904) {
    return std::vector<std::pair<std::string, std::string>>{
        {"[Content_Types].xml", kContentTypes},
        {"_rels/.rels", kPackageRels},
        {"xl/workbook.xml",
         std::string(
             R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)") +
             (date1904 ? R"(<workbookPr date1904="true"/>)" : "") +
             R"(<sheets><sheet name="S" sheetId="1"/></sheets></workbook>)"},
        {"xl/styles.xml", styles},
        {"xl/worksheets/sheet1.xml",
         R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>
<row r="1"><c r="A1" s="1"><v>12</v></c><c r="B1" s="2"><v>45306</v></c><c r="C1" s="3"><v>45306.75</v></c><c r="D1" s="4"><v>0.1234</v></c><c r="E1" s="99"><v>22.222200000000001</v></c><c r="F1"><v> 72.0 </v></c><c r="G1"><v>1</v></c></row>
<row r="2"><c r="A2" t="d" s="3"><v>2024-01-15T18:30:00</v></c><c r="B2"><v>110101199001011234</v></c><c r="C2"><v>not a number</v></c><c r="D2" t="b"><v>0</v></c><c r="E2" t="e"><v>#DIV/0!</v></c><c r="F2" t="str"><f>F1</f><v></v></c></row>
<row r="3"><c r="G3"><v>1</v></c></row>
<row r="4"><c r="A4"><v>4</v></c></row>
</sheetData></worksheet>)"}};
  };
  makeZip(tmp.path("1900.xlsx"), workbook(false));
  makeZip(tmp.path("1904.xlsx"), workbook(true));
  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.open(tmp.path("1900.xlsx"));
  ASSERT_NE(book, nullptr) << app.error().toUtf8();
  ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"a1", "12.00元"},
      {"b1", "2024-1-15"},
      {"c1", "2024-01-15 18:00"},
      {"d1", "12.34%"},
      {"e1", "22.2222"},  // a style past the table: General
      {"f1", "72"},
      {"g1", ""},  // past column F: not read
      {"a2", "2024-01-15 18:30"},
      {"b2", "110101199001011000"},  // 15 significant digits
      {"c2", ""},                    // not a number: read as empty, the rest is read
      {"d2", "FALSE"},
      {"e2", "#DIV/0!"},
      {"f2", ""},
      {"a3", ""},  // row 3 holds nothing in A to F: the list ends there
      {"a4", ""},
  };
  for (const auto& [address, text] : expected)
    EXPECT_EQ(book->cellText(address).toUtf8(), text) << address;
  EXPECT_EQ(book->notes().longNumberRows, std::vector<int>{2});
  EXPECT_EQ(book->notes().formulasWithoutResult, 0) << "an empty text is a result";

  spreadsheet::Workbook* book1904 = app.open(tmp.path("1904.xlsx"));
  ASSERT_NE(book1904, nullptr) << app.error().toUtf8();
  ASSERT_TRUE(book1904->selectSheet(1));
  EXPECT_EQ(book1904->cellText("b1").toUtf8(), "2028-1-16");
  EXPECT_EQ(book1904->cellText("a2").toUtf8(), "2024-01-15 18:30") << "an ISO date stays itself";
}

TEST(SpreadsheetApplication, QuitEndsTheApplication) {
  spreadsheet::Application app;
  ASSERT_NE(app.add(), nullptr);
  ASSERT_NE(app.add(), nullptr);
  EXPECT_EQ(app.workbookCount(), 2);
  app.quit();
  EXPECT_EQ(app.workbookCount(), 0);
  EXPECT_EQ(app.add(), nullptr);
  EXPECT_FALSE(app.error().empty());
}

// A reading on another thread reports its rows as it goes and stops at the
// next row once cancelled, keeping nothing; later readings stop at once.
TEST(SpreadsheetApplication, AReadingOnAnotherThreadIsFollowedAndCancelled) {
  TempDir tmp;
  const std::string path = tmp.path("many.xlsx");
  ASSERT_TRUE(fixture::writeNumberWorkbook(path, 20000, std::string(255, '#')));
  {
    spreadsheet::Application app;
    int calls = 0;
    app.onProgress([&] { ++calls; });
    spreadsheet::Workbook* book = app.open(path);
    ASSERT_NE(book, nullptr) << app.error().toUtf8();
    ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
    EXPECT_EQ(book->cellText("f20001").toUtf8(), std::to_string(13800000000LL + 20000 * 6 + 5));
    EXPECT_EQ(app.rowsRead(), 20001);
    EXPECT_GE(calls, 20000 / 512);
  }
  spreadsheet::Application app;
  spreadsheet::Workbook* book = app.open(path);
  ASSERT_NE(book, nullptr);
  // The reading waits at its first report until the cancel was given.
  std::mutex m;
  std::condition_variable cv;
  bool underWay = false, cancelGiven = false;
  app.onProgress([&] {
    std::unique_lock<std::mutex> lock(m);
    if (underWay) return;
    underWay = true;
    cv.notify_all();
    cv.wait(lock, [&] { return cancelGiven; });
  });
  bool read = true;
  Text why;
  std::thread reader([&] {
    read = book->selectSheet(1);
    why = book->error();
  });
  int reached = 0;
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return underWay; });
    reached = app.rowsRead();
    app.cancel();
    cancelGiven = true;
  }
  cv.notify_all();
  reader.join();
  EXPECT_FALSE(read);
  EXPECT_EQ(why.toUtf8(), "读取已取消");
  EXPECT_EQ(app.rowsRead(), reached) << "not a row more";
  EXPECT_LT(reached, 20001);
  EXPECT_EQ(book->cellText("a2"), Text()) << "nothing of a cancelled reading is kept";
  EXPECT_EQ(app.open(path), nullptr);
}

}  // namespace
