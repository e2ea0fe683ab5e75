// Numbered entries for draws by ticket or seat number: one participant per
// number of a range, whose 编号 is prefix + number (optionally zero-padded)
// + suffix.
#include <algorithm>
#include <string>

#include "forms/names.h"
#include "maintenance/maintenance.h"
#include "maintenance/participants_internal.h"
#include "model/records.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace maintenance {

using model::operator""_t;
using model::Text;

namespace {

Text NumberText(long long n) { return model::numberToText(n); }

}  // namespace

Text EntryCode(const Text& prefix, long long n, bool fixedWidth, int width, const Text& suffix) {
  Text code = NumberText(n);
  if (fixedWidth) code = model::rightText("00000000"_t + code, width);
  return prefix + code + suffix;
}

bool EndsInExcludedDigit(long long n, const bool (&excluded)[10]) {
  const Text t = NumberText(n);
  const int last = t.byteAt(t.length() - 1) - '0';
  return last >= 0 && last <= 9 && excluded[last];
}

void OnGenerateEntriesGenerateButtonClick() {
  const long long end = model::textToInt(ui::Control(forms::GenerateEntriesWindow::编辑框2).text());
  const long long start =
      model::textToInt(ui::Control(forms::GenerateEntriesWindow::编辑框1).text());
  // A range the operator cannot have meant is refused with the window left
  // open, so the values can be put right; nothing is appended.
  if (end < start) {
    ui::messageBox("结束数值不能小于起始数值！"_t);
    return;
  }
  const long long count = end - start + 1;
  if (count > kMaxGeneratedEntries) {
    ui::messageBox("一次最多生成"_t + NumberText(kMaxGeneratedEntries) +
                   "个编号，请缩小数值范围！"_t);
    return;
  }
  const bool fixedWidth = ui::Control(forms::GenerateEntriesWindow::选择框1).checked();
  const int width =
      fixedWidth ? model::textToInt(ui::Control(forms::GenerateEntriesWindow::编辑框5).text()) : 0;
  // Padding only adds zeros: a width that would cut digits off would give
  // several entries the same number (or none at all).
  if (fixedWidth && width < std::max(NumberText(start).length(), NumberText(end).length())) {
    ui::messageBox("固定位数不能少于数值的位数！"_t);
    return;
  }

  // The highlighted digit and every ticked digit are left out.
  ui::Control digits = ui::Control(forms::GenerateEntriesWindow::选择列表框1);
  bool excluded[10] = {};
  const int current = digits.selectedIndex();
  if (current >= 0 && current <= 9) excluded[current] = true;
  for (int d = 0; d <= 9; ++d)
    if (digits.itemChecked(d)) excluded[d] = true;

  const Text prefix = ui::Control(forms::GenerateEntriesWindow::编辑框3).text();
  const Text suffix = ui::Control(forms::GenerateEntriesWindow::编辑框4).text();

  // All entries or none: a store that refuses one write keeps none of them.
  bool ok = true;
  {
    store::Transaction change;
    for (long long n = start; ok && n <= end; ++n) {
      if (EndsInExcludedDigit(n, excluded)) continue;
      ok = store::append({EntryCode(prefix, n, fixedWidth, width, suffix)});
    }
    if (ok)
      ok = change.commit();
    else
      change.rollback();
  }
  FillPersonnelList();
  if (!ok) {
    ui::messageBox("生成失败，没有生成任何数据！"_t);
    return;
  }
  ui::Window(forms::GenerateEntriesWindow::window).destroy();
}

void OnGenerateEntriesCancelButtonClick() {
  ui::Window(forms::GenerateEntriesWindow::window).destroy();
}

}  // namespace maintenance
