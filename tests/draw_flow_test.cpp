// The road of a draw through the real runtime, headless: the panel on a small
// event, the space key, rolls and commits, next award, the winners list and
// its export, refusals, failures and fairness.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "event_fixture.h"
#include "frame/frame.h"
#include "model/random.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "program_session.h"
#include "temp_files.h"
#include "wait_until.h"

using draw::Prompt;
using model::operator""_t;
using model::Text;
using Row = fixture::Row;

using fixture::readAll;

namespace {

Text gbk(const std::string& s) { return Text::fromGbk(s); }

Row person(const std::string& number, const Text& name, int mode = 2, const Text& won = Text()) {
  return {gbk(number),
          name,
          gbk("1380013" + number),
          gbk("11010119900101" + number),
          Text(),
          static_cast<long long>(mode),
          won};
}

// An award: name, prize, per roll, winners, drawn, picture, order, rule.
Row awardRow(const Text& name, const Text& prize, double perRoll, double total, double drawn = 0,
             const model::Bytes& picture = {}, long long order = 1, long long rule = 0) {
  return {name, prize, perRoll, total, drawn, picture, order, rule};
}

model::Bytes smallJpeg(int w, int h) { return fixture::solidJpeg(w, h); }

class DrawFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::beginProgramTest(1920, 1080);
    for (const char* f :
         {"Music/bj/idle.wav", "Music/bj/list.wav", "Music/Start/roll.wav", "Music/end/stop.wav"})
      fixture::writeSilentWav(ev.path(f), 3.0);  // long enough to be seen playing
    ev.makeSettings({"星河科技"_t, "2027年度晚会抽奖仪式"_t, "祝大家新春快乐"_t, Text(),
                     gbk("idle.wav"), gbk("roll.wav"), gbk("stop.wav"), gbk("list.wav")});
    ui::setProgramFolder(ev.dir);
  }
  void checkWinRule(long long rule, const std::vector<int>& candidates);
  void checkDrawOrder(long long order, const std::string& expected);
  void checkCannotBegin(const std::vector<Row>& persons, const std::vector<Row>& awards,
                        Prompt expected);
  void TearDown() override { fixture::endProgramTest(); }

  void startProgram() { ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms()))); }
  void openDraw() {
    app::OnStartMenuStartDrawClick();
    ASSERT_TRUE(draw::DrawPanel().isOpen());
    ASSERT_TRUE(draw::DrawBackdrop().isOpen());
  }
  Text prompt() { return draw::DrawPanel().ctl("透明标签4").caption(); }
  Text panelCaption(const char* control) { return draw::DrawPanel().ctl(control).caption(); }

  // Presses space to start; once the roll has lasted at least `ms` by the
  // runtime's clock and shown two sets or more (however long that takes on a
  // busy machine), runs `during` inside the roll's wait and presses space
  // again to stop; returns when the commit is done.
  void rollFor(int ms, const std::function<void()>& during = {}) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      const draw::RollTiming t = draw::LastRollTiming();
      const bool enough = draw::RollInProgress() && t.passes >= 2 &&
                          ui::tickCount() - t.firstPassTick >= static_cast<std::uint32_t>(ms);
      if (!enough && std::chrono::steady_clock::now() < deadline) return;
      if (!enough) ADD_FAILURE() << "the roll did not get going within 60 s";
      poll.stop();
      if (during) during();
      ui::testing::pressKey(32);
    });
    poll.start(1);
    ui::testing::pressKey(32);
    poll.stop();
  }

  std::vector<Text> personField(const Text& field) {
    std::vector<Text> out;
    store::select(model::aliasPersons());
    store::goFirst();
    for (int i = 1; i <= store::recordCount(); ++i, store::skip(1))
      out.push_back(store::readText(field));
    return out;
  }
  double awardDrawn(int record) {
    store::select(model::aliasAwards());
    store::goTo(record);
    return store::readDouble(model::award::已抽取人数());
  }
  bool sawMessage(const Text& text) {
    for (const auto& d : ui::testing::shownDialogs())
      if (d.kind == "message" && d.text == text) return true;
    return false;
  }

  fixture::TempEvent ev;
};

TEST_F(DrawFlow, WholeDrawFromPanelToExportedList) {
  const model::Bytes picture = smallJpeg(40, 20);
  ev.makePersons({person("0001", "张三"_t), person("0002", "李四"_t), person("0003", "王五"_t),
                  person("0004", "赵六"_t), person("0005", "钱七"_t)});
  ev.makeAwards(
      {awardRow("一等奖"_t, "电脑"_t, 1, 1, 0, picture), awardRow("二等奖"_t, "手机"_t, 5, 3)});
  startProgram();
  openDraw();

  // The panel on the first award, laid over the start window.
  ui::Window panel = draw::DrawPanel();
  EXPECT_EQ(panel.width(), 1280);
  EXPECT_EQ(panel.left(), 320);
  EXPECT_EQ(draw::DrawBackdrop().width(), 1280);
  EXPECT_EQ(draw::DrawBackdrop().left(), 320);
  EXPECT_EQ(draw::DrawBackdrop().height(), panel.height());
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::Ready));
  EXPECT_EQ(panelCaption("透明标签2"), "正在抽取一等奖..."_t);
  EXPECT_EQ(panelCaption("透明标签3"), "共1名 已抽取0名 还剩1名"_t);
  EXPECT_EQ(panelCaption("透明标签1"), "奖品：电脑"_t);
  EXPECT_TRUE(panel.ctl("图片框1").visible());
  EXPECT_EQ(panel.ctl("图片框1").height(), 100);  // 200 wide, picture 2:1
  EXPECT_EQ(image::readFile(model::programPath(ev.dir, model::kPrizeFolder, "电脑.jpg"_t)),
            picture);
  EXPECT_EQ(draw::gCandidates, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_FALSE(ui::Control("StartWindow", "祝福词").visible());

  // First roll, on the test clock: one name rolls until the second space,
  // a fresh set every 50 ms.
  ui::testing::useTestClock(true);
  Text midPrompt;
  bool slotShown = false;
  std::string rollingMusic;
  rollFor(300, [&] {
    midPrompt = prompt();
    slotShown = draw::NameSlot(1).visible() && !draw::NameSlot(1).caption().empty();
    auto st = music::status();
    if (!st.files.empty()) rollingMusic = st.files[0];
  });
  EXPECT_EQ(midPrompt, draw::PromptText(Prompt::Rolling));
  EXPECT_TRUE(slotShown);
  EXPECT_NE(rollingMusic.find("Music/Start/roll.wav"), std::string::npos);
  draw::RollTiming t = draw::LastRollTiming();
  ASSERT_GE(t.passes, 6);  // 300 ms of the clock at least
  EXPECT_EQ(t.lastPassTick - t.firstPassTick, 50u * static_cast<std::uint32_t>(t.passes - 1));

  const Text winner = draw::NameSlot(1).caption();
  std::vector<Text> won = personField(model::person::中奖项目());
  int winners = 0;
  for (int i = 0; i < 5; ++i) {
    if (won[i].empty()) continue;
    ++winners;
    EXPECT_EQ(won[i], "一等奖"_t);
    EXPECT_EQ(personField(model::person::姓名())[i], winner);
  }
  EXPECT_EQ(winners, 1);
  EXPECT_EQ(awardDrawn(1), 1.0);
  EXPECT_EQ(draw::gCandidates.size(), 4u);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AwardFull));
  EXPECT_EQ(panelCaption("透明标签3"), "共1名 已抽取1名 还剩0名"_t);
  ui::Control banner("BannerWindow", "标签1");
  const Text line = "恭喜："_t + winner + "中了一等奖  奖品：电脑"_t;
  EXPECT_EQ(banner.caption(), line);
  EXPECT_EQ(banner.width(), 16 * line.length());
  EXPECT_TRUE(ui::Window("BannerWindow").visible());
  EXPECT_EQ(frame::gBannerScrolling.load(), 1);
  // The scroller starts at the right screen edge and moves the line one
  // pixel left for every 15 ms of the clock, and not before.
  ASSERT_TRUE(QTest::qWaitFor([] { return ui::testing::testClockSleepers() == 1; }, 10000));
  EXPECT_EQ(banner.left(), 1919);
  EXPECT_EQ(draw::BannerScrollersRunning(), 1);  // the start-up scroller has ended
  for (int step = 1; step <= 3; ++step) {
    const int before = banner.left();
    ui::testing::advanceClock(14);
    EXPECT_EQ(banner.left(), before) << "moved before 15 ms, step " << step;
    ui::testing::advanceClock(1);
    EXPECT_EQ(banner.left(), before - 1) << "not moved after 15 ms, step " << step;
  }
  ui::testing::useTestClock(false);
  const int before = banner.left();
  EXPECT_TRUE(testwait::pumpUntil([&] { return banner.left() < before; }));
  std::string stopMusic = music::status().files.empty() ? "" : music::status().files[0];
  EXPECT_NE(stopMusic.find("Music/end/stop.wav"), std::string::npos);

  // Space on a full award moves to the next one: quota 3 of 5 per roll.
  ui::testing::pressKey(32);
  EXPECT_EQ(panelCaption("透明标签2"), "正在抽取二等奖..."_t);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::Ready));
  EXPECT_EQ(draw::gDrawQuota, 3);
  EXPECT_FALSE(draw::NameSlot(1).visible());
  EXPECT_FALSE(panel.ctl("图片框1").visible());  // no picture for this award

  rollFor(200);
  for (int k = 1; k <= 20; ++k) EXPECT_EQ(draw::NameSlot(k).visible(), k <= 3) << k;
  for (int k = 1; k <= 20; ++k) EXPECT_EQ(draw::SlotFrame(k).visible(), k <= 3) << k;
  std::vector<Text> names;
  for (int k = 1; k <= 3; ++k) names.push_back(draw::NameSlot(k).caption());
  EXPECT_EQ(std::set<Text>(names.begin(), names.end()).size(), 3u);
  EXPECT_EQ(banner.caption(), "恭喜："_t + names[0] + gbk("  ") + names[1] + gbk("  ") + names[2] +
                                  "中了二等奖  奖品：手机"_t);
  won = personField(model::person::中奖项目());
  EXPECT_EQ(std::count(won.begin(), won.end(), "二等奖"_t), 3);
  EXPECT_EQ(std::count(won.begin(), won.end(), Text()), 1);
  EXPECT_EQ(awardDrawn(2), 3.0);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AllAwardsFull));
  // The old scroller ended before the new one started.
  EXPECT_LE(draw::BannerScrollersRunning(), 1);
  EXPECT_TRUE(testwait::pumpUntil([] { return draw::BannerScrollersRunning() == 1; }));

  // The last space hands over to the winners list and closes the draw.
  ui::testing::pressKey(32);
  EXPECT_TRUE(testwait::pumpUntil([] { return !draw::DrawPanel().isOpen(); }));
  EXPECT_FALSE(draw::DrawBackdrop().isOpen());
  EXPECT_FALSE(ui::Window("BannerWindow").visible());
  ui::Window list("WinnersListWindow");
  ASSERT_TRUE(list.isOpen());
  EXPECT_FALSE(ui::Control("StartWindow", "祝福词").visible());  // not restored
  ASSERT_FALSE(music::status().files.empty());
  EXPECT_NE(music::status().files[0].find("Music/bj/list.wav"), std::string::npos);

  // Display mode 2 (姓名), in record order.
  const std::vector<Text> allNames = personField(model::person::姓名());
  Text expected = "一等奖[电脑]"_t + gbk("\r\n\r\n");
  for (int i = 0; i < 5; ++i)
    if (won[i] == "一等奖"_t) expected += allNames[i] + gbk("\r\n");
  expected += gbk("\r\n") + "二等奖[手机]"_t + gbk("\r\n\r\n");
  for (int i = 0; i < 5; ++i)
    if (won[i] == "二等奖"_t) expected += allNames[i] + gbk("\r\n");
  expected += gbk("\r\n");
  ui::Control text = list.ctl("标签2");
  EXPECT_EQ(text.caption(), expected);
  EXPECT_EQ(text.height(), (4 + 6) * 33);
  EXPECT_EQ(frame::gListScrolling.load(), 1);
  // The scroller first puts the text at the bottom, then moves it up: seen
  // once it has moved twice.
  const int declared = text.top();
  EXPECT_TRUE(testwait::pumpUntil([&] { return text.top() != declared; }));
  const int top = text.top();
  EXPECT_TRUE(testwait::pumpUntil([&] { return text.top() < top; }));

  // Export: the caption's bytes exactly, GBK without a byte-order mark.
  const std::string out = ev.path("winners.txt");
  ui::testing::queueFileAnswer(true, out);
  ui::testing::clearShownDialogs();
  draw::OnWinnersListExportButtonClick();
  EXPECT_EQ(readAll(out), expected.bytes());
  EXPECT_NE(static_cast<unsigned char>(readAll(out)[0]), 0xEF);
  EXPECT_TRUE(sawMessage("导出成功！"_t));
  EXPECT_TRUE(list.alwaysOnTop());

  // A write that cannot be made is reported; a cancelled dialog says nothing.
  ui::testing::clearShownDialogs();
  ui::testing::queueFileAnswer(true, ev.path("no/such/folder/x.txt"));
  draw::OnWinnersListExportButtonClick();
  EXPECT_TRUE(sawMessage("导出失败！\n文件夹不存在："_t +
                         Text::fromUtf8(ev.path("no/such/folder")) +
                         "\n请选择一个存在的文件夹后重试。"_t));
  ui::testing::clearShownDialogs();
  ui::testing::queueFileAnswer(false, "");
  draw::OnWinnersListExportButtonClick();
  EXPECT_EQ(ui::testing::shownDialogs().size(), 1u);  // the file dialog alone

  // Closing the list restores the start screen and stops the scroller.
  draw::OnWinnersListCloseButtonClick();
  EXPECT_TRUE(testwait::pumpUntil([&] { return !list.isOpen(); }));
  EXPECT_EQ(frame::gListScrolling.load(), 0);
  EXPECT_TRUE(testwait::pumpUntil([] { return draw::ListScrollersRunning() == 0; }));
  EXPECT_TRUE(ui::Control("StartWindow", "祝福词").visible());
}

TEST_F(DrawFlow, RefusalsAndIgnoredPressesWhileRolling) {
  ev.makePersons({person("0001", "张三"_t), person("0002", "李四"_t), person("0003", "王五"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "电脑"_t, 1, 2), awardRow("二等奖"_t, "书"_t, 1, 1)});
  startProgram();
  openDraw();

  ASSERT_EQ(prompt(), draw::PromptText(Prompt::Ready));
  ASSERT_TRUE(draw::DrawPanel().alwaysOnTop());
  ASSERT_NE(draw::gSpaceHotkeyId, 0);
  ASSERT_FALSE(draw::RollInProgress());
  int passesBefore = 0;
  bool topmostDuringBox = true;
  Text promptDuringBox;
  rollFor(250, [&] {
    ui::testing::clearShownDialogs();
    passesBefore = draw::LastRollTiming().passes;
    // Next award: refused, with both windows off top while the box shows;
    // the space key does nothing meanwhile.
    ui::testing::queueDuringDialog([&] {
      topmostDuringBox = draw::DrawPanel().alwaysOnTop() || draw::DrawBackdrop().alwaysOnTop();
      ui::testing::pressKey(32);
      promptDuringBox = prompt();
    });
    draw::NextAward();
    // A second start is ignored; close does nothing.
    draw::StartDraw();
    draw::CloseDrawWindows();
    // The winners list refuses to open.
    draw::ShowWinnersList();
    // Redraws ask first, then refuse.
    ui::testing::queueMessageAnswer(ui::kResultOk);
    draw::OnDrawPanelRedrawAwardButtonClick();
    ui::testing::queueMessageAnswer(ui::kResultOk);
    draw::OnDrawPanelRedrawAllButtonClick();
    // The stop button twice: the second press finds the roll stopped.
  });
  EXPECT_FALSE(topmostDuringBox);
  EXPECT_EQ(promptDuringBox, draw::PromptText(Prompt::Rolling));
  EXPECT_TRUE(draw::DrawPanel().alwaysOnTop());
  EXPECT_TRUE(sawMessage("抽奖正在进行中，请停止后操作！"_t));
  EXPECT_TRUE(sawMessage("抽奖时候不能进行该操作！"_t));
  EXPECT_FALSE(ui::Window("WinnersListWindow").isOpen());
  EXPECT_TRUE(draw::DrawPanel().isOpen());
  // No second roll ran inside the first (it would have restarted the count).
  EXPECT_EQ(draw::LastRollTiming().passes, passesBefore);
  auto dialogs = ui::testing::shownDialogs();
  int confirms = 0, systemModal = 0;
  for (const auto& d : dialogs)
    if (d.text == "重新抽奖后原数据无法恢复，你确定要重新抽取本项奖品吗？"_t) {
      ++confirms;
      if (d.flags & ui::kSystemModal) ++systemModal;
    }
  EXPECT_EQ(confirms, 2);
  EXPECT_EQ(systemModal, 1);  // only redrawing this award asks system-modal

  // One roll committed exactly one winner of the first award.
  EXPECT_EQ(panelCaption("透明标签2"), "正在抽取一等奖..."_t);
  EXPECT_EQ(awardDrawn(1), 1.0);
  auto won = personField(model::person::中奖项目());
  EXPECT_EQ(std::count(won.begin(), won.end(), "一等奖"_t), 1);

  // Stop and close in the wrong state are silent.
  ui::testing::clearShownDialogs();
  draw::StopDraw();
  EXPECT_TRUE(ui::testing::shownDialogs().empty());
  // Closing when stopped closes both windows and restores the start screen.
  draw::CloseDrawWindows();
  EXPECT_TRUE(testwait::pumpUntil(
      [] { return !draw::DrawPanel().isOpen() && !draw::DrawBackdrop().isOpen(); }));
  EXPECT_TRUE(ui::Control("StartWindow", "祝福词").visible());
}

void DrawFlow::checkDrawOrder(long long order, const std::string& expected) {
  ev.makePersons({person("0001", "张三"_t)});
  ev.makeAwards({awardRow("A奖"_t, "a"_t, 1, 1, 0, {}, order), awardRow("B奖"_t, "b"_t, 1, 1),
                 awardRow("C奖"_t, "c"_t, 1, 1)});
  startProgram();
  openDraw();
  std::string seen;
  for (int i = 0; i < 4; ++i) {
    seen += panelCaption("透明标签2").bytes().substr(8, 1);  // after 正在抽取
    draw::NextAward();
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(DrawFlow, DrawOrderZeroStartsLastAndWrapsBackwards) { checkDrawOrder(0, "CBAC"); }
TEST_F(DrawFlow, DrawOrderOneStartsFirstAndWrapsForwards) { checkDrawOrder(1, "ABCA"); }

// Participants 2 and 4 have won before; two names are drawn.
void DrawFlow::checkWinRule(long long rule, const std::vector<int>& candidates) {
  ev.makePersons({person("0001", "张三"_t), person("0002", "李四"_t, 2, "一等奖"_t),
                  person("0003", "王五"_t), person("0004", "赵六"_t, 2, "二等奖一等奖"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 2, 4, 0, {}, 1, rule)});
  startProgram();
  openDraw();
  EXPECT_EQ(draw::gCandidates, candidates);
  EXPECT_EQ(draw::gWinRule, rule);
  rollFor(120);
  EXPECT_EQ(draw::gCandidates.size(), candidates.size() - 2);
  auto won = personField(model::person::中奖项目());
  // Under either rule exactly two records gained the award name once; under
  // rule 1 that may be a second win.
  const std::vector<Text> initial{Text(), "一等奖"_t, Text(), "二等奖一等奖"_t};
  int changed = 0;
  for (int i = 0; i < 4; ++i) {
    if (won[i] == initial[i]) continue;
    ++changed;
    EXPECT_EQ(won[i], initial[i] + "一等奖"_t);
    EXPECT_NE(std::find(candidates.begin(), candidates.end(), i + 1), candidates.end());
  }
  EXPECT_EQ(changed, 2);
}

TEST_F(DrawFlow, WinRuleZeroLeavesFormerWinnersOut) { checkWinRule(0, {1, 3}); }
TEST_F(DrawFlow, WinRuleOneLetsEveryoneDraw) { checkWinRule(1, {1, 2, 3, 4}); }

TEST_F(DrawFlow, RuleOneEndsWhenEveryoneHasWon) {
  ev.makePersons({person("0001", "张三"_t), person("0002", "李四"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 2, 5, 0, {}, 1, 1)});
  startProgram();
  openDraw();
  rollFor(120);
  EXPECT_TRUE(draw::gCandidates.empty());
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AllWon));
  ui::testing::pressKey(32);
  EXPECT_TRUE(testwait::pumpUntil([] { return !draw::DrawPanel().isOpen(); }));
  EXPECT_TRUE(ui::Window("WinnersListWindow").isOpen());
}

TEST_F(DrawFlow, FailedCommitLeavesNothingAndTheDrawGoesOn) {
  ev.makePersons({person("0001", "张三"_t), person("0002", "李四"_t), person("0003", "王五"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 2, 2)});
  startProgram();
  openDraw();
  const std::vector<int> candidates = draw::gCandidates;
  rollFor(120, [] { store::failNextWrites(1); });
  store::failNextWrites(0);
  EXPECT_TRUE(sawMessage(draw::CommitFailedText()));
  auto won = personField(model::person::中奖项目());
  EXPECT_EQ(std::count(won.begin(), won.end(), Text()), 3);
  EXPECT_EQ(awardDrawn(1), 0.0);
  EXPECT_EQ(draw::gCandidates, candidates);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::Ready));
  EXPECT_EQ(panelCaption("透明标签3"), "共2名 已抽取0名 还剩2名"_t);

  // The same stores, read back from the files, hold nothing either.
  store::closeAll();
  ASSERT_TRUE(store::open(model::programPath(ev.dir, model::kPersonsFile), model::aliasPersons()));
  ASSERT_TRUE(store::open(model::programPath(ev.dir, model::kAwardsFile), model::aliasAwards()));
  ASSERT_TRUE(
      store::open(model::programPath(ev.dir, model::kSettingsFile), model::aliasSettings()));
  won = personField(model::person::中奖项目());
  EXPECT_EQ(std::count(won.begin(), won.end(), Text()), 3);
  EXPECT_EQ(awardDrawn(1), 0.0);

  store::select(model::aliasAwards());
  store::goFirst();
  rollFor(120);
  EXPECT_EQ(awardDrawn(1), 2.0);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AllAwardsFull));
}

TEST_F(DrawFlow, StoredValuesThatWouldStallTheDraw) {
  // Display mode 0, a 每次名额 of 0 and an over-drawn award.
  ev.makePersons({person("0001", "张三"_t, 0), person("0002", "李四"_t, 0)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 0, 1), awardRow("二等奖"_t, "b"_t, 1, 1, 3)});
  startProgram();
  openDraw();
  rollFor(120);
  const Text shown = draw::NameSlot(1).caption();
  EXPECT_TRUE(shown == gbk("0001") || shown == gbk("0002")) << shown.toUtf8();
  EXPECT_EQ(awardDrawn(1), 1.0);
  EXPECT_EQ(ui::Control("BannerWindow", "标签1").caption(),
            "恭喜："_t + shown + "中了一等奖  奖品：a"_t);
  // Both awards now count as full, the over-drawn one included.
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AllAwardsFull));
  draw::NextAward();
  EXPECT_EQ(panelCaption("透明标签3"), "共1名 已抽取3名 还剩-2名"_t);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AllAwardsFull));
  ui::testing::pressKey(32);
  // The list opens in place of the draw windows.
  ASSERT_TRUE(testwait::pumpUntil([] { return !draw::DrawPanel().isOpen(); }));
  const Text list = ui::Control("WinnersListWindow", "标签2").caption();
  EXPECT_NE(model::findText(list, shown + gbk("\r\n")), -1);
}

TEST_F(DrawFlow, OverDrawnAwardIsFullWhileAnotherHasPlaces) {
  ev.makePersons({person("0001", "张三"_t, 3)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 1, 2, 3), awardRow("二等奖"_t, "b"_t, 1, 1)});
  startProgram();
  openDraw();
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AwardFull));
  draw::StartDraw();  // refused: the award is full
  EXPECT_FALSE(draw::NameSlot(1).visible());
  ui::testing::pressKey(32);
  EXPECT_EQ(panelCaption("透明标签2"), "正在抽取二等奖..."_t);
  rollFor(100);
  // Display mode 3: the identity number masked in the slot and the line.
  EXPECT_EQ(draw::NameSlot(1).caption(), gbk("110101****0001"));
  EXPECT_EQ(ui::Control("BannerWindow", "标签1").caption(),
            "恭喜：110101****0001中了二等奖  奖品：b"_t);
}

// A draw that cannot begin says why on the prompt line, and neither the space
// key nor the start button rolls or writes anything.
void DrawFlow::checkCannotBegin(const std::vector<Row>& persons, const std::vector<Row>& awards,
                                Prompt expected) {
  ev.makePersons(persons);
  ev.makeAwards(awards);
  startProgram();
  openDraw();
  EXPECT_EQ(prompt(), draw::PromptText(expected));
  EXPECT_FALSE(draw::PromptText(expected).empty());
  // No award: no "共名 已抽取名 还剩0名" and no picture file of no prize.
  if (awards.empty()) {
    EXPECT_TRUE(panelCaption("透明标签2").empty());
    EXPECT_TRUE(panelCaption("透明标签3").empty());
    EXPECT_FALSE(std::filesystem::exists(ev.path("Prize/.jpg")));
  }
  ui::testing::pressKey(32);
  ui::processPendingOnce();
  draw::StartDraw();
  EXPECT_FALSE(draw::RollInProgress());
  EXPECT_FALSE(draw::NameSlot(1).visible());
  EXPECT_FALSE(ui::Window("WinnersListWindow").isOpen());
  EXPECT_EQ(prompt(), draw::PromptText(expected));
  if (!awards.empty()) {
    EXPECT_EQ(awardDrawn(1), 0.0);
  }
  EXPECT_TRUE(ui::Control("BannerWindow", "标签1").caption().empty());
  // The close button still ends the draw.
  draw::CloseDrawWindows();
  EXPECT_TRUE(testwait::pumpUntil([] { return !draw::DrawPanel().isOpen(); }));
}

TEST_F(DrawFlow, NoAwardSaysSo) {
  checkCannotBegin({person("0001", "张三"_t)}, {}, Prompt::NoAwards);
}

TEST_F(DrawFlow, EmptyStoresSayThereIsNoAward) { checkCannotBegin({}, {}, Prompt::NoAwards); }

TEST_F(DrawFlow, NoParticipantSaysSo) {
  checkCannotBegin({}, {awardRow("一等奖"_t, "a"_t, 3, 3)}, Prompt::NoParticipants);
}

TEST_F(DrawFlow, NoParticipantSaysSoWithSeveralWinsAllowed) {
  checkCannotBegin({}, {awardRow("一等奖"_t, "a"_t, 3, 3, 0, {}, 1, 1)}, Prompt::NoParticipants);
}

// Under the one-win rule an award with more places than people left draws
// everybody left in one roll, in as many slots as there are people, and then
// says that everybody has won instead of rolling empty slots.
TEST_F(DrawFlow, MorePlacesThanPeopleLeftEndsWithEverybodyWon) {
  ev.makePersons({person("0001", "张三"_t), person("0002", "李四"_t),
                  person("0003", "王五"_t, 2, "一等奖"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 1, 1, 1), awardRow("二等奖"_t, "b"_t, 5, 5)});
  startProgram();
  openDraw();
  draw::NextAward();
  ASSERT_EQ(panelCaption("透明标签2"), "正在抽取二等奖..."_t);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::Ready));
  EXPECT_EQ(draw::gDrawQuota, 2);  // two people left for five places
  rollFor(100);
  EXPECT_TRUE(draw::NameSlot(2).visible());
  EXPECT_FALSE(draw::NameSlot(3).visible());
  EXPECT_EQ(awardDrawn(2), 2.0);
  EXPECT_EQ(personField(model::person::中奖项目()),
            (std::vector<Text>{"二等奖"_t, "二等奖"_t, "一等奖"_t}));
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AllWon));
  // Neither the start button nor a redraw-free space rolls again: space now
  // shows the winners list.
  draw::StartDraw();
  EXPECT_FALSE(draw::RollInProgress());
  EXPECT_EQ(awardDrawn(2), 2.0);
  ui::testing::pressKey(32);
  testwait::pumpUntil([] { return ui::Window("WinnersListWindow").isOpen(); });
  EXPECT_TRUE(ui::Window("WinnersListWindow").isOpen());
}

TEST_F(DrawFlow, PrizePictureStaysInsideThePrizeFolder) {
  ev.makePersons({person("0001", "张三"_t)});
  ev.makeAwards({awardRow("一等奖"_t, gbk("../../evil"), 1, 1, 0, smallJpeg(8, 8))});
  startProgram();
  openDraw();
  EXPECT_TRUE(std::filesystem::exists(ev.path("Prize/______evil.jpg")));
  EXPECT_FALSE(std::filesystem::exists(ev.path("../evil.jpg")));
  EXPECT_TRUE(draw::DrawPanel().ctl("图片框1").visible());
  EXPECT_EQ(panelCaption("透明标签1"), "奖品：../../evil"_t);
}

// The picture written out when an award shows replaces whatever has its
// name: a link there is replaced, not written through.
TEST_F(DrawFlow, PrizePictureReplacesALinkInsteadOfWritingThroughIt) {
  const model::Bytes picture = smallJpeg(40, 20);
  ev.makePersons({person("0001", "张三"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "电脑"_t, 1, 1, 0, picture)});
  const std::string other = ev.path("notes.txt");
  fixture::writeBytes(other, "the operator's notes");
  std::filesystem::create_directories(ev.path("Prize"));
  const std::string written = model::programPath(ev.dir, model::kPrizeFolder, "电脑.jpg"_t);
  std::filesystem::create_symlink(other, written);
  startProgram();
  openDraw();
  EXPECT_EQ(fixture::readAll(other), "the operator's notes");
  EXPECT_FALSE(std::filesystem::is_symlink(written));
  EXPECT_EQ(image::readFile(written), picture);
  EXPECT_EQ(draw::DrawPanel().ctl("图片框1").height(), 100);
}

// A picture that cannot be written (a full disk) leaves the earlier file
// whole, and the panel still shows the stored picture at its own size.
TEST_F(DrawFlow, AFullDiskKeepsTheEarlierPrizePictureAndStillShowsTheAward) {
  const model::Bytes picture = smallJpeg(40, 20);
  const model::Bytes earlier = smallJpeg(10, 30);
  ASSERT_GT(picture.size(), 200u);
  ev.makePersons({person("0001", "张三"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "电脑"_t, 1, 1, 0, picture)});
  std::filesystem::create_directories(ev.path("Prize"));
  const std::string written = model::programPath(ev.dir, model::kPrizeFolder, "电脑.jpg"_t);
  ASSERT_TRUE(image::writeFile(written, earlier));
  startProgram();
  {
    fixture::FileSizeLimit full(200);
    openDraw();
  }
  EXPECT_EQ(image::readFile(written), earlier);
  std::vector<std::string> inPrize;
  for (const auto& e : std::filesystem::directory_iterator(ev.path("Prize")))
    inPrize.push_back(e.path().filename().string());
  std::sort(inPrize.begin(), inPrize.end());
  EXPECT_EQ(inPrize, (std::vector<std::string>{"bj", "电脑.jpg"}));  // no temporary file left
  ui::Control box = draw::DrawPanel().ctl("图片框1");
  EXPECT_TRUE(box.visible());
  EXPECT_EQ(box.height(), 100);  // the stored picture's 2:1, not the earlier file's 1:3
  EXPECT_EQ(panelCaption("透明标签1"), "奖品：电脑"_t);
}

TEST_F(DrawFlow, SlotLayoutsOnTheScreen) {
  std::vector<Row> persons;
  for (int i = 1; i <= 25; ++i) persons.push_back(person(std::to_string(1000 + i), "某某"_t, 1));
  ev.makePersons(persons);
  // Rule 1, so that all 25 stay candidates for every layout.
  ev.makeAwards({awardRow("q1"_t, "p"_t, 1, 100, 0, {}, 1, 1), awardRow("q5"_t, "p"_t, 5, 100),
                 awardRow("q10"_t, "p"_t, 10, 100), awardRow("q20"_t, "p"_t, 20, 100)});
  startProgram();
  openDraw();
  ui::Window backdrop = draw::DrawBackdrop();
  draw::FrameGeometry g;
  g.band21Height = backdrop.ctl("分组框21").height();
  g.band22Top = backdrop.ctl("分组框22").top();
  g.backdropWidth = backdrop.width();
  g.frame1Left = draw::SlotFrame(1).left();
  g.pictureLeft = 16;
  g.pictureWidth = 200;
  EXPECT_EQ(g.frame1Left, 236);
  EXPECT_EQ(draw::SlotFrame(11).left(), 296);
  EXPECT_EQ(g.band22Top, backdrop.height() - 76);
  for (int quota : {1, 5, 10, 20}) {
    SCOPED_TRACE(quota);
    rollFor(120);
    const auto frames = draw::LayOutFrames(quota, g);
    for (int k = 1; k <= 20; ++k) {
      ASSERT_EQ(draw::SlotFrame(k).visible(), k <= quota) << k;
      ASSERT_EQ(draw::NameSlot(k).visible(), k <= quota) << k;
      if (k > quota) continue;
      const draw::Rect& r = frames[k - 1];
      EXPECT_EQ(draw::SlotFrame(k).top(), r.top);
      EXPECT_EQ(draw::SlotFrame(k).left(), r.left);
      EXPECT_EQ(draw::SlotFrame(k).width(), r.width);
      EXPECT_EQ(draw::SlotFrame(k).height(), r.height);
      ui::Control s = draw::NameSlot(k);
      EXPECT_EQ(s.top(), r.top);
      EXPECT_EQ(s.width(), 4 * draw::SlotLayoutFor(quota)->charWidth);
      EXPECT_EQ(s.left(), draw::CentredLeft(r.left, r.width, s.width()));
    }
    draw::NextAward();
  }
}

TEST_F(DrawFlow, RedrawAwardAndRedrawAll) {
  ev.makePersons({person("0001", "张三"_t), person("0002", "李四"_t), person("0003", "王五"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 1, 1), awardRow("二等奖"_t, "b"_t, 1, 1)});
  startProgram();
  openDraw();
  rollFor(100);
  ui::testing::pressKey(32);  // next award
  rollFor(100);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::AllAwardsFull));
  EXPECT_EQ(draw::gCandidates.size(), 1u);

  // Cancel changes nothing.
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  draw::OnDrawPanelRedrawAwardButtonClick();
  EXPECT_EQ(awardDrawn(2), 1.0);

  // Redrawing this award (二等奖) gives its winner back.
  ui::testing::queueMessageAnswer(ui::kResultOk);
  draw::OnDrawPanelRedrawAwardButtonClick();
  EXPECT_EQ(awardDrawn(2), 0.0);
  EXPECT_EQ(awardDrawn(1), 1.0);
  auto won = personField(model::person::中奖项目());
  EXPECT_EQ(std::count(won.begin(), won.end(), "二等奖"_t), 0);
  EXPECT_EQ(std::count(won.begin(), won.end(), "一等奖"_t), 1);
  EXPECT_EQ(draw::gCandidates.size(), 2u);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::Ready));
  EXPECT_FALSE(ui::Window("BannerWindow").visible());
  EXPECT_TRUE(draw::DrawPanel().alwaysOnTop());

  // Redrawing all clears every result.
  ui::testing::queueMessageAnswer(ui::kResultOk);
  draw::OnDrawPanelRedrawAllButtonClick();
  EXPECT_EQ(awardDrawn(1), 0.0);
  won = personField(model::person::中奖项目());
  EXPECT_EQ(std::count(won.begin(), won.end(), Text()), 3);
  EXPECT_EQ(draw::gCandidates, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(panelCaption("透明标签2"), "正在抽取一等奖..."_t);
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::Ready));
}

TEST_F(DrawFlow, BackdropActivationAndTopmost) {
  ev.makePersons({person("0001", "张三"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 1, 1)});
  startProgram();
  openDraw();
  draw::OnDrawBackdropActivated();
  EXPECT_FALSE(draw::DrawBackdrop().alwaysOnTop());
  EXPECT_TRUE(draw::DrawPanel().alwaysOnTop());
  draw::DrawPanel().setAlwaysOnTop(false);
  draw::OnDrawBackdropDeactivated();
  EXPECT_TRUE(draw::DrawBackdrop().alwaysOnTop());
  EXPECT_TRUE(draw::DrawPanel().alwaysOnTop());
  // The space key does nothing while the panel is not on top.
  draw::DrawPanel().setAlwaysOnTop(false);
  ui::testing::pressKey(32);
  EXPECT_FALSE(draw::NameSlot(1).visible());
  EXPECT_EQ(prompt(), draw::PromptText(Prompt::Ready));
}

TEST_F(DrawFlow, SuppressedListRestoreIsUsedUpOnce) {
  ev.makePersons({person("0001", "张三"_t, 1, "一等奖"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 1, 1, 1)});
  startProgram();
  ui::Window list("WinnersListWindow");
  ui::Control greeting("StartWindow", "祝福词");

  draw::ShowWinnersList();
  ASSERT_TRUE(list.isOpen());
  EXPECT_EQ(list.ctl("标签2").caption(), "一等奖[a]"_t + gbk("\r\n\r\n0001\r\n\r\n"));
  EXPECT_FALSE(greeting.visible());
  // "开始抽奖" closes the list without restoring the start screen ...
  app::OnStartMenuStartDrawClick();
  EXPECT_TRUE(testwait::pumpUntil([&] { return !list.isOpen(); }));
  EXPECT_EQ(frame::gSuppressListRestore, 0);
  EXPECT_FALSE(greeting.visible());
  draw::CloseDrawWindows();
  EXPECT_TRUE(testwait::pumpUntil([&] { return greeting.visible(); }));

  // ... and a later closing by the guard restores it again.
  draw::ShowWinnersList();
  EXPECT_FALSE(greeting.visible());
  EXPECT_TRUE(app::GuardDrawRunning());
  EXPECT_TRUE(testwait::pumpUntil([&] { return !list.isOpen(); }));
  EXPECT_TRUE(greeting.visible());
}

TEST_F(DrawFlow, ListFromTheMenuClosesAnIdleDraw) {
  ev.makePersons({person("0001", "张三"_t, 5, "一等奖"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "a"_t, 1, 2, 1)});
  startProgram();
  openDraw();
  draw::ShowWinnersList();
  EXPECT_TRUE(testwait::pumpUntil(
      [] { return !draw::DrawPanel().isOpen() && !draw::DrawBackdrop().isOpen(); }));
  ASSERT_TRUE(ui::Window("WinnersListWindow").isOpen());
  // The panel's closing left the list's screen alone.
  EXPECT_FALSE(ui::Control("StartWindow", "祝福词").visible());
  ASSERT_FALSE(music::status().files.empty());
  EXPECT_NE(music::status().files[0].find("list.wav"), std::string::npos);
  EXPECT_EQ(ui::Control("WinnersListWindow", "标签2").caption(),
            "一等奖[a]"_t + gbk("\r\n\r\n") + "0001 张三"_t + gbk("\r\n\r\n"));
}

TEST_F(DrawFlow, EveryCandidateWinsAboutEquallyOften) {
  std::vector<Row> persons;
  for (int i = 1; i <= 10; ++i) persons.push_back(person(std::to_string(100 + i), "某"_t, 1));
  ev.makePersons(persons);
  // Several wins allowed: the quota of 20 is not brought down to the ten
  // people (it would be under the one-win rule).
  ev.makeAwards(
      {awardRow("一等奖"_t, "a"_t, 1, 1000, 0, {}, 1, 1), awardRow("二等奖"_t, "b"_t, 20, 1000)});
  startProgram();
  openDraw();
  draw::SlotPicks picks{};
  ASSERT_TRUE(draw::SetUpRoll(picks));
  ASSERT_EQ(draw::gDrawQuota, 1);
  model::seedRandomWith(20270101);  // the statistic is then the same in every run
  std::map<int, int> hits;
  const int rolls = 20000;
  for (int i = 0; i < rolls; ++i) {
    draw::RollOnePass(picks);
    ++hits[picks[0]];
  }
  draw::gDrawStopped = 1;
  ASSERT_EQ(hits.size(), 10u);
  double chi = 0;
  for (auto& [pos, n] : hits) chi += std::pow(n - rolls / 10.0, 2) / (rolls / 10.0);
  EXPECT_LT(chi, 27.9);  // 9 degrees of freedom, p = 0.001

  // Quota 20 over 10 candidates fills 10 slots, all distinct, the rest empty.
  draw::NextAward();
  picks.fill(0);
  ASSERT_TRUE(draw::SetUpRoll(picks));
  ASSERT_EQ(draw::gDrawQuota, 20);
  for (int i = 0; i < 200; ++i) {
    draw::RollOnePass(picks);
    std::set<int> distinct(picks.begin(), picks.begin() + 10);
    ASSERT_EQ(distinct.size(), 10u);
    ASSERT_EQ(*distinct.begin(), 1);
    for (int k = 10; k < 20; ++k) ASSERT_EQ(picks[k], 0);
  }
  draw::gDrawStopped = 1;
}

}  // namespace

namespace {

// "退出" chosen from the start menu while names roll (or the draw stands
// idle): the program ends cleanly with exit code 0, whichever store the draw
// left current, and nothing of the interrupted roll is written. The
// parameter is the moment of the exit, on the test clock: -1 the draw stands
// idle, 0 as the roll starts (in its first wait), N once the roll has shown N
// sets of names or more.
class DrawExit : public DrawFlow, public ::testing::WithParamInterface<int> {};

TEST_P(DrawExit, ExitWhileRollingEndsWithZero) {
  ev.makePersons({person("0001", "张三"_t), person("0002", "李四"_t), person("0003", "王五"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "电脑"_t, 2, 2)});
  const int passes = GetParam();
  EXPECT_EXIT(
      {
        ui::testing::interceptProgramEnd(false);
        ui::testing::useTestClock(true);
        startProgram();
        openDraw();
        auto exitFromMenu = [] {
          ui::testing::queueMenuChoice("退出"_t);
          app::OnStartStartButtonClick();
        };
        QTimer poll;
        if (passes <= 0) {
          QTimer::singleShot(0, exitFromMenu);
        } else {
          QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!draw::RollInProgress() || draw::LastRollTiming().passes < passes) return;
            poll.stop();
            exitFromMenu();
          });
          poll.start(1);
        }
        if (passes >= 0) ui::testing::pressKey(32);
        // The roll, the exit item inside its wait, the destroys and the end
        // all run in there; getting past 30 s of the clock in waits of
        // 10 ms means the program did not end.
        for (int i = 0; i < 3000; ++i) ui::waitPumping(10);
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "");
  store::open(model::programPath(ev.dir, model::kPersonsFile), "rymd"_t);
  for (int r = 1; r <= store::recordCount(); ++r) {
    store::goTo(r);
    EXPECT_EQ(store::readText(model::person::中奖项目()), Text()) << r;
  }
}

INSTANTIATE_TEST_SUITE_P(Moments, DrawExit, ::testing::Values(-1, 0, 3, 6));

}  // namespace
