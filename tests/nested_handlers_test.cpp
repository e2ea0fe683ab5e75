// Handlers that run nested inside another handler's loop (a modal window, a
// wait, a deferred destruction) through the real menu, windows and keys:
// the code they interrupt finds its own store current afterwards.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "draw/void_redraw.h"
#include "event_fixture.h"
#include "frame/frame.h"
#include "frame/wins.h"
#include "model/records.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "program_session.h"
#include "wait_until.h"

using model::operator""_t;
using model::Text;
using Row = fixture::Row;
using fixture::person;

namespace {

class NestedHandlers : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1280, 800);
    ev.makeSettings(
        {"星河科技"_t, "年度晚会"_t, "新春快乐"_t, Text(), "禁用"_t, "禁用"_t, "禁用"_t, "禁用"_t});
    ev.makePersons({person("0001", "张三"_t, "特等奖"_t), person("0002", "李四"_t),
                    person("0003", "王五"_t), person("0004", "赵六"_t)});
    ev.makeAwards({{"特等奖"_t, "汽车"_t, 1.0, 1.0, 1.0, model::Bytes(), 0LL, 0LL},
                   {"一等奖"_t, "电脑"_t, 2.0, 2.0, 0.0, model::Bytes(), 0LL, 0LL}});
    ui::setProgramFolder(ev.dir);
    ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms())));
  }
  void TearDown() override { fixture::endProgramTest(); }

  // The operator opens the start menu and chooses an item; the command
  // arrives as the next message, as it does from the real menu.
  static void chooseMenu(const Text& caption) {
    ui::testing::queueMenuChoice(caption);
    app::OnStartStartButtonClick();
    ui::processPendingOnce();
  }
  static void click(const char* window, const char* control) {
    QWidget* w = ui::testing::controlWidget(window, control);
    ASSERT_NE(w, nullptr) << window << " " << control;
    QTest::mouseClick(w, Qt::LeftButton);
  }
  static QTreeWidget* tree(const char* window, const char* control) {
    return qobject_cast<QTreeWidget*>(ui::testing::controlWidget(window, control));
  }
  static void clickRow(QTreeWidget* t, int row, bool twice) {
    ASSERT_NE(t, nullptr);
    const QPoint p = t->visualItemRect(t->topLevelItem(row)).center();
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, p);
    if (twice) QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, p);
  }

  // Runs fn from the event loop once the window is open (inside its modal
  // loop when it opens modal).
  static void whenOpen(const char* window, std::function<void()> fn, int triesLeft = 1000) {
    QTimer::singleShot(10, [window, fn, triesLeft] {
      ui::Window w(window);
      if (w.exists() && w.isOpen())
        fn();
      else if (triesLeft > 0)
        whenOpen(window, fn, triesLeft - 1);
    });
  }

  // Records of a store, each field read as text (the current store is kept).
  static std::vector<Text> column(const Text& alias, const Text& field) {
    store::CurrentStoreKeeper keep;
    std::vector<Text> out;
    store::select(alias);
    const int at = store::recordNumber();
    for (int i = 1; i <= store::recordCount(); ++i) {
      store::goTo(i);
      out.push_back(store::readAsText(field));
    }
    if (at > 0) store::goTo(at);
    return out;
  }
  std::vector<Text> settingsTitles() {
    return column(model::aliasSettings(), model::settings::主标题());
  }

  fixture::TempEvent ev;
};

// With the winners list open, each guarded maintenance item closes it before
// its window opens, and the window's handlers work on their own store.
TEST_F(NestedHandlers, MaintenanceItemsChosenWhileTheWinnersListIsOpen) {
  struct Case {
    const char* what;
    const char* item;
    const char* window;
    std::function<void()> inWindow;  // runs inside the window's modal loop
    std::function<void()> check;     // after the window closed
  };
  Text shownName;
  const Case cases[] = {
      {"delete an award", "奖项管理...", "AwardsWindow",
       [] {
         clickRow(tree("AwardsWindow", "超级列表框1"), 0, false);
         click("AwardsWindow", "按钮2");  // 删除
         click("AwardsWindow", "按钮4");  // 关闭
       },
       [] {
         EXPECT_EQ(column(model::aliasAwards(), model::award::奖项名称()),
                   (std::vector<Text>{"一等奖"_t}));
       }},
      {"double-click an award", "奖项管理...", "AwardsWindow",
       [&shownName] {
         clickRow(tree("AwardsWindow", "超级列表框1"), 0, true);
         shownName = ui::Control("AwardsWindow", "编辑框1").text();
         click("AwardsWindow", "按钮4");
       },
       [&shownName] { EXPECT_EQ(shownName, "一等奖"_t); }},
      {"add a participant", "参加抽奖人员管理...", "ParticipantsWindow",
       [] {
         whenOpen("AddPersonWindow", [] {
           ui::Control("AddPersonWindow", "编辑框1").setText("0005"_t);
           ui::Control("AddPersonWindow", "编辑框2").setText("孙八"_t);
           click("AddPersonWindow", "按钮1");  // 添加
           click("AddPersonWindow", "按钮2");  // 关闭
         });
         click("ParticipantsWindow", "按钮4");  // 新增人员
         click("ParticipantsWindow", "按钮1");  // 确定
       },
       [] {
         const auto numbers = column(model::aliasPersons(), model::person::编号());
         ASSERT_FALSE(numbers.empty());
         EXPECT_EQ(numbers.back(), "0005"_t);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    chooseMenu("查看中奖名单"_t);
    ASSERT_TRUE(ui::Window("WinnersListWindow").isOpen());
    bool listOpenInside = true, ran = false;
    Text currentInside;
    whenOpen(c.window, [&] {
      ran = true;
      listOpenInside = ui::Window("WinnersListWindow").isOpen();
      currentInside = store::currentAlias();
      c.inWindow();
    });
    chooseMenu(Text::fromUtf8(c.item));  // returns once the window closed
    EXPECT_TRUE(ran);
    EXPECT_FALSE(listOpenInside);
    EXPECT_FALSE(ui::Window(c.window).isOpen());
    c.check();
    // The settings store keeps its one record.
    EXPECT_EQ(settingsTitles(), (std::vector<Text>{"星河科技"_t}));
    EXPECT_EQ(ui::testing::interceptedEndCode(), -1000);
  }
}

// A destruction requested just before a modal window opens is carried out
// inside that window's loop: it applies the settings, yet the window keeps
// working on its own store.
TEST_F(NestedHandlers, AListClosedInsideAWindowsLoopLeavesTheWindowItsStore) {
  chooseMenu("查看中奖名单"_t);
  ASSERT_TRUE(ui::Window("WinnersListWindow").isOpen());
  bool ran = false;
  whenOpen("AwardsWindow", [&] {
    ran = true;
    EXPECT_TRUE(testwait::pumpUntil([] { return !ui::Window("WinnersListWindow").isOpen(); }));
    EXPECT_EQ(store::currentAlias(), model::aliasAwards());
    clickRow(tree("AwardsWindow", "超级列表框1"), 1, false);
    click("AwardsWindow", "按钮2");  // 删除 一等奖
    click("AwardsWindow", "按钮4");  // 关闭
  });
  frame::gListScrolling = 0;
  ui::Window("WinnersListWindow").destroy();
  ui::Window("AwardsWindow").open(true);  // returns once the window closed
  EXPECT_TRUE(ran);
  EXPECT_EQ(column(model::aliasAwards(), model::award::奖项名称()),
            (std::vector<Text>{"特等奖"_t}));
  EXPECT_EQ(settingsTitles(), (std::vector<Text>{"星河科技"_t}));
}

// Menu items chosen while names roll run inside the roll's wait and are
// refused there; the roll goes on with the participants and commits.
TEST_F(NestedHandlers, MenuItemsChosenWhileNamesRollAreRefusedAndTheRollCommits) {
  chooseMenu("开始抽奖"_t);
  ASSERT_TRUE(draw::DrawPanel().isOpen());
  // The draw starts at the last award, 一等奖.
  const Text award = draw::gCurrentAwardName.value_or(Text());
  bool listSeen = true;
  QTimer::singleShot(120, [&] {
    chooseMenu("查看中奖名单"_t);
    chooseMenu("奖项管理..."_t);
    listSeen = ui::Window("WinnersListWindow").isOpen();
    QTimer::singleShot(60, [] { ui::testing::pressKey(32); });
  });
  ui::testing::pressKey(32);  // returns when the roll has committed
  EXPECT_FALSE(listSeen);
  EXPECT_FALSE(ui::Window("AwardsWindow").isOpen());
  int refusals = 0;
  for (const auto& d : ui::testing::shownDialogs())
    if (d.text == "抽奖时候不能进行该操作！"_t) ++refusals;
  EXPECT_EQ(refusals, 2);
  EXPECT_EQ(ui::testing::interceptedEndCode(), -1000);
  // Whoever won, the stores agree: the award's count is its holders.
  const auto won = column(model::aliasPersons(), model::person::中奖项目());
  const std::vector<Text> awards = {"特等奖"_t, "一等奖"_t};
  std::vector<Text> names = column(model::aliasAwards(), model::award::奖项名称());
  std::vector<Text> drawn = column(model::aliasAwards(), model::award::已抽取人数());
  for (size_t a = 0; a < names.size(); ++a) {
    int holders = 0;
    for (const Text& w : won)
      if (frame::HoldsAward(w, names[a], awards)) ++holders;
    EXPECT_EQ(model::numberToText(static_cast<long long>(holders)), drawn[a]) << names[a].toUtf8();
  }
  EXPECT_EQ(award, "一等奖"_t);
  EXPECT_EQ(drawn, (std::vector<Text>{"1"_t, "2"_t}));
}

}  // namespace
