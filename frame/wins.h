// The wins a participant holds. A participant's 中奖项目 holds the names of
// the awards won, one after the other with no separator: the draw, the void,
// the redraws and the maintenance windows all read and change it through
// these routines, so that they agree on which wins a text holds.
#pragma once

#include <optional>
#include <vector>

#include "model/text.h"

namespace frame {

// The award names in store order, as the splits below take them; leaves the
// award store current with its cursor where it was.
std::vector<model::Text> AwardNames();

// Splits won into the award names it is made of, choosing among the given
// award names (a longer name first where several fit); nothing when
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
}  // namespace frame
