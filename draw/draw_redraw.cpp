// Redrawing the current award or every award: drawn counts back to 0 and the
// winners back among the candidates.
#include <vector>

#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "forms/names.h"
#include "frame/wins.h"
#include "model/records.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace draw {

using model::operator""_t;
using model::Text;
namespace person = model::person;
namespace award = model::award;

namespace {
Text confirmText() { return "重新抽奖后原数据无法恢复，你确定要重新抽取本项奖品吗？"_t; }
Text redrawFailedText() { return "重新抽奖的数据保存失败，原数据未改变！"_t; }

// The refusal while names roll; the hidden focus button is disabled around
// it so that no key press can reach the panel meanwhile.
void refuseWhileRolling() {
  SetDrawWindowsOnTop(false);
  ui::Control button = ui::Control(forms::DrawPanelWindow::热键按钮);
  button.setEnabled(false);
  ui::messageBox("抽奖正在进行中，请停止后操作！"_t);
  button.setEnabled(true);
  SetDrawWindowsOnTop(true);
}

// What the redraw hides before it writes: shown again as it was when the
// writes fail, so that a failed redraw changes nothing on screen.
struct HiddenForRedraw {
  bool slots[20], frames[20], banner;
};

HiddenForRedraw hideSlotsFramesAndBanner() {
  HiddenForRedraw was{};
  for (int k = 1; k <= 20; ++k) was.slots[k - 1] = NameSlot(k).visible();
  for (int k = 1; k <= 20; ++k) was.frames[k - 1] = SlotFrame(k).visible();
  was.banner = ui::Window(forms::BannerWindow::window).visible();
  for (int k = 1; k <= 20; ++k) NameSlot(k).setVisible(false);
  for (int k = 1; k <= 20; ++k) SlotFrame(k).setVisible(false);
  ui::Window(forms::BannerWindow::window).setVisible(false);
  return was;
}

void showAgain(const HiddenForRedraw& was) {
  for (int k = 1; k <= 20; ++k) NameSlot(k).setVisible(was.slots[k - 1]);
  for (int k = 1; k <= 20; ++k) SlotFrame(k).setVisible(was.frames[k - 1]);
  ui::Window(forms::BannerWindow::window).setVisible(was.banner);
}

}  // namespace

void OnDrawPanelRedrawAwardButtonClick() {
  SetDrawWindowsOnTop(false);
  if (ui::messageBox(confirmText(), Text(), ui::kOkCancel, ui::kSystemModal) != ui::kResultOk) {
    SetDrawWindowsOnTop(true);
    return;
  }
  if (draw::gDrawStopped == 0) {
    refuseWhileRolling();
    return;
  }
  SetDrawWindowsOnTop(true);
  const HiddenForRedraw was = hideSlotsFramesAndBanner();
  ui::waitPumping(15);

  // The reset count and the winners' release are written together. Every
  // win of this award is taken out of its holders' wins, split into whole
  // award names, so that an award whose name contains this one keeps its
  // winners, and so does every other award a holder won.
  const Text awardName = draw::gCurrentAwardName.value_or(Text());
  const std::vector<Text> awards = frame::AwardNames();
  std::vector<int> returned;
  store::Transaction tx;
  store::select(model::aliasAwards());
  bool ok = store::recordNumber() == 0 || store::write(award::已抽取人数(), 0LL);
  store::select(model::aliasPersons());
  store::goFirst();
  const int count = store::recordCount();
  for (int i = 1; i <= count && ok; ++i) {
    const Text won = store::readText(person::中奖项目());
    const Text rest = frame::WithoutEveryWinOf(won, awardName, awards);
    if (rest != won) ok = store::write(person::中奖项目(), rest);
    // Under the one-win rule only those left with no win may be drawn again;
    // under the several-wins rule everyone may.
    if (draw::gWinRule != 0 || (rest != won && rest.empty())) returned.push_back(i);
    store::skip(1);
  }
  if (ok) ok = tx.commit();
  if (!ok) tx.rollback();
  store::select(model::aliasAwards());
  if (ok) {
    ShowCurrentAward();
    draw::gCandidates.insert(draw::gCandidates.end(), returned.begin(), returned.end());
    store::select(model::aliasPersons());
    UpdateDrawState();
  } else {
    showAgain(was);
    ShowDrawMessage(redrawFailedText());
  }
  SetDrawWindowsOnTop(true);
}

void OnDrawPanelRedrawAllButtonClick() {
  SetDrawWindowsOnTop(false);
  if (ui::messageBox(confirmText(), Text(), ui::kOkCancel) != ui::kResultOk) {
    SetDrawWindowsOnTop(true);
    return;
  }
  if (draw::gDrawStopped == 0) {
    refuseWhileRolling();
    return;
  }
  const HiddenForRedraw was = hideSlotsFramesAndBanner();
  ui::waitPumping(25);

  std::vector<int> candidates;
  store::Transaction tx;
  bool ok = true;
  store::select(model::aliasAwards());
  const int shownAward = store::recordNumber();
  store::goFirst();
  const int awards = store::recordCount();
  for (int i = 1; i <= awards && ok; ++i) {
    ok = store::write(award::已抽取人数(), 0LL);
    store::skip(1);
  }
  store::select(model::aliasPersons());
  store::goFirst();
  const int persons = store::recordCount();
  candidates.reserve(persons);
  for (int i = 1; i <= persons && ok; ++i) {
    ok = store::write(person::中奖项目(), Text());
    candidates.push_back(i);
    store::skip(1);
  }
  if (ok) ok = tx.commit();
  if (!ok) tx.rollback();

  store::select(model::aliasAwards());
  if (!ok) {
    // Nothing was reset: the panel stays on its award with its prompt.
    if (shownAward > 0) store::goTo(shownAward);
    showAgain(was);
    ShowDrawMessage(redrawFailedText());
    SetDrawWindowsOnTop(true);
    return;
  }
  store::goFirst();
  draw::gDrawOrder = static_cast<int>(store::readInt(award::中奖顺序()));
  if (draw::gDrawOrder == 0)
    store::goLast();
  else
    store::goFirst();
  draw::gCandidates = std::move(candidates);
  ShowCurrentAward();
  draw::gDrawStopped = 1;
  UpdateDrawState();
  SetDrawWindowsOnTop(true);
}

}  // namespace draw
