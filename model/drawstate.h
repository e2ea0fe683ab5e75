// Program-wide draw state, shared by the start window and the draw.
//
// Plain variables of the user-interface thread, except the flags that worker
// threads poll, which are atomics (same values and meaning).
#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include "model/text.h"

namespace model {

// Participant record numbers that may still be drawn.
extern std::vector<int> gCandidates;
extern std::vector<int> gPickedPositions;
extern bool gArraysCreated;
// Absent until the panel shows an award.
extern std::optional<Text> gCurrentAwardName;

extern int gDrawStopped;    // 1 while no roll runs
extern int gDrawFinished;   // 1 once the draw ended in the winners list
extern int gDrawQuota;      // slots of the current roll
extern int gDisplayMode;    // 抽奖模式 of participant record 1
extern int gWinRule;        // 中奖方式 of award record 1
extern int gDrawOrder;      // 中奖顺序 of award record 1
extern int gSlotCharWidth;  // pixels per text byte in the slots
extern int gSpaceHotkeyId;
extern int gOsKind;         // 2 on "Windows Vista", else 1

extern std::atomic<int> gBannerScrolling;
extern std::atomic<int> gListScrolling;
extern int gSuppressListRestore;

// Creates the two arrays empty.
void InitGlobalArrays();
// Frees the arrays and the current award name.
void FreeGlobalVariables();

}  // namespace model
