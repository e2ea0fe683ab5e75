// Binds the frame's handlers to their names in the forms data.
#include "app/app.h"
#include "app/frame.h"
#include "draw/draw.h"
#include "maintenance/maintenance.h"
#include "platform/ui/ui.h"

namespace app {

void registerAppHandlers() {
  ui::registerHandler("OnStartCreated", &OnStartCreated);
  ui::registerHandler("OnStartDestroying", &OnStartDestroying);
  ui::registerHandler("OnStartMoved", &OnStartMoved);
  ui::registerHandler("OnStartMouseMove", &OnStartMouseMove);
  ui::registerHandler("OnStartMouseUp", &OnStartMouseUp);
  ui::registerHandler("OnStartMenuExitClick", &OnStartMenuExitClick);
  ui::registerHandler("OnStartMenuStartDrawClick", &OnStartMenuStartDrawClick);
  ui::registerHandler("OnStartMenuHelpClick", &OnStartMenuHelpClick);
  ui::registerHandler("OnStartMenuAboutClick", &OnStartMenuAboutClick);
  ui::registerHandler("OnStartMenuVoidRedrawClick", &OnStartMenuVoidRedrawClick);
  ui::registerHandler("OnStartMenuParticipantsClick", &OnStartMenuParticipantsClick);
  ui::registerHandler("OnStartMenuAwardsClick", &OnStartMenuAwardsClick);
  ui::registerHandler("OnStartMenuSettingsClick", &OnStartMenuSettingsClick);
  ui::registerHandler("OnStartStartButtonClick", &OnStartStartButtonClick);
  ui::registerHandler("OnStartMinimizeButtonClick", &OnStartMinimizeButtonClick);
  ui::registerHandler("OnStartToolStripRightMouseDown", &OnStartToolStripRightMouseDown);
  ui::registerHandler("OnStartToolStripMouseUp", &OnStartToolStripMouseUp);
  ui::registerHandler("OnStartClockLabelMouseDown", &OnStartClockLabelMouseDown);
  ui::registerHandler("OnStartAutoHideCheckClick", &OnStartAutoHideCheckClick);
  ui::registerHandler("OnStartClockTimer", &OnStartClockTimer);
  ui::registerHandler("OnStartVolumeSliderPositionChanged", &OnStartVolumeSliderPositionChanged);
  ui::registerHandler("OnStartVolumeSliderFocusLost", &OnStartVolumeSliderFocusLost);
  ui::registerHandler("OnStartVolumeIconMouseDown", &OnStartVolumeIconMouseDown);
  ui::registerHandler("OnStartMuteIconMouseDown", &OnStartMuteIconMouseDown);
  ui::registerHandler("OnBannerCreated", &OnBannerCreated);
  ui::registerHandler("OnBannerResized", &OnBannerResized);
}

void registerAllHandlers() {
  registerAppHandlers();
  draw::registerDrawHandlers();
  maintenance::registerParticipantsHandlers();
  maintenance::registerSpreadsheetHandlers();
  maintenance::registerSettingsHandlers();
  maintenance::registerAwardsHandlers();
}

}  // namespace app
