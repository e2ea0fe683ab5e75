// The draw's own state.
#include "draw/draw_state.h"

namespace draw {

std::vector<int> gCandidates;
std::vector<int> gPickedPositions;
bool gArraysCreated = false;
std::optional<model::Text> gCurrentAwardName;

int gDrawStopped = 1;
int gDrawFinished = 0;
int gDrawQuota = 0;
int gDisplayMode = 0;
int gWinRule = 0;
int gDrawOrder = 0;
int gSlotCharWidth = 0;
int gSpaceHotkeyId = 0;

void InitGlobalArrays() {
  gCandidates.clear();
  gPickedPositions.clear();
  gArraysCreated = true;
}

void FreeGlobalVariables() {
  std::vector<int>().swap(gCandidates);
  if (gCurrentAwardName) gCurrentAwardName.reset();
  std::vector<int>().swap(gPickedPositions);
  gArraysCreated = false;
}

void ResetDrawState() {
  FreeGlobalVariables();
  InitGlobalArrays();
  gDrawStopped = 1;
  gDrawFinished = 0;
  gDrawQuota = 0;
  gDisplayMode = 0;
  gWinRule = 0;
  gDrawOrder = 0;
  gSlotCharWidth = 0;
  gSpaceHotkeyId = 0;
}

}  // namespace draw
