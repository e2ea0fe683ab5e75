// The application frame's entry points: start-up, handler registration and
// the guard of the start-menu items.
#pragma once

#include <string>

#include "frame/frame.h"

namespace app {

// The program's entry after the runtime started: loads the forms, prepares
// the draw state, opens the start window and runs the message loop.
int RunProgram();
// The start-up before the message loop: forms from the folder `forms`, the
// draw state, the end-of-program callback, the start window.
bool StartProgram(const std::string& forms);

// Registers every handler of the application frame by name.
void registerAppHandlers();
// Registers the handlers of every folder (frame, draw, maintenance): what the
// program and the form-loading test use.
void registerAllHandlers();

// The check at the head of the guarded start-menu actions: stops and closes
// the winners list; refuses while the draw panel is open. True: go on.
bool GuardDrawRunning();

}  // namespace app
