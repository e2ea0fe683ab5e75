// The participants window: the list of the participant store, find, clear,
// the display mode of the draw, and the doors to add, edit and generate.
#include <algorithm>
#include <cmath>
#include <map>

#include "forms/names.h"
#include "frame/wins.h"
#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "model/records.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace maintenance {

using model::operator""_t;
using model::Text;
namespace person = model::person;
namespace award = model::award;

std::int32_t gPersonnelSelection = 0;
std::int32_t gLastFoundRow = 0;

namespace {

const char* const kModeRadios[] = {"单选框1", "单选框2", "单选框3", "单选框4", "单选框5"};

}  // namespace

ui::Window ParticipantsWindow() { return ui::Window(forms::ParticipantsWindow::window); }
ui::Control PersonnelList() { return ui::Control(forms::ParticipantsWindow::超级列表框1); }

bool TakeBackWins(const std::vector<Text>& won) {
  const std::vector<Text> names = frame::AwardNames();
  std::map<Text, int> lost;
  for (const Text& w : won)
    for (const Text& a : frame::WinsOf(w, names)) ++lost[a];
  bool ok = true;
  for (const auto& [name, wins] : lost) {
    if (!ok) break;
    if (frame::FindAward(name) == 0) continue;
    const long long drawn = store::readInt(award::已抽取人数());
    ok = store::write(award::已抽取人数(), static_cast<double>(std::max(0LL, drawn - wins)));
  }
  store::select(model::aliasPersons());
  return ok;
}

Text WinsForOperator(const Text& won) {
  const std::vector<Text> wins = frame::WinsOf(won, frame::AwardNames());
  store::select(model::aliasPersons());
  if (wins.empty()) return won;
  Text joined;
  for (const Text& a : wins) joined += (joined.empty() ? Text() : "、"_t) + a;
  return joined;
}

int RadioForDisplayMode(double mode) {
  if (std::fabs(mode) <= 0.0000001) return 1;
  for (int k = 1; k <= 5; ++k)
    if (std::fabs(mode - k) <= 0.0000001) return k;
  return 0;
}

void OnParticipantsCreated() {
  ui::setFlatLook(1);
  gPersonnelSelection = -10;
  store::select(model::aliasPersons());
  store::goFirst();

  // Setting a radio box never clears another: clear the declared one first,
  // so that at most one shows selected.
  ui::Window w = ParticipantsWindow();
  w.ctl(kModeRadios[0]).setChecked(false);
  // Numbers are read whole, the fraction dropped; an empty store reads 0.
  const int radio = RadioForDisplayMode(static_cast<double>(store::readInt(person::抽奖模式())));
  if (radio > 0) w.ctl(kModeRadios[radio - 1]).setChecked(true);

  FillPersonnelList();
}

void FillPersonnelList() {
  ui::Control list = PersonnelList();
  list.removeAllRows();
  store::goFirst();
  const int n = store::recordCount();
  for (int i = 1; i <= n; ++i) {
    const int row = list.insertRow(i - 1, store::readText(person::编号()));
    list.setCell(row, 1, store::readText(person::姓名()));
    list.setCell(row, 2, store::readText(person::电话号码()));
    list.setCell(row, 3, store::readText(person::身份证号码()));
    list.setCell(row, 4, store::readText(person::备注()));
    store::skip(1);
  }
}

void OnParticipantsOkButtonClick() {
  store::goFirst();
  ui::Window w = ParticipantsWindow();
  for (int k = 1; k <= 5; ++k) {
    if (!w.ctl(kModeRadios[k - 1]).checked()) continue;
    // An empty store has no record to hold the mode: nothing to keep then.
    // A store that refused the write keeps the window open, so the choice
    // is not lost without the operator knowing.
    if (store::recordCount() > 0 && !store::write(person::抽奖模式(), static_cast<long long>(k))) {
      ui::messageBox("抽奖方式保存失败，请重试！"_t);
      return;
    }
  }
  w.destroy();
}

void OnParticipantsClearButtonClick() {
  // The winners among the records take their wins with them: the awards'
  // drawn counts come down in the same change.
  std::vector<Text> won;
  store::goFirst();
  for (int i = 1, n = store::recordCount(); i <= n; ++i, store::skip(1))
    if (Text w = store::readText(person::中奖项目()); !w.empty()) won.push_back(w);
  Text question = "数据清空后将无法恢复，你确定要清空数据吗？"_t;
  if (!won.empty())
    question =
        "数据清空后将无法恢复。其中有"_t + model::numberToText(static_cast<long long>(won.size())) +
        "名中奖人员，清空后他们的中奖记录一并删除，相应奖项的已抽取人数随之减少。你确定要清空数据吗？"_t;
  if (ui::messageBox(question, Text(), ui::kOkCancel) != ui::kResultOk) return;
  store::Transaction tx;
  const bool ok = TakeBackWins(won) && store::clear() && tx.commit();
  if (!ok) {
    tx.rollback();
    ui::messageBox("数据清空失败，数据没有改变！"_t);
  }
  FillPersonnelList();
}

void OnParticipantsFindButtonClick() {
  Text wanted;
  if (!ui::inputBox("请输入需要查找的内容"_t, "查找"_t, Text(), &wanted)) return;
  ui::Control list = PersonnelList();
  gLastFoundRow = list.findItem(wanted);
  list.selectRow(gLastFoundRow);
  list.ensureVisible(gLastFoundRow);
  list.setFocus();
}

void OnParticipantsListClick() { gPersonnelSelection = PersonnelList().selectedIndex(); }

void OnParticipantsListDoubleClick() {
  OpenPersonEditor();
  ui::Control(forms::ParticipantsWindow::透明标签1).repaint();
}

void OpenPersonEditor() {
  store::goTo(static_cast<int>(std::trunc(static_cast<double>(gPersonnelSelection) + 1.0)));
  ui::Window(forms::EditPersonWindow::window).open(true);
}

void OnParticipantsListCurrentItemChanged() {
  ui::Control(forms::ParticipantsWindow::透明标签1).repaint();
}

void OnParticipantsAddButtonClick() { ui::Window(forms::AddPersonWindow::window).open(true); }

void OnParticipantsGenerateButtonClick() {
  ui::Window(forms::GenerateEntriesWindow::window).open(true);
}

void registerParticipantsHandlers() {
  ui::registerHandler("OnParticipantsCreated", &OnParticipantsCreated);
  ui::registerHandler("OnParticipantsOkButtonClick", &OnParticipantsOkButtonClick);
  ui::registerHandler("OnParticipantsFindButtonClick", &OnParticipantsFindButtonClick);
  ui::registerHandler("OnParticipantsClearButtonClick", &OnParticipantsClearButtonClick);
  ui::registerHandler("OnParticipantsListClick", &OnParticipantsListClick);
  ui::registerHandler("OnParticipantsListDoubleClick", &OnParticipantsListDoubleClick);
  ui::registerHandler("OnParticipantsListCurrentItemChanged",
                      &OnParticipantsListCurrentItemChanged);
  ui::registerHandler("OnParticipantsAddButtonClick", &OnParticipantsAddButtonClick);
  ui::registerHandler("OnParticipantsGenerateButtonClick", &OnParticipantsGenerateButtonClick);
  ui::registerHandler("OnAddPersonAddButtonClick", &OnAddPersonAddButtonClick);
  ui::registerHandler("OnAddPersonCloseButtonClick", &OnAddPersonCloseButtonClick);
  ui::registerHandler("OnEditPersonCreated", &OnEditPersonCreated);
  ui::registerHandler("OnEditPersonPreviousButtonClick", &OnEditPersonPreviousButtonClick);
  ui::registerHandler("OnEditPersonNextButtonClick", &OnEditPersonNextButtonClick);
  ui::registerHandler("OnEditPersonModifyButtonClick", &OnEditPersonModifyButtonClick);
  ui::registerHandler("OnEditPersonDeleteButtonClick", &OnEditPersonDeleteButtonClick);
  ui::registerHandler("OnEditPersonCancelButtonClick", &OnEditPersonCancelButtonClick);
  ui::registerHandler("OnGenerateEntriesGenerateButtonClick",
                      &OnGenerateEntriesGenerateButtonClick);
  ui::registerHandler("OnGenerateEntriesCancelButtonClick", &OnGenerateEntriesCancelButtonClick);
}

}  // namespace maintenance
