// Entry points of the data maintenance windows used by the application frame,
// and the routines the maintenance windows share.
#pragma once

namespace maintenance {

// Registers the handlers of the participants window and of the windows it
// opens (add, edit, generate).
void registerParticipantsHandlers();

// Registers the handlers of the spreadsheet import and export of participants.
void registerSpreadsheetHandlers();

// Registers the handlers of the settings window.
void registerSettingsHandlers();

// Registers the handlers of the awards window.
void registerAwardsHandlers();

// Rebuilds the participants list from the current store (the participant
// store while the participants window is open); leaves the cursor past the
// last record.
void FillPersonnelList();

}  // namespace maintenance
