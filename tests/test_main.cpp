// Shared main of the test programs: one application object per process,
// headless, so that a test never needs a display.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <string>

#include "headless.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  fixture::setHeadlessEnvironment();
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
