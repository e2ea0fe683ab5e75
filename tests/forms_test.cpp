// Every form of the program loads with every handler of the program bound:
// a form naming an unknown handler, type or event, or a missing picture,
// fails here. And the code names windows and controls only through the
// generated constants, which are the forms' own names.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "forms/names.h"
#include "platform/ui/ui.h"
#include "temp_files.h"

namespace {

namespace fs = std::filesystem;

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

// The other half: the program's code names windows and controls only
// through the constants of the generated forms/names.h, so a name the forms
// lack does not compile. A name spelt out as a literal would bypass that:
// none is left in the program's folders.
using fixture::readAll;

std::map<std::string, std::set<std::string>> declaredForms() {
  std::map<std::string, std::set<std::string>> forms;
  for (const auto& e : fs::directory_iterator(fs::path(PD_SOURCE_DIR) / "forms")) {
    if (e.path().extension() != ".json") continue;
    QFile file(QString::fromStdString(e.path().string()));
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QJsonObject form = QJsonDocument::fromJson(file.readAll()).object();
    std::set<std::string>& controls = forms[form.value("name").toString().toStdString()];
    for (const QJsonValue c : form.value("controls").toArray())
      controls.insert(c.toObject().value("name").toString().toStdString());
  }
  return forms;
}

TEST(ProgramForms, TheCodeNamesWindowsAndControlsOnlyByTheirConstants) {
  const auto forms = declaredForms();
  ASSERT_GT(forms.size(), 10u);
  static const std::regex spelt(
      R"re((ui::Control|ui::Window)(\s+\w+)?\s*\(\s*"|\.ctl\(\s*"|"([A-Z]\w*Window)")re");
  std::vector<std::string> faults;
  int constants = 0;
  for (const char* folder : {"app", "frame", "draw", "maintenance"})
    for (const auto& e : fs::directory_iterator(fs::path(PD_SOURCE_DIR) / folder)) {
      const std::string ext = e.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      const std::string text = readAll(e.path());
      for (std::sregex_iterator m(text.begin(), text.end(), spelt), end; m != end; ++m) {
        if ((*m)[3].matched && !forms.count((*m)[3])) continue;  // not a window's name
        faults.push_back(
            e.path().lexically_relative(PD_SOURCE_DIR).string() + ":" +
            std::to_string(1 + std::count(text.begin(), text.begin() + m->position(), '\n')) +
            ": " + m->str());
      }
      for (std::string::size_type at = text.find("forms::"); at != std::string::npos;
           at = text.find("forms::", at + 1))
        ++constants;
    }
  std::string all;
  for (const std::string& f : faults) all += "\n  " + f;
  EXPECT_TRUE(faults.empty()) << faults.size() << " names spelt out:" << all;
  // The code does name its windows and controls (a scan of the wrong folders
  // would pass).
  EXPECT_GT(constants, 150);
}

// The generated header declares every window and control of the forms, each
// as the form spells it.
TEST(ProgramForms, GeneratedNamesAreTheFormsNames) {
  const std::string header = readAll(fs::path(PD_BINARY_DIR) / "generated/forms/names.h");
  ASSERT_FALSE(header.empty());
  int names = 0;
  for (const auto& [window, controls] : declaredForms()) {
    EXPECT_NE(header.find("namespace " + window + " {\ninline constexpr ui::WindowName window{\"" +
                          window + "\"};"),
              std::string::npos)
        << window;
    for (const std::string& c : controls) {
      ++names;
      EXPECT_NE(header.find("inline constexpr ui::ControlName " + c + "{\"" + window + "\", \"" +
                            c + "\"};"),
                std::string::npos)
          << window << "." << c;
    }
  }
  EXPECT_GT(names, 200);
  // A numbered family gives its members by number, and nothing past its end.
  EXPECT_STREQ(forms::DrawPanelWindow::名单At(20).name, "名单20");
  EXPECT_STREQ(forms::DrawBackdropWindow::分组框At(1).name, "分组框1");
  EXPECT_STREQ(forms::DrawPanelWindow::名单At(21).name, "名单?");
}

}  // namespace
