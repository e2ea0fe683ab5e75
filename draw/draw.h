// Entry points of the prize draw used by the application frame.
#pragma once

namespace draw {

// Registers every handler of the draw windows by name.
void registerDrawHandlers();

// Registers the handlers of the void and supplement window by name.
void registerVoidRedrawHandlers();

// The banner scroller's thread routine, started by the start window.
void BannerThreadMain();

// Opens the winners list (start-menu item and the end of a draw).
void ShowWinnersList();

}  // namespace draw
