// The participants window and the windows it opens (add, edit, generate)
// through the real runtime, headless: the list and the display mode, find,
// clear, the editor's steps, modify and delete, numbered entries, and what
// each of them does when the store refuses a write.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "event_fixture.h"
#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "model/records.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"
#include "sqlite_direct.h"
#include "stored_persons.h"

using model::operator""_t;
using model::Text;
using Row = fixture::Row;
namespace person = model::person;

namespace {

// A participant: 编号, 姓名, 电话号码, 身份证号码, 备注, 抽奖模式, 中奖项目, 图片文件.
Row person8(const Text& number, const Text& name, long long mode = 0, const Text& won = Text(),
            const Text& picture = Text()) {
  return {number, name, "13800138000"_t, "110101199001011234"_t, "备注"_t, mode, won, picture};
}

using Stored = fixture::StoredPerson;

class Participants : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1024, 768);
    ui::setProgramFolder(ev.dir);
    ev.makeAwards({{"一等奖"_t, "电视"_t, 1.0, 1.0}});
    app::registerAllHandlers();
    std::string error;
    ASSERT_TRUE(ui::loadForms(ev.makeForms({"ParticipantsWindow", "AddPersonWindow",
                                            "EditPersonWindow", "GenerateEntriesWindow"}),
                              &error))
        << error;
  }
  void TearDown() override {
    store::failNextWrites(0);
    fixture::endProgramTest();
  }

  // Writes the participant store, opens it and the award store (which is
  // left current, as the start-up leaves another store current), and opens
  // the participants window.
  void openWith(const std::vector<Row>& rows) {
    store::closeAll();
    ev.makePersons(rows);
    store::open(model::programPath(ev.dir, model::kPersonsFile), model::aliasPersons());
    store::open(model::programPath(ev.dir, model::kAwardsFile), model::aliasAwards());
    ASSERT_TRUE(ui::Window("ParticipantsWindow").open());
  }
  void closeWindows() {
    for (const char* w :
         {"GenerateEntriesWindow", "EditPersonWindow", "AddPersonWindow", "ParticipantsWindow"})
      ui::Window(w).destroy();
    ui::processPendingOnce();
  }

  // Every record as stored, read without moving the window's cursor.
  std::vector<Stored> records() { return fixture::storedPersons(); }
  std::vector<Text> numbers() {
    std::vector<Text> out;
    for (const auto& r : records()) out.push_back(r.number);
    return out;
  }
  // The list's rows, columns joined by "|".
  std::vector<std::string> listRows() {
    ui::Control list = maintenance::PersonnelList();
    std::vector<std::string> out;
    for (int r = 0; r < list.rowCount(); ++r) {
      std::string row;
      for (int c = 0; c < list.columnCount(); ++c) row += (c ? "|" : "") + list.cell(r, c).toUtf8();
      out.push_back(row);
    }
    return out;
  }
  std::vector<Text> messages() {
    std::vector<Text> out;
    for (const auto& d : ui::testing::shownDialogs())
      if (d.kind == "message") out.push_back(d.text);
    return out;
  }
  std::vector<bool> radios() {
    std::vector<bool> out;
    for (int k = 1; k <= 5; ++k)
      out.push_back(ui::Control("ParticipantsWindow", "单选框" + std::to_string(k)).checked());
    return out;
  }
  static ui::Control box(const char* window, int k) {
    return ui::Control(window, "编辑框" + std::to_string(k));
  }
  static std::vector<Text> boxes(const char* window) {
    std::vector<Text> out;
    for (int k = 1; k <= 5; ++k) out.push_back(box(window, k).text());
    return out;
  }
  static void fill(const char* window, const std::vector<Text>& texts) {
    for (int k = 1; k <= 5; ++k) box(window, k).setText(texts[k - 1]);
  }
  static QWidget* widget(const char* window, const char* control) {
    return ui::testing::controlWidget(window, control);
  }
  static void click(const char* window, const char* control) {
    QWidget* w = widget(window, control);
    ASSERT_NE(w, nullptr) << control;
    QTest::mouseClick(w, Qt::LeftButton);
  }
  static QPoint rowPoint(int row) {
    auto* tv = qobject_cast<QTreeWidget*>(widget("ParticipantsWindow", "超级列表框1"));
    return tv->visualItemRect(tv->topLevelItem(row)).center();
  }
  static QWidget* listViewport() {
    return qobject_cast<QTreeWidget*>(widget("ParticipantsWindow", "超级列表框1"))->viewport();
  }
  // Opens the editor non-modal on record n, as the double click does.
  void editRecord(int n) {
    store::select(model::aliasPersons());
    store::goTo(n);
    ASSERT_TRUE(ui::Window("EditPersonWindow").open());
  }

  fixture::TempEvent ev;
};

TEST_F(Participants, ListShowsEveryRecordAndTheStoredDisplayMode) {
  struct Case {
    long long mode;
    int radio;     // 1..5, 0 none
    long long ok;  // 抽奖模式 of record 1 after OK
  } cases[] = {{0, 1, 1}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}, {7, 0, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    openWith(
        {person8("A01"_t, "张三"_t, c.mode, "一等奖"_t, "a.jpg"_t), person8("A02"_t, "李四"_t, 3)});
    EXPECT_EQ(store::currentAlias(), model::aliasPersons());
    EXPECT_EQ(maintenance::gPersonnelSelection, -10);
    std::vector<bool> want(5, false);
    if (c.radio) want[c.radio - 1] = true;
    EXPECT_EQ(radios(), want);
    EXPECT_EQ(listRows(),
              (std::vector<std::string>{"A01|张三|13800138000|110101199001011234|备注",
                                        "A02|李四|13800138000|110101199001011234|备注"}));
    EXPECT_TRUE(store::eof());  // the fill leaves the cursor past the last record

    maintenance::OnParticipantsOkButtonClick();
    ui::processPendingOnce();
    EXPECT_FALSE(ui::Window("ParticipantsWindow").isOpen());
    std::vector<Stored> r = records();
    EXPECT_EQ(r[0].mode, c.ok);
    EXPECT_EQ(r[1].mode, 3);  // only record 1 holds the mode
    EXPECT_EQ(r[0].won, "一等奖"_t);
    EXPECT_EQ(r[0].picture, "a.jpg"_t);
  }

  // An empty store: an empty list, 单选框1, and OK closes without a message.
  openWith({});
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 0);
  EXPECT_EQ(radios(), (std::vector<bool>{true, false, false, false, false}));
  maintenance::OnParticipantsOkButtonClick();
  ui::processPendingOnce();
  EXPECT_FALSE(ui::Window("ParticipantsWindow").isOpen());
  EXPECT_TRUE(messages().empty());
}

TEST_F(Participants, ChosenModeIsWrittenOnlyByOk) {
  openWith({person8("A01"_t, "张三"_t, 2), person8("A02"_t, "李四"_t)});
  // The operator's click selects one box per group.
  click("ParticipantsWindow", "单选框5");
  EXPECT_EQ(radios(), (std::vector<bool>{false, false, false, false, true}));

  // Closing by the title bar writes nothing.
  ui::Window("ParticipantsWindow").destroy();
  ui::processPendingOnce();
  EXPECT_EQ(records()[0].mode, 2);

  ui::Window("ParticipantsWindow").open();
  click("ParticipantsWindow", "单选框5");
  // A store that refuses the write keeps the window open and says so.
  store::failNextWrites(1);
  click("ParticipantsWindow", "按钮1");
  ui::processPendingOnce();
  EXPECT_TRUE(ui::Window("ParticipantsWindow").isOpen());
  EXPECT_EQ(messages(), (std::vector<Text>{"抽奖方式保存失败，请重试！"_t}));
  EXPECT_EQ(records()[0].mode, 2);

  click("ParticipantsWindow", "按钮1");
  ui::processPendingOnce();
  EXPECT_FALSE(ui::Window("ParticipantsWindow").isOpen());
  std::vector<Stored> r = records();
  EXPECT_EQ(r[0].mode, 5);
  EXPECT_EQ(r[1].mode, 0);
  EXPECT_EQ(r[0].number, "A01"_t);
}

TEST_F(Participants, FindMatchesTheWholeNumberIgnoringCase) {
  openWith({person8("A012"_t, "a01"_t), person8("B7"_t, "王五"_t), person8("A01"_t, "李四"_t),
            person8("a01"_t, "赵六"_t)});
  ui::Control list = maintenance::PersonnelList();
  struct Case {
    const char* text;
    int row;
  } cases[] = {{"a01", 2}, {"b7", 1}, {"A012", 0}, {"A0", -1}, {"李四", -1}, {"", -1}};
  list.selectRow(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ui::testing::queueInputAnswer(true, Text::fromUtf8(c.text));
    click("ParticipantsWindow", "按钮8");
    EXPECT_EQ(maintenance::gLastFoundRow, c.row);
    EXPECT_EQ(list.selectedIndex(), c.row);  // not found: nothing stays selected
  }
  ASSERT_FALSE(ui::testing::shownDialogs().empty());
  const ui::testing::ShownDialog box = ui::testing::shownDialogs().back();
  EXPECT_EQ(box.kind, "input");
  EXPECT_EQ(box.text, "请输入需要查找的内容"_t);
  EXPECT_EQ(box.title, "查找"_t);
  EXPECT_TRUE(messages().empty());

  // Cancel changes nothing.
  list.selectRow(1);
  ui::testing::queueInputAnswer(false, "a01"_t);
  maintenance::OnParticipantsFindButtonClick();
  EXPECT_EQ(list.selectedIndex(), 1);
  EXPECT_EQ(maintenance::gLastFoundRow, -1);
}

TEST_F(Participants, ClearAsksAndRemovesAllOrNothing) {
  openWith({person8("A01"_t, "张三"_t, 2), person8("A02"_t, "李四"_t)});
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  click("ParticipantsWindow", "按钮6");
  EXPECT_EQ(records().size(), 2u);
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 2);
  EXPECT_EQ(messages(), (std::vector<Text>{"数据清空后将无法恢复，你确定要清空数据吗？"_t}));

  ui::testing::queueMessageAnswer(ui::kResultOk);
  store::failNextWrites(1);
  maintenance::OnParticipantsClearButtonClick();
  EXPECT_EQ(records().size(), 2u);
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 2);
  EXPECT_EQ(messages().back(), "数据清空失败，数据没有改变！"_t);

  ui::testing::queueMessageAnswer(ui::kResultOk);
  maintenance::OnParticipantsClearButtonClick();
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 0);
}

TEST_F(Participants, ClickAndDoubleClickOpenTheEditorOnTheClickedRow) {
  openWith({person8("A01"_t, "张三"_t), person8("A02"_t, "李四"_t), person8("A03"_t, "王五"_t)});
  // Before any click the editor opens on record 1.
  std::vector<Text> shown;
  QTimer::singleShot(0, [&] {
    shown = boxes("EditPersonWindow");
    click("EditPersonWindow", "按钮3");  // 取消
  });
  maintenance::OnParticipantsListDoubleClick();
  EXPECT_EQ(shown[0], "A01"_t);
  EXPECT_FALSE(ui::Window("EditPersonWindow").isOpen());

  QTest::mouseClick(listViewport(), Qt::LeftButton, {}, rowPoint(1));
  EXPECT_EQ(maintenance::gPersonnelSelection, 1);
  bool modal = false;
  QTimer::singleShot(0, [&] {
    shown = boxes("EditPersonWindow");
    modal = !widget("ParticipantsWindow", "按钮1")->window()->isEnabled() ||
            !widget("ParticipantsWindow", "按钮1")->isEnabled();
    ui::Window("EditPersonWindow").destroy();  // the title bar
  });
  QTest::mouseDClick(listViewport(), Qt::LeftButton, {}, rowPoint(1));
  EXPECT_EQ(shown, (std::vector<Text>{"A02"_t, "李四"_t, "13800138000"_t, "110101199001011234"_t,
                                      "备注"_t}));
  EXPECT_TRUE(modal);
  EXPECT_FALSE(ui::Window("EditPersonWindow").isOpen());
}

TEST_F(Participants, AddAppendsWhatWasTypedAndEmptiesTheBoxes) {
  openWith({person8("A01"_t, "张三"_t, 4)});
  std::vector<std::vector<Text>> afterEach;
  QTimer::singleShot(0, [&] {
    const char* w = "AddPersonWindow";
    fill(w, {"A02"_t, "李四"_t, "139"_t, "1101"_t, "第一行\n第二行"_t});
    click(w, "按钮1");
    afterEach.push_back(boxes(w));
    fill(w, {Text(), Text(), Text(), Text(), "只有备注"_t});
    click(w, "按钮1");
    fill(w, {Text(), Text(), Text(), Text(), Text()});  // nothing typed
    click(w, "按钮1");
    fill(w, {" "_t, Text(), Text(), Text(), Text()});  // a space is something
    click(w, "按钮1");
    afterEach.push_back(boxes(w));
    click(w, "按钮2");  // 关闭
  });
  maintenance::OnParticipantsAddButtonClick();  // returns once the window closed
  EXPECT_FALSE(ui::Window("AddPersonWindow").isOpen());
  const std::vector<Text> empty(5);
  EXPECT_EQ(afterEach, (std::vector<std::vector<Text>>{empty, empty}));
  EXPECT_EQ(records(),
            (std::vector<Stored>{
                {"A01"_t, "张三"_t, "13800138000"_t, "110101199001011234"_t, "备注"_t, 4, {}, {}},
                {"A02"_t, "李四"_t, "139"_t, "1101"_t, "第一行\n第二行"_t, 0, {}, {}},
                {{}, {}, {}, {}, "只有备注"_t, 0, {}, {}},
                {" "_t, {}, {}, {}, {}, 0, {}, {}}}));
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 4);
  EXPECT_EQ(maintenance::PersonnelList().cell(1, 4), "第一行\n第二行"_t);
  EXPECT_TRUE(messages().empty());
}

TEST_F(Participants, FailedAddKeepsWhatWasTyped) {
  openWith({person8("A01"_t, "张三"_t)});
  ASSERT_TRUE(ui::Window("AddPersonWindow").open());
  const std::vector<Text> typed = {"A02"_t, "李四"_t, "139"_t, "1101"_t, "备注"_t};
  fill("AddPersonWindow", typed);
  store::failNextWrites(1);
  maintenance::OnAddPersonAddButtonClick();
  EXPECT_EQ(boxes("AddPersonWindow"), typed);
  EXPECT_EQ(records().size(), 1u);
  EXPECT_EQ(messages(), (std::vector<Text>{"增加失败，数据没有保存！"_t}));
  maintenance::OnAddPersonAddButtonClick();
  EXPECT_EQ(records().size(), 2u);
  EXPECT_EQ(boxes("AddPersonWindow"), std::vector<Text>(5));
}

TEST_F(Participants, ModifyReplacesOnlyTheFiveShownFields) {
  openWith({person8("A01"_t, "张三"_t, 3),
            person8("A02"_t, "李四"_t, 0, "一等奖二等奖"_t, "li.jpg"_t),
            person8("A03"_t, "王五"_t)});
  editRecord(2);
  EXPECT_EQ(boxes("EditPersonWindow")[1], "李四"_t);
  fill("EditPersonWindow", {"B02"_t, "李四四"_t, Text(), "  "_t, "新备注"_t});
  click("EditPersonWindow", "按钮2");
  EXPECT_EQ(store::recordNumber(), 2);
  std::vector<Stored> r = records();
  EXPECT_EQ(r[1],
            (Stored{"B02"_t, "李四四"_t, {}, "  "_t, "新备注"_t, 0, "一等奖二等奖"_t, "li.jpg"_t}));
  EXPECT_EQ(r[0].mode, 3);
  EXPECT_EQ(listRows()[1], "B02|李四四||  |新备注");
  EXPECT_EQ(boxes("EditPersonWindow")[0], "B02"_t);

  // All five boxes empty: nothing is written.
  fill("EditPersonWindow", std::vector<Text>(5));
  maintenance::OnEditPersonModifyButtonClick();
  EXPECT_EQ(records(), r);
  EXPECT_EQ(store::recordNumber(), 2);

  // A refused write says so and changes nothing.
  fill("EditPersonWindow", {"C02"_t, "x"_t, "x"_t, "x"_t, "x"_t});
  store::failNextWrites(1);
  maintenance::OnEditPersonModifyButtonClick();
  EXPECT_EQ(records(), r);
  EXPECT_EQ(messages(), (std::vector<Text>{"修改失败，数据没有保存！"_t}));
  EXPECT_EQ(store::recordNumber(), 2);
  EXPECT_EQ(boxes("EditPersonWindow")[0], "C02"_t);  // the typed texts stay
}

TEST_F(Participants, EditorOnAnEmptyStoreWritesNothing) {
  openWith({});
  editRecord(1);
  EXPECT_EQ(boxes("EditPersonWindow"), std::vector<Text>(5));
  fill("EditPersonWindow", {"A01"_t, Text(), Text(), Text(), Text()});
  maintenance::OnEditPersonModifyButtonClick();
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(messages(), (std::vector<Text>{"没有可修改的人员！"_t}));
  maintenance::OnEditPersonDeleteButtonClick();
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(boxes("EditPersonWindow"), std::vector<Text>(5));
  maintenance::OnEditPersonPreviousButtonClick();
  maintenance::OnEditPersonNextButtonClick();
  EXPECT_EQ(messages().size(), 3u);
}

TEST_F(Participants, PreviousAndNextStopAtTheEnds) {
  openWith({person8("A01"_t, "张三"_t), person8("A02"_t, "李四"_t), person8("A03"_t, "王五"_t)});
  editRecord(1);
  struct Step {
    const char* button;  // 按钮1 "<<", 按钮5 ">>"
    const char* shown;
    int record;
    const char* message;
  } steps[] = {{"按钮1", "A01", 1, "已经是第一个人员了！"},
               {"按钮5", "A02", 2, nullptr},
               {"按钮5", "A03", 3, nullptr},
               {"按钮5", "A03", 3, "已经是最后一个人员了！"},
               {"按钮1", "A02", 2, nullptr}};
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.button) + " to " + s.shown);
    ui::testing::clearShownDialogs();
    // The box keeps what it showed when a message says there is no further
    // record: change it to prove it is not refreshed.
    if (s.message) box("EditPersonWindow", 2).setText("改过"_t);
    click("EditPersonWindow", s.button);
    EXPECT_EQ(box("EditPersonWindow", 1).text(), Text::fromUtf8(s.shown));
    EXPECT_EQ(store::recordNumber(), s.record);
    if (s.message) {
      EXPECT_EQ(messages(), (std::vector<Text>{Text::fromUtf8(s.message)}));
      EXPECT_EQ(box("EditPersonWindow", 2).text(), "改过"_t);
    } else {
      EXPECT_TRUE(messages().empty());
    }
  }
}

TEST_F(Participants, DeleteMovesToTheNextRecordAndKeepsTheDisplayMode) {
  openWith({person8("A01"_t, "张三"_t, 5, "一等奖"_t), person8("A02"_t, "李四"_t),
            person8("A03"_t, "王五"_t), person8("A04"_t, "赵六"_t)});
  editRecord(2);
  click("EditPersonWindow", "按钮4");  // a middle record: its follower shows
  EXPECT_EQ(numbers(), (std::vector<Text>{"A01"_t, "A03"_t, "A04"_t}));
  EXPECT_EQ(store::recordNumber(), 2);
  EXPECT_EQ(boxes("EditPersonWindow")[0], "A03"_t);
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 3);

  store::goLast();
  maintenance::OnEditPersonDeleteButtonClick();  // the last: the new last shows
  EXPECT_EQ(numbers(), (std::vector<Text>{"A01"_t, "A03"_t}));
  EXPECT_EQ(store::recordNumber(), 2);
  EXPECT_EQ(boxes("EditPersonWindow")[0], "A03"_t);

  // Record 1 holds the display mode: the record that takes its place takes
  // the mode, and nothing else of it changes. A01 is a winner: asked first.
  store::goFirst();
  ui::testing::queueMessageAnswer(ui::kResultOk);
  maintenance::OnEditPersonDeleteButtonClick();
  std::vector<Stored> r = records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(
      r[0],
      (Stored{"A03"_t, "王五"_t, "13800138000"_t, "110101199001011234"_t, "备注"_t, 5, {}, {}}));
  EXPECT_EQ(boxes("EditPersonWindow")[0], "A03"_t);
  EXPECT_EQ(messages().size(), 1u);

  maintenance::OnEditPersonDeleteButtonClick();  // the only one
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(boxes("EditPersonWindow"), std::vector<Text>(5));
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 0);
}

// The drawn counts of the awards, in record order.
std::vector<double> drawnCounts() {
  const Text alias = store::currentAlias();
  store::select(model::aliasAwards());
  const int at = store::recordNumber();
  std::vector<double> out;
  store::goFirst();
  for (int i = 1; i <= store::recordCount(); ++i, store::skip(1))
    out.push_back(store::readDouble(model::award::已抽取人数()));
  if (at > 0) store::goTo(at);
  store::select(alias);
  return out;
}

// A winner is deleted only after the operator agreed, named the awards, and
// the wins go with the record: each award's drawn count comes down in the
// same change, or nothing changes at all.
TEST_F(Participants, DeletingAWinnerAsksAndTakesTheWinsBack) {
  ev.makeAwards({{"一等奖"_t, "电视"_t, 1.0, 2.0, 2.0},
                 {"二等奖"_t, "手机"_t, 1.0, 5.0, 1.0},
                 {"特别二等奖"_t, "汽车"_t, 1.0, 1.0, 1.0}});
  openWith({person8("A01"_t, "张三"_t, 2, "一等奖二等奖"_t),
            person8("A02"_t, "李四"_t, 0, "一等奖"_t), person8("A03"_t, "王五"_t),
            person8("A04"_t, "赵六"_t, 0, "特别二等奖"_t)});
  const std::vector<Stored> before = records();
  const Text asked =
      "该人员已中奖（一等奖、二等奖），删除后其中奖记录一并删除，相应奖项的已抽取人数随之减少。你确定要删除吗？"_t;

  // Cancel: nothing changes, the editor stays on the winner.
  editRecord(1);
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  click("EditPersonWindow", "按钮4");
  EXPECT_EQ(messages(), (std::vector<Text>{asked}));
  EXPECT_EQ(records(), before);
  EXPECT_EQ(drawnCounts(), (std::vector<double>{2, 1, 1}));
  EXPECT_EQ(boxes("EditPersonWindow")[0], "A01"_t);

  // A store that refuses the award count keeps the person and every count.
  ui::testing::clearShownDialogs();
  ui::testing::queueMessageAnswer(ui::kResultOk);
  store::failNextWrites(1);
  click("EditPersonWindow", "按钮4");
  EXPECT_EQ(messages(), (std::vector<Text>{asked, "删除失败，数据没有改变！"_t}));
  EXPECT_EQ(records(), before);
  EXPECT_EQ(drawnCounts(), (std::vector<double>{2, 1, 1}));

  // OK: the winner goes and both awards lose the win; 特别二等奖, whose name
  // holds 二等奖, keeps its own.
  ui::testing::clearShownDialogs();
  ui::testing::queueMessageAnswer(ui::kResultOk);
  click("EditPersonWindow", "按钮4");
  EXPECT_EQ(numbers(), (std::vector<Text>{"A02"_t, "A03"_t, "A04"_t}));
  EXPECT_EQ(drawnCounts(), (std::vector<double>{1, 0, 1}));
  EXPECT_EQ(records()[0].mode, 2);  // the display mode moved to the new record 1

  // A participant without a win goes at once, as before.
  ui::testing::clearShownDialogs();
  store::select(model::aliasPersons());
  store::goTo(2);
  click("EditPersonWindow", "按钮4");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(numbers(), (std::vector<Text>{"A02"_t, "A04"_t}));
  EXPECT_EQ(drawnCounts(), (std::vector<double>{1, 0, 1}));

  // A win of an award that no longer exists is named as stored and changes
  // no count.
  ui::testing::clearShownDialogs();
  store::select(model::aliasPersons());
  store::goTo(1);
  store::write(person::中奖项目(), "已删除的奖"_t);
  ui::testing::queueMessageAnswer(ui::kResultOk);
  click("EditPersonWindow", "按钮4");
  EXPECT_EQ(
      messages(),
      (std::vector<Text>{
          "该人员已中奖（已删除的奖），删除后其中奖记录一并删除，相应奖项的已抽取人数随之减少。你确定要删除吗？"_t}));
  EXPECT_EQ(numbers(), (std::vector<Text>{"A04"_t}));
  EXPECT_EQ(drawnCounts(), (std::vector<double>{1, 0, 1}));
}

// Clearing says how many winners are among the records; on OK the award
// counts come down with them in the same change.
TEST_F(Participants, ClearingWinnersBringsTheAwardCountsDown) {
  ev.makeAwards({{"一等奖"_t, "电视"_t, 1.0, 2.0, 2.0}, {"二等奖"_t, "手机"_t, 1.0, 5.0, 2.0}});
  openWith({person8("A01"_t, "张三"_t, 2, "一等奖二等奖"_t),
            person8("A02"_t, "李四"_t, 0, "一等奖"_t), person8("A03"_t, "王五"_t),
            person8("A04"_t, "赵六"_t, 0, "二等奖"_t)});
  const std::vector<Stored> before = records();
  const Text asked =
      "数据清空后将无法恢复。其中有3名中奖人员，清空后他们的中奖记录一并删除，相应奖项的已抽取人数随之减少。你确定要清空数据吗？"_t;
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  click("ParticipantsWindow", "按钮6");
  EXPECT_EQ(messages(), (std::vector<Text>{asked}));
  EXPECT_EQ(records(), before);
  EXPECT_EQ(drawnCounts(), (std::vector<double>{2, 2}));

  // The clear itself refused after the counts were written: all of it undone.
  const std::string personsFile = model::programPath(ev.dir, model::kPersonsFile);
  fixture::execSql(
      personsFile,
      "CREATE TRIGGER keep BEFORE DELETE ON records BEGIN SELECT RAISE(ABORT, 'no'); END;");
  ui::testing::clearShownDialogs();
  ui::testing::queueMessageAnswer(ui::kResultOk);
  click("ParticipantsWindow", "按钮6");
  EXPECT_EQ(messages(), (std::vector<Text>{asked, "数据清空失败，数据没有改变！"_t}));
  EXPECT_EQ(records(), before);
  EXPECT_EQ(drawnCounts(), (std::vector<double>{2, 2}));
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 4);

  fixture::execSql(personsFile, "DROP TRIGGER keep;");
  ui::testing::queueMessageAnswer(ui::kResultOk);
  click("ParticipantsWindow", "按钮6");
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(drawnCounts(), (std::vector<double>{0, 0}));
}

TEST_F(Participants, RefusedDeleteLeavesEverything) {
  openWith({person8("A01"_t, "张三"_t, 2), person8("A02"_t, "李四"_t), person8("A03"_t, "王五"_t)});
  const std::vector<Stored> before = records();
  for (int n : {1, 3}) {
    SCOPED_TRACE(n);
    ui::testing::clearShownDialogs();
    editRecord(n);
    store::failNextWrites(1);
    maintenance::OnEditPersonDeleteButtonClick();
    EXPECT_EQ(records(), before);
    EXPECT_EQ(store::recordNumber(), n);
    EXPECT_EQ(boxes("EditPersonWindow")[0], before[n - 1].number);
    EXPECT_EQ(messages(), (std::vector<Text>{"删除失败，数据没有改变！"_t}));
    EXPECT_EQ(maintenance::PersonnelList().rowCount(), 3);
    ui::Window("EditPersonWindow").destroy();
    ui::processPendingOnce();
  }
}

TEST_F(Participants, CancelClosesTheEditorAndTitleBarToo) {
  openWith({person8("A01"_t, "张三"_t)});
  editRecord(1);
  fill("EditPersonWindow", {"X"_t, "X"_t, "X"_t, "X"_t, "X"_t});
  click("EditPersonWindow", "按钮3");
  ui::processPendingOnce();
  EXPECT_FALSE(ui::Window("EditPersonWindow").isOpen());
  EXPECT_EQ(numbers(), (std::vector<Text>{"A01"_t}));
}

// --- Numbered entries -----------------------------------------------------------

TEST(EntryCode, PaddingPrefixAndSuffix) {
  struct Case {
    const char* prefix;
    long long n;
    bool fixed;
    int width;
    const char* suffix;
    const char* code;
  } cases[] = {
      {"", 7, false, 4, "", "7"},         {"", 7, true, 4, "", "0007"},
      {"", 100, true, 4, "", "0100"},     {"", 100, true, 2, "", "00"},
      {"", 5, true, 12, "", "000000005"}, {"A", 12, true, 3, "-B", "A012-B"},
      {"", 5, true, 0, "", ""},           {"", -5, false, 4, "", "-5"},
      {"第", 3, false, 0, "号", "第3号"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(maintenance::EntryCode(Text::fromUtf8(c.prefix), c.n, c.fixed, c.width,
                                     Text::fromUtf8(c.suffix)),
              Text::fromUtf8(c.code))
        << c.n << " width " << c.width;
}

class Generate : public Participants {
 protected:
  void openGenerate() { ASSERT_TRUE(ui::Window("GenerateEntriesWindow").open()); }
  ui::Control ctl(const char* name) { return ui::Control("GenerateEntriesWindow", name); }
  void tick(int digit) {
    auto* l = qobject_cast<QListWidget*>(widget("GenerateEntriesWindow", "选择列表框1"));
    l->item(digit)->setCheckState(Qt::Checked);
  }
  // Generates; true when the window closed itself.
  bool generate() {
    click("GenerateEntriesWindow", "按钮1");
    ui::processPendingOnce();
    return !ui::Window("GenerateEntriesWindow").isOpen();
  }
  static std::vector<Text> range(long long from, long long to, const char* prefix = "") {
    std::vector<Text> out;
    for (long long n = from; n <= to; ++n)
      out.push_back(Text::fromUtf8(prefix) + model::numberToText(n));
    return out;
  }
};

TEST_F(Generate, DefaultsAppendOneToHundredAfterTheExistingRecords) {
  openWith({person8("A01"_t, "张三"_t, 2, "一等奖"_t)});
  openGenerate();
  EXPECT_EQ(ctl("编辑框1").text(), "1"_t);
  EXPECT_EQ(ctl("编辑框2").text(), "100"_t);
  EXPECT_EQ(ctl("编辑框5").text(), "4"_t);
  EXPECT_FALSE(ctl("选择框1").checked());
  EXPECT_EQ(ctl("选择列表框1").itemCount(), 10);
  EXPECT_EQ(ctl("选择列表框1").selectedIndex(), -1);
  EXPECT_TRUE(generate());

  std::vector<Stored> r = records();
  ASSERT_EQ(r.size(), 101u);
  EXPECT_EQ(r[0], (Stored{"A01"_t,
                          "张三"_t,
                          "13800138000"_t,
                          "110101199001011234"_t,
                          "备注"_t,
                          2,
                          "一等奖"_t,
                          {}}));
  std::vector<Text> want = range(1, 100);
  want.insert(want.begin(), "A01"_t);
  EXPECT_EQ(numbers(), want);
  EXPECT_EQ(r[100], (Stored{"100"_t, {}, {}, {}, {}, 0, {}, {}}));
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 101);
  EXPECT_EQ(maintenance::PersonnelList().cell(100, 0), "100"_t);
  EXPECT_TRUE(messages().empty());

  // The boxes start from their declared texts at every open.
  openGenerate();
  ctl("编辑框1").setText("50"_t);
  click("GenerateEntriesWindow", "按钮2");  // 取消
  ui::processPendingOnce();
  EXPECT_FALSE(ui::Window("GenerateEntriesWindow").isOpen());
  EXPECT_EQ(records().size(), 101u);
  openGenerate();
  EXPECT_EQ(ctl("编辑框1").text(), "1"_t);
}

// The digit list as the operator reaches it from the keyboard: receiving the
// focus makes its first item current without highlighting it, which must not
// leave out the numbers ending in 0; a digit moved to with the arrow keys is
// highlighted and is left out.
TEST_F(Generate, KeyboardFocusOnTheDigitListHighlightsNothing) {
  struct Case {
    const char* what;
    std::vector<int> keys;  // pressed in the list after tabbing into it
    int excluded;           // -1 none
  };
  const std::vector<Case> cases = {
      {"tabbed through", {}, -1},
      {"arrow down to 1", {Qt::Key_Down}, 1},
      {"down and back up to 0", {Qt::Key_Down, Qt::Key_Up}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    closeWindows();
    openWith({});
    openGenerate();
    QWidget* window = ui::testing::windowWidget("GenerateEntriesWindow");
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    auto* digits = qobject_cast<QListWidget*>(widget("GenerateEntriesWindow", "选择列表框1"));
    widget("GenerateEntriesWindow", "编辑框5")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), digits);
    for (int key : c.keys) QTest::keyClick(digits, static_cast<Qt::Key>(key));
    EXPECT_EQ(ctl("选择列表框1").selectedIndex(), c.excluded);
    QTest::keyClick(digits, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), widget("GenerateEntriesWindow", "按钮1"));
    EXPECT_TRUE(generate());
    std::vector<std::string> want, stored;
    for (const Text& t : range(1, 100))
      if (c.excluded < 0 || t.byteAt(t.length() - 1) != '0' + c.excluded)
        want.push_back(t.toUtf8());
    for (const Text& t : numbers()) stored.push_back(t.toUtf8());
    EXPECT_EQ(stored, want);
  }
}

TEST_F(Generate, ConfiguredRanges) {
  struct Case {
    const char *start, *end, *prefix, *suffix;
    bool fixed;
    const char* width;
    int highlighted;          // -1 none
    std::vector<int> ticked;  // tick marks
    size_t count;
    const char *first, *last;  // 编号 of the first and last entry
  } cases[] = {
      {"1", "100", "", "", false, "4", 0, {}, 90, "1", "99"},
      {"1", "100", "", "", true, "4", -1, {}, 100, "0001", "0100"},
      {"5", "5", "", "", true, "12", -1, {}, 1, "000000005", "000000005"},
      {"12", "13", "A", "-B", true, "3", -1, {}, 2, "A012-B", "A013-B"},
      {"abc", "3", "", "", false, "4", -1, {}, 4, "0", "3"},
      {"１０", "１２", "", "", false, "4", -1, {}, 3, "10", "12"},
      {"-2", "2", "", "", false, "4", -1, {}, 5, "-2", "2"},
      {"1", "20", "", "", false, "4", -1, {3, 7}, 16, "1", "20"},
      {"1", "20", "", "", false, "4", 0, {3}, 16, "1", "19"},
      {"7", "7", "", "", false, "4", 7, {}, 0, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + ".." + c.end);
    closeWindows();
    openWith({});
    openGenerate();
    ctl("编辑框1").setText(Text::fromUtf8(c.start));
    ctl("编辑框2").setText(Text::fromUtf8(c.end));
    ctl("编辑框3").setText(Text::fromUtf8(c.prefix));
    ctl("编辑框4").setText(Text::fromUtf8(c.suffix));
    ctl("编辑框5").setText(Text::fromUtf8(c.width));
    if (c.fixed) click("GenerateEntriesWindow", "选择框1");
    for (int d : c.ticked) tick(d);
    ctl("选择列表框1").setSelectedIndex(c.highlighted);
    EXPECT_TRUE(generate());
    std::vector<Text> n = numbers();
    ASSERT_EQ(n.size(), c.count);
    if (c.count) {
      EXPECT_EQ(n.front(), Text::fromUtf8(c.first));
      EXPECT_EQ(n.back(), Text::fromUtf8(c.last));
    }
    for (const Text& t : n) {
      const char last = static_cast<char>(t.byteAt(t.length() - 1 - (c.suffix[0] ? 2 : 0)));
      if (c.highlighted >= 0) {
        EXPECT_NE(last, '0' + c.highlighted) << t.toUtf8();
      }
      for (int d : c.ticked) EXPECT_NE(last, '0' + d) << t.toUtf8();
    }
    EXPECT_TRUE(messages().empty());
  }
}

TEST_F(Generate, RefusedRangesAppendNothingAndKeepTheWindowOpen) {
  struct Case {
    const char *start, *end;
    bool fixed;
    const char* width;
    const char* message;
  } cases[] = {
      {"10", "9", false, "4", "结束数值不能小于起始数值！"},
      {"1", "100001", false, "4", "一次最多生成100000个编号，请缩小数值范围！"},
      {"-2147483648", "2147483647", false, "4", "一次最多生成100000个编号，请缩小数值范围！"},
      {"1", "100", true, "2", "固定位数不能少于数值的位数！"},
      {"1", "9", true, "0", "固定位数不能少于数值的位数！"},
      {"-10", "1", true, "2", "固定位数不能少于数值的位数！"},
  };
  openWith({person8("A01"_t, "张三"_t)});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + ".." + c.end);
    ui::testing::clearShownDialogs();
    closeWindows();
    ui::Window("ParticipantsWindow").open();
    openGenerate();
    ctl("编辑框1").setText(Text::fromUtf8(c.start));
    ctl("编辑框2").setText(Text::fromUtf8(c.end));
    ctl("编辑框5").setText(Text::fromUtf8(c.width));
    if (c.fixed) click("GenerateEntriesWindow", "选择框1");
    EXPECT_FALSE(generate());
    EXPECT_EQ(messages(), (std::vector<Text>{Text::fromUtf8(c.message)}));
    EXPECT_EQ(numbers(), (std::vector<Text>{"A01"_t}));
    EXPECT_EQ(ctl("编辑框1").text(), Text::fromUtf8(c.start));
  }
}

TEST_F(Generate, AStoreThatRefusesOneEntryKeepsNone) {
  openWith({person8("A01"_t, "张三"_t)});
  openGenerate();
  store::failNextWrites(1);
  EXPECT_FALSE(generate());
  EXPECT_EQ(numbers(), (std::vector<Text>{"A01"_t}));
  EXPECT_EQ(messages(), (std::vector<Text>{"生成失败，没有生成任何数据！"_t}));
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), 1);
  EXPECT_TRUE(generate());  // the next try succeeds
  EXPECT_EQ(numbers().size(), 101u);
}

TEST_F(Generate, ThroughTheParticipantsWindowUpToTheLimit) {
  openWith({});
  QTimer::singleShot(0, [&] {
    ctl("编辑框2").setText(
        model::numberToText(static_cast<long long>(maintenance::kMaxGeneratedEntries)));
    click("GenerateEntriesWindow", "按钮1");
  });
  const auto t0 = std::chrono::steady_clock::now();
  click("ParticipantsWindow", "按钮11");  // returns once the window closed itself
  const auto t1 = std::chrono::steady_clock::now();
  EXPECT_FALSE(ui::Window("GenerateEntriesWindow").isOpen());
  EXPECT_EQ(records().size(), static_cast<size_t>(maintenance::kMaxGeneratedEntries));
  EXPECT_EQ(maintenance::PersonnelList().rowCount(), maintenance::kMaxGeneratedEntries);

  // The list of a large store, filled again as the window's creation does.
  const auto t2 = std::chrono::steady_clock::now();
  maintenance::FillPersonnelList();
  const auto t3 = std::chrono::steady_clock::now();
  auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
  std::printf("generate %d entries with the list: %.0f ms; fill the list again: %.0f ms\n",
              maintenance::kMaxGeneratedEntries, ms(t1 - t0), ms(t3 - t2));
  EXPECT_EQ(maintenance::PersonnelList().cell(maintenance::kMaxGeneratedEntries - 1, 0),
            "100000"_t);
}

}  // namespace
