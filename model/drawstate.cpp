// The program-wide draw state.
#include "model/drawstate.h"

namespace model {

std::vector<int> gCandidates;
std::vector<int> gPickedPositions;
bool gArraysCreated = false;
std::optional<Text> gCurrentAwardName;

int gDrawStopped = 1;
int gDrawFinished = 0;
int gDrawQuota = 0;
int gDisplayMode = 0;
int gWinRule = 0;
int gDrawOrder = 0;
int gSlotCharWidth = 0;
int gSpaceHotkeyId = 0;
int gOsKind = 1;

std::atomic<int> gBannerScrolling{0};
std::atomic<int> gListScrolling{0};
int gSuppressListRestore = 0;

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

}  // namespace model
