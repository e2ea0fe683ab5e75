// A whole event run from empty stores through every maintenance path that
// touches winners, with draws under both win rules, each step through the
// real windows of a running program. After every step each award's drawn
// count equals its wins among the participants, and every participant's
// wins read as whole award names.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "draw/void_redraw.h"
#include "event_fixture.h"
#include "frame/wins.h"
#include "maintenance/awards_window.h"
#include "maintenance/participants_internal.h"
#include "maintenance/spreadsheet_internal.h"
#include "model/records.h"
#include "platform/spreadsheet/spreadsheet.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"
#include "sqlite_direct.h"
#include "wait_until.h"

namespace model {
// Texts in failure messages, readable.
inline void PrintTo(const Text& t, std::ostream* os) { *os << '"' << t.toUtf8() << '"'; }
}  // namespace model

using draw::Prompt;
using model::operator""_t;
using model::Text;
namespace person = model::person;
namespace award = model::award;

namespace {

QWidget* widget(const char* window, const char* control) {
  return ui::testing::controlWidget(window, control);
}
void click(const char* window, const char* control) {
  QWidget* w = widget(window, control);
  ASSERT_NE(w, nullptr) << window << " " << control;
  QTest::mouseClick(w, Qt::LeftButton);
}
// A click on a row of a list view, as the operator makes it; a double click
// is that click followed by the double click itself.
void clickRow(const char* window, int row, bool twice = false) {
  auto* tree = qobject_cast<QTreeWidget*>(widget(window, "超级列表框1"));
  ASSERT_NE(tree, nullptr);
  ASSERT_LT(row, tree->topLevelItemCount());
  const QPoint p = tree->visualItemRect(tree->topLevelItem(row)).center();
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, p);
  if (twice) QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, p);
}
void closeWindow(const char* window) {
  ui::Window(window).destroy();
  ui::processPendingOnce();
}

class EventCounts : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1280, 800);
    const Text off = model::musicDisabled();
    ev.makeSettings({"标题"_t, "副标题"_t, "祝福"_t, Text(), off, off, off, off});
    ev.makePersons({});
    ev.makeAwards({});
    ui::setProgramFolder(ev.dir);
    ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms())));
  }
  void TearDown() override { fixture::endProgramTest(); }

  // Every award's drawn count against its wins: 中奖项目 split into whole
  // award names (the void's split over the one list of award names), each
  // win counted. Under the one-win rule nobody holds two.
  void expectCountsMatch(const std::string& step, bool oneWin) {
    SCOPED_TRACE(step);
    // The award store's cursor is the draw's current award: kept.
    store::CurrentStoreKeeper keep;
    const std::vector<Text> names = frame::AwardNames();
    const int at = store::recordNumber();
    std::vector<double> drawn;
    for (size_t i = 0; i < names.size(); ++i) {
      store::goTo(static_cast<int>(i) + 1);
      drawn.push_back(store::readDouble(award::已抽取人数()));
    }
    if (at > 0) store::goTo(at);
    std::vector<int> wins(names.size(), 0);
    const std::vector<Text> allWon = wonTexts();
    for (size_t i = 0; i < allWon.size(); ++i) {
      const Text& won = allWon[i];
      if (won.empty()) continue;
      const auto parts = frame::SplitWonAwards(won, names);
      ASSERT_TRUE(parts.has_value()) << "record " << i + 1 << " holds " << won.toUtf8();
      if (oneWin) {
        EXPECT_EQ(parts->size(), 1u) << "record " << i + 1 << " holds " << won.toUtf8();
      }
      for (const Text& p : *parts)
        for (size_t a = 0; a < names.size(); ++a)
          if (p == names[a]) ++wins[a];
    }
    for (size_t a = 0; a < names.size(); ++a) EXPECT_EQ(wins[a], drawn[a]) << names[a].toUtf8();
    ++checks;
  }

  static double drawnOf(const Text& name) {
    store::CurrentStoreKeeper keep;
    store::select(model::aliasAwards());
    const int at = store::recordNumber();
    const double drawn = frame::FindAward(name) == 0 ? -1 : store::readDouble(award::已抽取人数());
    if (at > 0) store::goTo(at);
    return drawn;
  }
  // Every participant's 中奖项目, in record order; the participant store's
  // cursor (the editor's record) is kept.
  static std::vector<Text> wonTexts() {
    store::CurrentStoreKeeper keep;
    store::select(model::aliasPersons());
    const int at = store::recordNumber();
    std::vector<Text> out;
    for (int i = 1, n = store::recordCount(); i <= n; ++i) {
      store::goTo(i);
      out.push_back(store::readText(person::中奖项目()));
    }
    if (at > 0)
      store::goTo(at);
    else
      store::skip(store::recordCount() + 1);
    return out;
  }
  // Record numbers of the participants holding a win, in record order.
  static std::vector<int> winners() {
    std::vector<int> out;
    const std::vector<Text> won = wonTexts();
    for (size_t i = 0; i < won.size(); ++i)
      if (!won[i].empty()) out.push_back(static_cast<int>(i) + 1);
    return out;
  }
  static int personCount() {
    store::CurrentStoreKeeper keep;
    store::select(model::aliasPersons());
    return store::recordCount();
  }

  // --- The awards window ------------------------------------------------------
  static ui::Control awardsCtl(const char* name) { return ui::Control("AwardsWindow", name); }
  static void fillAward(const Text& name, int item, const char* winners) {
    awardsCtl("编辑框1").setText(name);
    awardsCtl("编辑框2").setText("奖品"_t + name);
    awardsCtl("组合框1").setSelectedIndex(item);
    awardsCtl("编辑框3").setText(Text::fromUtf8(winners));
  }
  static int awardRow(const Text& name) {
    ui::Control list = maintenance::AwardList();
    for (int r = 0; r < list.rowCount(); ++r)
      if (list.cell(r, 0) == name) return r;
    return -1;
  }

  // --- The participants window --------------------------------------------------
  void openParticipants() { ASSERT_TRUE(ui::Window("ParticipantsWindow").open()); }
  void addPerson(const std::string& number, const Text& name) {
    ASSERT_TRUE(ui::Window("AddPersonWindow").open());
    ui::Control("AddPersonWindow", "编辑框1").setText(Text::fromGbk(number));
    ui::Control("AddPersonWindow", "编辑框2").setText(name);
    click("AddPersonWindow", "按钮1");
    closeWindow("AddPersonWindow");
  }
  // The editor on record n, as a double click on its row opens it.
  void editRecord(int n) {
    store::select(model::aliasPersons());
    store::goTo(n);
    ASSERT_TRUE(ui::Window("EditPersonWindow").open());
  }
  // 导入数据 with a workbook of the given people; imports what the preview
  // shows and returns when the preview closed.
  void importPeople(const std::string& file, const std::vector<std::string>& numbers) {
    SCOPED_TRACE(file);
    spreadsheet::Application app;
    spreadsheet::Workbook* book = app.add();
    const char* headings[] = {"编号", "姓名", "电话号码", "身份证号码", "图片文件", "备注"};
    for (int c = 0; c < 6; ++c)
      book->setCellText(std::string(1, static_cast<char>('a' + c)) + "1",
                        Text::fromUtf8(headings[c]));
    for (size_t r = 0; r < numbers.size(); ++r) {
      book->setCellText("a" + std::to_string(r + 2), Text::fromGbk(numbers[r]));
      book->setCellText("b" + std::to_string(r + 2), "导入"_t + Text::fromGbk(numbers[r]));
    }
    const std::string path = ev.path(file);
    ASSERT_TRUE(book->saveAs(path)) << book->error().toUtf8();

    ui::testing::queueFileAnswer(true, path);
    bool imported = false;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      ui::Window preview("ImportPreviewWindow");
      // 确定导入 is offered once the preview is built.
      if (imported || !preview.isOpen() || !preview.ctl("按钮1").enabled()) return;
      imported = true;
      poll.stop();
      maintenance::OnImportPreviewImportButtonClick();
    });
    poll.start();
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { ui::Window("ImportPreviewWindow").destroy(); });
    guard.start(240000);  // a hang guard only
    maintenance::OnParticipantsImportButtonClick();
    EXPECT_TRUE(imported);
    EXPECT_TRUE(guard.isActive()) << "the preview had to be closed by the guard";
  }

  // --- The draw -------------------------------------------------------------------
  void openDraw() {
    app::OnStartMenuStartDrawClick();
    ASSERT_TRUE(draw::DrawPanel().isOpen());
  }
  void closeDraw() {
    draw::CloseDrawWindows();
    ASSERT_TRUE(testwait::pumpUntil([] { return !draw::DrawPanel().isOpen(); }));
  }
  static Text prompt() { return draw::DrawPanel().ctl("透明标签4").caption(); }
  // Space to start, space again from inside the roll's wait; returns when
  // the commit is done.
  static void roll() {
    ASSERT_EQ(prompt(), draw::PromptText(Prompt::Ready));
    QTimer::singleShot(30, [] { ui::testing::pressKey(32); });
    ui::testing::pressKey(32);
    ASSERT_FALSE(draw::RollInProgress());
  }
  static Text shownAward() { return draw::gCurrentAwardName.value_or(Text()); }

  // --- The void and supplement window ------------------------------------------------
  static void voidFirstWinnerOf(const Text& awardName) {
    ui::Window w("VoidRedrawWindow");
    ASSERT_TRUE(w.open());
    ui::Control("VoidRedrawWindow", "组合框1").setText(awardName);
    draw::OnVoidRedrawAwardComboItemChosen();
    ui::Control("VoidRedrawWindow", "超级列表框1").setSelectedIndex(0);
    draw::OnVoidRedrawWinnerListClick();
    ui::testing::queueMessageAnswer(ui::kResultOk);
    click("VoidRedrawWindow", "按钮3");
    closeWindow("VoidRedrawWindow");
  }
  static void supplement(const Text& awardName, const char* count) {
    ASSERT_TRUE(ui::Window("VoidRedrawWindow").open());
    ui::Control("VoidRedrawWindow", "组合框2").setText(awardName);
    ui::Control("VoidRedrawWindow", "编辑框1").setText(Text::fromUtf8(count));
    click("VoidRedrawWindow", "按钮1");
    closeWindow("VoidRedrawWindow");
  }

  fixture::TempEvent ev;
  int checks = 0;
};

TEST_F(EventCounts, EveryStepKeepsEachDrawnCountEqualToItsWins) {
  // 1. Awards, from an empty store: small prizes first, one win each.
  ASSERT_TRUE(maintenance::AwardsWindow().open());
  fillAward("一等奖"_t, 0, "1");
  click("AwardsWindow", "按钮1");
  fillAward("二等奖"_t, 1, "3");
  click("AwardsWindow", "按钮1");
  fillAward("三等奖"_t, 4, "5");
  click("AwardsWindow", "按钮1");
  ASSERT_EQ(maintenance::AwardList().rowCount(), 3);
  closeWindow("AwardsWindow");
  expectCountsMatch("add awards", true);

  // 2. Participants: six typed, three imported.
  openParticipants();
  const Text names[] = {"张三"_t, "李四"_t, "王五"_t, "赵六"_t, "钱七"_t, "孙八"_t};
  for (int i = 0; i < 6; ++i) addPerson("000" + std::to_string(i + 1), names[i]);
  expectCountsMatch("add participants", true);
  importPeople("first.xlsx", {"1001", "1002", "1003"});
  ASSERT_EQ(personCount(), 9);
  expectCountsMatch("import participants", true);
  click("ParticipantsWindow", "按钮1");  // 确定
  ui::processPendingOnce();

  // 3. The draw under the one-win rule: 三等奖 first, then backwards.
  openDraw();
  ASSERT_EQ(shownAward(), "三等奖"_t);
  roll();
  expectCountsMatch("draw 三等奖", true);
  EXPECT_EQ(drawnOf("三等奖"_t), 5);
  ui::testing::pressKey(32);  // next award
  ASSERT_EQ(shownAward(), "二等奖"_t);
  roll();
  expectCountsMatch("draw two of 二等奖", true);
  roll();
  expectCountsMatch("draw the last of 二等奖", true);
  ui::testing::pressKey(32);
  ASSERT_EQ(shownAward(), "一等奖"_t);
  roll();
  expectCountsMatch("draw 一等奖", true);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AllAwardsFull));

  ui::testing::queueMessageAnswer(ui::kResultOk);
  draw::OnDrawPanelRedrawAwardButtonClick();
  expectCountsMatch("redraw 一等奖", true);
  EXPECT_EQ(drawnOf("一等奖"_t), 0);
  roll();
  expectCountsMatch("draw 一等奖 again", true);

  ui::testing::queueMessageAnswer(ui::kResultOk);
  draw::OnDrawPanelRedrawAllButtonClick();
  expectCountsMatch("redraw all", true);
  EXPECT_TRUE(winners().empty());
  ASSERT_EQ(shownAward(), "三等奖"_t);
  roll();
  expectCountsMatch("draw 三等奖 after redrawing all", true);
  closeDraw();

  // 4. Awards with winners: a count below the drawn is refused, a rename
  // takes the wins along, an award without winners goes, a new one comes.
  ASSERT_TRUE(maintenance::AwardsWindow().open());
  clickRow("AwardsWindow", awardRow("三等奖"_t), true);
  fillAward("阳光奖"_t, 4, "4");
  click("AwardsWindow", "按钮3");
  expectCountsMatch("modify refused below the drawn", true);
  EXPECT_EQ(drawnOf("三等奖"_t), 5);
  awardsCtl("编辑框3").setText("6"_t);
  click("AwardsWindow", "按钮3");
  expectCountsMatch("rename 三等奖 with its winners", true);
  EXPECT_EQ(drawnOf("阳光奖"_t), 5);
  EXPECT_EQ(drawnOf("三等奖"_t), -1);
  clickRow("AwardsWindow", awardRow("一等奖"_t));
  click("AwardsWindow", "按钮2");
  expectCountsMatch("delete 一等奖", true);
  fillAward("纪念奖"_t, 0, "2");
  click("AwardsWindow", "按钮1");
  expectCountsMatch("add 纪念奖", true);
  ASSERT_EQ(maintenance::AwardList().rowCount(), 3);
  closeWindow("AwardsWindow");

  // 5. Void and supplement.
  voidFirstWinnerOf("阳光奖"_t);
  expectCountsMatch("void a winner of 阳光奖", true);
  EXPECT_EQ(drawnOf("阳光奖"_t), 4);
  supplement("纪念奖"_t, "1");
  expectCountsMatch("supplement 纪念奖", true);

  // 6. Participants again: add, edit a winner, delete a winner and one who
  // won nothing, import.
  openParticipants();
  addPerson("0007", "周九"_t);
  expectCountsMatch("add a participant", true);
  const std::vector<int> won = winners();
  ASSERT_EQ(won.size(), 4u);
  editRecord(won[0]);
  ui::Control("EditPersonWindow", "编辑框2").setText("改名"_t);
  click("EditPersonWindow", "按钮2");  // 修改
  expectCountsMatch("edit a winner", true);
  EXPECT_EQ(winners(), won);
  ui::testing::queueMessageAnswer(ui::kResultOk);
  click("EditPersonWindow", "按钮4");  // 删除, asked and agreed
  expectCountsMatch("delete a winner", true);
  EXPECT_EQ(drawnOf("阳光奖"_t), 3);
  closeWindow("EditPersonWindow");
  int loser = 1;
  for (const int w : winners())
    if (w == loser) ++loser;
  editRecord(loser);
  click("EditPersonWindow", "按钮4");
  expectCountsMatch("delete a participant who won nothing", true);
  closeWindow("EditPersonWindow");
  importPeople("second.xlsx", {"2001", "2002"});
  expectCountsMatch("import more participants", true);
  click("ParticipantsWindow", "按钮1");
  ui::processPendingOnce();

  // 7. A draw under the one-win rule, then the rule switched to several wins
  // and more draws, with a redraw of one award under it.
  openDraw();
  ASSERT_EQ(shownAward(), "纪念奖"_t);
  roll();
  expectCountsMatch("draw 纪念奖", true);
  closeDraw();

  ASSERT_TRUE(maintenance::AwardsWindow().open());
  clickRow("AwardsWindow", awardRow("纪念奖"_t), true);
  click("AwardsWindow", "选择框1");  // several wins allowed
  click("AwardsWindow", "按钮3");
  expectCountsMatch("several wins allowed", false);
  closeWindow("AwardsWindow");

  openDraw();
  ASSERT_EQ(draw::gWinRule, 1);
  ASSERT_EQ(shownAward(), "纪念奖"_t);
  while (prompt() == draw::PromptText(Prompt::Ready)) {
    roll();
    expectCountsMatch("draw 纪念奖 under several wins", false);
  }
  ui::testing::pressKey(32);
  ASSERT_EQ(shownAward(), "阳光奖"_t);
  roll();
  expectCountsMatch("draw 阳光奖 under several wins", false);
  EXPECT_EQ(drawnOf("阳光奖"_t), 6);
  ui::testing::queueMessageAnswer(ui::kResultOk);
  draw::OnDrawPanelRedrawAwardButtonClick();
  expectCountsMatch("redraw 阳光奖 under several wins", false);
  EXPECT_EQ(drawnOf("阳光奖"_t), 0);
  roll();
  expectCountsMatch("draw 阳光奖 again under several wins", false);
  closeDraw();

  ASSERT_TRUE(maintenance::AwardsWindow().open());
  clickRow("AwardsWindow", awardRow("阳光奖"_t));
  ui::testing::queueMessageAnswer(ui::kResultOk);
  click("AwardsWindow", "按钮2");  // asked: 阳光奖 has winners
  expectCountsMatch("delete 阳光奖 with its winners", false);
  EXPECT_EQ(drawnOf("阳光奖"_t), -1);
  closeWindow("AwardsWindow");

  // 8. Clearing the participants takes every win back; an import afterwards
  // brings people without wins.
  openParticipants();
  ui::testing::queueMessageAnswer(ui::kResultOk);
  click("ParticipantsWindow", "按钮6");
  EXPECT_EQ(personCount(), 0);
  expectCountsMatch("clear the participants", false);
  for (const Text& a : {"二等奖"_t, "纪念奖"_t}) EXPECT_EQ(drawnOf(a), 0) << a.toUtf8();
  importPeople("third.xlsx", {"3001", "3002", "3003"});
  expectCountsMatch("import after the clear", false);
  closeWindow("ParticipantsWindow");

  // No step was skipped, and no refusal other than the count below drawn
  // and the questions asked showed.
  EXPECT_EQ(checks, 32);
  int refusals = 0;
  for (const auto& d : ui::testing::shownDialogs())
    if (d.kind == "message" && d.text == "中奖人数不能少于已抽取人数（5名），奖项没有修改！"_t)
      ++refusals;
  EXPECT_EQ(refusals, 1);
}

// --- Every file operation of the maintenance changes that take wins back ---------

// What these changes write: each participant (number and wins) and each
// award (name, drawn and winners counts), read from the files by another
// connection, as a restarted program would find them.
struct FileState {
  std::vector<std::string> persons, awards;
  bool operator==(const FileState&) const = default;
};
void PrintTo(const FileState& f, std::ostream* os) {
  *os << "persons{";
  for (const auto& p : f.persons) *os << p << ",";
  *os << "} awards{";
  for (const auto& a : f.awards) *os << a << ",";
  *os << "}";
}
FileState readFiles(const std::string& dir) {
  FileState f;
  auto text = [](sqlite3_stmt* st, int c) {
    const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
    return std::string(t ? t : "");
  };
  fixture::queryFile(model::programPath(dir, model::kPersonsFile),
                     "SELECT 编号, 中奖项目 FROM records ORDER BY rowid", [&](sqlite3_stmt* st) {
                       f.persons.push_back(text(st, 0) + ":" + text(st, 1));
                     });
  fixture::queryFile(
      model::programPath(dir, model::kAwardsFile),
      "SELECT 奖项名称, 已抽取人数, 中奖人数 FROM records ORDER BY rowid", [&](sqlite3_stmt* st) {
        f.awards.push_back(text(st, 0) + ":" + std::to_string(sqlite3_column_int(st, 1)) + "/" +
                           std::to_string(sqlite3_column_int(st, 2)));
      });
  return f;
}

// The same, as the running program holds it.
FileState inMemory() {
  store::CurrentStoreKeeper keep;
  FileState f;
  for (const Text& alias : {model::aliasPersons(), model::aliasAwards()}) {
    store::select(alias);
    const int at = store::recordNumber();
    for (int i = 1; i <= store::recordCount(); ++i) {
      store::goTo(i);
      if (alias == model::aliasPersons())
        f.persons.push_back(store::readText(person::编号()).toUtf8() + ":" +
                            store::readText(person::中奖项目()).toUtf8());
      else
        f.awards.push_back(store::readText(award::奖项名称()).toUtf8() + ":" +
                           std::to_string(store::readInt(award::已抽取人数())) + "/" +
                           std::to_string(store::readInt(award::中奖人数())));
    }
    if (at > 0) store::goTo(at);
  }
  return f;
}

struct MaintenanceChange {
  const char* name;
  // Runs the change through its real window; arm() sets the fault at the
  // last moment before the change writes.
  std::function<void(const std::function<void()>& arm)> run;
  Text failureMessage;
};

std::vector<MaintenanceChange> maintenanceChanges() {
  return {
      {"delete a winner",
       [](const std::function<void()>& arm) {
         ASSERT_TRUE(ui::Window("ParticipantsWindow").open());
         store::goTo(1);
         ASSERT_TRUE(ui::Window("EditPersonWindow").open());
         ui::testing::queueMessageAnswer(ui::kResultOk);
         arm();
         click("EditPersonWindow", "按钮4");
       },
       "删除失败，数据没有改变！"_t},
      {"clear the participants",
       [](const std::function<void()>& arm) {
         ASSERT_TRUE(ui::Window("ParticipantsWindow").open());
         ui::testing::queueMessageAnswer(ui::kResultOk);
         arm();
         click("ParticipantsWindow", "按钮6");
       },
       "数据清空失败，数据没有改变！"_t},
      {"rename an award",
       [](const std::function<void()>& arm) {
         ASSERT_TRUE(maintenance::AwardsWindow().open());
         clickRow("AwardsWindow", 1, true);
         ui::Control("AwardsWindow", "编辑框1").setText("幸运奖"_t);
         arm();
         click("AwardsWindow", "按钮3");
       },
       "奖项修改失败，数据没有改变！"_t},
      {"delete an award",
       [](const std::function<void()>& arm) {
         ASSERT_TRUE(maintenance::AwardsWindow().open());
         clickRow("AwardsWindow", 1);
         ui::testing::queueMessageAnswer(ui::kResultOk);
         arm();
         click("AwardsWindow", "按钮2");
       },
       "奖项删除失败，数据没有改变！"_t},
  };
}

class MaintenanceSweep : public EventCounts, public ::testing::WithParamInterface<int> {
 protected:
  void TearDown() override {
    store::failFileOperation(0);
    EventCounts::TearDown();
  }
  // Fresh store files with winners of both awards, opened as the start-up
  // opens them.
  void resetStores() {
    for (const char* w : {"EditPersonWindow", "ParticipantsWindow", "AwardsWindow"})
      ui::Window(w).destroy();
    ui::processPendingOnce();
    store::closeAll();
    ev.makePersons({fixture::person("0001", "张三"_t, "一等奖二等奖"_t),
                    fixture::person("0002", "李四"_t, "二等奖"_t),
                    fixture::person("0003", "王五"_t)});
    ev.makeAwards({{"一等奖"_t, "电视"_t, 1.0, 2.0, 1.0, model::Bytes(), 0LL, 0LL},
                   {"二等奖"_t, "手机"_t, 1.0, 3.0, 2.0, model::Bytes(), 0LL, 0LL}});
    store::open(model::programPath(ev.dir, model::kPersonsFile), model::aliasPersons());
    store::open(model::programPath(ev.dir, model::kAwardsFile), model::aliasAwards());
    store::open(model::programPath(ev.dir, model::kSettingsFile), model::aliasSettings());
    ui::testing::clearShownDialogs();
  }
  static int countMessages(const Text& text) {
    int n = 0;
    for (const auto& d : ui::testing::shownDialogs())
      if (d.kind == "message" && d.text == text) ++n;
    return n;
  }
};

TEST_P(MaintenanceSweep, WholeOrNothingAtEveryFailingFileOperation) {
  const MaintenanceChange change = maintenanceChanges()[GetParam()];
  SCOPED_TRACE(change.name);
  resetStores();
  const FileState baseline = readFiles(ev.dir);
  expectCountsMatch("before", false);

  // One clean run: what the change stores and how many file operations it
  // takes.
  long long start = 0;
  change.run([&] { start = store::fileOperationCount(); });
  const long long count = store::fileOperationCount() - start;
  const FileState whole = readFiles(ev.dir);
  ASSERT_NE(whole, baseline);
  EXPECT_EQ(inMemory(), whole);
  ASSERT_GE(count, 4);
  expectCountsMatch("clean run", false);

  int failures = 0;
  for (store::FaultMode mode : {store::FaultMode::Before, store::FaultMode::After}) {
    for (long long n = 1; n <= count; ++n) {
      SCOPED_TRACE(testing::Message() << "operation " << n
                                      << (mode == store::FaultMode::After ? " after" : " before"));
      resetStores();
      change.run([&] { store::failFileOperation(n, mode); });
      store::failFileOperation(0);
      const FileState now = readFiles(ev.dir);
      const bool none = now == baseline;
      if (none) ++failures;
      EXPECT_TRUE(none || now == whole) << testing::PrintToString(now);
      EXPECT_EQ(inMemory(), now);
      expectCountsMatch("after the fault", false);
      // A failure is reported exactly when nothing was stored.
      EXPECT_EQ(countMessages(change.failureMessage), none ? 1 : 0);
    }
  }
  EXPECT_GT(failures, 0);
  for (const auto& e : std::filesystem::directory_iterator(ev.path("data")))
    EXPECT_EQ(e.path().extension(), ".edb") << e.path();
  RecordProperty("file_operations", static_cast<int>(count));
  RecordProperty("failed_and_reported", failures);
}

std::string changeName(const ::testing::TestParamInfo<int>& info) {
  const char* names[] = {"DeleteAWinner", "ClearTheParticipants", "RenameAnAward", "DeleteAnAward"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Changes, MaintenanceSweep, ::testing::Range(0, 4), changeName);

}  // namespace
