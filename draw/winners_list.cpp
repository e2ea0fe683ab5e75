// The winners list: every award with its winners, scrolling endlessly, and
// its export as a GBK text file.
#include <atomic>
#include <cmath>
#include <vector>

#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "forms/names.h"
#include "frame/frame.h"
#include "model/records.h"
#include "platform/base/files.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace draw {

using model::operator""_t;
using model::Text;
namespace person = model::person;
namespace award = model::award;

namespace {
ui::Window winnersList() { return ui::Window(forms::WinnersListWindow::window); }
std::atomic<int> gListScrollers{0};
}  // namespace

int ListScrollersRunning() { return gListScrollers.load(); }

void ShowWinnersList() {
  ui::Window backdrop = DrawBackdrop();
  ui::Window panel = DrawPanel();
  if (backdrop.isOpen() && panel.isOpen() && draw::gDrawFinished == 0) {
    if (draw::gDrawStopped == 0) {
      ShowDrawMessage("抽奖时候不能进行该操作！"_t);
      return;
    }
    // The draw windows close for the list; their closing must not put the
    // start screen (greeting, idle music) back over the list.
    draw::gDrawFinished = 1;
    backdrop.destroy();
    panel.destroy();
  }
  ui::Control(forms::StartWindow::祝福词).setVisible(false);
  ui::Window list = winnersList();
  list.open();
  list.setVisible(true);
}

Text BuildWinnersText() {
  std::vector<AwardHeading> awards;
  store::select(model::aliasAwards());
  store::goFirst();
  const int awardCount = store::recordCount();
  for (int i = 1; i <= awardCount; ++i) {
    awards.push_back({store::readText(award::奖项名称()), store::readText(award::奖品名称())});
    store::skip(1);
  }
  store::select(model::aliasPersons());
  store::goFirst();
  const int mode = static_cast<int>(store::readInt(person::抽奖模式()));
  const int personCount = store::recordCount();
  std::vector<Text> prizes;
  prizes.reserve(personCount);
  for (int i = 1; i <= personCount; ++i) {
    prizes.push_back(store::readText(person::中奖项目()));
    store::skip(1);
  }
  Text text = BuildWinnersTextFrom(awards, prizes, [mode](int record) {
    store::goTo(record);
    PersonFields p;
    p.number = store::readText(person::编号());
    p.name = store::readText(person::姓名());
    p.phone = store::readText(person::电话号码());
    p.id = store::readText(person::身份证号码());
    return WinnersLineText(mode, p);
  });
  // Both cursors end past their last records, as after a full scan.
  store::goLast();
  store::skip(1);
  store::select(model::aliasAwards());
  store::goLast();
  store::skip(1);
  return text;
}

void OnWinnersListCreated() {
  ui::Window w = winnersList();
  PlaceOnDrawScreen(w);
  ui::Control frame = ui::Control(forms::WinnersListWindow::外形框1);
  frame.setWidth(w.width() - 48);
  frame.setHeight(w.height() - 72);
  ui::Control text = ui::Control(forms::WinnersListWindow::标签2);
  text.setWidth(w.width() - 48);
  ui::Control(forms::WinnersListWindow::分隔条1).setWidth(w.width());
  ui::Control close = ui::Control(forms::WinnersListWindow::关闭超级按钮);
  close.setLeft(w.width() - close.width());
  ui::Control title = ui::Control(forms::WinnersListWindow::标签1);
  title.setLeft(TruncToInt(w.width() / 2.0 - title.width() / 2.0));
  text.setCaption(Text());

  text.setCaption(BuildWinnersText());
  // A scroller of an earlier list may still be finishing its last step; it
  // must be gone before the flag is raised again.
  for (int waited = 0; gListScrollers.load() > 0 && waited < 500; waited += 5) ui::waitPumping(5);
  frame::gListScrolling = 1;
  text.setHeight(CountLineEnds(text.caption()) * 33);
  ui::startThread(&WinnersListThreadMain);

  store::select(model::aliasSettings());
  music::stopAll();
  store::goFirst();
  const Text value = store::readText(model::settings::中奖名单音乐());
  if (model::isMusicDisabled(value))
    music::stopAll();
  else
    music::play(model::resolveFileReference(ui::programFolder(), model::kIdleMusicFolder, value),
                -1);
}

void ScrollWinnersList() {
  ui::Window w(forms::WinnersListWindow::window);
  ui::Control text(forms::WinnersListWindow::标签2);
  // The text lies inside its frame; the scroll limits are window coordinates.
  const int frameTop = ui::Control(forms::WinnersListWindow::外形框1).top();
  text.setTop(w.height() - 24 - frameTop);
  while (frame::gListScrolling != 0) {
    text.setTop(text.top() - 1);
    ui::plainSleep(15);
    if (frameTop + text.top() + text.height() < 48) text.setTop(w.height() - 24 - frameTop);
  }
}

void WinnersListThreadMain() {
  ++gListScrollers;
  ScrollWinnersList();
  --gListScrollers;
}

void OnWinnersListDestroying() {
  frame::gListScrolling = 0;
  // A suppressed restore is used up by this closing: later closings of the
  // list restore the start screen again.
  if (frame::gSuppressListRestore == 1) {
    frame::gSuppressListRestore = 0;
    return;
  }
  if (frame::ProgramEnding()) return;
  music::stopAll();
  frame::ApplySystemSettings();
}

void OnWinnersListCloseButtonClick() {
  frame::gListScrolling = 0;
  winnersList().destroy();
  frame::ApplySystemSettings();
}

void OnWinnersListExportButtonClick() {
  ui::Window w = winnersList();
  ui::Control dialog = ui::Control(forms::WinnersListWindow::通用对话框1);
  dialog.setFilter("图片文件(*.txt)|*.txt"_t);
  dialog.setDefaultExt(Text::fromGbk("txt"));
  if (!dialog.showDialog()) return;
  w.setAlwaysOnTop(false);
  const Text caption = ui::Control(forms::WinnersListWindow::标签2).caption();
  const std::string path = dialog.fileName().toUtf8();
  int systemError = 0;
  const files::ReplaceResult result = path.empty()
                                          ? files::ReplaceResult::NoFolder
                                          : files::replaceFile(path, caption.bytes(), &systemError);
  ui::messageBox(result == files::ReplaceResult::Done
                     ? "导出成功！"_t
                     : "导出失败！\n"_t + files::failureMessage(result, path, systemError));
  w.setAlwaysOnTop(true);
}

}  // namespace draw
