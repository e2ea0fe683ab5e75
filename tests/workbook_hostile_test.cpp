// Hostile workbooks (tests/workbooks/hostile, made by
// tools/workbook_corpus.py hostile): small files that inflate, count or
// number past what any participant list needs. Each is read through the
// import's reader and refused with a message naming the limit or the
// damage, or read as far as it is sound - in bounded memory.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "platform/spreadsheet/spreadsheet.h"

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

std::string fixture(const std::string& name) {
  return (fs::path(PD_SOURCE_DIR) / "tests" / "workbooks" / "hostile" / name).string();
}

// Opens the file and selects sheet 1: "" when read, else the message.
std::string readOrWhy(spreadsheet::Application* app, const std::string& name,
                      spreadsheet::Workbook** book) {
  *book = app->open(fixture(name));
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

INSTANTIATE_TEST_SUITE_P(Hostile, RefusedWorkbook,
                         testing::Values(
                             // 10 MB of empty cells in one row, in 11 KB.
                             Refusal{"bomb_row_of_empty_cells.xlsx", "一行的单元格过多"},
                             // 64 MB of rows, each a name and 16,000 empty cells, in 10 KB (bzip2):
                             // refused once a sheet's base and 4 KB per row are inflated.
                             Refusal{"bomb_rows_bzip2.xlsx",
                                     "的上限（工作表每行至多 4 KB）：xl/worksheets/sheet1.xml"},
                             Refusal{"rows_1048576.xlsx", "超过 200000 行数据的上限"},
                             Refusal{"rows_of_long_texts.xlsx", "工作表的文字超过 32 MB 的上限"},
                             Refusal{"row_number_wraps.xlsx", "行号无效"},
                             Refusal{"cell_row_wraps.xlsx", "单元格地址无效"},
                             Refusal{"entity_expansion.xlsx", "文档类型声明"}),
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

}  // namespace
