// Every form of the program loads with every handler of the program bound:
// a form naming an unknown handler, type or event, or a missing picture,
// fails here.
#include <gtest/gtest.h>

#include <QDir>

#include "app/app.h"
#include "platform/ui.h"

namespace {

TEST(ProgramForms, EveryFormLoads) {
  ui::initRuntime();
  app::registerAllHandlers();
  const char* dir = PD_SOURCE_DIR "/forms";
  int files = static_cast<int>(QDir(dir).entryList({"*.json"}, QDir::Files).size());
  std::string error;
  ASSERT_TRUE(ui::loadForms(dir, &error)) << error;
  EXPECT_EQ(static_cast<int>(ui::windowNames().size()), files);
  ui::unloadForms();
  // The copy compiled into the program loads the same way.
  ASSERT_TRUE(ui::loadForms(":/forms", &error)) << error;
  EXPECT_EQ(static_cast<int>(ui::windowNames().size()), files);
  ui::unloadForms();
}

}  // namespace
