// Shared set-up of the form-runtime tests: every handler the test forms bind
// logs its name and arguments; each test starts from freshly loaded forms.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/ui.h"
#include "unknown_names.h"

namespace uitest {

inline const char* kHandlerNames[] = {
    "OnMainCreated",      "OnMainDestroying",     "OnMainMoved",        "OnMainResized",
    "OnMainMouseDown",    "OnMainMouseUp",        "OnMainMouseMove",    "OnMenuStart",
    "OnMenuVoid",         "OnLabelMouseDown",     "OnLabelDoubleClick", "OnBoxMouseDown",
    "OnBoxMouseUp",       "OnBoxRightMouseDown",  "OnButtonClick",      "OnPictureButtonClick",
    "OnClockTick",        "OnPlainACreated",      "OnPlainADestroying", "OnPlainBCreated",
    "OnPlainBDestroying", "OnModalCreated",       "OnModalDestroying",  "OnFadedActivated",
    "OnFadedDeactivated", "OnPanelDestroying",    "OnPanelHotkey",      "OnCheckClick",
    "OnListComboChosen",  "OnEditComboChosen",    "OnListClick",        "OnListDoubleClick",
    "OnListFocusLost",    "OnListCurrentChanged", "OnSliderChanged",    "OnSliderFocusLost",
};

struct Call {
  std::string name;
  ui::EventArgs args;
};

inline std::vector<Call>& log() {
  static std::vector<Call> calls;
  return calls;
}
// Extra behaviour run by a handler after it logged (a test's own actions).
inline std::map<std::string, std::function<void(const ui::EventArgs&)>>& actions() {
  static std::map<std::string, std::function<void(const ui::EventArgs&)>> a;
  return a;
}

inline int count(const std::string& name) {
  int n = 0;
  for (const Call& c : log())
    if (c.name == name) ++n;
  return n;
}

// The first logged call of a handler (null when there is none).
inline const Call* firstCall(const std::string& name) {
  for (const Call& c : log())
    if (c.name == name) return &c;
  return nullptr;
}

inline std::vector<std::string> names() {
  std::vector<std::string> out;
  for (const Call& c : log()) out.push_back(c.name);
  return out;
}

inline std::vector<std::string> namesExcept(const std::vector<std::string>& skip) {
  std::vector<std::string> out;
  for (const Call& c : log()) {
    bool drop = false;
    for (const std::string& s : skip) drop = drop || s == c.name;
    if (!drop) out.push_back(c.name);
  }
  return out;
}

inline void registerLoggingHandlers() {
  for (const char* n : kHandlerNames) {
    std::string name = n;
    ui::registerHandler(name, ui::Handler([name](const ui::EventArgs& a) {
                          log().push_back({name, a});
                          auto it = actions().find(name);
                          if (it != actions().end()) it->second(a);
                        }));
  }
}

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::initRuntime();
    fixture::failOnUnknownNames();
    registerLoggingHandlers();
    std::string error;
    ASSERT_TRUE(ui::loadForms(PD_SOURCE_DIR "/tests/forms/runtime", &error)) << error;
    log().clear();
    actions().clear();
    ui::testing::enableScripting(true);
    ui::testing::clearShownDialogs();
  }
  void TearDown() override {
    ui::testing::useTestClock(false);
    ui::unloadForms();
    ui::testing::enableScripting(false);
    actions().clear();
    log().clear();
  }
};

}  // namespace uitest
