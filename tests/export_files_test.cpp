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
#include "model/records.h"
#include "platform/base/files.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "platform/ui/ui.h"
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

// Every length a file name can have is saved (the temporary name beside it
// is cut to fit), and a name longer than the file system takes is refused
// with a message that says so, leaving nothing behind.
TEST(ExportFiles, AnyNameTheFolderTakesIsSavedAndALongerOneIsNamed) {
  fixture::TempDir ev;
  std::vector<std::string> saved;
  for (size_t length = 240; length <= 256; ++length) {
    const std::string name = fixture::nameOfLength(length, ".xlsx");
    ASSERT_EQ(name.size(), length);
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.add();
    ASSERT_TRUE(book->setCellText("a1", "张三"_t));
    const bool ok = book->saveAs(ev.path(name));
    if (length <= 255) {
      EXPECT_TRUE(ok) << length << ": " << book->error().toUtf8();
      saved.push_back(name);
      // The winners text goes through the same routine.
      const std::string text = fixture::nameOfLength(length, ".txt");
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
  EXPECT_EQ(fixture::strayFiles(ev.dir, saved), std::vector<std::string>{});
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
  EXPECT_EQ(fixture::strayFiles(ev.dir, {"winners.txt"}), std::vector<std::string>{});
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
