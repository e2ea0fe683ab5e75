// The spine of the process: start-up, the exit item and the end of the
// program when the start window is destroyed.
#include <functional>
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_state.h"
#include "forms/names.h"
#include "frame/frame.h"
#include "model/text.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

using model::operator""_t;

namespace app {

std::string formsFolder() { return ":/forms"; }

bool StartProgram(const std::string& forms) {
  std::string error;
  registerAllHandlers();
  // A handler that runs nested (the winners list's destruction inside a
  // maintenance window's loop, a menu item chosen while names roll) gives
  // the code it interrupted back its current store.
  ui::setNestedHandlerWrapper([](const std::function<void()>& run) {
    store::CurrentStoreKeeper keep;
    run();
  });
  if (!ui::loadForms(forms, &error)) ui::fatalError(0, model::Text::fromUtf8(error));
  draw::InitGlobalArrays();
  static bool registered = false;
  if (!registered) ui::atProgramEnd(&draw::FreeGlobalVariables);
  registered = true;
  frame::ResetProgramEnding();
  if (!ui::Window(forms::StartWindow::window).open()) ui::fatalError(0, "载入启动窗口失败"_t);
  return true;
}

int RunProgram() {
  ui::onTerminationRequest(&OnTerminationRequest);
  StartProgram(formsFolder());
  return ui::runMessageLoop();
}

void OnTerminationRequest() {
  // A request from the system (logout, kill, Ctrl+C) ends the program the
  // way the exit item does; a second one while it ends changes nothing.
  if (frame::ProgramEnding() || !ui::Window(forms::StartWindow::window).isOpen()) return;
  OnStartMenuExitClick();
}

void OnStartMenuExitClick() {
  frame::MarkProgramEnding();
  frame::gSuppressListRestore = 1;
  for (ui::WindowName name : {forms::WinnersListWindow::window, forms::DrawPanelWindow::window,
                              forms::DrawBackdropWindow::window}) {
    ui::Window w(name);
    if (w.exists() && w.isOpen()) w.destroy();
  }
  ui::plainSleep(500);
  store::close();
  ui::Window(forms::StartWindow::window).destroy();
}

void OnStartDestroying() {
  frame::MarkProgramEnding();
  frame::gBannerScrolling = 0;
  ui::waitPumping(20);
  ui::endProgram(0);
}

}  // namespace app
