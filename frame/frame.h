// What the draw and the maintenance windows share of the application frame.
// It sits below them: it knows the start window and the stores, not the
// windows that call it.
#pragma once

#include <atomic>

#include "model/text.h"

namespace frame {

// Program-wide flags of the frame, shared with the draw. The two scrolling
// flags are polled by the scroller threads, hence atomic.
extern int gOsKind;  // 2 on "Windows Vista", else 1
extern std::atomic<int> gBannerScrolling;
extern std::atomic<int> gListScrolling;
// Tells the winners list's destruction not to restore the start window.
extern int gSuppressListRestore;

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

}  // namespace frame
