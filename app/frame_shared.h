// What the draw and the maintenance windows share of the application frame.
// It sits below them: it knows the start window and the stores, not the
// windows that call it.
#pragma once

#include "model/text.h"

namespace app {

// Applies the settings record to the start window (titles, background
// picture, idle music, layout) and leaves the settings store current.
void ApplySystemSettings();

// True once the exit item has begun ending the program: the stores may be
// closed and the windows are going; nothing may be restored or written.
bool ProgramEnding();
void MarkProgramEnding();
// A start window being created begins a new run.
void ResetProgramEnding();

// Width of a caption laid out at perByte pixels per byte, and its centred left.
int CaptionWidth(const model::Text& caption, int perByte);
int Centred(int outer, int inner);

}  // namespace app
