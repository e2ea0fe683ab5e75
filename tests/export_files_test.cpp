// Files the program exports (a workbook, the winners text) get the
// permissions any new file gets, and a file they replace keeps its own; any
// name the folder takes can be saved, and a full disk keeps the earlier file
// and tells the operator, in Chinese, what to do.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "app/app.h"
#include "draw/draw.h"
#include "event_fixture.h"
#include "maintenance/spreadsheet_internal.h"
#include "model/records.h"
#include "platform/files.h"
#include "platform/spreadsheet.h"
#include "platform/store.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"
#include "program_session.h"
#include "temp_files.h"

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

// Everything in a folder but the given names (temporary files left behind).
std::vector<std::string> strayFiles(const std::string& dir, std::vector<std::string> expected) {
  std::vector<std::string> stray;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
  }
  return stray;
}

// A name of exactly `bytes` bytes ending in `ending`, made of two- and
// three-byte characters so that a cut in the middle of one would show.
std::string nameOfLength(size_t bytes, const std::string& ending) {
  std::string name;
  while (name.size() + ending.size() + 3 <= bytes) name += "名";
  while (name.size() + ending.size() < bytes) name += "a";
  return name + ending;
}

// Every length a file name can have is saved (the temporary name beside it
// is cut to fit), and a name longer than the file system takes is refused
// with a message that says so, leaving nothing behind.
TEST(ExportFiles, AnyNameTheFolderTakesIsSavedAndALongerOneIsNamed) {
  fixture::TempDir ev;
  std::vector<std::string> saved;
  for (size_t length = 240; length <= 256; ++length) {
    const std::string name = nameOfLength(length, ".xlsx");
    ASSERT_EQ(name.size(), length);
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.add();
    ASSERT_TRUE(book->setCellText("a1", "张三"_t));
    const bool ok = book->saveAs(ev.path(name));
    if (length <= 255) {
      EXPECT_TRUE(ok) << length << ": " << book->error().toUtf8();
      saved.push_back(name);
      // The winners text goes through the same routine.
      const std::string text = nameOfLength(length, ".txt");
      EXPECT_EQ(files::replaceFile(ev.path(text), std::string("名单")), files::ReplaceResult::Done)
          << length;
      saved.push_back(text);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(book->error().toUtf8().rfind("文件名太长：" + name, 0), 0u)
          << book->error().toUtf8();
      EXPECT_NE(book->error().toUtf8().find("请换一个短一些的文件名"), std::string::npos);
    }
  }
  EXPECT_EQ(strayFiles(ev.dir, saved), std::vector<std::string>{});
}

class ExportThroughTheWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1024, 768);
    ui::testing::clearShellOpens();
    ui::setProgramFolder(ev.dir);
    ev.makeAwards({{"一等奖"_t, "电视"_t, 1.0, 1.0}});
    std::vector<fixture::Row> rows;
    for (int i = 0; i < 200; ++i)
      rows.push_back({Text::fromUtf8("编号" + std::to_string(i)), "张三"_t, "13800138000"_t,
                      "110101199001011234"_t, "备注"_t});
    ev.makePersons(rows);
    app::registerAllHandlers();
    std::string error;
    ASSERT_TRUE(ui::loadForms(ev.makeForms({"ParticipantsWindow", "ExportProgressWindow"}), &error))
        << error;
    store::open(model::programPath(ev.dir, model::kAwardsFile), model::aliasAwards());
    store::open(model::programPath(ev.dir, model::kPersonsFile), model::aliasPersons());
    ASSERT_TRUE(ui::Window("ParticipantsWindow").open());
  }
  void TearDown() override {
    for (const char* w : {"ExportProgressWindow", "ParticipantsWindow"}) ui::Window(w).destroy();
    ui::processPendingOnce();
    fixture::endProgramTest();
  }
  // Exports the list to path through 导出数据; the message boxes shown.
  std::vector<std::string> exportTo(const std::string& path) {
    ui::testing::clearShownDialogs();
    ui::testing::queueFileAnswer(true, path);
    maintenance::OnParticipantsExportButtonClick();
    std::vector<std::string> out;
    for (const auto& d : ui::testing::shownDialogs())
      if (d.kind == "message") out.push_back(d.text.toUtf8());
    return out;
  }
  fixture::TempEvent ev;
};

TEST_F(ExportThroughTheWindow, ALongNameIsSavedOrRefusedByName) {
  std::filesystem::create_directories(ev.path("out"));
  const std::string fits = ev.path("out/" + nameOfLength(255, ".xlsx"));
  std::vector<std::string> shown = exportTo(fits);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "导出成功!\n" + fits);
  EXPECT_TRUE(std::filesystem::exists(fits));

  const std::string tooLong = ev.path("out/" + nameOfLength(256, ".xlsx"));
  shown = exportTo(tooLong);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("导出失败！\n文件名太长：", 0), 0u) << shown[0];
  EXPECT_EQ(strayFiles(ev.path("out"), {nameOfLength(255, ".xlsx")}), std::vector<std::string>{});
  EXPECT_EQ(ui::testing::shellOpens(), std::vector<std::string>{fits});
}

// A disk that fills while the workbook is written: the earlier workbook is
// kept whole, nothing is left beside it, nothing is opened, and the message
// is Chinese and says what to do (no text of the libraries).
TEST_F(ExportThroughTheWindow, AFullDiskKeepsTheEarlierWorkbookAndSaysWhatToDo) {
  std::filesystem::create_directories(ev.path("out"));
  const std::string path = ev.path("out/名单.xlsx");
  ASSERT_EQ(exportTo(path).size(), 1u);
  const std::string earlier = fixture::readAll(path);
  ASSERT_GT(earlier.size(), 4096u);
  // The list grows, so that the new workbook would differ.
  store::select(model::aliasPersons());
  ASSERT_TRUE(store::append({"新来的"_t, "李四"_t}));
  ui::testing::clearShellOpens();
  std::vector<std::string> shown;
  {
    fixture::FileSizeLimit full(4096);
    shown = exportTo(path);
  }
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("导出失败！\n磁盘空间不足，文件没有保存：" + path, 0), 0u) << shown[0];
  EXPECT_NE(shown[0].find("请腾出磁盘空间"), std::string::npos) << shown[0];
  EXPECT_NE(shown[0].find("同名的原有文件保持不变"), std::string::npos) << shown[0];
  for (const char* english : {"rror", "zip", "Zip", "ZIP", "file", "File"})
    EXPECT_EQ(shown[0].find(english), std::string::npos) << shown[0];
  EXPECT_TRUE(fixture::readAll(path) == earlier);
  EXPECT_EQ(strayFiles(ev.path("out"), {"名单.xlsx"}), std::vector<std::string>{});
  EXPECT_TRUE(ui::testing::shellOpens().empty());

  // With room again the same export goes through.
  shown = exportTo(path);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "导出成功!\n" + path);
}

// The same for a text written whole: the winners list's export.
TEST(ExportFiles, AFullDiskKeepsTheEarlierTextAndSaysWhatToDo) {
  fixture::TempDir ev;
  const std::string path = ev.path("winners.txt");
  ASSERT_EQ(files::replaceFile(path, std::string("earlier")), files::ReplaceResult::Done);
  int error = 0;
  files::ReplaceResult result;
  {
    fixture::FileSizeLimit full(1024);
    result = files::replaceFile(path, std::string(8192, 'x'), &error);
  }
  EXPECT_EQ(result, files::ReplaceResult::WriteFailed);
  EXPECT_EQ(fixture::readAll(path), "earlier");
  const std::string message = files::failureMessage(result, path, error).toUtf8();
  EXPECT_EQ(message.rfind("磁盘空间不足", 0), 0u) << message;
  EXPECT_EQ(strayFiles(ev.dir, {"winners.txt"}), std::vector<std::string>{});
}

// A symbolic link where the file is to go is replaced by the file; what it
// pointed at is not touched.
TEST(ExportFiles, ALinkIsReplacedNotFollowed) {
  fixture::TempDir ev;
  const std::string other = ev.path("other.txt");
  fixture::writeBytes(other, "keep me");
  const std::string link = ev.path("list.txt");
  std::filesystem::create_symlink(other, link);
  ASSERT_EQ(files::replaceFile(link, std::string("new")), files::ReplaceResult::Done);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_EQ(fixture::readAll(link), "new");
  EXPECT_EQ(fixture::readAll(other), "keep me");
}

}  // namespace
