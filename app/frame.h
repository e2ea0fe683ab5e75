// Handlers and routines of the application frame (inside app/).
#pragma once

#include <string>

#include "model/text.h"
#include "platform/ui/ui.h"

namespace app {

// Where the program's forms are: the resources compiled into the program.
std::string formsFolder();

// Start-up and shutdown.
void OnStartMenuExitClick();
// The system asked the program to end (SIGTERM, SIGINT, SIGHUP): the exit
// item's route, once.
void OnTerminationRequest();
void OnStartDestroying();

// Start window creation and the applied settings.
void OnStartCreated();
int GetOsName();
int OsCodeFromVersion(int platformId, int major, int minor);
model::Text OsNameFromCode(int code);
int OsKindFromName(const model::Text& name);

// Banner window.
void OnBannerCreated();
void OnBannerResized();

// Tool strip, clock and start menu.
void OnStartMenuStartDrawClick();
void OnStartMenuHelpClick();
void OnStartMenuAboutClick();
void OnStartMenuVoidRedrawClick();
void OnStartMenuParticipantsClick();
void OnStartMenuAwardsClick();
void OnStartMenuSettingsClick();
void OnStartStartButtonClick();
void OnStartMinimizeButtonClick();
void OnStartToolStripRightMouseDown(int x, int y, int keys);
void OnStartToolStripMouseUp(int x, int y, int keys);
void OnStartClockLabelMouseDown(int x, int y, int keys);
void OnStartAutoHideCheckClick();
void OnStartClockTimer();
void OnStartMoved();
void OnStartMouseMove(int x, int y, int keys);
void OnStartMouseUp(int x, int y, int keys);
model::Text ClockText(int hour, int minute, int second);

// System volume and mute.
int SetMasterVolumeCoreAudio(int level);
int IsMutedCoreAudio();
int GetVolumePercentCoreAudio();
void ShowMuteState();
// Sets the muted or the normal pair of speaker pictures (图片框2 first).
void ShowMutePair(bool muted);
void SendVolumeCommand(int command, const ui::Window& window);
void SendVolumeMute(const ui::Window& window);
void SetVolumeSliderFromSystem();
// Slider position -> mixer value, and mixer value -> slider position; the
// silent end (no change / maximum position) when the mixer has no range.
int MixerValueFromSlider(int mixerMax, int sliderMax, int position);
int SliderFromMixerValue(int mixerMax, int sliderMax, int value);
int PercentFromSteps(int step, int count);
void OnStartVolumeSliderPositionChanged();
void OnStartVolumeSliderFocusLost();
void OnStartVolumeIconMouseDown(int x, int y, int keys);
void OnStartMuteIconMouseDown(int x, int y, int keys);

}  // namespace app
