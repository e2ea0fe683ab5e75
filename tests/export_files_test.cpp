// Files the program exports (a workbook, the winners text) get the
// permissions any new file gets, and a file they replace keeps its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "app/app.h"
#include "draw/draw.h"
#include "event_fixture.h"
#include "model/records.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "platform/ui/ui.h"
#include "program_session.h"

using model::operator""_t;
using model::Text;

namespace {

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

struct UmaskScope {
  explicit UmaskScope(mode_t m) : old(::umask(m)) {}
  ~UmaskScope() { ::umask(old); }
  mode_t old;
};

struct ModeCase {
  mode_t umask;
  mode_t existing;  // 0: no file there before
  mode_t expected;
};
const ModeCase kCases[] = {
    {022, 0, 0644}, {027, 0, 0640}, {002, 0, 0664}, {022, 0604, 0604}, {077, 0664, 0664}};

// Writes a file at path with the given mode, as an earlier export left it.
void existingFile(const std::string& path, mode_t mode) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("earlier", f);
  fclose(f);
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(ExportFiles, AWorkbookGetsTheUsualPermissionsOrKeepsThoseItReplaces) {
  fixture::TempEvent ev;
  int n = 0;
  for (const ModeCase& c : kCases) {
    const std::string path = ev.path("out" + std::to_string(n++) + ".xlsx");
    if (c.existing) existingFile(path, c.existing);
    UmaskScope scope(c.umask);
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.add();
    ASSERT_TRUE(book->setCellText("a1", "张三"_t));
    ASSERT_TRUE(book->saveAs(path)) << book->error().toUtf8();
    EXPECT_EQ(modeOf(path), c.expected)
        << std::oct << "umask " << c.umask << " existing " << c.existing;
  }
}

TEST(ExportFiles, TheWinnersTextGetsTheUsualPermissionsOrKeepsThoseItReplaces) {
  fixture::beginProgramTest(1280, 800);
  {
    fixture::TempEvent ev;
    const Text off = model::musicDisabled();
    ev.makeSettings({"标题"_t, "副标题"_t, "祝福"_t, Text(), off, off, off, off});
    ev.makePersons({{"0001"_t, "张三"_t, Text(), Text(), Text(), 2LL, "一等奖"_t}});
    ev.makeAwards({{"一等奖"_t, "电脑"_t, 1.0, 1.0, 1.0, model::Bytes(), 1LL, 0LL}});
    ui::setProgramFolder(ev.dir);
    ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms())));
    draw::ShowWinnersList();
    ASSERT_TRUE(ui::Window("WinnersListWindow").isOpen());
    int n = 0;
    for (const ModeCase& c : kCases) {
      const std::string path = ev.path("winners" + std::to_string(n++) + ".txt");
      if (c.existing) existingFile(path, c.existing);
      UmaskScope scope(c.umask);
      ui::testing::queueFileAnswer(true, path);
      draw::OnWinnersListExportButtonClick();
      EXPECT_GT(std::filesystem::file_size(path), 7u);
      EXPECT_EQ(modeOf(path), c.expected)
          << std::oct << "umask " << c.umask << " existing " << c.existing;
    }
  }
  fixture::endProgramTest();
}

}  // namespace
