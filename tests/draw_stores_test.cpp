// What the draw writes to the stores, through the real panel and windows:
// the redraw of one award with nested award names and several wins, failed
// redraws that leave the screen as it was, the congratulation line of a
// commit interrupted by a key press, and every multi-store operation under a
// file fault at each of its file operations.
#include <gtest/gtest.h>

#include <QTimer>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_internal.h"
#include "draw/draw_logic.h"
#include "draw/draw_state.h"
#include "draw/void_redraw.h"
#include "event_fixture.h"
#include "frame/wins.h"
#include "model/records.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "program_session.h"
#include "sqlite_direct.h"

using draw::Prompt;
using model::operator""_t;
using model::Text;
using Row = fixture::Row;
using fixture::person;

namespace {

// name, prize, per roll, winners, drawn, (picture), order, rule
Row awardRow(const Text& name, const Text& prize, double perRoll, double total, double drawn,
             long long order = 1, long long rule = 0) {
  return {name, prize, perRoll, total, drawn, model::Bytes(), order, rule};
}

// What the draw writes: each participant's wins, each award's drawn and
// winners counts.
struct Snapshot {
  std::vector<Text> won;
  std::vector<long long> drawn, winners;
  bool operator==(const Snapshot&) const = default;
};
void PrintTo(const Snapshot& s, std::ostream* os) {
  *os << "won{";
  for (const auto& w : s.won) *os << w.toUtf8() << ",";
  *os << "} drawn{";
  for (auto d : s.drawn) *os << d << ",";
  *os << "} winners{";
  for (auto d : s.winners) *os << d << ",";
  *os << "}";
}

// The same, read from the files by another connection, as a restarted
// program would find them.
Snapshot fromFiles(const std::string& dir) {
  Snapshot s;
  const auto& query = fixture::queryFile;
  query(model::programPath(dir, model::kPersonsFile), "SELECT 中奖项目 FROM records ORDER BY rowid",
        [&](sqlite3_stmt* st) {
          const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
          s.won.push_back(Text::fromUtf8(t ? t : ""));
        });
  query(model::programPath(dir, model::kAwardsFile),
        "SELECT 已抽取人数, 中奖人数 FROM records ORDER BY rowid", [&](sqlite3_stmt* st) {
          s.drawn.push_back(static_cast<long long>(sqlite3_column_double(st, 0)));
          s.winners.push_back(static_cast<long long>(sqlite3_column_double(st, 1)));
        });
  return s;
}

class DrawStores : public ::testing::Test {
 public:
  // Presses space to start, runs `during` inside the roll after `ms`, and
  // presses space to stop; returns when the commit is done.
  static void roll(int ms, const std::function<void()>& during = {}) {
    QTimer::singleShot(ms, [during] {
      if (during) during();
      ui::testing::pressKey(32);
    });
    ui::testing::pressKey(32);
  }

 protected:
  void SetUp() override {
    fixture::beginProgramTest(1280, 800);
    const Text off = model::musicDisabled();
    ev.makeSettings({"标题"_t, "副标题"_t, "祝福"_t, Text(), off, off, off, off});
    ui::setProgramFolder(ev.dir);
  }
  void TearDown() override {
    store::failNextWrites(0);
    store::failFileOperation(0);
    fixture::endProgramTest();
  }
  void startProgram() { ASSERT_TRUE(app::StartProgram(ev.makeForms(fixture::allProgramForms()))); }
  void openDraw() {
    app::OnStartMenuStartDrawClick();
    ASSERT_TRUE(draw::DrawPanel().isOpen());
  }
  void closeDraw() {
    draw::CloseDrawWindows();
    for (int i = 0; i < 1000 && draw::DrawPanel().isOpen(); ++i) ui::waitPumping(10);
    ASSERT_FALSE(draw::DrawPanel().isOpen());
  }
  static Text panel(const char* control) { return draw::DrawPanel().ctl(control).caption(); }
  static int countMessages(const Text& text) {
    int n = 0;
    for (const auto& d : ui::testing::shownDialogs())
      if (d.text == text) ++n;
    return n;
  }

  static Snapshot inMemory() {
    store::CurrentStoreKeeper keep;
    Snapshot s;
    store::select(model::aliasPersons());
    int at = store::recordNumber();
    for (int i = 1; i <= store::recordCount(); ++i) {
      store::goTo(i);
      s.won.push_back(store::readText(model::person::中奖项目()));
    }
    if (at > 0) store::goTo(at);
    store::select(model::aliasAwards());
    at = store::recordNumber();
    for (int i = 1; i <= store::recordCount(); ++i) {
      store::goTo(i);
      s.drawn.push_back(store::readInt(model::award::已抽取人数()));
      s.winners.push_back(store::readInt(model::award::中奖人数()));
    }
    if (at > 0) store::goTo(at);
    return s;
  }
  static std::vector<Text> awardNames() {
    store::CurrentStoreKeeper keep;
    std::vector<Text> names;
    store::select(model::aliasAwards());
    const int at = store::recordNumber();
    for (int i = 1; i <= store::recordCount(); ++i) {
      store::goTo(i);
      names.push_back(store::readText(model::award::奖项名称()));
    }
    if (at > 0) store::goTo(at);
    return names;
  }
  // For every award: its wins among the participants (split into whole
  // award names, each win counted) equal its drawn count.
  static void expectCountsMatchWins(const Snapshot& s, const std::vector<Text>& names) {
    for (size_t a = 0; a < names.size(); ++a) {
      long long wins = 0;
      for (const Text& w : s.won) {
        Text rest = w;
        while (auto shorter = frame::WithoutAward(rest, names[a], names)) {
          ++wins;
          rest = *shorter;
        }
      }
      EXPECT_EQ(wins, s.drawn[a]) << names[a].toUtf8();
    }
  }
  // Puts the stores back to s (one transaction).
  static void restore(const Snapshot& s) {
    store::CurrentStoreKeeper keep;
    store::Transaction tx;
    store::select(model::aliasPersons());
    for (size_t i = 0; i < s.won.size(); ++i) {
      store::goTo(static_cast<int>(i + 1));
      ASSERT_TRUE(store::write(model::person::中奖项目(), s.won[i]));
    }
    store::select(model::aliasAwards());
    for (size_t i = 0; i < s.drawn.size(); ++i) {
      store::goTo(static_cast<int>(i + 1));
      ASSERT_TRUE(store::write(model::award::已抽取人数(), s.drawn[i]));
      ASSERT_TRUE(store::write(model::award::中奖人数(), s.winners[i]));
    }
    ASSERT_TRUE(tx.commit());
  }

  fixture::TempEvent ev;
};

// --- Redrawing one award ------------------------------------------------------------

class RedrawOne : public DrawStores, public ::testing::WithParamInterface<long long> {};

TEST_P(RedrawOne, TakesEveryWinOfTheAwardAndNothingElse) {
  const long long rule = GetParam();
  // 一等奖 lies inside 特别一等奖; 0004 won 一等奖 twice (several wins).
  ev.makePersons({person("0001", "甲"_t, "一等奖"_t), person("0002", "乙"_t, "特别一等奖"_t),
                  person("0003", "丙"_t, "特别一等奖一等奖"_t),
                  person("0004", "丁"_t, "一等奖一等奖"_t), person("0005", "戊"_t)});
  // Order 0: the panel opens on the last award, 一等奖.
  ev.makeAwards({awardRow("特别一等奖"_t, "汽车"_t, 1, 2, 2, 0, rule),
                 awardRow("一等奖"_t, "电脑"_t, 2, 6, 4)});
  startProgram();
  openDraw();
  ASSERT_EQ(draw::gCurrentAwardName, std::optional<Text>("一等奖"_t));
  const std::vector<int> before = draw::gCandidates;

  draw::OnDrawPanelRedrawAwardButtonClick();  // confirmed with OK
  const Snapshot s = inMemory();
  EXPECT_EQ(s.won, (std::vector<Text>{Text(), "特别一等奖"_t, "特别一等奖"_t, Text(), Text()}));
  EXPECT_EQ(s.drawn, (std::vector<long long>{2, 0}));
  expectCountsMatchWins(s, awardNames());
  EXPECT_EQ(fromFiles(ev.dir), s);
  // Under the one-win rule those left with no win may be drawn again; under
  // the several-wins rule every participant is added once more.
  const std::vector<int> added(draw::gCandidates.begin() + before.size(), draw::gCandidates.end());
  const std::vector<int> expected =
      rule == 0 ? std::vector<int>{1, 4} : std::vector<int>{1, 2, 3, 4, 5};
  EXPECT_EQ(added, expected);
  EXPECT_EQ(panel("透明标签4"), draw::PromptText(Prompt::Ready));
}

INSTANTIATE_TEST_SUITE_P(WinRules, RedrawOne, ::testing::Values(0LL, 1LL));

TEST_F(DrawStores, FailedRedrawsChangeNeitherTheStoresNorTheScreen) {
  ev.makePersons({person("0001", "甲"_t, "一等奖"_t), person("0002", "乙"_t, "二等奖"_t),
                  person("0003", "丙"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "电脑"_t, 1, 1, 1), awardRow("二等奖"_t, "手机"_t, 1, 2, 1)});
  startProgram();
  openDraw();
  draw::NextAward();  // onto 二等奖, away from where a redraw of all would go
  ASSERT_EQ(draw::gCurrentAwardName, std::optional<Text>("二等奖"_t));
  const Snapshot before = inMemory();
  const std::vector<int> candidates = draw::gCandidates;
  const Text award = panel("透明标签2"), counts = panel("透明标签3"), prompt = panel("透明标签4");
  const bool slotShown = draw::NameSlot(1).visible(), frameShown = draw::SlotFrame(1).visible();
  const std::pair<const char*, void (*)()> redraws[] = {
      {"this award", &draw::OnDrawPanelRedrawAwardButtonClick},
      {"all awards", &draw::OnDrawPanelRedrawAllButtonClick}};
  for (const auto& [what, redraw] : redraws) {
    SCOPED_TRACE(what);
    ui::testing::clearShownDialogs();
    store::failNextWrites(1);
    redraw();
    store::failNextWrites(0);
    EXPECT_EQ(countMessages("重新抽奖的数据保存失败，原数据未改变！"_t), 1);
    EXPECT_EQ(inMemory(), before);
    EXPECT_EQ(fromFiles(ev.dir), before);
    EXPECT_EQ(draw::gCandidates, candidates);
    EXPECT_EQ(draw::gCurrentAwardName, std::optional<Text>("二等奖"_t));
    EXPECT_EQ(panel("透明标签2"), award);
    EXPECT_EQ(panel("透明标签3"), counts);
    EXPECT_EQ(panel("透明标签4"), prompt);
    EXPECT_EQ(draw::NameSlot(1).visible(), slotShown);
    EXPECT_EQ(draw::SlotFrame(1).visible(), frameShown);
  }
}

// --- The congratulation line ----------------------------------------------------------

// A space press handled inside the commit's wait moves the panel on to the
// next award; the line still names the award drawn and its own prize.
TEST_F(DrawStores, TheLineNamesTheAwardDrawnWithItsOwnPrize) {
  ev.makePersons({person("0001", "甲"_t), person("0002", "乙"_t)});
  ev.makeAwards({awardRow("一等奖"_t, "电脑"_t, 1, 1, 0), awardRow("二等奖"_t, "手机"_t, 1, 1, 0)});
  startProgram();
  openDraw();
  ASSERT_EQ(draw::gCurrentAwardName, std::optional<Text>("一等奖"_t));
  // Once the commit has stored the winner the prompt says the award is full;
  // the first wait after that is the commit's own, before the line is built.
  bool pressed = false;
  std::function<void()> poll = [&] {
    if (panel("透明标签4") == draw::PromptText(Prompt::AwardFull)) {
      pressed = true;
      ui::testing::pressKey(32);  // next award, inside the commit
      return;
    }
    QTimer::singleShot(1, poll);
  };
  roll(60, [&] { QTimer::singleShot(1, poll); });
  ASSERT_TRUE(pressed);
  EXPECT_EQ(draw::gCurrentAwardName, std::optional<Text>("二等奖"_t));
  const Text line = ui::Control("BannerWindow", "标签1").caption();
  const Text winner = draw::NameSlot(1).caption();
  EXPECT_EQ(line, "恭喜："_t + winner + "中了一等奖  奖品：电脑"_t) << line.toUtf8();
}

// --- Every file operation of every multi-store operation failing in turn ----------------

struct Operation {
  const char* name;
  // Runs the operation through its real handler; the fault is set by arm()
  // at the last moment before the operation writes.
  std::function<void(const std::function<void()>& arm)> run;
  Text failureMessage;
};

class DrawStoresSweep : public DrawStores, public ::testing::WithParamInterface<int> {
 protected:
  void makeEvent() {
    ev.makePersons({person("0001", "甲"_t, "一等奖"_t), person("0002", "乙"_t, "特别一等奖"_t),
                    person("0003", "丙"_t, "二等奖一等奖"_t), person("0004", "丁"_t),
                    person("0005", "戊"_t), person("0006", "己"_t)});
    // Order 0: the panel opens on the last award, 一等奖, which has places.
    ev.makeAwards({awardRow("特别一等奖"_t, "汽车"_t, 1, 1, 1, 0, 0),
                   awardRow("二等奖"_t, "手机"_t, 2, 3, 1),
                   awardRow("一等奖"_t, "电脑"_t, 2, 4, 2)});
  }
};

std::vector<Operation> operations() {
  auto voidOne = [](const std::function<void()>& arm) {
    ui::Window w("VoidRedrawWindow");
    if (!w.isOpen()) w.open();
    ui::Control("VoidRedrawWindow", "组合框1").setText("一等奖"_t);
    draw::OnVoidRedrawAwardComboItemChosen();
    ui::Control("VoidRedrawWindow", "超级列表框1").setSelectedIndex(0);
    draw::OnVoidRedrawWinnerListClick();
    arm();
    draw::OnVoidRedrawVoidButtonClick();
  };
  auto supplement = [](const std::function<void()>& arm) {
    ui::Window w("VoidRedrawWindow");
    if (!w.isOpen()) w.open();
    ui::Control("VoidRedrawWindow", "组合框2").setText("二等奖"_t);
    ui::Control("VoidRedrawWindow", "编辑框1").setText("2"_t);
    arm();
    draw::OnVoidRedrawSupplementButtonClick();
  };
  return {
      {"roll", [](const std::function<void()>& arm) { DrawStores::roll(40, arm); },
       draw::CommitFailedText()},
      {"redraw this award",
       [](const std::function<void()>& arm) {
         arm();
         draw::OnDrawPanelRedrawAwardButtonClick();
       },
       "重新抽奖的数据保存失败，原数据未改变！"_t},
      {"redraw all",
       [](const std::function<void()>& arm) {
         arm();
         draw::OnDrawPanelRedrawAllButtonClick();
       },
       "重新抽奖的数据保存失败，原数据未改变！"_t},
      {"void", voidOne, "废奖失败，数据没有改变！"_t},
      {"supplement", supplement, "补奖失败，数据没有改变！"_t},
  };
}

TEST_P(DrawStoresSweep, WholeOrNothingAtEveryFailingFileOperation) {
  const Operation op = operations()[GetParam()];
  SCOPED_TRACE(op.name);
  makeEvent();
  startProgram();
  const bool usesPanel = GetParam() <= 2;
  const Snapshot baseline = inMemory();
  const std::vector<Text> names = awardNames();
  expectCountsMatchWins(baseline, names);

  // One clean run: what the operation stores and how many file operations
  // it takes.
  if (usesPanel) openDraw();
  long long start = 0;
  op.run([&] { start = store::fileOperationCount(); });
  const long long count = store::fileOperationCount() - start;
  const Snapshot whole = inMemory();
  ASSERT_NE(whole, baseline);
  ASSERT_GE(count, 4);

  int failures = 0, runs = 0;
  for (store::FaultMode mode : {store::FaultMode::Before, store::FaultMode::After}) {
    for (long long n = 1; n <= count; ++n) {
      SCOPED_TRACE(testing::Message() << "operation " << n
                                      << (mode == store::FaultMode::After ? " after" : " before"));
      if (usesPanel) closeDraw();
      restore(baseline);
      if (usesPanel) openDraw();
      ui::testing::clearShownDialogs();
      op.run([&] { store::failFileOperation(n, mode); });
      store::failFileOperation(0);
      ++runs;
      const Snapshot now = inMemory();
      const bool none = now == baseline;
      if (none) ++failures;
      // The roll picks at random: its whole is any commit of the quota.
      if (GetParam() != 0) {
        EXPECT_TRUE(none || now == whole) << testing::PrintToString(now);
      } else if (!none) {
        EXPECT_EQ(now.drawn[2], baseline.drawn[2] + 2);
      }
      expectCountsMatchWins(now, names);
      EXPECT_EQ(fromFiles(ev.dir), now);
      // A failure is reported exactly when nothing was stored.
      EXPECT_EQ(countMessages(op.failureMessage), none ? 1 : 0);
    }
  }
  EXPECT_GT(failures, 0);
  // No store is left with a journal to finish, and no failed commit left
  // its super-journal behind: the data folder holds the stores alone.
  for (const auto& e : std::filesystem::directory_iterator(ev.path("data")))
    EXPECT_EQ(e.path().extension(), ".edb") << e.path();
  RecordProperty("file_operations", static_cast<int>(count));
  RecordProperty("runs", runs);
  RecordProperty("failed_and_reported", failures);
}

std::string operationName(const ::testing::TestParamInfo<int>& info) {
  const char* names[] = {"Roll", "RedrawThisAward", "RedrawAll", "Void", "Supplement"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Operations, DrawStoresSweep, ::testing::Range(0, 5), operationName);

}  // namespace
