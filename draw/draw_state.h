// The draw's own state: plain variables of the user-interface thread, set by
// the panel's creation and the roll, read by the commit, the redraws and the
// winners list.
#pragma once

#include <optional>
#include <vector>

#include "model/text.h"

namespace draw {

// Participant record numbers that may still be drawn.
extern std::vector<int> gCandidates;
extern std::vector<int> gPickedPositions;
extern bool gArraysCreated;
// Absent until the panel shows an award.
extern std::optional<model::Text> gCurrentAwardName;

extern int gDrawStopped;    // 1 while no roll runs
extern int gDrawFinished;   // 1 once the draw ended in the winners list
extern int gDrawQuota;      // slots of the current roll
extern int gDisplayMode;    // 抽奖模式 of participant record 1
extern int gWinRule;        // 中奖方式 of award record 1
extern int gDrawOrder;      // 中奖顺序 of award record 1
extern int gSlotCharWidth;  // pixels per text byte in the slots
extern int gSpaceHotkeyId;

// Creates the two arrays empty.
void InitGlobalArrays();
// Frees the arrays and the current award name.
void FreeGlobalVariables();
// Every variable back to its value at program start, the arrays created
// empty: a new run in the same process (tests).
void ResetDrawState();

}  // namespace draw
