// Adding participants one after another, and editing the participant under
// the store cursor with previous and next. Both windows act on the current
// store (the participant store while the participants window is open) and
// show only the five typed fields: 抽奖模式, 中奖项目 and 图片文件 are never
// written here.
#include <string>
#include <vector>

#include "forms/names.h"
#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "model/records.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace maintenance {

using model::operator""_t;
using model::Text;
namespace person = model::person;

namespace {

// The five boxes 编辑框1 … 编辑框5 of the adding or the editing window: the
// two have the same boxes.
using Boxes = ui::ControlName (*)(int k);

ui::Control Box(Boxes boxes, int k) { return ui::Control(boxes(k)); }

// The five box texts, as typed (no trimming).
std::vector<store::Value> BoxValues(Boxes boxes) {
  std::vector<store::Value> values;
  for (int k = 1; k <= 5; ++k) values.emplace_back(Box(boxes, k).text());
  return values;
}

// A box of spaces is not empty; only the empty text is.
bool AnyBoxFilled(Boxes boxes) {
  for (int k = 1; k <= 5; ++k)
    if (!Box(boxes, k).text().empty()) return true;
  return false;
}

// The current record's five fields into the editor's boxes; a store without
// a current record gives empty boxes.
void ShowCurrentPerson() {
  const Text fields[] = {person::编号(), person::姓名(), person::电话号码(), person::身份证号码(),
                         person::备注()};
  for (int k = 1; k <= 5; ++k)
    Box(forms::EditPersonWindow::编辑框At, k).setText(store::readText(fields[k - 1]));
}

// Deletes the current record; the mark, the purge and the move of the
// display mode are one change, so a failure leaves the store as it was.
// A winner's wins go with the record, and the counts of the awards they were
// drawn for come down in the same change.
bool DeleteCurrentPerson() {
  const int n = store::recordNumber();
  const Text won = store::readText(person::中奖项目());
  store::Transaction change;
  const store::Value mode = store::readValue(person::抽奖模式());
  bool ok = (won.empty() || TakeBackWins({won})) && store::markDeleted() && store::purge();
  // Record 1 holds the draw's display mode: when it goes, the record that
  // takes its place takes the mode with it.
  if (ok && n == 1 && store::recordCount() > 0) {
    store::goFirst();
    ok = store::write(person::抽奖模式(), mode);
  }
  if (!ok) {
    change.rollback();
    return false;
  }
  return change.commit();
}

}  // namespace

void OnAddPersonAddButtonClick() {
  if (AnyBoxFilled(forms::AddPersonWindow::编辑框At)) {
    std::vector<store::Value> values = BoxValues(forms::AddPersonWindow::编辑框At);
    values.emplace_back(0LL);     // 抽奖模式
    values.emplace_back(Text());  // 中奖项目; 图片文件 stays empty
    if (!store::append(values)) {
      // The typed participant stays in the boxes for another try.
      ui::messageBox("增加失败，数据没有保存！"_t);
      FillPersonnelList();
      return;
    }
  }
  for (int k = 1; k <= 5; ++k) Box(forms::AddPersonWindow::编辑框At, k).setText(Text());
  FillPersonnelList();
}

void OnAddPersonCloseButtonClick() { ui::Window(forms::AddPersonWindow::window).destroy(); }

void OnEditPersonCreated() { ShowCurrentPerson(); }

void OnEditPersonPreviousButtonClick() {
  store::skip(-1);
  if (store::bof()) {
    store::goFirst();
    ui::messageBox("已经是第一个人员了！"_t);
    return;
  }
  ShowCurrentPerson();
}

void OnEditPersonNextButtonClick() {
  store::skip(1);
  if (store::eof()) {
    store::goLast();
    ui::messageBox("已经是最后一个人员了！"_t);
    return;
  }
  ShowCurrentPerson();
}

void OnEditPersonModifyButtonClick() {
  const int n = store::recordNumber();
  if (AnyBoxFilled(forms::EditPersonWindow::编辑框At)) {
    // Only the five shown fields are replaced: the draw's 抽奖模式 and
    // 中奖项目 and the imported 图片文件 behind them keep their values.
    if (n == 0)
      ui::messageBox("没有可修改的人员！"_t);
    else if (!store::modify(BoxValues(forms::EditPersonWindow::编辑框At)))
      ui::messageBox("修改失败，数据没有保存！"_t);
  }
  FillPersonnelList();
  store::goTo(n);
}

void OnEditPersonDeleteButtonClick() {
  const int n = store::recordNumber();
  // A winner is deleted only when the operator agrees to take the wins too.
  if (const Text won = store::readText(person::中奖项目()); n > 0 && !won.empty()) {
    const Text question =
        "该人员已中奖（"_t + WinsForOperator(won) +
        "），删除后其中奖记录一并删除，相应奖项的已抽取人数随之减少。你确定要删除吗？"_t;
    if (ui::messageBox(question, Text(), ui::kOkCancel) != ui::kResultOk) return;
  }
  if (n > 0 && !DeleteCurrentPerson()) ui::messageBox("删除失败，数据没有改变！"_t);
  FillPersonnelList();
  if (n <= store::recordCount())
    store::goTo(n);
  else
    store::goLast();
  ShowCurrentPerson();
}

void OnEditPersonCancelButtonClick() {
  ui::Control(forms::ParticipantsWindow::透明标签1).repaint();
  ui::Window(forms::EditPersonWindow::window).destroy();
}

}  // namespace maintenance
