// The awards window: the list of the award store, the form of one award
// (add, modify, delete, prize picture) and the two draw options that live in
// award record 1.
#include <string>
#include <vector>

#include "forms/names.h"
#include "frame/wins.h"
#include "maintenance/awards_window.h"
#include "maintenance/maintenance.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace maintenance {

using model::operator""_t;
using model::Text;
namespace award = model::award;
namespace person = model::person;

namespace {

const char* const kInsertHint = "  双击插入奖品图片";
const char* const kModifyHint = "  双击修改奖品图片";

// The number on the chosen item of 组合框1; 0 when none is chosen.
int ChosenQuota() {
  ui::Control quota = ui::Control(forms::AwardsWindow::组合框1);
  const int index = quota.selectedIndex();
  return index < 0 ? 0 : model::textToInt(quota.itemText(index));
}

// Reads the winner count of the form, or says why it cannot be stored.
bool FormWinnerCount(int* count) {
  if (ParseWinnerCount(ui::Control(forms::AwardsWindow::编辑框3).text(), count)) return true;
  ui::messageBox("中奖人数必须是0或正整数，奖项没有保存！"_t);
  ui::Control(forms::AwardsWindow::编辑框3).setFocus();
  return false;
}

// Whether the form's award name may be stored for award record `self` (0 for
// a new award), or says why not. A name must show something, differ from
// every other award's name (spaces do not make two names differ), and not
// be held already by a participant whose wins would then read as this award
// (wins of names run together, or left by an award deleted before deletes
// took its wins). Leaves the award store current with its cursor where it
// was.
bool FormAwardName(const Text& name, int self) {
  const Text shown = model::removeSpaces(name);
  std::vector<Text> names = frame::AwardNames();
  Text refusal;
  if (shown.empty()) refusal = "奖项名称不能为空，奖项没有保存！"_t;
  for (int i = 1; refusal.empty() && i <= static_cast<int>(names.size()); ++i)
    if (i != self && model::removeSpaces(names[i - 1]) == shown)
      refusal = "已有名为“"_t + names[i - 1] + "”的奖项，奖项名称不能重复，奖项没有保存！"_t;
  const bool renamed = self == 0 || names[self - 1] != name;
  if (refusal.empty() && renamed) {
    if (self == 0)
      names.push_back(name);
    else
      names[self - 1] = name;
    store::CurrentStoreKeeper keep;
    store::select(model::aliasPersons());
    store::goFirst();
    const int count = store::recordCount();
    for (int i = 1; refusal.empty() && i <= count; ++i, store::skip(1))
      if (frame::HoldsAward(store::readText(person::中奖项目()), name, names))
        refusal = "已有人员的中奖项目中含有“"_t + name + "”，请换一个奖项名称，奖项没有保存！"_t;
  }
  if (refusal.empty()) return true;
  ui::messageBox(refusal);
  ui::Control(forms::AwardsWindow::编辑框1).setFocus();
  return false;
}

// Renames the wins of an award in its winners' 中奖项目, so that they keep
// what they won under the award's new name. Runs inside the caller's
// transaction; leaves the award store current.
bool RenameWins(const Text& oldName, const Text& newName, const std::vector<Text>& names) {
  bool ok = true;
  store::select(model::aliasPersons());
  store::goFirst();
  const int count = store::recordCount();
  for (int i = 1; ok && i <= count; ++i, store::skip(1))
    if (auto renamed =
            frame::WithAwardRenamed(store::readText(person::中奖项目()), oldName, newName, names))
      ok = store::write(person::中奖项目(), *renamed);
  store::select(model::aliasAwards());
  return ok;
}

// The options of the draw, into the current record (record 1).
bool WriteDrawOptions() {
  const long long order = ui::Control(forms::AwardsWindow::单选框1).checked() ? 0 : 1;
  const long long rule = ui::Control(forms::AwardsWindow::选择框1).checked() ? 0 : 1;
  return store::write(award::中奖顺序(), order) && store::write(award::中奖方式(), rule);
}

// No award is current: the cursor past the last record.
void LeaveNoAwardCurrent() {
  store::goLast();
  store::skip(1);
}

}  // namespace

ui::Window AwardsWindow() { return ui::Window(forms::AwardsWindow::window); }
ui::Control AwardList() { return ui::Control(forms::AwardsWindow::超级列表框1); }

bool ParseWinnerCount(const Text& text, int* count) {
  const std::optional<int> value = model::parseWholeNumber(text);
  if (!value || *value < 0) return false;
  *count = *value;
  return true;
}

bool IsJpegPicture(const model::Bytes& bytes) {
  if (bytes.size() < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF) return false;
  return image::decode(bytes).valid();
}

void OnAwardsCreated() {
  store::select(model::aliasAwards());
  FillAwardList();
  ui::Control(forms::AwardsWindow::透明标签2).setFocus();
}

void FillAwardList() {
  ui::Control list = AwardList();
  list.removeAllRows();
  store::goFirst();
  // The options live in record 1; an empty store reads 0 for both.
  const bool smallFirst = store::readInt(award::中奖顺序()) == 0;
  ui::Control(forms::AwardsWindow::单选框1).setChecked(smallFirst);
  ui::Control(forms::AwardsWindow::单选框2).setChecked(!smallFirst);
  ui::Control(forms::AwardsWindow::选择框1).setChecked(store::readInt(award::中奖方式()) == 0);

  const int n = store::recordCount();
  for (int i = 1; i <= n; ++i) {
    const int row = list.insertRow(i - 1, store::readText(award::奖项名称()));
    list.setCell(row, 1, store::readText(award::奖品名称()));
    list.setCell(row, 2, model::numberToText(store::readDouble(award::每次名额())));
    list.setCell(row, 3, model::numberToText(store::readDouble(award::中奖人数())));
    list.setCell(row, 4, store::readBytes(award::奖品图片()).empty() ? "无图片"_t : "有图片"_t);
    store::skip(1);
  }
  ui::Control(forms::AwardsWindow::透明标签2).repaint();
}

void OnAwardsListClick() {
  const int row = AwardList().selectedIndex();
  // A click that selects no row leaves no award current, so that a following
  // "修改" or "删除" cannot act on an award the operator did not pick.
  if (row < 0) {
    LeaveNoAwardCurrent();
    return;
  }
  store::goTo(row + 1);
}

void OnAwardsListDoubleClick(int, int, int) {
  const int row = AwardList().selectedIndex();
  if (row < 0) return;  // no row: nothing to show, and no award becomes current
  store::goTo(row + 1);
  ui::Control(forms::AwardsWindow::编辑框1).setText(store::readText(award::奖项名称()));
  ui::Control(forms::AwardsWindow::编辑框2).setText(store::readText(award::奖品名称()));

  const long long quota = store::readInt(award::每次名额());
  ui::Control combo = ui::Control(forms::AwardsWindow::组合框1);
  // Items 0..4 are 1..5; past the last the runtime chooses the last ("20").
  combo.setSelectedIndex(static_cast<int>(quota - 1));
  if (quota == 10) combo.setSelectedIndex(5);
  if (quota == 20) combo.setSelectedIndex(6);

  ui::Control(forms::AwardsWindow::编辑框3)
      .setText(model::numberToText(store::readInt(award::中奖人数())));
  ui::Control(forms::AwardsWindow::图片框1).setPicture(store::readBytes(award::奖品图片()));
  ui::Control(forms::AwardsWindow::透明标签1).setCaption(Text::fromUtf8(kModifyHint));
}

void OnAwardsPictureHintDoubleClick(int, int, int) {
  ui::Control dialog = ui::Control(forms::AwardsWindow::打开文件对话框);
  dialog.setFilter("图片文件(*.jpg)|*.jpg"_t);
  dialog.setDefaultExt("jpg"_t);
  if (!dialog.showDialog()) return;
  // The draw writes the prize picture out as a .jpg file and shows it: only
  // a JPEG that decodes is taken; anything else keeps the picture shown.
  const model::Bytes bytes = image::readFile(dialog.fileName().toUtf8());
  if (!IsJpegPicture(bytes)) {
    ui::messageBox("所选文件不是有效的JPG图片，奖品图片没有改变！"_t);
    return;
  }
  ui::Control(forms::AwardsWindow::图片框1).setPicture(bytes);
}

void OnAwardsAddButtonClick() {
  const Text name = ui::Control(forms::AwardsWindow::编辑框1).text();
  if (!FormAwardName(name, 0)) return;
  int winners = 0;
  if (!FormWinnerCount(&winners)) return;
  const Text prize = ui::Control(forms::AwardsWindow::编辑框2).text();
  const double quota = ChosenQuota();
  const model::Bytes picture = ui::Control(forms::AwardsWindow::图片框1).picture();

  // The new award and the options of record 1 are one change.
  store::Transaction tx;
  bool ok =
      store::append({name, prize, quota, static_cast<long long>(winners), 0LL, picture, 0LL, 0LL});
  if (ok) store::goFirst();
  ok = ok && WriteDrawOptions() && tx.commit();
  if (!ok) {
    tx.rollback();
    ui::messageBox("奖项保存失败，数据没有改变！"_t);
    return;
  }

  ui::Control(forms::AwardsWindow::编辑框1).setText(Text());
  ui::Control(forms::AwardsWindow::编辑框2).setText(Text());
  ui::Control(forms::AwardsWindow::组合框1).setSelectedIndex(0);
  ui::Control(forms::AwardsWindow::编辑框3).setText("0"_t);
  ui::Control(forms::AwardsWindow::图片框1).setPicture(model::Bytes());
  ui::Control(forms::AwardsWindow::透明标签1).setCaption(Text::fromUtf8(kInsertHint));
  FillAwardList();
}

void OnAwardsModifyButtonClick() {
  if (store::recordNumber() == 0) {
    ui::messageBox("请先在列表中选择要修改的奖项！"_t);
    return;
  }
  const int self = store::recordNumber();
  const Text name = ui::Control(forms::AwardsWindow::编辑框1).text();
  if (!FormAwardName(name, self)) return;
  int winners = 0;
  if (!FormWinnerCount(&winners)) return;
  // The winners already drawn keep their places.
  if (winners < store::readDouble(award::已抽取人数())) {
    ui::messageBox("中奖人数不能少于已抽取人数（"_t + store::readAsText(award::已抽取人数()) +
                   "名），奖项没有修改！"_t);
    ui::Control(forms::AwardsWindow::编辑框3).setFocus();
    return;
  }
  const long long quota = ChosenQuota();
  // What the draw wrote stays as it was.
  const Text oldName = store::readText(award::奖项名称());
  const std::vector<Text> names = frame::AwardNames();
  const store::Value drawn = store::readValue(award::已抽取人数());
  const store::Value order = store::readValue(award::中奖顺序());
  const store::Value rule = store::readValue(award::中奖方式());

  // The award, its winners' wins under a new name and the options of
  // record 1 are one change.
  store::Transaction tx;
  bool ok = store::modify({name, ui::Control(forms::AwardsWindow::编辑框2).text(), quota,
                           static_cast<long long>(winners), drawn,
                           ui::Control(forms::AwardsWindow::图片框1).picture(), order, rule});
  if (ok && name != oldName) ok = RenameWins(oldName, name, names);
  if (ok) store::goFirst();
  ok = ok && WriteDrawOptions() && tx.commit();
  if (!ok) {
    tx.rollback();
    ui::messageBox("奖项修改失败，数据没有改变！"_t);
    return;
  }

  FillAwardList();
  ui::Control(forms::AwardsWindow::编辑框1).setText(Text());
  ui::Control(forms::AwardsWindow::编辑框2).setText(Text());
  ui::Control(forms::AwardsWindow::编辑框3).setText(Text());
  ui::Control(forms::AwardsWindow::组合框1).setSelectedIndex(-1);
  ui::Control(forms::AwardsWindow::打开文件对话框).setFileName(Text());
  ui::Control(forms::AwardsWindow::图片框1).setPicture(model::Bytes());
}

void OnAwardsDeleteButtonClick() {
  if (store::recordNumber() == 0) {
    ui::messageBox("请先在列表中选择要删除的奖项！"_t);
    return;
  }
  // The award's winners lose its wins with it, so that no participant keeps
  // a win that no list shows and no void can take back. They are told first.
  const Text name = store::readText(award::奖项名称());
  const std::vector<Text> names = frame::AwardNames();
  int holders = 0;
  store::select(model::aliasPersons());
  store::goFirst();
  for (int i = 1, n = store::recordCount(); i <= n; ++i, store::skip(1))
    if (frame::HoldsAward(store::readText(person::中奖项目()), name, names)) ++holders;
  store::select(model::aliasAwards());
  if (holders > 0 &&
      ui::messageBox("奖项“"_t + name + "”已有"_t +
                         model::numberToText(static_cast<long long>(holders)) +
                         "名中奖人员，删除奖项将同时取消他们的这个奖项。你确定要删除吗？"_t,
                     Text(), ui::kOkCancel) != ui::kResultOk)
    return;

  store::Transaction tx;
  bool ok = true;
  store::select(model::aliasPersons());
  store::goFirst();
  for (int i = 1, n = store::recordCount(); ok && i <= n; ++i, store::skip(1)) {
    const Text won = store::readText(person::中奖项目());
    const Text rest = frame::WithoutEveryWinOf(won, name, names);
    if (rest != won) ok = store::write(person::中奖项目(), rest);
  }
  store::select(model::aliasAwards());
  ok = ok && store::markDeleted() && store::purge() && tx.commit();
  if (!ok) {
    tx.rollback();
    ui::messageBox("奖项删除失败，数据没有改变！"_t);
  }
  FillAwardList();
}

void OnAwardsCloseButtonClick() { AwardsWindow().destroy(); }

void registerAwardsHandlers() {
  ui::registerHandler("OnAwardsCreated", &OnAwardsCreated);
  ui::registerHandler("OnAwardsListClick", &OnAwardsListClick);
  ui::registerHandler("OnAwardsListDoubleClick", &OnAwardsListDoubleClick);
  ui::registerHandler("OnAwardsPictureHintDoubleClick", &OnAwardsPictureHintDoubleClick);
  ui::registerHandler("OnAwardsAddButtonClick", &OnAwardsAddButtonClick);
  ui::registerHandler("OnAwardsModifyButtonClick", &OnAwardsModifyButtonClick);
  ui::registerHandler("OnAwardsDeleteButtonClick", &OnAwardsDeleteButtonClick);
  ui::registerHandler("OnAwardsCloseButtonClick", &OnAwardsCloseButtonClick);
}

}  // namespace maintenance
