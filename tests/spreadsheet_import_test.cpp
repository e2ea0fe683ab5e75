// Spreadsheet import and export of participants through the real runtime,
// headless: the preview and its blank-row rule, the import appending
// records, failed stores and closed windows, the export's text cells, and
// the save name, failures and the shell open.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "event_fixture.h"
#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "maintenance/spreadsheet_internal.h"
#include "model/records.h"
#include "number_workbook.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"
#include "stored_persons.h"
#include "temp_files.h"
#include "tests/xls_builder.h"

using model::operator""_t;
using model::Text;
using Row = fixture::Row;
using Cells = std::vector<std::vector<Text>>;
namespace person = model::person;
namespace fs = std::filesystem;

namespace {

using Stored = fixture::StoredPerson;

ui::Window preview() { return ui::Window("ImportPreviewWindow"); }
ui::Control previewList() { return preview().ctl("超级列表框_导入预览"); }

Text statusText() {
  QWidget* bar = ui::testing::controlWidget("ImportPreviewWindow", "状态条1");
  if (!bar) return Text();
  auto labels = bar->findChildren<QLabel*>();
  return labels.empty() ? Text() : Text::fromUtf8(labels.front()->text().toStdString());
}

std::vector<std::string> messages() {
  std::vector<std::string> out;
  for (const auto& d : ui::testing::shownDialogs())
    if (d.kind == "message") out.push_back(d.text.toUtf8());
  return out;
}

class SpreadsheetFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1024, 768);
    ui::testing::clearShellOpens();
    ui::setProgramFolder(ev.dir);
    ev.makeAwards({{"一等奖"_t, "电视"_t, 1.0, 1.0}});
    app::registerAllHandlers();
    std::string error;
    ASSERT_TRUE(ui::loadForms(
        ev.makeForms({"ParticipantsWindow", "ImportPreviewWindow", "ExportProgressWindow"}),
        &error))
        << error;
  }
  void TearDown() override {
    store::failNextWrites(0);
    for (const char* w : {"ImportPreviewWindow", "ExportProgressWindow", "ParticipantsWindow"})
      ui::Window(w).destroy();
    ui::processPendingOnce();
    fixture::endProgramTest();
  }

  // The participant store with rows, opened and current, and the
  // participants window open on it.
  void openWith(const std::vector<Row>& rows) {
    ev.makePersons(rows);
    store::open(model::programPath(ev.dir, model::kAwardsFile), model::aliasAwards());
    store::open(model::programPath(ev.dir, model::kPersonsFile), model::aliasPersons());
    ASSERT_TRUE(ui::Window("ParticipantsWindow").open());
  }

  // A workbook whose sheet rows (from row 1) hold the given texts.
  std::string makeSheet(const std::string& name, const Cells& rows) {
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.add();
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t c = 0; c < rows[r].size(); ++c)
        book->setCellText(std::string(1, static_cast<char>('a' + c)) + std::to_string(r + 1),
                          rows[r][c]);
    const std::string path = ev.path(name);
    EXPECT_TRUE(book->saveAs(path)) << book->error().toUtf8();
    return path;
  }

  // Presses 导入数据 with path chosen in the file dialog. Inside the modal
  // preview, once it is built (the status says the extraction ended, or that
  // the file is damaged), runs `inside`, which must
  // close the window; `whileReading` runs at the first message processing after the preview holds
  // `readingRows` rows. Returns when the window closed.
  void runImport(const std::string& path, std::function<void()> inside,
                 std::function<void()> whileReading = nullptr, int readingRows = 0) {
    ui::testing::queueFileAnswer(true, path);
    bool ran = false, stopped = false;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!preview().isOpen()) return;
      if (whileReading && !stopped && previewList().rowCount() >= readingRows) {
        stopped = true;
        whileReading();
        return;
      }
      const std::string status = statusText().toUtf8();
      if (!ran && (status.rfind("数据提取", 0) == 0 || status.rfind("文件已损坏", 0) == 0)) {
        ran = true;
        poll.stop();
        inside();
      }
    });
    poll.start();
    // No test may hang on the modal window: far longer than any reading here
    // takes on a loaded machine, and shorter than the test's own time-out.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { preview().destroy(); });
    guard.start(240000);
    maintenance::OnParticipantsImportButtonClick();
    EXPECT_TRUE(guard.isActive()) << "the preview had to be closed by the guard";
    EXPECT_FALSE(preview().isOpen());
  }

  std::vector<std::vector<std::string>> previewRows() {
    std::vector<std::vector<std::string>> out;
    ui::Control list = previewList();
    for (int r = 0; r < list.rowCount(); ++r) {
      std::vector<std::string> row;
      for (int c = 0; c < 6; ++c) row.push_back(list.cell(r, c).toUtf8());
      out.push_back(row);
    }
    return out;
  }

  std::vector<Stored> records() { return fixture::storedPersons(); }

  fixture::TempEvent ev;
};

const Cells kHeadings = {
    {"编号"_t, "姓名"_t, "电话号码"_t, "身份证号码"_t, "图片文件"_t, "备注"_t}};

Cells withHeadings(const Cells& rows) {
  Cells all = kHeadings;
  all.insert(all.end(), rows.begin(), rows.end());
  return all;
}

Row existing() {
  return {"E01"_t,  "老王"_t, "13900000000"_t, "110101198001011111"_t,
          "原有"_t, 3LL,      "一等奖"_t,      "old.jpg"_t};
}

TEST_F(SpreadsheetFlow, PreviewThenImportAppendsRecordsAfterTheExistingOnes) {
  openWith({existing()});
  const std::string path = makeSheet(
      "名单.xlsx",
      withHeadings({
          {"0001"_t, "  张三 "_t, "13800138000"_t, "110101199001011234"_t, "zs.jpg"_t, "技术部"_t},
          {Text(), "李四"_t},
          {"A03"_t, "王五"_t, Text(), Text(), Text(), "末列"_t},
          {" "_t, "　"_t},  // blank: an ASCII and a full-width space
          {"A06"_t, "不会读到"_t},
      }));
  runImport(path, [&] {
    EXPECT_EQ(preview().caption().toUtf8(), "数据导入（" + path + "）");
    EXPECT_EQ(statusText().toUtf8(), "数据提取完成");
    EXPECT_TRUE(preview().ctl("按钮1").enabled());
    const std::vector<std::vector<std::string>> expected = {
        {"0001", "  张三 ", "13800138000", "110101199001011234", "zs.jpg", "技术部"},
        {"", "李四", "", "", "", ""},
        {"A03", "王五", "", "", "", "末列"},
    };
    EXPECT_EQ(previewRows(), expected);
    maintenance::OnImportPreviewImportButtonClick();
  });
  const std::vector<Stored> expected = {
      {"E01"_t, "老王"_t, "13900000000"_t, "110101198001011111"_t, "原有"_t, 3, "一等奖"_t,
       "old.jpg"_t},
      {"0001"_t, "  张三 "_t, "13800138000"_t, "110101199001011234"_t, "技术部"_t, 0, Text(),
       "zs.jpg"_t},
      {Text(), "李四"_t, Text(), Text(), Text(), 0, Text(), Text()},
      {"A03"_t, "王五"_t, Text(), Text(), "末列"_t, 0, Text(), Text()},
  };
  EXPECT_EQ(records(), expected);
  EXPECT_EQ(store::currentAlias(), model::aliasPersons());
  // The participants list shows the new records.
  ui::Control list = maintenance::PersonnelList();
  ASSERT_EQ(list.rowCount(), 4);
  EXPECT_EQ(list.cell(1, 1).toUtf8(), "  张三 ");
  EXPECT_EQ(list.cell(3, 4).toUtf8(), "末列");
  // The success box, with the information icon; the file dialog was an open
  // dialog that offers both workbook formats.
  const auto shown = ui::testing::shownDialogs();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, "file");
  EXPECT_EQ(shown[0].buttons, 0) << "an open dialog";
  EXPECT_EQ(shown[0].text.toUtf8(), "*.xls;*.xlsx|*.xls;*.xlsx");
  EXPECT_EQ(shown[1].text.toUtf8(), "数据导入成功！");
  EXPECT_EQ(shown[1].flags & ui::kInformationIcon, ui::kInformationIcon);
}

TEST_F(SpreadsheetFlow, ReadingStopsAtTheFirstBlankRow) {
  struct Case {
    const char* what;
    Cells rows;  // from sheet row 2
    int previewed;
  };
  const std::vector<Case> cases = {
      {"row 2 blank", {{}, {"A03"_t, "丙"_t}}, 0},
      {"row 2 only spaces", {{"  "_t, "　　"_t, " 　 "_t, Text(), Text(), " "_t}, {"A"_t}}, 0},
      {"blank row 5", {{"A"_t}, {"B"_t}, {"C"_t}, {}, {"E"_t}, {"F"_t}}, 3},
      {"name in column F only", {{Text(), Text(), Text(), Text(), Text(), "备注"_t}, {}}, 1},
      {"spaces then text in one row", {{" "_t, "　"_t, "x"_t}}, 1},
  };
  openWith({});
  for (const auto& c : cases) {
    const std::string path =
        makeSheet(std::string("case") + c.what + ".xlsx", withHeadings(c.rows));
    int rows = -1;
    runImport(path, [&] {
      rows = previewList().rowCount();
      maintenance::OnImportPreviewCancelButtonClick();
    });
    EXPECT_EQ(rows, c.previewed) << c.what;
  }
  EXPECT_TRUE(records().empty()) << "cancel imports nothing";
}

// An import that would add nothing (only the headings, or a blank first data
// row) says so instead of reporting a success, and closes.
TEST_F(SpreadsheetFlow, ImportOfNothingSaysThereIsNothingToImport) {
  openWith({existing()});
  const std::vector<std::pair<const char*, Cells>> sheets = {
      {"只有标题.xlsx", kHeadings},
      {"第二行空.xlsx", withHeadings({{}, {"A03"_t, "丙"_t}})},
  };
  for (const auto& [name, rows] : sheets) {
    SCOPED_TRACE(name);
    ui::testing::clearShownDialogs();
    std::string status;
    runImport(makeSheet(name, rows), [&] {
      status = statusText().toUtf8();
      EXPECT_TRUE(preview().ctl("按钮1").enabled());
      maintenance::OnImportPreviewImportButtonClick();
    });
    EXPECT_EQ(status, "数据提取完成：没有可导入的数据");
    const auto shown = messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("没有可导入的数据：工作表第 2 行是空行。", 0), 0u) << shown[0];
    EXPECT_EQ(records().size(), 1u);
  }
}

TEST_F(SpreadsheetFlow, ButtonsOpenTheirDialogsAndCancelDoesNothing) {
  openWith({existing()});
  // The participants window's own buttons, cancelled in the file dialog.
  for (const char* button : {"按钮10", "按钮9"}) {
    ui::testing::queueFileAnswer(false, "");
    auto* b =
        qobject_cast<QAbstractButton*>(ui::testing::controlWidget("ParticipantsWindow", button));
    ASSERT_NE(b, nullptr) << button;
    b->click();
  }
  const auto shown = ui::testing::shownDialogs();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, "file");
  EXPECT_EQ(shown[0].buttons, 0) << "import: an open dialog";
  EXPECT_EQ(shown[1].kind, "file");
  EXPECT_EQ(shown[1].buttons, 1) << "export: a save dialog";
  EXPECT_FALSE(preview().isOpen());
  EXPECT_FALSE(ui::Window("ExportProgressWindow").isOpen());
  EXPECT_EQ(records().size(), 1u);
  EXPECT_TRUE(ui::testing::shellOpens().empty());
}

TEST_F(SpreadsheetFlow, UnreadableFileIsReportedAndOffersOnlyCancel) {
  openWith({existing()});
  const std::string path = ev.path("不是表格.xls");
  std::ofstream(path) << "编号,姓名\n1,张三\n";
  bool importEnabled = true;
  runImport(path, [&] {
    importEnabled = preview().ctl("按钮1").enabled();
    EXPECT_EQ(statusText().toUtf8(), "数据提取失败");
    EXPECT_EQ(previewList().rowCount(), 0);
    maintenance::OnImportPreviewCancelButtonClick();
  });
  EXPECT_FALSE(importEnabled);
  const auto shown = messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("无法读取所选文件，未提取任何数据。", 0), 0u) << shown[0];
  EXPECT_EQ(records().size(), 1u);
}

// An .xls whose sector chain loops back inside the sheet: the rows before
// the damage are previewed, and instead of 数据提取完成 the status and a
// message say that the file is damaged and how many rows were read.
TEST_F(SpreadsheetFlow, DamagedXlsSaysHowManyRowsWereRead) {
  openWith({existing()});
  const xlsbuild::Book list = xlsbuild::participantList(80);
  std::string bytes = xlsbuild::file(list);
  const auto sectors = static_cast<std::uint32_t>((list.stream().size() + 511) / 512);
  xlsbuild::setLink(&bytes, 2 + sectors / 2, 2);
  const std::string path = ev.path("名单.xls");
  std::ofstream(path, std::ios::binary) << bytes;
  int rows = -1;
  std::string status, last;
  bool importEnabled = false;
  runImport(path, [&] {
    rows = previewList().rowCount();
    status = statusText().toUtf8();
    if (rows > 0) last = previewList().cell(rows - 1, 1).toUtf8();
    importEnabled = preview().ctl("按钮1").enabled();
    maintenance::OnImportPreviewCancelButtonClick();
  });
  ASSERT_GT(rows, 0);
  ASSERT_LT(rows, 80);
  EXPECT_EQ(last, "参加者" + std::to_string(10000 + rows).substr(1));
  EXPECT_EQ(status.rfind("文件已损坏：工作表只读取到 " + std::to_string(rows) + " 行数据", 0), 0u)
      << status;
  EXPECT_EQ(messages(), std::vector<std::string>{status});
  EXPECT_TRUE(importEnabled) << "the rows read may be imported";
  EXPECT_EQ(records().size(), 1u);
}

TEST_F(SpreadsheetFlow, FailedStoreWriteImportsNothingAndKeepsThePreview) {
  openWith({existing()});
  const std::string path =
      makeSheet("三行.xlsx", withHeadings({{"A1"_t, "甲"_t}, {"A2"_t, "乙"_t}, {"A3"_t, "丙"_t}}));
  int previewAfterFailure = -1;
  bool enabledAfterFailure = false;
  runImport(path, [&] {
    // The store starts failing after the first row was written.
    QTimer::singleShot(0, [] { store::failNextWrites(1); });
    maintenance::OnImportPreviewImportButtonClick();
    EXPECT_EQ(records().size(), 1u) << "the first row is taken back";
    previewAfterFailure = previewList().rowCount();
    enabledAfterFailure = preview().ctl("按钮1").enabled() && preview().ctl("按钮2").enabled();
    EXPECT_EQ(statusText().toUtf8(), "数据导入失败");
    // Once the store works again the same preview imports.
    maintenance::OnImportPreviewImportButtonClick();
  });
  EXPECT_EQ(previewAfterFailure, 3);
  EXPECT_TRUE(enabledAfterFailure);
  EXPECT_EQ(messages(),
            (std::vector<std::string>{"数据导入失败，未导入任何数据，请重试！", "数据导入成功！"}));
  const auto stored = records();
  ASSERT_EQ(stored.size(), 4u);
  EXPECT_EQ(stored[1].number.toUtf8(), "A1");
  EXPECT_EQ(stored[3].name.toUtf8(), "丙");
}

TEST_F(SpreadsheetFlow, ClosingThePreviewMidwayKeepsTheStoreAsItWas) {
  openWith({existing()});
  Cells many;
  for (int i = 1; i <= 200; ++i) many.push_back({Text::fromUtf8("N" + std::to_string(i)), "某"_t});
  const std::string path = makeSheet("多.xlsx", withHeadings(many));

  // Closed from its title bar while the sheet is read: the reading stops.
  // The rows read so far already show.
  int shownWhileReading = -1;
  runImport(
      path, [] { ADD_FAILURE() << "the preview was finished"; },
      [&] {
        auto* tree = qobject_cast<QTreeWidget*>(
            ui::testing::controlWidget("ImportPreviewWindow", "超级列表框_导入预览"));
        shownWhileReading = tree ? tree->topLevelItemCount() : -1;
        preview().destroy();
      },
      5);
  EXPECT_GE(shownWhileReading, 1);
  EXPECT_EQ(records().size(), 1u);

  // Closed while the import writes: nothing of it stays.
  ui::testing::clearShownDialogs();
  runImport(path, [] {
    QTimer::singleShot(0, [] {
      // Both buttons are off while the import runs.
      EXPECT_FALSE(preview().ctl("按钮2").enabled());
      maintenance::OnImportPreviewCancelButtonClick();  // ignored meanwhile
      preview().destroy();
    });
    maintenance::OnImportPreviewImportButtonClick();
  });
  EXPECT_EQ(records().size(), 1u);
  EXPECT_EQ(messages(), std::vector<std::string>{"导入窗口已关闭，未导入任何数据。"});
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 1);
}

// A workbook of the corpus (tests/workbooks), copied into the event folder.
std::string corpusFile(fixture::TempEvent& ev, const std::string& name) {
  const std::string to = ev.path(name);
  fs::copy_file(fs::path(PD_SOURCE_DIR) / "tests" / "workbooks" / name, to,
                fs::copy_options::overwrite_existing);
  return to;
}

// Identity and card numbers typed as numbers, from the .xlsx and the .xls
// LibreOffice wrote of one workbook: 15 significant digits (as LibreOffice
// shows them under "0"; the card number in d5 it shows whole from the .xls),
// and the preview names the rows whose real digits were lost.
TEST_F(SpreadsheetFlow, LongNumbersShowFifteenDigitsAndThePreviewNamesTheirRows) {
  openWith({});
  const std::vector<std::vector<std::string>> expected = {
      {"0001", "", "", "110101199001011000", "", ""},
      {"0002", "", "", "110101199001011000", "", ""},
      {"0003", "", "13800138000", "123456789012345", "", ""},
      {"0004", "", "6222021234567900", "110101199001011234", "", ""},
  };
  for (const char* name : {"libreoffice_long_numbers.xlsx", "libreoffice_long_numbers.xls"}) {
    SCOPED_TRACE(name);
    ui::testing::clearShownDialogs();
    std::vector<std::vector<std::string>> rows;
    runImport(corpusFile(ev, name), [&] {
      rows = previewRows();
      maintenance::OnImportPreviewImportButtonClick();
    });
    EXPECT_EQ(rows, expected);
    const auto shown = messages();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].rfind("第 2、3、5 行有超过 15 位的数字。", 0), 0u) << shown[0];
    EXPECT_NE(shown[0].find("文本格式"), std::string::npos) << "says how to keep the digits";
    EXPECT_EQ(shown[1], "数据导入成功！");
  }
  const auto stored = records();
  ASSERT_EQ(stored.size(), 8u);
  EXPECT_EQ(stored[0].id.toUtf8(), "110101199001011000");
  EXPECT_EQ(stored[4].id.toUtf8(), "110101199001011000") << "the same from the .xls";
}

// Formulas written by programs that do not calculate: their cells read
// empty, and the preview says how many there are and how to get the values.
TEST_F(SpreadsheetFlow, FormulasWithoutResultsAreCountedAndReadEmpty) {
  openWith({});
  const std::vector<std::vector<std::string>> expected = {
      {"0001", "", "", "", "", ""},
      {"0002", "", "", "", "", ""},
  };
  for (const char* name :
       {"openpyxl_formulas.xlsx", "xlsxwriter_formulas.xlsx", "xlwt_formulas.xls"}) {
    SCOPED_TRACE(name);
    ui::testing::clearShownDialogs();
    std::vector<std::vector<std::string>> rows;
    runImport(corpusFile(ev, name), [&] {
      rows = previewRows();
      maintenance::OnImportPreviewCancelButtonClick();
    });
    EXPECT_EQ(rows, expected);
    const auto shown = messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("有 4 个公式单元格在文件中没有计算结果", 0), 0u) << shown[0];
    EXPECT_NE(shown[0].find("读作空白"), std::string::npos);
    EXPECT_NE(shown[0].find("打开该工作簿并保存"), std::string::npos);
  }
  EXPECT_TRUE(records().empty());
}

// A long sheet (200,000 rows of six numbers under a 255-character format) is
// read beside the window: the status counts the rows while the window goes
// on answering, a click on 取消 stops the reading, and nothing is kept.
TEST_F(SpreadsheetFlow, CancelStopsALongReadingAndKeepsNothing) {
  openWith({existing()});
  const std::string path = ev.path("二十万行.xlsx");
  ASSERT_TRUE(fixture::writeNumberWorkbook(path, 200000, std::string(255, '#')));
  ui::testing::queueFileAnswer(true, path);
  std::set<std::string> counted;  // the status texts seen while reading
  bool clicked = false;
  QTimer poll;
  poll.setInterval(0);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (clicked || !preview().isOpen()) return;
    const std::string status = statusText().toUtf8();
    if (status.find("已读到第") != std::string::npos) counted.insert(status);
    if (counted.size() < 2) return;
    // The count moved on while this timer ran: the window answers. Click 取消.
    clicked = true;
    auto* cancel =
        qobject_cast<QAbstractButton*>(ui::testing::controlWidget("ImportPreviewWindow", "按钮2"));
    ASSERT_NE(cancel, nullptr);
    EXPECT_TRUE(cancel->isEnabled()) << "取消 is offered while the sheet is read";
    cancel->click();
  });
  poll.start();
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { preview().destroy(); });
  guard.start(120000);
  // Returns once the window closed and the reading beside it has stopped.
  maintenance::OnParticipantsImportButtonClick();
  EXPECT_TRUE(clicked) << "the status never counted the rows";
  EXPECT_TRUE(guard.isActive()) << "the preview had to be closed by the guard";
  EXPECT_FALSE(preview().isOpen());
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(records().size(), 1u);
}

// --- Export -----------------------------------------------------------------------------

class SpreadsheetExport : public SpreadsheetFlow {
 protected:
  // Exports the list to path through 导出数据; the message boxes shown.
  std::vector<std::string> exportTo(const std::string& path) {
    ui::testing::clearShownDialogs();
    ui::testing::queueFileAnswer(true, path);
    maintenance::OnParticipantsExportButtonClick();
    return messages();
  }
  // A list long enough that its workbook is larger than a few pages.
  void openWithManyRows() {
    std::vector<Row> rows;
    for (int i = 0; i < 200; ++i)
      rows.push_back({Text::fromUtf8("编号" + std::to_string(i)), "张三"_t, "13800138000"_t,
                      "110101199001011234"_t, "备注"_t});
    openWith(rows);
  }
  // The cells of sheet 1 of the workbook at path, rows from 1, five columns,
  // up to the first row that is empty in all five.
  Cells readBack(const std::string& path) {
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.open(path);
    Cells out;
    if (!book || !book->selectSheet(1)) {
      ADD_FAILURE() << "cannot read " << path;
      return out;
    }
    for (int r = 1;; ++r) {
      std::vector<Text> row;
      bool any = false;
      for (int c = 1; c <= 6; ++c) {
        row.push_back(
            book->cellText(std::string(1, static_cast<char>(96 + c)) + std::to_string(r)));
        any = any || !row.back().empty();
      }
      if (!any) break;
      EXPECT_TRUE(row[5].empty()) << "only five columns are written";
      row.pop_back();
      out.push_back(row);
    }
    return out;
  }
};

const std::vector<Text> kExportHeadings = {"编号"_t, "姓名"_t, "电话号码"_t, "身份证号码"_t,
                                           "备注"_t};

TEST_F(SpreadsheetExport, WritesTheListAsTextCellsAndOpensTheFile) {
  openWith({{"0001"_t, "张三"_t, "13800138000"_t, "110101199001011234"_t, "  备注 "_t, 2LL,
             "一等奖"_t, "zs.jpg"_t},
            {"A02"_t, "李四"_t}});
  const std::string chosen = ev.path("导出名单");  // the default extension is added
  ui::testing::queueFileAnswer(true, chosen);
  // The progress window shows while the rows are written, one step a row.
  int progressMaximum = -1, progressSeen = -1;
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    ui::Window w("ExportProgressWindow");
    if (!w.isOpen()) return;
    progressMaximum = w.ctl("进度条1").maximum();
    progressSeen = std::max(progressSeen, w.ctl("进度条1").position());
  });
  watch.start();
  maintenance::OnParticipantsExportButtonClick();
  watch.stop();
  const std::string saved = chosen + ".xlsx";
  ASSERT_TRUE(fs::exists(saved));
  EXPECT_EQ(progressMaximum, 2);
  EXPECT_GE(progressSeen, 1);
  ui::processPendingOnce();
  EXPECT_FALSE(ui::Window("ExportProgressWindow").isOpen());
  const Cells expected = {
      kExportHeadings,
      {"0001"_t, "张三"_t, "13800138000"_t, "110101199001011234"_t, "  备注 "_t},
      {"A02"_t, "李四"_t, Text(), Text(), Text()}};
  EXPECT_EQ(readBack(saved), expected);
  const auto shown = ui::testing::shownDialogs();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].buttons, 1) << "a save dialog";
  EXPECT_EQ(shown[0].text.toUtf8(), "*.xlsx|*.xlsx");
  EXPECT_EQ(shown[1].text.toUtf8(), "导出成功!\n" + saved);
  EXPECT_EQ(shown[1].flags & ui::kInformationIcon, ui::kInformationIcon);
  EXPECT_EQ(ui::testing::shellOpens(), std::vector<std::string>{saved});
}

TEST_F(SpreadsheetExport, EmptyListGivesTheHeadingsOnly) {
  openWith({});
  const std::string path = ev.path("空.xlsx");
  ui::testing::queueFileAnswer(true, path);
  maintenance::ExportPersonnelToExcel();
  EXPECT_EQ(readBack(path), Cells{kExportHeadings});
  EXPECT_EQ(messages(), std::vector<std::string>{"导出成功!\n" + path});
}

TEST_F(SpreadsheetExport, CancelAndFailureWriteNothingAndOpenNothing) {
  openWith({{"0001"_t, "张三"_t}});
  fs::create_directories(ev.path("out"));
  struct Case {
    const char* what;
    bool confirm;
    std::string path;
    std::vector<std::string> messages;  // message boxes, by how they begin
  };
  const std::vector<Case> cases = {
      {"cancelled", false, "", {}},
      {"a folder that is not there", true, ev.path("out/missing/名单.xlsx"), {"导出失败！"}},
      {"a folder's name", true, ev.path("out/sub.xlsx"), {"导出失败！"}},
  };
  fs::create_directories(ev.path("out/sub.xlsx"));
  for (const auto& c : cases) {
    ui::testing::clearShownDialogs();
    ui::testing::queueFileAnswer(c.confirm, c.path);
    maintenance::ExportPersonnelToExcel();
    const auto shown = messages();
    ASSERT_EQ(shown.size(), c.messages.size()) << c.what;
    for (size_t i = 0; i < shown.size(); ++i)
      EXPECT_EQ(shown[i].rfind(c.messages[i], 0), 0u) << c.what << ": " << shown[i];
    ui::processPendingOnce();
    EXPECT_FALSE(ui::Window("ExportProgressWindow").isOpen()) << c.what;
  }
  // Nothing but the folder made above was written.
  std::vector<std::string> left;
  for (const auto& e : fs::recursive_directory_iterator(ev.path("out")))
    left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"sub.xlsx"});
  EXPECT_TRUE(ui::testing::shellOpens().empty());
}

// A name typed without the .xlsx ending is never refused: the workbook is
// saved as .xlsx under that name, and the success message says where.
TEST_F(SpreadsheetExport, TypedNamesAreSavedAsXlsx) {
  openWith({{"0001"_t, "张三"_t}});
  fs::create_directories(ev.path("out"));
  struct Case {
    const char* typed;
    const char* saved;
  };
  const std::vector<Case> cases = {
      {"名单.xls", "名单.xlsx"},
      {"大名单.XLS", "大名单.xlsx"},
      {"名单.v2", "名单.v2.xlsx"},
      {"名单.XLSX", "名单.XLSX"},
  };
  const Cells expected = {kExportHeadings, {"0001"_t, "张三"_t, Text(), Text(), Text()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    ui::testing::clearShownDialogs();
    ui::testing::clearShellOpens();
    const std::string saved = ev.path(std::string("out/") + c.saved);
    ui::testing::queueFileAnswer(true, ev.path(std::string("out/") + c.typed));
    maintenance::ExportPersonnelToExcel();
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(readBack(saved), expected);
    const auto shown = messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "导出成功!\n" + saved);
    EXPECT_EQ(ui::testing::shellOpens(), std::vector<std::string>{saved});
  }
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(ev.path("out")))
    files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  std::vector<std::string> want;
  for (const auto& c : cases) want.push_back(c.saved);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(files, want) << "nothing is written under the typed .xls name";
}

// The dialog confirmed replacing the name typed, not the .xlsx one: an
// existing file of that name is replaced only after the operator agrees.
TEST_F(SpreadsheetExport, ExistingXlsxOfATypedXlsNameIsReplacedOnlyOnOk) {
  openWith({{"0001"_t, "张三"_t}});
  const std::string typed = ev.path("名单.xls");
  const std::string saved = ev.path("名单.xlsx");
  std::ofstream(saved) << "last year's list";
  ui::testing::queueFileAnswer(true, typed);
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  maintenance::ExportPersonnelToExcel();
  std::ifstream in(saved);
  std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "last year's list");
  auto shown = ui::testing::shownDialogs();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].text.toUtf8(), "文件“" + saved + "”已存在，要替换它吗？");
  EXPECT_EQ(shown[1].buttons, ui::kOkCancel);
  EXPECT_TRUE(ui::testing::shellOpens().empty());

  ui::testing::clearShownDialogs();
  ui::testing::queueFileAnswer(true, typed);
  ui::testing::queueMessageAnswer(ui::kResultOk);
  maintenance::ExportPersonnelToExcel();
  EXPECT_EQ(readBack(saved),
            (Cells{kExportHeadings, {"0001"_t, "张三"_t, Text(), Text(), Text()}}));
  EXPECT_EQ(messages().back(), "导出成功!\n" + saved);
}

// What the export writes, the import reads back: every exported field of every
// record, 备注 included, as it was.
TEST_F(SpreadsheetExport, ALongNameIsSavedOrRefusedByName) {
  openWith({{"0001"_t, "张三"_t}});
  std::filesystem::create_directories(ev.path("out"));
  const std::string fits = ev.path("out/" + fixture::nameOfLength(255, ".xlsx"));
  std::vector<std::string> shown = exportTo(fits);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "导出成功!\n" + fits);
  EXPECT_TRUE(std::filesystem::exists(fits));

  const std::string tooLong = ev.path("out/" + fixture::nameOfLength(256, ".xlsx"));
  shown = exportTo(tooLong);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("导出失败！\n文件名太长：", 0), 0u) << shown[0];
  EXPECT_EQ(fixture::strayFiles(ev.path("out"), {fixture::nameOfLength(255, ".xlsx")}),
            std::vector<std::string>{});
  EXPECT_EQ(ui::testing::shellOpens(), std::vector<std::string>{fits});
}

// A disk that fills while the workbook is written: the earlier workbook is
// kept whole, nothing is left beside it, nothing is opened, and the message
// is Chinese and says what to do (no text of the libraries).
TEST_F(SpreadsheetExport, AFullDiskKeepsTheEarlierWorkbookAndSaysWhatToDo) {
  openWithManyRows();
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
  EXPECT_EQ(fixture::strayFiles(ev.path("out"), {"名单.xlsx"}), std::vector<std::string>{});
  EXPECT_TRUE(ui::testing::shellOpens().empty());

  // With room again the same export goes through.
  shown = exportTo(path);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "导出成功!\n" + path);
}

TEST_F(SpreadsheetExport, ExportThenImportGivesBackEveryField) {
  const std::vector<Row> original = {
      {"0001"_t, "  张三 "_t, "13800138000"_t, "11010119900101123X"_t, "技术部　备注"_t, 2LL,
       "一等奖"_t, "zs.jpg"_t},
      {"A02"_t, "李四"_t, "13912345678"_t, "110101198512310018"_t, "备注"_t},
      {Text(), "王五"_t, Text(), Text(), Text()},
      {Text(), Text(), Text(), Text(), Text()},  // nothing to export: left out
      {" "_t, Text(), "　"_t, Text(), Text()},   // spaces only: the same
      {"0004"_t, Text(), Text(), Text(), "只有备注"_t},
      {"000000000000000005"_t, "赵六"_t, "+86 139 0000 0000"_t, "440301200001010000"_t, "1.5E+3"_t},
  };
  openWith(original);
  const std::string path = ev.path("往返.xlsx");
  ui::testing::queueFileAnswer(true, path);
  maintenance::ExportPersonnelToExcel();
  ASSERT_TRUE(fs::exists(path));
  runImport(path, [] { maintenance::OnImportPreviewImportButtonClick(); });
  // The blank records make no blank row, which would end the import there.
  std::vector<Row> expected;
  for (const Row& r : original) {
    Text all;
    for (size_t f = 0; f < 5; ++f) all += std::get<Text>(r[f]);
    if (!model::removeSpaces(all).empty()) expected.push_back(r);
  }
  const std::vector<Stored> stored = records();
  ASSERT_EQ(stored.size(), original.size() + expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const Stored& back = stored[original.size() + i];
    auto text = [&](size_t f) { return std::get<Text>(expected[i][f]).toUtf8(); };
    EXPECT_EQ(back.number.toUtf8(), text(0));
    EXPECT_EQ(back.name.toUtf8(), text(1));
    EXPECT_EQ(back.phone.toUtf8(), text(2));
    EXPECT_EQ(back.id.toUtf8(), text(3));
    EXPECT_EQ(back.remark.toUtf8(), text(4));
    EXPECT_EQ(back.picture.toUtf8(), "") << "the export carries no picture file";
  }
}

// Only a row 1 that is exactly the export's headings switches to its layout;
// every other workbook keeps the six columns with E as 图片文件.
TEST_F(SpreadsheetFlow, HeadingsChooseTheColumnLayout) {
  struct Case {
    const char* what;
    std::vector<Text> headings;
    const char* picture;  // what lands in 图片文件 and 备注
    const char* remark;
  };
  const std::vector<Case> cases = {
      {"the export's headings",
       {"编号"_t, "姓名"_t, "电话号码"_t, "身份证号码"_t, "备注"_t},
       "",
       "E"},
      {"six headings",
       {"编号"_t, "姓名"_t, "电话号码"_t, "身份证号码"_t, "图片文件"_t, "备注"_t},
       "E",
       "F"},
      {"the export's five and something in F",
       {"编号"_t, "姓名"_t, "电话号码"_t, "身份证号码"_t, "备注"_t, "图片"_t},
       "E",
       "F"},
      {"a heading with a space",
       {"编号"_t, "姓名"_t, "电话号码"_t, "身份证号码"_t, "备注 "_t},
       "E",
       "F"},
      {"another order", {"姓名"_t, "编号"_t, "电话号码"_t, "身份证号码"_t, "备注"_t}, "E", "F"},
      {"no headings", {}, "E", "F"},
  };
  openWith({});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = makeSheet(std::string(c.what) + ".xlsx",
                                       {c.headings, {"A"_t, "B"_t, "C"_t, "D"_t, "E"_t, "F"_t}});
    std::vector<std::vector<std::string>> rows;
    runImport(path, [&] {
      rows = previewRows();
      maintenance::OnImportPreviewCancelButtonClick();
    });
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"A", "B", "C", "D", c.picture, c.remark}));
  }
}

}  // namespace
