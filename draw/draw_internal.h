// Handlers and routines of the draw windows (inside draw/, tests, bench).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "draw/draw.h"
#include "draw/draw_logic.h"
#include "model/text.h"
#include "platform/ui/ui.h"

namespace draw {

// The picked positions of one roll: entry k-1 is the 1-based position in
// gCandidates that slot k shows, 0 while the slot is not filled.
using SlotPicks = std::array<int, 20>;

// Windows and controls by name.
ui::Window DrawPanel();
ui::Window DrawBackdrop();
ui::Control NameSlot(int k);   // 名单k of the panel
ui::Control SlotFrame(int k);  // 分组框k of the backdrop
// Places a window of the draw screen between the start window's subtitle and
// the banner, two thirds of the start window wide and centred; the backdrop,
// the panel and the winners list share this place.
void PlaceOnDrawScreen(ui::Window& w);
// Always-on-top of the backdrop, then of the panel (the panel last, so that
// it stays above the backdrop).
void SetDrawWindowsOnTop(bool on);
// Plays a music setting of the settings store by the file-reference rule;
// "禁用" stops all music.
void PlayMusicSetting(const model::Text& field, const char* folder, int times);

// Panel set-up, award display and state.
void OnDrawPanelCreated();
void OnDrawPanelDestroying();
void ShowCurrentAward();
int UpdateDrawState();
void OnDrawPanelHotkeyLabelHotkey(int id, int extra);
void HandleSpaceKey(int id);
// Rebuilds gCandidates from the participant store by gWinRule and reads
// gDisplayMode from participant record 1; leaves the participant store current.
void BuildCandidateList();

// The roll.
void StartDraw();
// Set-up of a roll; false when the current award may not be drawn now.
bool SetUpRoll(SlotPicks& picks);
// One pass: a fresh set of distinct random candidates in the slots.
void RollOnePass(SlotPicks& picks);
// Passes until the draw is stopped; false when the panel went away first.
bool RunRoll(SlotPicks& picks);
// Winners into the stores as one transaction, candidates out, banner line.
// False (and nothing changed) when the stores refused the writes.
bool CommitRoll(const SlotPicks& picks);
// The store part of the commit: each shown winner's 中奖项目 gains the award
// name and 已抽取人数 grows by the winners, in one transaction.
bool StoreWinners(const SlotPicks& picks);
void SortPickedDescending();
model::Text MakeDisplayText();
bool RollInProgress();

// Stopping, next award, closing.
void StopDraw();
void NextAward();
void CloseDrawWindows();

// Congratulation line.
void ScrollBanner();
void BannerThreadMain();
int BannerScrollersRunning();

// Redraw.
void OnDrawPanelRedrawAwardButtonClick();
void OnDrawPanelRedrawAllButtonClick();

// Backdrop.
void OnDrawBackdropCreated();
void OnDrawBackdropActivated();
void OnDrawBackdropDeactivated();

// Winners list.
void ShowWinnersList();
void OnWinnersListCreated();
void OnWinnersListDestroying();
void OnWinnersListExportButtonClick();
void OnWinnersListCloseButtonClick();
void ScrollWinnersList();
void WinnersListThreadMain();
int ListScrollersRunning();
// The winners text of the stores as they stand.
model::Text BuildWinnersText();

// Pass timing of the last roll (for measurements).
struct RollTiming {
  int passes = 0;
  std::uint32_t firstPassTick = 0;
  std::uint32_t lastPassTick = 0;
};
RollTiming LastRollTiming();

// The message shown when the stores refuse a roll's winners.
model::Text CommitFailedText();

}  // namespace draw
