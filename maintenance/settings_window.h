// Handlers and routines of the settings window (inside maintenance/ and
// tests).
#pragma once

#include "model/text.h"
#include "platform/ui/ui.h"

namespace maintenance {

ui::Window SettingsWindow();

// The settings window.
void OnSettingsCreated();
void ListMediaFolders();
void OnSettingsApplyButtonClick();
void OnSettingsOkButtonClick();
void OnSettingsCancelButtonClick();
void OnSettingsBrowseBackgroundPictureButtonClick();
void OnSettingsBackgroundPictureComboItemChosen();

// The four music choices: preview (item chosen, and after browsing), browse,
// and the icon that stops a preview.
void PreviewBackgroundMusic();
void PreviewStartMusic();
void PreviewStopMusic();
void PreviewWinnersMusic();
void OnSettingsBrowseBackgroundMusicButtonClick();
void OnSettingsBrowseStartMusicButtonClick();
void OnSettingsBrowseStopMusicButtonClick();
void OnSettingsBrowseWinnersMusicButtonClick();
void OnSettingsBackgroundMusicIconMouseDown(int x, int y, int keys);
void OnSettingsStartMusicIconMouseDown(int x, int y, int keys);
void OnSettingsStopMusicIconMouseDown(int x, int y, int keys);
void OnSettingsWinnersMusicIconMouseDown(int x, int y, int keys);

// Writes the window's values into the settings record, all or nothing
// (appending the record first when the store has none). False, with the
// store unchanged and a message shown, when the store refused.
bool SaveSettings();

// The pictures the music icons show.
model::Bytes PlayIcon();
model::Bytes StopIcon();

}  // namespace maintenance
