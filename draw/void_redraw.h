// The void and supplement window: taking an award back from a winner and
// raising the number of winners an award is to have.
#pragma once

#include <optional>
#include <vector>

#include "model/text.h"

namespace draw {

// The selected row of the window's winner list plus 1, or 0 when no winner
// is selected: set by a click in the list, forgotten one second after the
// list loses the focus (read it through VoidSelection, which applies that)
// and whenever the list is filled again.
extern int gVoidSelection;
int VoidSelection();

void OnVoidRedrawCreated();
void OnVoidRedrawAwardComboItemChosen();
// Fills the winner list (and its hidden twin of record numbers) with the
// winners of the award named by the void group's award combo.
void ListWinnersOfAward();
void OnVoidRedrawWinnerListClick();
void OnVoidRedrawWinnerListFocusLost();
void OnVoidRedrawVoidButtonClick();
void OnVoidRedrawSupplementButtonClick();
void OnVoidRedrawCloseButtonClick();

// The supplement count typed by the operator: a whole number of 1 or more
// (full-width digits allowed, blanks around it ignored); nothing otherwise.
std::optional<int> ParseSupplementCount(const model::Text& typed);

}  // namespace draw
