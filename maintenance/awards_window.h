// Handlers and routines of the awards window (inside maintenance/ and tests).
#pragma once

#include "model/text.h"
#include "platform/ui/ui.h"

namespace maintenance {

ui::Window AwardsWindow();
ui::Control AwardList();  // 超级列表框1 of the awards window

// The awards window. The double-click handlers get the mouse values and
// ignore them.
void OnAwardsCreated();
void FillAwardList();
void OnAwardsListClick();
void OnAwardsListDoubleClick(int x, int y, int keys);
void OnAwardsPictureHintDoubleClick(int x, int y, int keys);
void OnAwardsAddButtonClick();
void OnAwardsModifyButtonClick();
void OnAwardsDeleteButtonClick();
void OnAwardsCloseButtonClick();

// A winner count as the operator types it: a whole number of at most nine
// digits (full-width digits allowed), with blanks around it at most. False
// for anything else.
bool ParseWinnerCount(const model::Text& text, int* count);
// True when the bytes are a JPEG picture that can be decoded.
bool IsJpegPicture(const model::Bytes& bytes);

}  // namespace maintenance
