// Entry points of the prize draw used by the application frame.
#pragma once

#include "model/text.h"
#include "platform/ui/ui.h"

namespace draw {

// Registers every handler of the draw windows and of the void and
// supplement window by name.
void registerDrawHandlers();

// A message box while the draw windows are open: both drop always-on-top
// around it, so that the box shows above them, and take it back after.
int ShowDrawMessage(const model::Text& text, int buttons = ui::kOk, int flags = ui::kNoFlags);

// The banner scroller's thread routine, started by the start window.
void BannerThreadMain();

// Opens the winners list (start-menu item and the end of a draw).
void ShowWinnersList();

}  // namespace draw
