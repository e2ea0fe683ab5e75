// Handlers and routines of the participants window and of the windows it
// opens (inside maintenance/ and tests).
#pragma once

#include <cstdint>
#include <vector>

#include "model/text.h"
#include "platform/ui/ui.h"

namespace maintenance {

// The 0-based row last clicked in the list (-1: the click selected no row;
// -10 from the window's creation until the first click).
extern std::int32_t gPersonnelSelection;
// The row found by the last find (-1: not found).
extern std::int32_t gLastFoundRow;

ui::Window ParticipantsWindow();
ui::Control PersonnelList();  // 超级列表框1 of the participants window

// The participants window.
void OnParticipantsCreated();
void OnParticipantsOkButtonClick();
void OnParticipantsFindButtonClick();
void OnParticipantsClearButtonClick();
void OnParticipantsListClick();
void OnParticipantsListDoubleClick();
void OnParticipantsListCurrentItemChanged();
void OnParticipantsAddButtonClick();
void OnParticipantsGenerateButtonClick();
// Moves the cursor to the record of gPersonnelSelection and opens the editor
// on it; returns when the editor closed.
void OpenPersonEditor();
// The radio box that shows a stored display mode (1..5; 0 counts as 1), or
// 0 when the value is none of them.
int RadioForDisplayMode(double mode);

// The wins held by participants' 中奖项目, taken back from their awards:
// each award's 已抽取人数 goes down by the wins it loses, not below 0. Runs in
// the caller's transaction (the participants themselves go in the same
// change); leaves the participant store current with its cursor where it was.
bool TakeBackWins(const std::vector<model::Text>& won);
// The awards one 中奖项目 holds, as the operator reads them: the award names
// joined by "、", or the text itself when it names no award.
model::Text WinsForOperator(const model::Text& won);

// Adding and editing a participant.
void OnAddPersonAddButtonClick();
void OnAddPersonCloseButtonClick();
void OnEditPersonCreated();
void OnEditPersonPreviousButtonClick();
void OnEditPersonNextButtonClick();
void OnEditPersonModifyButtonClick();
void OnEditPersonDeleteButtonClick();
void OnEditPersonCancelButtonClick();

// Generating numbered entries.
void OnGenerateEntriesGenerateButtonClick();
void OnGenerateEntriesCancelButtonClick();
// Most entries one generation may append.
constexpr int kMaxGeneratedEntries = 100000;
// The 编号 of number n: the decimal text, with fixed width w > 0 the last w
// bytes of "00000000" followed by it (w of 0 or less: ""), between prefix and
// suffix.
model::Text EntryCode(const model::Text& prefix, long long n, bool fixedWidth, int width,
                      const model::Text& suffix);
// True when the last digit of n's decimal text is one of the excluded digits
// (excluded[d] for digit d).
bool EndsInExcludedDigit(long long n, const bool (&excluded)[10]);

}  // namespace maintenance
