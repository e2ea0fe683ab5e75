// One headless run of the program per test: the runtime with scripted
// dialogs, an intercepted program end and a chosen screen size, and
// everything undone afterwards (scrollers stopped, forms forgotten, music
// stopped, stores closed).
#pragma once

#include "draw/draw_internal.h"
#include "draw/draw_state.h"
#include "frame/frame.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"
#include "unknown_names.h"
#include "wait_until.h"

namespace fixture {

inline void beginProgramTest(int screenWidth, int screenHeight) {
  ui::initRuntime();
  failOnUnknownNames();
  ui::testing::enableScripting(true);
  ui::testing::clearShownDialogs();
  ui::testing::interceptProgramEnd(true);
  ui::testing::overrideScreenSize(screenWidth, screenHeight);
  draw::ResetDrawState();
  frame::gSuppressListRestore = 0;
}

// The scrollers must be gone before the forms are forgotten.
inline void stopScrollers() {
  frame::gBannerScrolling = 0;
  frame::gListScrolling = 0;
  testwait::pumpUntil(
      [] { return draw::BannerScrollersRunning() == 0 && draw::ListScrollersRunning() == 0; });
}

inline void endProgramTest() {
  ui::testing::useTestClock(false);  // wakes scrollers asleep on it
  stopScrollers();
  ui::unloadForms();
  music::stopAll();
  store::closeAll();
  ui::testing::overrideScreenSize(0, 0);
  ui::testing::interceptProgramEnd(false);
  ui::testing::enableScripting(false);
}

}  // namespace fixture
