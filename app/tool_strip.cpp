// The tool strip along the bottom of the start window: start menu, clock,
// auto-hide, minimise and restore, and the guard of the menu actions.
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw.h"
#include "frame/frame.h"
#include "model/records.h"
#include "platform/media/music.h"
#include "platform/ui/ui.h"

using model::operator""_t;
using model::Text;

namespace app {

namespace {
ui::Control startCtl(const char* name) { return ui::Control("StartWindow", name); }
bool isOpen(const char* window) {
  ui::Window w(window);
  return w.exists() && w.isOpen();
}
}  // namespace

bool GuardDrawRunning() {
  frame::gListScrolling = 0;
  if (isOpen("WinnersListWindow")) {
    ui::Window("WinnersListWindow").destroy();
    // The list is gone, its destruction handled, before the item goes on:
    // a window the item opens never has the list's closing run inside it.
    ui::processPendingOnce();
  }
  if (isOpen("DrawPanelWindow")) {
    draw::ShowDrawMessage("抽奖时候不能进行该操作！"_t);
    return false;
  }
  return true;
}

void OnStartMenuStartDrawClick() {
  frame::gListScrolling = 0;
  if (isOpen("WinnersListWindow")) {
    frame::gSuppressListRestore = 1;
    ui::Window("WinnersListWindow").destroy();
  }
  music::stopAll();
  startCtl("祝福词").setVisible(false);
  ui::Window backdrop("DrawBackdropWindow");
  ui::Window panel("DrawPanelWindow");
  backdrop.open();
  panel.open();
  backdrop.setVisible(true);
  panel.setVisible(true);
}

void OnStartMenuHelpClick() {
  if (!GuardDrawRunning()) return;
  ui::shellOpen(model::programPath(ui::programFolder(), model::kHelpFile));
}

namespace {
// A guarded item that opens its window modal with no parent.
void openGuardedModal(const char* window) {
  if (!GuardDrawRunning()) return;
  ui::Window(window).open(true);
}
}  // namespace

void OnStartMenuAboutClick() { openGuardedModal("AboutWindow"); }
void OnStartMenuVoidRedrawClick() { openGuardedModal("VoidRedrawWindow"); }
void OnStartMenuParticipantsClick() { openGuardedModal("ParticipantsWindow"); }
void OnStartMenuAwardsClick() { openGuardedModal("AwardsWindow"); }
void OnStartMenuSettingsClick() { openGuardedModal("SettingsWindow"); }

void OnStartStartButtonClick() {
  ui::Window("StartWindow").popupMenu(0, startCtl("图片框1").top());
}

Text ClockText(int hour, int minute, int second) {
  auto two = [](int v) {
    return model::rightText("0"_t + model::numberToText(static_cast<long long>(v)), 2);
  };
  return model::numberToText(static_cast<long long>(hour)) + ":"_t + two(minute) + ":"_t +
         two(second);
}

void OnStartClockTimer() {
  const ui::LocalTime t = ui::localTime();
  startCtl("透明标签10").setCaption(ClockText(t.hour, t.minute, t.second));
  ShowMuteState();
}

void OnStartClockLabelMouseDown(int, int, int) {
  // A press on the clock has no effect.
}

void OnStartToolStripRightMouseDown(int x, int y, int) {
  ui::Control check = startCtl("选择框1");
  check.setTop(startCtl("图片框1").top() + y - check.height());
  check.setLeft(x);
  check.setVisible(true);
}

void OnStartAutoHideCheckClick() { startCtl("选择框1").setVisible(false); }

void OnStartMouseMove(int, int y, int) {
  ui::Control check = startCtl("选择框1");
  ui::Control strip = startCtl("图片框1");
  if (check.checked() && y > strip.top()) strip.setVisible(true);
  if (check.checked() && y < strip.top()) {
    strip.setVisible(false);
    startCtl("图片框3").setVisible(false);
    check.setVisible(false);
  }
}

void OnStartToolStripMouseUp(int, int, int) { startCtl("图片框3").setVisible(false); }
void OnStartMouseUp(int, int, int) { startCtl("图片框3").setVisible(false); }

void OnStartMinimizeButtonClick() {
  ui::Window("StartWindow").setState(ui::kMinimized);
  for (const char* name :
       {"DrawBackdropWindow", "DrawPanelWindow", "WinnersListWindow", "BannerWindow"}) {
    ui::Window w(name);
    if (w.exists()) w.setVisible(false);
  }
}

void OnStartMoved() {
  const int state = ui::Window("StartWindow").state();
  const bool drawOpen = isOpen("DrawPanelWindow") && isOpen("DrawBackdropWindow");
  const bool listOpen = isOpen("WinnersListWindow");
  auto show = [](std::initializer_list<const char*> names, bool on) {
    for (const char* n : names) ui::Window(n).setVisible(on);
  };
  if (state == ui::kMinimized && drawOpen)
    show({"DrawBackdropWindow", "DrawPanelWindow", "BannerWindow"}, false);
  if (state == ui::kNormal && drawOpen)
    show({"DrawBackdropWindow", "DrawPanelWindow", "BannerWindow"}, true);
  if (state == ui::kMinimized && listOpen) show({"WinnersListWindow"}, false);
  if (state == ui::kNormal && listOpen) show({"WinnersListWindow"}, true);
}

}  // namespace app
