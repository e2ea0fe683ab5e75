// The environment of a headless test process: no display, no sound card, and
// a private runtime folder when the machine gives none. Call before the
// application object is made.
#pragma once

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fixture {

inline void setHeadlessEnvironment() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  if (!getenv("XDG_RUNTIME_DIR")) {
    std::string dir = "/tmp/pd-xdg-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
}

}  // namespace fixture
