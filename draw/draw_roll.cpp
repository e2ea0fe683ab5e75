// One roll from start to commit, the stop, the next award, closing the draw
// windows, and the scrolling congratulation line.
#include <algorithm>
#include <atomic>
#include <string>

#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "forms/names.h"
#include "frame/frame.h"
#include "model/random.h"
#include "model/records.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace draw {

using model::operator""_t;
using model::Text;
namespace person = model::person;
namespace award = model::award;

namespace {
// True from the start of a roll's set-up until its commit has finished, so
// that a start request arriving inside the roll's waits is ignored.
bool gRollInProgress = false;
RollTiming gTiming;
// Scrollers of the congratulation line still inside their loop.
std::atomic<int> gBannerScrollers{0};
// The screen width the scrollers put the line back to.
std::atomic<int> gScrollScreenWidth{0};

struct RollScope {
  RollScope() { gRollInProgress = true; }
  ~RollScope() { gRollInProgress = false; }
};

// Waits, processing messages, until no earlier scroller is left (bounded, so
// that a scroller stuck in a step cannot hold the draw).
void waitForScrollers(const std::atomic<int>& running) {
  for (int waited = 0; running.load() > 0 && waited < 500; waited += 5) ui::waitPumping(5);
}
}  // namespace

bool RollInProgress() { return gRollInProgress; }
RollTiming LastRollTiming() { return gTiming; }
int BannerScrollersRunning() { return gBannerScrollers.load(); }
Text CommitFailedText() { return "中奖结果保存失败，本轮抽奖未记录，请重新抽奖！"_t; }

Text MakeDisplayText() {
  PersonFields p;
  p.number = store::readText(person::编号());
  p.name = store::readText(person::姓名());
  p.phone = store::readText(person::电话号码());
  p.id = store::readText(person::身份证号码());
  return SlotDisplayText(draw::gDisplayMode, p);
}

void StartDraw() {
  // A start while a roll runs (the start button during the rolling wait)
  // must not begin a second roll inside the first one.
  if (gRollInProgress) return;
  RollScope scope;
  SlotPicks picks{};
  if (!SetUpRoll(picks)) return;
  if (!RunRoll(picks)) return;
  CommitRoll(picks);
}

bool SetUpRoll(SlotPicks& picks) {
  picks.fill(0);
  draw::gDrawStopped = 1;
  if (UpdateDrawState() != 0) return false;
  for (int k = 1; k <= 20; ++k) NameSlot(k).setVisible(false);
  for (int k = 1; k <= 20; ++k) SlotFrame(k).setVisible(false);

  BuildCandidateList();
  // Judged again on the fresh candidates: nobody may be left to draw, and
  // the quota never asks for more names than there are.
  if (UpdateDrawState() != 0) return false;
  PlayMusicSetting(model::settings::开始抽奖音乐(), model::kStartMusicFolder, -1);

  const int quota = LayoutQuotaFor(draw::gDrawQuota);
  const SlotLayout* layout = SlotLayoutFor(quota);
  ui::Window backdrop = DrawBackdrop();
  ui::Control picture(forms::DrawPanelWindow::图片框1);
  FrameGeometry g;
  g.band21Height = ui::Control(forms::DrawBackdropWindow::分组框21).height();
  g.band22Top = ui::Control(forms::DrawBackdropWindow::分组框22).top();
  g.backdropWidth = backdrop.width();
  g.frame1Left = SlotFrame(1).left();
  g.pictureLeft = picture.left();
  g.pictureWidth = picture.width();
  const std::vector<Rect> frames = LayOutFrames(quota, g);
  for (int k = 1; k <= static_cast<int>(frames.size()); ++k) {
    ui::Control f = SlotFrame(k);
    f.setHeight(frames[k - 1].height);
    f.setVisible(true);
    f.setTop(frames[k - 1].top);
    f.setWidth(frames[k - 1].width);
  }
  if (layout && layout->twoColumns)
    for (int k = 1; k <= static_cast<int>(frames.size()); ++k)
      SlotFrame(k).setLeft(frames[k - 1].left);
  for (int k = 1; k <= static_cast<int>(frames.size()); ++k) {
    ui::Control s = NameSlot(k);
    s.setCaption(Text());
    s.setTop(SlotFrame(k).top());
    s.setVisible(true);
    s.setHeight(SlotFrame(k).height());
    s.setFontPoints(layout->fontPoints);
    draw::gSlotCharWidth = layout->charWidth;
  }

  draw::gDrawStopped = 0;
  UpdateDrawState();
  store::select(model::aliasPersons());
  return true;
}

void RollOnePass(SlotPicks& picks) {
  const int n = static_cast<int>(draw::gCandidates.size());
  if (n == 0) return;
  const int quota = LayoutQuotaFor(draw::gDrawQuota);
  for (int k = 1; k <= quota; ++k) {
    if (k >= 2 && n < k) break;
    int p = model::randomBetween(1, n);
    while (std::find(picks.begin(), picks.begin() + (k - 1), p) != picks.begin() + (k - 1))
      p = model::randomBetween(1, n);
    picks[k - 1] = p;
    store::goTo(draw::gCandidates[p - 1]);
    ui::Control slot = NameSlot(k);
    slot.setCaption(MakeDisplayText());
    ui::Control frame = SlotFrame(k);
    slot.setWidth(SlotLabelWidth(slot.caption().length(), draw::gSlotCharWidth, frame.width()));
    slot.setLeft(CentredLeft(frame.left(), frame.width(), slot.width()));
  }
}

bool RunRoll(SlotPicks& picks) {
  model::seedRandom(ui::tickCount());
  gTiming = RollTiming();
  ui::Window panel = DrawPanel();
  for (;;) {
    if (draw::gDrawStopped != 0) return true;
    // The panel closed under the roll (the program is ending): nobody saw
    // the names, so nothing is committed.
    if (!panel.isOpen() || frame::ProgramEnding()) {
      draw::gDrawStopped = 1;
      return false;
    }
    const std::uint32_t now = ui::tickCount();
    if (gTiming.passes == 0) gTiming.firstPassTick = now;
    gTiming.lastPassTick = now;
    ++gTiming.passes;
    RollOnePass(picks);
    ui::waitPumping(50);
  }
}

void SortPickedDescending() { SortDescending(draw::gPickedPositions); }

bool StoreWinners(const SlotPicks& picks) {
  const Text awardName = draw::gCurrentAwardName.value_or(Text());
  store::Transaction tx;
  bool ok = true;
  int winners = 0;
  store::select(model::aliasPersons());
  for (int k = 1; k <= 20 && ok; ++k) {
    if (picks[k - 1] == 0) continue;
    ++winners;
    store::goTo(draw::gCandidates[picks[k - 1] - 1]);
    ok = store::write(person::中奖项目(), store::readText(person::中奖项目()) + awardName);
  }
  store::select(model::aliasAwards());
  if (ok) ok = store::write(award::已抽取人数(), store::readDouble(award::已抽取人数()) + winners);
  if (ok) ok = tx.commit();
  if (!ok) tx.rollback();
  return ok;
}

bool CommitRoll(const SlotPicks& picks) {
  // The line names the winners, the award and the prize as they stand now:
  // a key press handled inside the wait below may already show the next
  // award or roll new names.
  const Text awardName = draw::gCurrentAwardName.value_or(Text());
  const Text prizeLine = ui::Control(forms::DrawPanelWindow::透明标签1).caption();
  int shown = 0;
  for (int k = 1; k <= 20; ++k)
    if (picks[k - 1] != 0) shown = k;
  std::vector<Text> names;
  for (int k = 1; k <= shown; ++k) names.push_back(NameSlot(k).caption());

  // Winners and their count go to the stores together or not at all.
  if (shown > 0 && !StoreWinners(picks)) {
    for (int k = 1; k <= shown; ++k) NameSlot(k).setCaption(Text());
    UpdateDrawState();
    ShowDrawMessage(CommitFailedText());
    return false;
  }

  draw::gPickedPositions.assign(picks.begin(), picks.end());
  SortPickedDescending();
  store::select(model::aliasAwards());
  for (int p : draw::gPickedPositions)
    if (p > 0) draw::gCandidates.erase(draw::gCandidates.begin() + (p - 1));
  UpdateDrawState();
  if (shown == 0) return true;

  frame::gBannerScrolling = 0;
  ui::waitPumping(20);
  waitForScrollers(gBannerScrollers);
  const Text line = CongratulationText(names, awardName, prizeLine);
  ui::Control label(forms::BannerWindow::标签1);
  label.setCaption(line);
  label.setWidth(16 * label.caption().length());
  gScrollScreenWidth = ui::screenWidth();
  label.setLeft(ui::screenWidth());
  ui::Window(forms::BannerWindow::window).setVisible(true);
  frame::gBannerScrolling = 1;
  ui::startThread(&BannerThreadMain);
  ShowCurrentAward();
  return true;
}

void StopDraw() {
  if (draw::gDrawStopped != 0) return;
  PlayMusicSetting(model::settings::停止抽奖音乐(), model::kStopMusicFolder, 1);
  draw::gDrawStopped = 1;
  store::select(model::aliasPersons());
  ui::waitPumping(15);
}

void NextAward() {
  if (draw::gDrawStopped == 0) {
    ShowDrawMessage("抽奖正在进行中，请停止后操作！"_t);
    return;
  }
  for (int k = 1; k <= 20; ++k) SlotFrame(k).setVisible(false);
  for (int k = 1; k <= 20; ++k) NameSlot(k).setVisible(false);
  ui::waitPumping(25);
  store::select(model::aliasAwards());
  store::skip(draw::gDrawOrder == 0 ? -1 : 1);
  if (store::bof()) store::goTo(store::recordCount());
  if (store::eof()) store::goTo(1);
  ShowCurrentAward();
}

void CloseDrawWindows() {
  if (draw::gDrawStopped == 0) return;
  ui::Window(forms::BannerWindow::window).setVisible(false);
  DrawBackdrop().destroy();
  DrawPanel().destroy();
}

void ScrollBanner() {
  ui::Control label(forms::BannerWindow::标签1);
  while (frame::gBannerScrolling != 0) {
    label.setLeft(label.left() - 1);
    ui::plainSleep(15);
    if (label.left() + label.width() < 0) {
      // The banner window spans the screen when no commit has said more.
      int width = gScrollScreenWidth.load();
      if (width <= 0) width = ui::Window(forms::BannerWindow::window).width();
      label.setLeft(width);
    }
  }
}

void BannerThreadMain() {
  ++gBannerScrollers;
  ScrollBanner();
  --gBannerScrollers;
}

}  // namespace draw
