// Entry points of the prize draw used by the application frame.
#pragma once

namespace draw {

// Registers every handler of the draw windows by name.
void registerDrawHandlers();

// Opens the winners list (start-menu item and the end of a draw).
void ShowWinnersList();

}  // namespace draw
