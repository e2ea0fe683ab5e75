// A window or control name that no loaded form declares fails the running
// test: the program's code takes its names from forms/names.h, so such a
// name can only come from a form the code does not match.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/ui/ui.h"

namespace fixture {

inline void failOnUnknownNames() {
  ui::testing::reportUnknownNames(
      [](const std::string& message) { ADD_FAILURE() << "form runtime: " << message; });
}

}  // namespace fixture
