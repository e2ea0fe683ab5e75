// Shared main of the test programs: one application object per process,
// headless, so that a test never needs a display.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  if (!getenv("XDG_RUNTIME_DIR")) {
    std::string dir = "/tmp/pd-xdg-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
