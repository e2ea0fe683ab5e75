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

// The award names in store order, as the splits below take them; leaves the
// award store current with its cursor where it was.
std::vector<model::Text> AwardNames();

// A participant's 中奖项目 holds the names of the awards won, one after the
// other with no separator. Splits it into those names, choosing among the
// given award names (a longer name first where several fit); nothing when
// the text is not made of award names alone (an award renamed since, say).
std::optional<std::vector<model::Text>> SplitWonAwards(const model::Text& won,
                                                       const std::vector<model::Text>& awards);
// The wins a 中奖项目 holds among the given award names, one entry per win in
// the order won: by the split when the text splits, else every award whose
// name it contains, once each.
std::vector<model::Text> WinsOf(const model::Text& won, const std::vector<model::Text>& awards);
// Whether won holds the award: by the split when the text splits, else by
// containment of the name.
bool HoldsAward(const model::Text& won, const model::Text& award,
                const std::vector<model::Text>& awards);
// won without one win of award (the first), or nothing when it holds none.
std::optional<model::Text> WithoutAward(const model::Text& won, const model::Text& award,
                                        const std::vector<model::Text>& awards);
// won with every win of award renamed to newName (split as above), or nothing
// when it holds no win of award or does not split.
std::optional<model::Text> WithAwardRenamed(const model::Text& won, const model::Text& award,
                                            const model::Text& newName,
                                            const std::vector<model::Text>& awards);
// The wins left when every win of award is taken out (split as above; the
// text itself when the award is not among them). Used by the redraw of one
// award, which undoes all of its wins.
model::Text WithoutEveryWinOf(const model::Text& won, const model::Text& award,
                              const std::vector<model::Text>& awards);
// The record number of the first award named exactly name, 0 when none;
// leaves the award store current, on that award when there is one.
int FindAward(const model::Text& name);
// The supplement count typed by the operator: a whole number of 1 or more
// (full-width digits allowed, blanks around it ignored); nothing otherwise.
std::optional<int> ParseSupplementCount(const model::Text& typed);

}  // namespace draw
