// The void and supplement window. Voiding takes one award back from a winner
// who cannot accept it, so that a replacement can be drawn; supplementing
// raises the number of winners an award is to have. Everything changed goes
// to the stores, where the draw picks it up the next time it reads them.
#include "draw/void_redraw.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "draw/draw.h"
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

int gVoidSelection = 0;

namespace {

// When the winner list last lost the focus with a winner selected; the
// selection is forgotten once a second has passed since then.
bool gVoidFocusLost = false;
std::uint32_t gVoidFocusLostTick = 0;
constexpr std::uint32_t kVoidSelectionKeptMs = 1000;

ui::Control voidAwardCombo() { return ui::Control(forms::VoidRedrawWindow::组合框1); }
ui::Control winnerList() { return ui::Control(forms::VoidRedrawWindow::超级列表框1); }
ui::Control recordList() { return ui::Control(forms::VoidRedrawWindow::超级列表框2); }

Text noSelectionText() { return "你还没选择要删除的中奖人员呢！"_t; }
Text confirmVoidText() { return "你确定要作废该奖品吗？"_t; }
Text supplementDoneText() { return "补奖成功！"_t; }
Text unknownVoidAwardText() { return "奖项名称不是已有的奖项，请从列表中选择要废奖的奖项！"_t; }
Text notAWinnerText() { return "所选人员没有中这个奖项，请重新选择中奖人员！"_t; }
Text voidFailedText() { return "废奖失败，数据没有改变！"_t; }
Text unknownSupplementAwardText() {
  return "奖项名称不是已有的奖项，请从列表中选择要补奖的奖项！"_t;
}
Text badSupplementCountText() { return "补奖人数必须是大于0的整数，请重新输入！"_t; }
Text supplementFailedText() { return "补奖失败，数据没有改变！"_t; }

}  // namespace

std::optional<int> ParseSupplementCount(const Text& typed) {
  const std::optional<int> value = model::parseWholeNumber(typed);
  if (!value || *value < 1) return std::nullopt;
  return value;
}

void OnVoidRedrawCreated() {
  gVoidSelection = 0;
  gVoidFocusLost = false;
  store::select(model::aliasAwards());
  store::goFirst();
  const int count = store::recordCount();
  for (int i = 1; i <= count; ++i) {
    voidAwardCombo().addItem(store::readText(award::奖项名称()));
    ui::Control(forms::VoidRedrawWindow::组合框2).addItem(store::readText(award::奖项名称()));
    store::skip(1);
  }
  // Adding the first item chooses it: no award is chosen until the operator
  // picks one.
  for (ui::Control combo : {voidAwardCombo(), ui::Control(forms::VoidRedrawWindow::组合框2)}) {
    combo.setSelectedIndex(-1);
    combo.setText(Text());
  }
}

void OnVoidRedrawAwardComboItemChosen() { ListWinnersOfAward(); }

void ListWinnersOfAward() {
  const Text chosen = voidAwardCombo().text();
  const std::vector<Text> awards = frame::AwardNames();
  store::select(model::aliasPersons());
  store::goFirst();
  winnerList().removeAllRows();
  recordList().removeAllRows();
  // The rows are new: a selection made in the old ones no longer names anyone.
  gVoidSelection = 0;
  gVoidFocusLost = false;
  const int count = store::recordCount();
  for (int n = 1; n <= count; ++n) {
    if (frame::HoldsAward(store::readText(person::中奖项目()), chosen, awards)) {
      const int row = winnerList().insertRow(n - 1, store::readText(person::编号()));
      recordList().insertRow(n - 1, model::numberToText(static_cast<long long>(n)));
      winnerList().setCell(row, 1, store::readText(person::姓名()));
      winnerList().setCell(row, 2, store::readAsText(person::电话号码()));
      winnerList().setCell(row, 3, store::readAsText(person::身份证号码()));
    }
    store::skip(1);
  }
}

int VoidSelection() {
  if (gVoidFocusLost && ui::tickCount() - gVoidFocusLostTick >= kVoidSelectionKeptMs) {
    gVoidSelection = 0;
    gVoidFocusLost = false;
  }
  return gVoidSelection;
}

void OnVoidRedrawWinnerListClick() {
  store::select(model::aliasPersons());
  const int row = winnerList().selectedIndex();
  const Text record = row >= 0 ? recordList().cell(row, 0) : Text();
  store::goTo(model::textToInt(record));
  gVoidSelection = row + 1;
  gVoidFocusLost = false;
}

void OnVoidRedrawWinnerListFocusLost() {
  // The void button takes the focus before its click arrives, so the
  // selection must outlive the loss of focus for a moment. The handler only
  // notes the time: waiting here would hold back the very press that moved
  // the focus, and the button would never see its click.
  VoidSelection();
  gVoidFocusLost = true;
  gVoidFocusLostTick = ui::tickCount();
}

void OnVoidRedrawVoidButtonClick() {
  if (VoidSelection() == 0) {
    ui::messageBox(noSelectionText());
    return;
  }
  if (ui::messageBox(confirmVoidText(), Text(), ui::kOkCancel) != ui::kResultOk) return;

  const int row = gVoidSelection - 1;
  const int record =
      row < recordList().rowCount() ? model::textToInt(recordList().cell(row, 0)) : 0;
  if (record <= 0) {
    ui::messageBox(noSelectionText());
    return;
  }
  const Text awardName = voidAwardCombo().text();
  const std::vector<Text> awards = frame::AwardNames();
  const int awardRecord = frame::FindAward(awardName);
  if (awardRecord == 0) {
    ui::messageBox(unknownVoidAwardText());
    return;
  }
  store::select(model::aliasPersons());
  store::goTo(record);
  const std::optional<Text> rest =
      frame::WithoutAward(store::readText(person::中奖项目()), awardName, awards);
  if (!rest) {
    ui::messageBox(notAWinnerText());
    return;
  }

  // The award's drawn count and the participant's wins change together; the
  // count never drops below 0.
  store::Transaction tx;
  store::select(model::aliasAwards());
  store::goTo(awardRecord);
  const long long drawn = store::readInt(award::已抽取人数());
  bool ok = store::write(award::已抽取人数(), static_cast<double>(std::max(0LL, drawn - 1)));
  store::select(model::aliasPersons());
  store::goTo(record);
  ok = ok && store::write(person::中奖项目(), *rest);
  ok = ok && tx.commit();
  if (!ok) tx.rollback();

  ListWinnersOfAward();
  if (!ok) ui::messageBox(voidFailedText());
}

void OnVoidRedrawSupplementButtonClick() {
  const int awardRecord = frame::FindAward(ui::Control(forms::VoidRedrawWindow::组合框2).text());
  if (awardRecord == 0) {
    ui::messageBox(unknownSupplementAwardText());
    return;
  }
  const std::optional<int> added =
      ParseSupplementCount(ui::Control(forms::VoidRedrawWindow::编辑框1).text());
  if (!added) {
    ui::messageBox(badSupplementCountText());
    return;
  }
  store::Transaction tx;
  store::select(model::aliasAwards());
  store::goTo(awardRecord);
  const long long winners = store::readInt(award::中奖人数());
  bool ok = store::write(award::中奖人数(), static_cast<double>(winners + *added));
  ok = ok && tx.commit();
  if (!ok) tx.rollback();
  ui::messageBox(ok ? supplementDoneText() : supplementFailedText());
}

void OnVoidRedrawCloseButtonClick() { ui::Window(forms::VoidRedrawWindow::window).destroy(); }

}  // namespace draw
