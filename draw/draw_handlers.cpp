// Binds the draw's handlers to their names in the forms data.
#include "draw/draw.h"
#include "draw/draw_internal.h"
#include "draw/void_redraw.h"
#include "platform/ui/ui.h"

namespace draw {

void registerDrawHandlers() {
  ui::registerHandler("OnDrawBackdropCreated", &OnDrawBackdropCreated);
  ui::registerHandler("OnDrawBackdropActivated", &OnDrawBackdropActivated);
  ui::registerHandler("OnDrawBackdropDeactivated", &OnDrawBackdropDeactivated);
  ui::registerHandler("OnDrawPanelCreated", &OnDrawPanelCreated);
  ui::registerHandler("OnDrawPanelDestroying", &OnDrawPanelDestroying);
  ui::registerHandler("OnDrawPanelHotkeyLabelHotkey", &OnDrawPanelHotkeyLabelHotkey);
  ui::registerHandler("StartDraw", &StartDraw);
  ui::registerHandler("StopDraw", &StopDraw);
  ui::registerHandler("NextAward", &NextAward);
  ui::registerHandler("CloseDrawWindows", &CloseDrawWindows);
  ui::registerHandler("OnDrawPanelRedrawAwardButtonClick", &OnDrawPanelRedrawAwardButtonClick);
  ui::registerHandler("OnDrawPanelRedrawAllButtonClick", &OnDrawPanelRedrawAllButtonClick);
  ui::registerHandler("ShowWinnersList", &ShowWinnersList);
  ui::registerHandler("OnWinnersListCreated", &OnWinnersListCreated);
  ui::registerHandler("OnWinnersListDestroying", &OnWinnersListDestroying);
  ui::registerHandler("OnWinnersListExportButtonClick", &OnWinnersListExportButtonClick);
  ui::registerHandler("OnWinnersListCloseButtonClick", &OnWinnersListCloseButtonClick);
  ui::registerHandler("OnVoidRedrawCreated", &OnVoidRedrawCreated);
  ui::registerHandler("OnVoidRedrawAwardComboItemChosen", &OnVoidRedrawAwardComboItemChosen);
  ui::registerHandler("OnVoidRedrawWinnerListClick", &OnVoidRedrawWinnerListClick);
  ui::registerHandler("OnVoidRedrawWinnerListFocusLost", &OnVoidRedrawWinnerListFocusLost);
  ui::registerHandler("OnVoidRedrawVoidButtonClick", &OnVoidRedrawVoidButtonClick);
  ui::registerHandler("OnVoidRedrawSupplementButtonClick", &OnVoidRedrawSupplementButtonClick);
  ui::registerHandler("OnVoidRedrawCloseButtonClick", &OnVoidRedrawCloseButtonClick);
}

}  // namespace draw
