// Hostile workbooks (tests/workbooks/hostile, made by
// tools/workbook_corpus.py hostile): small files that inflate, count, nest
// or number past what any participant list needs, and damaged copies of a
// list. Each is read through the import's reader and refused with a message
// naming the limit or the damage, or read whole - in bounded memory. A
// damaged copy is never read as other data: random damage to a real
// workbook is refused or reads exactly as the workbook, and an .xls cut
// short by its sector chain reads the rows before the damage and says so.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/spreadsheet/spreadsheet.h"
#include "temp_files.h"
#include "tests/xls_builder.h"
#include "zip_parts.h"

namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;  // the sanitizer's own memory would count
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMeasureMemory = false;
#else
constexpr bool kMeasureMemory = true;
#endif
#else
constexpr bool kMeasureMemory = true;
#endif

// Peak resident memory of this process so far, in MB.
long peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

std::string hostileFile(const std::string& name) {
  return (fs::path(PD_SOURCE_DIR) / "tests" / "workbooks" / "hostile" / name).string();
}

// Opens the file and selects sheet 1: "" when read, else the message.
std::string readOrWhy(spreadsheet::Application* app, const std::string& name,
                      spreadsheet::Workbook** book) {
  *book = app->open(hostileFile(name));
  if (!*book) return app->error().toUtf8();
  if (!(*book)->selectSheet(1)) return (*book)->error().toUtf8();
  return std::string();
}

struct Refusal {
  const char* file;
  const char* message;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.file; }

// One process per file under ctest, so that the peak memory is the file's.
class RefusedWorkbook : public testing::TestWithParam<Refusal> {};

TEST_P(RefusedWorkbook, NamesTheLimitOrTheDamageInBoundedMemory) {
  const Refusal& c = GetParam();
  spreadsheet::Application app;
  spreadsheet::Workbook* book = nullptr;
  const std::string why = readOrWhy(&app, c.file, &book);
  EXPECT_NE(why.find(c.message), std::string::npos) << why;
  if (book) {
    EXPECT_EQ(book->cellText("a1"), model::Text()) << "nothing is kept";
  }
  if (kMeasureMemory) {
    EXPECT_LT(peakMegabytes(), 200);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, RefusedWorkbook,
    testing::Values(
        // 10 MB of empty cells in one row, in 11 KB.
        Refusal{"bomb_row_of_empty_cells.xlsx", "一行的单元格过多"},
        // 64 MB of rows, each a name and 16,000 empty cells, in 10 KB (bzip2):
        // refused once a sheet's base and 4 KB per row are inflated.
        Refusal{"bomb_rows_bzip2.xlsx", "的上限（工作表每行至多 4 KB）：xl/worksheets/sheet1.xml"},
        Refusal{"rows_1048576.xlsx", "超过 200000 行数据的上限"},
        Refusal{"rows_of_long_texts.xlsx", "工作表的文字超过 32 MB 的上限"},
        Refusal{"row_number_wraps.xlsx", "行号无效"},
        Refusal{"cell_row_wraps.xlsx", "单元格地址无效"},
        Refusal{"entity_expansion.xlsx", "文档类型声明"},
        // <a> opened ten million times (30 MB) in the sheet, in the
        // workbook, and inside a cell after a thousand rows.
        Refusal{"nested_sheet.xlsx", "元素嵌套超过 64 层的上限"},
        Refusal{"nested_workbook.xlsx", "元素嵌套超过 64 层的上限：xl/workbook.xml"},
        Refusal{"nested_after_rows.xlsx", "元素嵌套超过 64 层的上限"},
        // One attribute of 250 MB after 60,000 rows; one of 60 MB in the
        // workbook; a comment of 30 MB.
        Refusal{"long_attribute_sheet.xlsx", "超过 1 MB 的上限"},
        Refusal{"long_attribute_workbook.xlsx", "超过 1 MB 的上限：xl/workbook.xml"},
        Refusal{"long_comment.xlsx", "超过 1 MB 的上限"},
        // A cell text of 30 MB: not read as an empty cell.
        Refusal{"long_text.xlsx", "一段文字超过 1 MB 的上限"},
        Refusal{"thousand_attributes.xlsx", "属性超过 64 个的上限"},
        // A list whose sheet does not match its CRC (c2 reads 13500138000
        // unchecked), and lists whose workbook names a part that is not
        // there (the names would read empty, the dates as numbers).
        Refusal{"bad_crc_sheet.xlsx", "已损坏（解压或校验失败）：xl/worksheets/sheet1.xml"},
        Refusal{"missing_shared_strings.xlsx", "工作簿缺少部件：xl/sharedStrings.xml"},
        Refusal{"missing_styles.xlsx", "工作簿缺少部件：xl/styles.xml"},
        Refusal{"missing_workbook_rels.xlsx", "工作簿缺少部件：xl/_rels/workbook.xml.rels"}),
    [](const testing::TestParamInfo<Refusal>& info) {
      std::string name = fs::path(info.param.file).stem().string();
      for (char& ch : name)
        if (ch == '-' || ch == '.') ch = '_';
      return name;
    });

// The sheet's sizes in the archive say 500 MB; its contents are small and
// sound: read, without allocating by the declared size.
TEST(WorkbookHostile, DeclaredSizeIsNotTrusted) {
  spreadsheet::Application app;
  spreadsheet::Workbook* book = nullptr;
  ASSERT_EQ(readOrWhy(&app, "declared_size_huge.xlsx", &book), "");
  EXPECT_EQ(book->cellText("a1").toUtf8(), "h");
  EXPECT_EQ(book->cellText("a2").toUtf8(), "1");
  if (kMeasureMemory) {
    EXPECT_LT(peakMegabytes(), 100);
  }
}

TEST(WorkbookHostile, ListAtTheRowLimitIsRead) {
  spreadsheet::Application app;
  spreadsheet::Workbook* book = nullptr;
  ASSERT_EQ(readOrWhy(&app, "rows_at_limit.xlsx", &book), "");
  EXPECT_EQ(book->cellText("a1").toUtf8(), "h");
  EXPECT_EQ(book->cellText("a2").toUtf8(), "TRUE");
  EXPECT_EQ(book->cellText("a200001").toUtf8(), "TRUE");
  EXPECT_EQ(book->cellText("b200001").toUtf8(), "name");
  EXPECT_EQ(book->cellText("a200002").toUtf8(), "");
  if (kMeasureMemory) {
    EXPECT_LT(peakMegabytes(), 200);
  }
}

// The sound list the damaged copies above were made from reads whole.
TEST(WorkbookHostile, SoundListIsRead) {
  spreadsheet::Application app;
  spreadsheet::Workbook* book = nullptr;
  ASSERT_EQ(readOrWhy(&app, "list_sound.xlsx", &book), "");
  EXPECT_EQ(book->cellText("b2").toUtf8(), "张三");
  EXPECT_EQ(book->cellText("c2").toUtf8(), "13800138000");
  EXPECT_EQ(book->cellText("b3").toUtf8(), "李四");
  EXPECT_EQ(book->warning().toUtf8(), "");
}

// The sound list with its sheet's rows replaced by `rows`, written at
// `path`: for markup too large for a small fixture (it does not compress).
void writeListWithRows(const std::string& path, const std::string& rows) {
  fixture::ZipParts parts = fixture::readZipParts(hostileFile("list_sound.xlsx"));
  ASSERT_FALSE(parts.empty());
  for (auto& [name, data] : parts)
    if (name == "xl/worksheets/sheet1.xml")
      data =
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
          "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
          rows + "</sheetData></worksheet>";
  ASSERT_TRUE(fixture::writeZipParts(path, parts, ZIP_CM_STORE));
}

// Markup whose cost lies in its numbers: two million attributes on one cell
// (a start tag of 23 MB), and two and a half million elements of as many
// names, which expat would keep every one of (220 MB).
TEST(WorkbookHostile, MillionsOfAttributesOrNamesAreRefusedInBoundedMemory) {
  fixture::TempDir tmp("pd-hostile");
  struct Case {
    const char* file;
    std::string (*rows)();
    const char* message;
  };
  const Case cases[] = {
      {"many_attributes.xlsx",
       [] {
         std::string r = "<row r=\"1\"><c r=\"A1\"";
         r.reserve(24u << 20);
         for (int i = 0; i < 2000000; ++i) r.append(" a").append(std::to_string(i)).append("=\"\"");
         return r + "/></row>";
       },
       "标记（标签、属性或注释）超过 1 MB 的上限"},
      {"many_names.xlsx",
       [] {
         std::string r = "<row r=\"1\"><c r=\"A1\"><v>1</v></c>";
         r.reserve(26u << 20);
         for (int i = 0; i < 2500000; ++i) r.append("<n").append(std::to_string(i)).append("/>");
         return r + "</row>";
       },
       "读取所需内存超过 32 MB 的上限"},
  };
  for (const Case& c : cases) {
    const std::string path = tmp.path(c.file);
    writeListWithRows(path, c.rows());
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.open(path);
    ASSERT_NE(book, nullptr) << app.error().toUtf8();
    EXPECT_FALSE(book->selectSheet(1)) << c.file;
    EXPECT_NE(book->error().toUtf8().find(c.message), std::string::npos) << book->error().toUtf8();
  }
  if (kMeasureMemory) {
    EXPECT_LT(peakMegabytes(), 200);
  }
}

// The texts of columns A to F of rows 1..rows, "|" between cells.
std::vector<std::string> sheetRows(spreadsheet::Workbook* book, int rows) {
  std::vector<std::string> out;
  for (int r = 1; r <= rows; ++r) {
    std::string row;
    for (char c = 'a'; c <= 'f'; ++c) {
      if (c != 'a') row += '|';
      row += book->cellText(std::string(1, c) + std::to_string(r)).toUtf8();
    }
    out.push_back(row);
  }
  return out;
}

// Copies of a real workbook (LibreOffice's), each with three bits flipped
// at random or cut at a random length: every copy is refused with a message
// or reads exactly as the workbook - never with a changed or missing cell.
TEST(WorkbookHostile, RandomDamageToARealWorkbookIsRefusedOrReadsAsTheWorkbook) {
  const std::string original = fixture::readAll(fs::path(PD_SOURCE_DIR) / "tests" / "workbooks" /
                                                "libreoffice_participants.xlsx");
  ASSERT_FALSE(original.empty());
  fixture::TempDir tmp("pd-hostile");
  const std::string path = tmp.path("copy.xlsx");
  std::vector<std::string> expected;
  {
    fixture::writeBytes(path, original);
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.open(path);
    ASSERT_NE(book, nullptr);
    ASSERT_TRUE(book->selectSheet(1));
    expected = sheetRows(book, 10);
    ASSERT_EQ(expected[1].rfind("0001|张三|13800138000|", 0), 0u) << expected[1];
  }
  std::mt19937 rng(20261210);
  int read = 0, refused = 0;
  for (int i = 0; i < 2000; ++i) {
    std::string bytes = original;
    if (rng() % 4 == 0) {
      bytes.resize(rng() % bytes.size());
    } else {
      for (int k = 0; k < 3; ++k)
        bytes[rng() % bytes.size()] ^= static_cast<char>(1 << (rng() % 8));
    }
    fixture::writeBytes(path, bytes);
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.open(path);
    std::string why;
    if (!book) {
      why = app.error().toUtf8();
    } else if (!book->selectSheet(1)) {
      why = book->error().toUtf8();
    } else {
      ++read;
      EXPECT_EQ(sheetRows(book, 10), expected) << "copy " << i;
      continue;
    }
    ++refused;
    EXPECT_FALSE(why.empty()) << "copy " << i;
  }
  std::cout << "damaged copies: " << read << " read whole, " << refused << " refused\n";
  EXPECT_GT(read, 0);
  EXPECT_GT(refused, 0);
}

// A participant list of 200 rows as .xls whose workbook stream's sector
// chain goes wrong inside the sheet: it loops back, leaves the file, runs
// into the directory, ends early, or the file is cut. The rows before the
// damage are read exactly, the row it cuts is dropped, and the workbook says
// that the file is damaged and how many rows were read.
TEST(WorkbookHostile, DamagedXlsChainSaysHowManyRowsWereRead) {
  using namespace xlsbuild;
  const Book list = participantList(200);
  const std::string good = file(list);
  const std::string stream = list.stream();
  const std::uint32_t sectors = static_cast<std::uint32_t>((stream.size() + 511) / 512);
  const std::uint32_t sheetAt = static_cast<std::uint32_t>(stream.find(list.bof(0x0010)));
  ASSERT_LT(sectors + 2, 128u);
  // Sector k of the stream is sector 2 + k of the file.
  const std::uint32_t middle = (sheetAt / 512 + sectors) / 2;
  ASSERT_GT(middle, sheetAt / 512);
  auto linked = [&](std::uint32_t sector, std::uint32_t next) {
    std::string f = good;
    setLink(&f, 2 + sector, next);
    return f;
  };
  fixture::TempDir tmp("pd-hostile");
  auto open = [&](const std::string& bytes, spreadsheet::Application* app) {
    fixture::writeBytes(tmp.path("list.xls"), bytes);
    return app->open(tmp.path("list.xls"));
  };
  std::vector<std::string> expected;
  {
    spreadsheet::Application app;
    spreadsheet::Workbook* book = open(good, &app);
    ASSERT_NE(book, nullptr) << app.error().toUtf8();
    ASSERT_TRUE(book->selectSheet(1));
    EXPECT_EQ(book->warning().toUtf8(), "");
    expected = sheetRows(book, 202);
    ASSERT_EQ(expected[200], "0200|参加者0200|13800000200|110101199001010200|0200.jpg|备注0200");
  }
  const std::map<std::string, std::string> cases = {
      {"loops back to the stream's start", linked(middle, 2)},
      {"loops back to itself", linked(middle, 2 + middle)},
      {"points past the file", linked(middle, 0x7FFFFFF0)},
      {"runs into the directory", linked(middle, 1)},
      {"runs into the allocation table", linked(middle, 0)},
      {"ends early", linked(middle, 0xFFFFFFFE)},
      {"a free sector", linked(middle, 0xFFFFFFFF)},
      {"the file cut short", good.substr(0, 512 * (3 + middle) + 100)},
  };
  for (const auto& [what, bytes] : cases) {
    spreadsheet::Application app;
    spreadsheet::Workbook* book = open(bytes, &app);
    ASSERT_NE(book, nullptr) << what << ": " << app.error().toUtf8();
    ASSERT_TRUE(book->selectSheet(1)) << what << ": " << book->error().toUtf8();
    const std::vector<std::string> rows = sheetRows(book, 202);
    int dataRows = 0;
    while (dataRows + 1 < 202 && rows[static_cast<size_t>(dataRows) + 1] != "|||||") ++dataRows;
    std::cout << what << ": " << dataRows << " rows read\n";
    EXPECT_GT(dataRows, 0) << what;
    EXPECT_LT(dataRows, 200) << what;
    for (int r = 0; r <= dataRows; ++r)
      EXPECT_EQ(rows[static_cast<size_t>(r)], expected[static_cast<size_t>(r)])
          << what << " row " << r + 1;
    for (int r = dataRows + 1; r < 202; ++r)
      EXPECT_EQ(rows[static_cast<size_t>(r)], "|||||") << what << " row " << r + 1;
    EXPECT_EQ(book->warning().toUtf8().rfind(
                  "文件已损坏：工作表只读取到 " + std::to_string(dataRows) + " 行数据", 0),
              0u)
        << what << ": " << book->warning().toUtf8();
    if (kMeasureMemory) {
      EXPECT_LT(peakMegabytes(), 200);
    }
  }
  // Damage before the sheet (in the shared strings) leaves nothing to read;
  // damage after it (in a second sheet) leaves the first whole.
  {
    spreadsheet::Application app;
    spreadsheet::Workbook* book = open(linked(0, 0xFFFFFFFE), &app);
    if (book) {
      EXPECT_FALSE(book->selectSheet(1));
      EXPECT_NE(book->error().toUtf8().find("文件已损坏"), std::string::npos)
          << book->error().toUtf8();
    } else {
      EXPECT_NE(app.error().toUtf8().find("无法打开工作簿"), std::string::npos);
    }
  }
  Book two = list;
  two.sheets.push_back(list.sheets[0]);
  const std::string twoStream = two.stream();
  const std::uint32_t twoSectors = static_cast<std::uint32_t>((twoStream.size() + 511) / 512);
  std::string damagedSecond = file(two);
  setLink(&damagedSecond, 2 + twoSectors - 3, 0x7FFFFFF0);
  spreadsheet::Application app;
  spreadsheet::Workbook* book = open(damagedSecond, &app);
  ASSERT_NE(book, nullptr) << app.error().toUtf8();
  ASSERT_TRUE(book->selectSheet(1)) << book->error().toUtf8();
  EXPECT_EQ(sheetRows(book, 202), expected);
  EXPECT_EQ(book->warning().toUtf8(), "");
}

}  // namespace
