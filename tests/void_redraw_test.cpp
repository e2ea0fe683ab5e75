// The void and supplement window through the real runtime, headless: opened
// modal from a running program, acted on inside its loop with real mouse
// clicks where focus matters, the stores checked afterwards.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <sqlite3.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "draw/draw.h"
#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "draw/void_redraw.h"
#include "event_fixture.h"
#include "frame/wins.h"
#include "model/records.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"

namespace model {
// Texts in failure messages, readable.
inline void PrintTo(const Text& t, std::ostream* os) { *os << '"' << t.toUtf8() << '"'; }
}  // namespace model

using model::operator""_t;
using model::Text;
using Row = fixture::Row;
using fixture::person;

namespace {

const char* const kWindow = "VoidRedrawWindow";

Text gbk(const std::string& s) { return Text::fromGbk(s); }

// An award: name, prize, per roll, winners, drawn.
Row awardRow(const Text& name, double total, double drawn) {
  return {name, "奖品"_t, 1.0, total, drawn, model::Bytes{}, 1LL, 0LL};
}

QWidget* widget(const char* control) { return ui::testing::controlWidget(kWindow, control); }
ui::Control ctl(const char* control) { return ui::Control(kWindow, control); }

class VoidRedraw : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1280, 800);
    // The window keeps a selection for a second after its list lost the
    // focus: on the test clock no click, however slow, outlasts that.
    ui::testing::useTestClock(true);
    const Text off = model::musicDisabled();
    ev.makeSettings({"标题"_t, "副标题"_t, "祝福"_t, Text(), off, off, off, off});
    ui::setProgramFolder(ev.dir);
  }
  void TearDown() override { fixture::endProgramTest(); }

  // The usual event: three awards, one of whose names lies inside another's.
  void makeEvent() {
    ev.makePersons({person("0001", "张三"_t, "一等奖"_t), person("0002", "李四"_t),
                    person("0003", "王五"_t, "特别一等奖"_t),
                    person("0004", "赵六"_t, "二等奖一等奖"_t),
                    person("0005", "钱七"_t, "二等奖"_t)});
    ev.makeAwards(
        {awardRow("一等奖"_t, 2, 2), awardRow("二等奖"_t, 3, 2), awardRow("特别一等奖"_t, 1, 1)});
  }

  void startProgram() { ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms()))); }

  // Opens the window modal, as the start menu does, and runs body inside its
  // loop; the window is closed with its close button afterwards.
  void withWindow(const std::function<void()>& body) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      ran = true;
      // Focus moves only inside the active window, as on a desktop.
      QWidget* w = ui::testing::windowWidget(kWindow);
      w->activateWindow();
      EXPECT_TRUE(QTest::qWaitForWindowActive(w, 10000));
      body();
      clickButton("按钮2");
      ui::processPendingOnce();
      // Should the close button fail, the window still goes so the test ends.
      if (ui::Window(kWindow).isOpen()) {
        ADD_FAILURE() << "the close button left the window open";
        ui::Window(kWindow).destroy();
      }
    });
    ui::Window(kWindow).open(true);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(ui::Window(kWindow).isOpen());
  }

  // Chooses an item of an award combo as the operator does.
  void chooseAward(const char* combo, int index) {
    auto* cb = static_cast<QComboBox*>(widget(combo));
    cb->setFocus();
    cb->setCurrentIndex(index);
    emit cb->activated(index);
  }
  void clickRow(int row) {
    // A message box closed just before hands the activation back.
    QWidget* w = ui::testing::windowWidget(kWindow);
    if (!w->isActiveWindow()) {
      w->activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(w, 10000));
    }
    auto* tv = static_cast<QTreeWidget*>(widget("超级列表框1"));
    ASSERT_LT(row, tv->topLevelItemCount());
    const QRect r = tv->visualItemRect(tv->topLevelItem(row));
    QTest::mouseClick(tv->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_TRUE(tv->hasFocus());  // so that pressing a button takes it away
  }
  // A click as a hand makes it: the press (which moves the focus), and the
  // release a moment later, both through the event loop.
  void clickButton(const char* name) {
    QWidget* b = widget(name);
    if (!b) return;
    bool released = false;
    QTimer::singleShot(80, [&] {
      QTest::mouseRelease(b, Qt::LeftButton, {}, b->rect().center());
      released = true;
    });
    QTest::mousePress(b, Qt::LeftButton, {}, b->rect().center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return released; }, 10000));
  }
  void typeCount(const Text& t) { ctl("编辑框1").setText(t); }

  std::vector<Text> column(int c) {
    std::vector<Text> out;
    ui::Control list = ctl("超级列表框1");
    for (int r = 0; r < list.rowCount(); ++r) out.push_back(list.cell(r, c));
    return out;
  }
  std::vector<Text> records() {
    std::vector<Text> out;
    ui::Control list = ctl("超级列表框2");
    for (int r = 0; r < list.rowCount(); ++r) out.push_back(list.cell(r, 0));
    return out;
  }
  Text won(int record) {
    store::select(model::aliasPersons());
    store::goTo(record);
    return store::readText(model::person::中奖项目());
  }
  double awardField(int record, const Text& field) {
    store::select(model::aliasAwards());
    store::goTo(record);
    return store::readDouble(field);
  }
  double drawn(int record) { return awardField(record, model::award::已抽取人数()); }
  double winners(int record) { return awardField(record, model::award::中奖人数()); }
  std::vector<Text> messages() {
    std::vector<Text> out;
    for (const auto& d : ui::testing::shownDialogs())
      if (d.kind == "message") out.push_back(d.text);
    return out;
  }

  fixture::TempEvent ev;
};

TEST_F(VoidRedraw, OpensModalWithTheDeclaredFormAndBothCombosFilled) {
  makeEvent();
  startProgram();
  withWindow([&] {
    ui::Window w(kWindow);
    EXPECT_EQ(w.width(), 498);
    EXPECT_EQ(w.height(), 341);
    EXPECT_EQ(w.caption(), "废奖&补奖"_t);
    EXPECT_EQ(ctl("分组框1").caption(), "废奖"_t);
    EXPECT_EQ(ctl("分组框2").caption(), "补奖"_t);
    EXPECT_EQ(ctl("按钮3").caption(), "确定废奖"_t);
    EXPECT_EQ(ctl("按钮1").caption(), "确定补奖"_t);
    EXPECT_EQ(ctl("按钮2").caption(), "关闭"_t);
    EXPECT_EQ(ctl("超级列表框1").columnCount(), 4);
    EXPECT_FALSE(ctl("超级列表框2").visible());
    for (const char* combo : {"组合框1", "组合框2"}) {
      ui::Control c = ctl(combo);
      ASSERT_EQ(c.itemCount(), 3) << combo;
      EXPECT_EQ(c.itemText(0), "一等奖"_t);
      EXPECT_EQ(c.itemText(1), "二等奖"_t);
      EXPECT_EQ(c.itemText(2), "特别一等奖"_t);
      EXPECT_EQ(c.selectedIndex(), -1);
      EXPECT_TRUE(c.text().empty());
    }
    EXPECT_EQ(ctl("超级列表框1").rowCount(), 0);
  });
  EXPECT_TRUE(messages().empty());
}

TEST_F(VoidRedraw, ListsTheWinnersOfTheChosenAwardInRecordOrder) {
  makeEvent();
  startProgram();
  withWindow([&] {
    chooseAward("组合框1", 0);  // 一等奖: not the holder of 特别一等奖
    EXPECT_EQ(column(0), (std::vector<Text>{"0001"_t, "0004"_t}));
    EXPECT_EQ(column(1), (std::vector<Text>{"张三"_t, "赵六"_t}));
    EXPECT_EQ(column(2), (std::vector<Text>{"13800130001"_t, "13800130004"_t}));
    EXPECT_EQ(column(3), (std::vector<Text>{"110101199001010001"_t, "110101199001010004"_t}));
    EXPECT_EQ(records(), (std::vector<Text>{"1"_t, "4"_t}));
    chooseAward("组合框1", 1);
    EXPECT_EQ(column(0), (std::vector<Text>{"0004"_t, "0005"_t}));
    EXPECT_EQ(records(), (std::vector<Text>{"4"_t, "5"_t}));
    chooseAward("组合框1", 2);
    EXPECT_EQ(column(1), (std::vector<Text>{"王五"_t}));
    EXPECT_EQ(records(), (std::vector<Text>{"3"_t}));
  });
}

TEST_F(VoidRedraw, NumbersStoredAsNumbersAreListedAsText) {
  std::vector<model::FieldSpec> fields = model::personFields();
  fields[2].kind = "double";   // 电话号码
  fields[3].kind = "integer";  // 身份证号码
  ev.makeStore(model::kPersonsFile, fields,
               {{gbk("0009"), "孙八"_t, 13800138000.0, 42LL, Text(), 2LL, "一等奖"_t}});
  ev.makeAwards({awardRow("一等奖"_t, 1, 1)});
  startProgram();
  withWindow([&] {
    chooseAward("组合框1", 0);
    EXPECT_EQ(column(2), (std::vector<Text>{"13800138000"_t}));
    EXPECT_EQ(column(3), (std::vector<Text>{"42"_t}));
  });
}

TEST_F(VoidRedraw, VoidTakesOneAwardBackAndTheWinnerIsACandidateAgain) {
  makeEvent();
  startProgram();
  withWindow([&] {
    chooseAward("组合框1", 0);
    clickRow(1);  // 赵六, who holds 二等奖 and 一等奖
    EXPECT_EQ(draw::VoidSelection(), 2);
    ui::testing::queueMessageAnswer(ui::kResultOk);
    clickButton("按钮3");
    EXPECT_EQ(drawn(1), 1.0);
    EXPECT_EQ(drawn(2), 2.0);       // the other award keeps its count
    EXPECT_EQ(won(4), "二等奖"_t);  // and the winner keeps the other award
    EXPECT_EQ(column(0), (std::vector<Text>{"0001"_t}));

    chooseAward("组合框1", 0);
    clickRow(0);  // 张三, the only other winner of 一等奖
    ui::testing::queueMessageAnswer(ui::kResultOk);
    clickButton("按钮3");
    EXPECT_EQ(drawn(1), 0.0);
    EXPECT_TRUE(won(1).empty());
    EXPECT_EQ(ctl("超级列表框1").rowCount(), 0);
    EXPECT_EQ(ctl("超级列表框2").rowCount(), 0);
  });
  EXPECT_EQ(messages(),
            (std::vector<Text>{"你确定要作废该奖品吗？"_t, "你确定要作废该奖品吗？"_t}));
  // With one win per participant, both are drawn again.
  draw::gWinRule = 0;
  draw::BuildCandidateList();
  EXPECT_EQ(draw::gCandidates, (std::vector<int>{1, 2}));
}

TEST_F(VoidRedraw, RefusalsAndCancelChangeNothing) {
  makeEvent();
  startProgram();
  const std::vector<Text> wonBefore = {won(1), won(2), won(3), won(4), won(5)};
  struct Case {
    const char* what;
    std::function<void()> act;
    Text message;
  };
  const Text noSelection = "你还没选择要删除的中奖人员呢！"_t;
  const std::vector<Case> cases = {
      {"no row clicked", [&] { chooseAward("组合框1", 0); }, noSelection},
      {"cancelled",
       [&] {
         chooseAward("组合框1", 0);
         clickRow(0);
         ui::testing::queueMessageAnswer(ui::kResultCancel);
       },
       "你确定要作废该奖品吗？"_t},
      {"focus lost more than a second before",
       [&] {
         chooseAward("组合框1", 0);
         clickRow(0);
         widget("编辑框1")->setFocus();
         ui::testing::advanceClock(1000);
       },
       noSelection},
      {"award text typed over",
       [&] {
         chooseAward("组合框1", 0);
         clickRow(0);
         ctl("组合框1").setText("三等奖"_t);
       },
       "奖项名称不是已有的奖项，请从列表中选择要废奖的奖项！"_t},
      {"typed another award the winner does not hold",
       [&] {
         chooseAward("组合框1", 0);
         clickRow(0);  // 张三 holds 一等奖 only
         ctl("组合框1").setText("二等奖"_t);
       },
       "所选人员没有中这个奖项，请重新选择中奖人员！"_t},
  };
  for (const Case& c : cases) {
    ui::testing::clearShownDialogs();
    withWindow([&] {
      c.act();
      clickButton("按钮3");
    });
    ASSERT_FALSE(messages().empty()) << c.what;
    EXPECT_EQ(messages().back(), c.message) << c.what;
    EXPECT_EQ(drawn(1), 2.0) << c.what;
    EXPECT_EQ(drawn(2), 2.0) << c.what;
    EXPECT_EQ((std::vector<Text>{won(1), won(2), won(3), won(4), won(5)}), wonBefore) << c.what;
  }
}

TEST_F(VoidRedraw, EveryVoidNeedsAFreshClickOnARow) {
  makeEvent();
  startProgram();
  withWindow([&] {
    chooseAward("组合框1", 1);  // 二等奖: 赵六 and 钱七
    clickRow(0);
    ui::testing::queueMessageAnswer(ui::kResultOk);
    clickButton("按钮3");
    EXPECT_EQ(drawn(2), 1.0);
    // At once again, within the second: the refilled list has no selection,
    // so the count is not lowered twice.
    clickButton("按钮3");
    EXPECT_EQ(drawn(2), 1.0);
    EXPECT_EQ(messages().back(), "你还没选择要删除的中奖人员呢！"_t);
    EXPECT_EQ(column(0), (std::vector<Text>{"0005"_t}));
  });
  EXPECT_EQ(won(4), "一等奖"_t);
  EXPECT_EQ(won(5), "二等奖"_t);
}

TEST_F(VoidRedraw, ARowClickedAgainSoonAfterALossOfFocusStaysSelected) {
  makeEvent();
  startProgram();
  withWindow([&] {
    chooseAward("组合框1", 1);
    clickRow(0);
    widget("编辑框1")->setFocus();  // the forgetting starts here...
    ui::testing::advanceClock(600);
    clickRow(1);  // ...but this click comes before it ends
    ui::testing::advanceClock(600);
    EXPECT_EQ(draw::VoidSelection(), 2);
    ui::testing::queueMessageAnswer(ui::kResultOk);
    clickButton("按钮3");
    EXPECT_EQ(won(5), Text());
    EXPECT_EQ(won(4), "二等奖一等奖"_t);
  });
}

TEST_F(VoidRedraw, VoidNeverLeavesTheDrawnCountNegative) {
  ev.makePersons({person("0001", "张三"_t, "一等奖"_t)});
  ev.makeAwards({awardRow("一等奖"_t, 1, 0)});
  startProgram();
  withWindow([&] {
    chooseAward("组合框1", 0);
    clickRow(0);
    ui::testing::queueMessageAnswer(ui::kResultOk);
    clickButton("按钮3");
  });
  EXPECT_EQ(drawn(1), 0.0);
  EXPECT_TRUE(won(1).empty());
}

TEST_F(VoidRedraw, AFailedVoidChangesNeitherStore) {
  makeEvent();
  startProgram();
  // The count's write fails; or the count is written and the participant's
  // write then fails, because another program holds the participant file.
  sqlite3* other = nullptr;
  const std::string persons = model::programPath(ev.dir, model::kPersonsFile);
  const std::vector<std::pair<const char*, std::function<void()>>> faults = {
      {"count", [] { store::failNextWrites(1); }},
      {"participant",
       [&] {
         ASSERT_EQ(sqlite3_open(persons.c_str(), &other), SQLITE_OK);
         ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
       }},
  };
  for (const auto& [what, fault] : faults) {
    ui::testing::clearShownDialogs();
    withWindow([&] {
      chooseAward("组合框1", 0);
      clickRow(0);
      ui::testing::queueMessageAnswer(ui::kResultOk);
      fault();
      clickButton("按钮3");
      store::failNextWrites(0);
      if (other) {
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        other = nullptr;
      }
      EXPECT_EQ(column(0), (std::vector<Text>{"0001"_t, "0004"_t})) << what;
    });
    ASSERT_FALSE(messages().empty()) << what;
    EXPECT_EQ(messages().back(), "废奖失败，数据没有改变！"_t) << what;
    EXPECT_EQ(drawn(1), 2.0) << what;
    EXPECT_EQ(won(1), "一等奖"_t) << what;
  }
  // What the program holds is what the files hold.
  store::closeAll();
  ASSERT_TRUE(store::open(model::programPath(ev.dir, model::kAwardsFile), model::aliasAwards()));
  EXPECT_EQ(drawn(1), 2.0);
}

TEST_F(VoidRedraw, SupplementAddsAPositiveCountToTheAwardOfItsOwnCombo) {
  makeEvent();
  startProgram();
  const Text done = "补奖成功！"_t;
  const Text bad = "补奖人数必须是大于0的整数，请重新输入！"_t;
  struct Case {
    const char* typed;
    double added;
    Text message;
  } cases[] = {
      {"3", 3, done},   {"＋２", 2, done}, {" 12　", 12, done}, {"+1", 1, done},
      {"", 0, bad},     {"0", 0, bad},     {"-2", 0, bad},      {"abc", 0, bad},
      {"3abc", 0, bad}, {"1 2", 0, bad},   {"1.5", 0, bad},     {"1234567890", 0, bad},
      {"－１", 0, bad},
  };
  for (const Case& c : cases) {
    ui::testing::clearShownDialogs();
    const double before = winners(2);
    withWindow([&] {
      chooseAward("组合框1", 0);  // the void group's award plays no part
      chooseAward("组合框2", 1);
      typeCount(Text::fromUtf8(c.typed));
      clickButton("按钮1");
    });
    EXPECT_EQ(messages(), (std::vector<Text>{c.message})) << c.typed;
    EXPECT_EQ(winners(2), before + c.added) << c.typed;
    EXPECT_EQ(winners(1), 2.0) << c.typed;
    EXPECT_EQ(drawn(2), 2.0) << c.typed;
  }
}

TEST_F(VoidRedraw, SupplementRefusesAnUnknownAwardAndReportsAFailedWrite) {
  makeEvent();
  startProgram();
  withWindow([&] {
    typeCount("2"_t);
    clickButton("按钮1");  // no award chosen
    ctl("组合框2").setText("一等"_t);
    clickButton("按钮1");  // a fragment of a name is no award
    chooseAward("组合框2", 0);
    store::failNextWrites(1);
    clickButton("按钮1");
    store::failNextWrites(0);
  });
  const Text unknown = "奖项名称不是已有的奖项，请从列表中选择要补奖的奖项！"_t;
  EXPECT_EQ(messages(), (std::vector<Text>{unknown, unknown, "补奖失败，数据没有改变！"_t}));
  EXPECT_EQ(winners(1), 2.0);
  EXPECT_EQ(winners(2), 3.0);
  EXPECT_EQ(winners(3), 1.0);
}

TEST(WonAwards, SplitsAndRemovesOneWinOfTheAward) {
  const std::vector<Text> awards = {"一等奖"_t, "特别一等奖"_t, "二等奖"_t,
                                    "AB"_t,     "ABC"_t,        "CD"_t};
  struct Case {
    const char* won;
    const char* award;
    bool holds;
    const char* rest;  // after removing one win; nullptr when it holds none
  } cases[] = {
      {"一等奖", "一等奖", true, ""},
      {"特别一等奖", "一等奖", false, nullptr},
      {"二等奖一等奖", "一等奖", true, "二等奖"},
      {"一等奖二等奖一等奖", "一等奖", true, "二等奖一等奖"},
      {"ABCD", "AB", true, "CD"},  // the longer name first would leave "D"
      {"", "一等奖", false, nullptr},
      {"一等奖", "", false, nullptr},
      // Not made of award names (one renamed since): by containment.
      {"旧奖一等奖", "一等奖", true, "旧奖"},
      {"旧奖", "一等奖", false, nullptr},
  };
  for (const Case& c : cases) {
    const Text w = Text::fromUtf8(c.won), a = Text::fromUtf8(c.award);
    EXPECT_EQ(frame::HoldsAward(w, a, awards), c.holds) << c.won << " / " << c.award;
    auto rest = frame::WithoutAward(w, a, awards);
    ASSERT_EQ(rest.has_value(), c.rest != nullptr) << c.won << " / " << c.award;
    if (rest) {
      EXPECT_EQ(*rest, Text::fromUtf8(c.rest)) << c.won << " / " << c.award;
    }
  }
}

}  // namespace
