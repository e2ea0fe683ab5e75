// The tool strip along the bottom of the start window: start menu, clock,
// auto-hide, minimise and restore, and the guard of the menu actions.
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw.h"
#include "forms/names.h"
#include "frame/frame.h"
#include "model/records.h"
#include "platform/media/music.h"
#include "platform/ui/ui.h"

using model::operator""_t;
using model::Text;

namespace app {

namespace {
bool isOpen(ui::WindowName window) {
  ui::Window w(window);
  return w.exists() && w.isOpen();
}
}  // namespace

bool GuardDrawRunning() {
  frame::gListScrolling = 0;
  if (isOpen(forms::WinnersListWindow::window)) {
    ui::Window(forms::WinnersListWindow::window).destroy();
    // The list is gone, its destruction handled, before the item goes on:
    // a window the item opens never has the list's closing run inside it.
    ui::processPendingOnce();
  }
  if (isOpen(forms::DrawPanelWindow::window)) {
    draw::ShowDrawMessage("抽奖时候不能进行该操作！"_t);
    return false;
  }
  return true;
}

void OnStartMenuStartDrawClick() {
  frame::gListScrolling = 0;
  if (isOpen(forms::WinnersListWindow::window)) {
    frame::gSuppressListRestore = 1;
    ui::Window(forms::WinnersListWindow::window).destroy();
  }
  music::stopAll();
  ui::Control(forms::StartWindow::祝福词).setVisible(false);
  ui::Window backdrop(forms::DrawBackdropWindow::window);
  ui::Window panel(forms::DrawPanelWindow::window);
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
void openGuardedModal(ui::WindowName window) {
  if (!GuardDrawRunning()) return;
  ui::Window(window).open(true);
}
}  // namespace

void OnStartMenuAboutClick() { openGuardedModal(forms::AboutWindow::window); }
void OnStartMenuVoidRedrawClick() { openGuardedModal(forms::VoidRedrawWindow::window); }
void OnStartMenuParticipantsClick() { openGuardedModal(forms::ParticipantsWindow::window); }
void OnStartMenuAwardsClick() { openGuardedModal(forms::AwardsWindow::window); }
void OnStartMenuSettingsClick() { openGuardedModal(forms::SettingsWindow::window); }

void OnStartStartButtonClick() {
  ui::Window(forms::StartWindow::window)
      .popupMenu(0, ui::Control(forms::StartWindow::图片框1).top());
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
  ui::Control(forms::StartWindow::透明标签10).setCaption(ClockText(t.hour, t.minute, t.second));
  ShowMuteState();
}

void OnStartClockLabelMouseDown(int, int, int) {
  // A press on the clock has no effect.
}

void OnStartToolStripRightMouseDown(int x, int y, int) {
  ui::Control check = ui::Control(forms::StartWindow::选择框1);
  check.setTop(ui::Control(forms::StartWindow::图片框1).top() + y - check.height());
  check.setLeft(x);
  check.setVisible(true);
}

void OnStartAutoHideCheckClick() { ui::Control(forms::StartWindow::选择框1).setVisible(false); }

void OnStartMouseMove(int, int y, int) {
  ui::Control check = ui::Control(forms::StartWindow::选择框1);
  ui::Control strip = ui::Control(forms::StartWindow::图片框1);
  if (check.checked() && y > strip.top()) strip.setVisible(true);
  if (check.checked() && y < strip.top()) {
    strip.setVisible(false);
    ui::Control(forms::StartWindow::图片框3).setVisible(false);
    check.setVisible(false);
  }
}

void OnStartToolStripMouseUp(int, int, int) {
  ui::Control(forms::StartWindow::图片框3).setVisible(false);
}
void OnStartMouseUp(int, int, int) { ui::Control(forms::StartWindow::图片框3).setVisible(false); }

void OnStartMinimizeButtonClick() {
  ui::Window(forms::StartWindow::window).setState(ui::kMinimized);
  for (ui::WindowName name : {forms::DrawBackdropWindow::window, forms::DrawPanelWindow::window,
                              forms::WinnersListWindow::window, forms::BannerWindow::window}) {
    ui::Window w(name);
    if (w.exists()) w.setVisible(false);
  }
}

void OnStartMoved() {
  const int state = ui::Window(forms::StartWindow::window).state();
  const bool drawOpen =
      isOpen(forms::DrawPanelWindow::window) && isOpen(forms::DrawBackdropWindow::window);
  const bool listOpen = isOpen(forms::WinnersListWindow::window);
  auto show = [](std::initializer_list<ui::WindowName> names, bool on) {
    for (ui::WindowName n : names) ui::Window(n).setVisible(on);
  };
  if (state == ui::kMinimized && drawOpen)
    show({forms::DrawBackdropWindow::window, forms::DrawPanelWindow::window,
          forms::BannerWindow::window},
         false);
  if (state == ui::kNormal && drawOpen)
    show({forms::DrawBackdropWindow::window, forms::DrawPanelWindow::window,
          forms::BannerWindow::window},
         true);
  if (state == ui::kMinimized && listOpen) show({forms::WinnersListWindow::window}, false);
  if (state == ui::kNormal && listOpen) show({forms::WinnersListWindow::window}, true);
}

}  // namespace app
