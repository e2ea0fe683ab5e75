// Redrawing the current award or every award: drawn counts back to 0 and the
// winners back among the candidates.
#include <vector>

#include "draw/draw_internal.h"
#include "model/drawstate.h"
#include "model/records.h"
#include "platform/store.h"
#include "platform/ui.h"

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
  ui::Control button = DrawPanel().ctl("热键按钮");
  button.setEnabled(false);
  ui::messageBox("抽奖正在进行中，请停止后操作！"_t);
  button.setEnabled(true);
  SetDrawWindowsOnTop(true);
}

void hideSlotsFramesAndBanner() {
  for (int k = 1; k <= 20; ++k) NameSlot(k).setVisible(false);
  for (int k = 1; k <= 20; ++k) SlotFrame(k).setVisible(false);
  ui::Window("BannerWindow").setVisible(false);
}
}  // namespace

void OnDrawPanelRedrawAwardButtonClick() {
  SetDrawWindowsOnTop(false);
  if (ui::messageBox(confirmText(), Text(), ui::kOkCancel, ui::kSystemModal) != ui::kResultOk) {
    SetDrawWindowsOnTop(true);
    return;
  }
  if (model::gDrawStopped == 0) {
    refuseWhileRolling();
    return;
  }
  SetDrawWindowsOnTop(true);
  hideSlotsFramesAndBanner();
  ui::waitPumping(15);

  // The reset count and the returned winners are written together.
  const Text awardName = model::gCurrentAwardName.value_or(Text());
  std::vector<int> returned;
  store::Transaction tx;
  store::select(model::aliasAwards());
  bool ok = store::recordNumber() == 0 || store::write(award::已抽取人数(), 0LL);
  store::select(model::aliasPersons());
  store::goFirst();
  const int count = store::recordCount();
  for (int i = 1; i <= count && ok; ++i) {
    if (model::gWinRule == 0) {
      if (store::readText(person::中奖项目()) == awardName) {
        returned.push_back(i);
        ok = store::write(person::中奖项目(), Text());
      }
    } else {
      returned.push_back(i);
    }
    store::skip(1);
  }
  if (ok) ok = tx.commit();
  if (!ok) tx.rollback();
  store::select(model::aliasAwards());
  ShowCurrentAward();
  if (ok) {
    model::gCandidates.insert(model::gCandidates.end(), returned.begin(), returned.end());
    store::select(model::aliasPersons());
    UpdateDrawState();
  } else {
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
  if (model::gDrawStopped == 0) {
    refuseWhileRolling();
    return;
  }
  hideSlotsFramesAndBanner();
  ui::waitPumping(25);

  std::vector<int> candidates;
  store::Transaction tx;
  bool ok = true;
  store::select(model::aliasAwards());
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
  store::goFirst();
  model::gDrawOrder = static_cast<int>(store::readInt(award::中奖顺序()));
  if (model::gDrawOrder == 0)
    store::goLast();
  else
    store::goFirst();
  if (ok) model::gCandidates = std::move(candidates);
  ShowCurrentAward();
  model::gDrawStopped = 1;
  UpdateDrawState();
  if (!ok) ShowDrawMessage(redrawFailedText());
  SetDrawWindowsOnTop(true);
}

}  // namespace draw
