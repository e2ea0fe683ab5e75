// Every form of the program loads with every handler of the program bound:
// a form naming an unknown handler, type or event, or a missing picture,
// fails here. And every window and control name the code spells out is one
// the forms declare.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/ui/ui.h"

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

// The other half: every window and control name the program's code spells
// out as a literal is declared in the forms. The runtime only warns about an
// unknown name and carries on, so a misspelt name would otherwise go unseen.
// The names are found in the sources: window literals, ui::Control(window,
// control), v.ctl("...") on a window bound to a literal or to a helper such as
// DrawPanel(), and calls of helpers such as startCtl("...") that name a
// control of one fixed window.
class SourceNames {
 public:
  SourceNames() {
    for (const char* folder : {"app", "draw", "maintenance"})
      for (const auto& e : fs::directory_iterator(fs::path(PD_SOURCE_DIR) / folder)) {
        const std::string ext = e.path().extension().string();
        if (ext != ".cpp" && ext != ".h") continue;
        File f;
        f.path = e.path();
        f.text = readAll(e.path());
        files_.push_back(std::move(f));
      }
    std::sort(files_.begin(), files_.end(),
              [](const File& a, const File& b) { return a.path < b.path; });
    // Helpers may be defined in a later file than their first use.
    for (File& f : files_) collectWindowHelpers(f);
    for (File& f : files_) collectControlHelpers(f);
    for (File& f : files_) collectBindings(f);
  }

  // Checks every use against forms (window -> its controls); returns the
  // faults, one line each, and counts the names checked.
  std::vector<std::string> check(const std::map<std::string, std::set<std::string>>& forms,
                                 int* checked) const {
    std::vector<std::string> faults;
    *checked = 0;
    auto where = [](const File& f, std::ptrdiff_t pos) {
      return f.path.lexically_relative(PD_SOURCE_DIR).string() + ":" +
             std::to_string(1 + std::count(f.text.begin(), f.text.begin() + pos, '\n'));
    };
    auto window = [&](const File& f, std::ptrdiff_t pos, const std::string& w) {
      ++*checked;
      if (!forms.count(w)) faults.push_back(where(f, pos) + ": no window \"" + w + "\"");
    };
    auto control = [&](const File& f, std::ptrdiff_t pos, const std::string& w,
                       const std::string& c) {
      ++*checked;
      auto it = forms.find(w);
      if (it == forms.end())
        faults.push_back(where(f, pos) + ": no window \"" + w + "\"");
      else if (!it->second.count(c))
        faults.push_back(where(f, pos) + ": window \"" + w + "\" has no control \"" + c + "\"");
    };
    static const std::regex windowLiteral(R"re("([A-Z][A-Za-z0-9]*Window)")re");
    static const std::regex windowCall(R"re(ui::Window(?:\s+\w+)?\s*\(\s*(\w+)\s*\))re");
    static const std::regex controlCall(
        R"re(ui::Control(?:\s+\w+)?\s*\(\s*("[^"]*"|\w+)\s*,\s*"([^"]*)"\s*\))re");
    static const std::regex memberCtl(R"re(\.ctl\(\s*"([^"]*)"\s*\))re");
    static const std::regex helperCall(R"re((^|[^.\w])(\w+)\(\s*("[^"]*"|\w+)\s*\))re");
    for (const File& f : files_) {
      for (std::sregex_iterator m(f.text.begin(), f.text.end(), windowLiteral), end; m != end; ++m)
        window(f, m->position(), (*m)[1]);
      // A window named by a constant.
      for (std::sregex_iterator m(f.text.begin(), f.text.end(), windowCall), end; m != end; ++m)
        if (auto w = f.constants.find((*m)[1]); w != f.constants.end())
          window(f, m->position(), w->second);
      for (std::sregex_iterator m(f.text.begin(), f.text.end(), controlCall), end; m != end; ++m)
        if (auto w = windowOf(f, (*m)[1])) control(f, m->position(), *w, (*m)[2]);
      for (std::sregex_iterator m(f.text.begin(), f.text.end(), memberCtl), end; m != end; ++m) {
        const std::string before = f.text.substr(0, static_cast<size_t>(m->position()));
        if (auto w = receiverWindow(f, before)) {
          control(f, m->position(), *w, (*m)[1]);
        } else {
          faults.push_back(where(f, m->position()) + ": cannot tell which window holds \"" +
                           (*m)[1].str() + "\"");
        }
      }
      for (std::sregex_iterator m(f.text.begin(), f.text.end(), helperCall), end; m != end; ++m)
        if (auto w = helperWindow((*m)[2], f.controlHelpers, controlHelpers_))
          if (auto c = windowOf(f, (*m)[3])) control(f, m->position(2), *w, *c);
    }
    return faults;
  }

 private:
  struct Binding {
    std::ptrdiff_t pos;
    std::string name;
    std::optional<std::string> window;  // none: bound to something not known here
  };
  struct File {
    fs::path path;
    std::string text;
    std::map<std::string, std::string> constants;  // kWindow -> "VoidRedrawWindow"
    std::map<std::string, std::string> windowHelpers, controlHelpers;
    std::vector<Binding> bindings;  // ui::Window variables, in file order
  };

  static std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // A name given as a literal or as a constant of the file.
  static std::optional<std::string> windowOf(const File& f, const std::string& arg) {
    if (arg.size() >= 2 && arg.front() == '"') return arg.substr(1, arg.size() - 2);
    if (auto it = f.constants.find(arg); it != f.constants.end()) return it->second;
    return std::nullopt;
  }

  // A helper of the file itself, else one of the program that no other file
  // defines differently.
  static std::optional<std::string> helperWindow(const std::string& name,
                                                 const std::map<std::string, std::string>& local,
                                                 const std::map<std::string, std::string>& global) {
    if (auto it = local.find(name); it != local.end()) return it->second;
    if (auto it = global.find(name); it != global.end() && !it->second.empty()) return it->second;
    return std::nullopt;
  }

  // The window of the expression just before ".ctl(": ui::Window("X"),
  // Helper() or a variable bound earlier in the file.
  std::optional<std::string> receiverWindow(const File& f, const std::string& before) const {
    static const std::regex literal(R"re(ui::Window\(\s*("[^"]*"|\w+)\s*\)$)re");
    static const std::regex helper(R"re((\w+)\(\)$)re");
    static const std::regex variable(R"re((\w+)$)re");
    std::smatch m;
    if (std::regex_search(before, m, literal)) return windowOf(f, m[1]);
    if (std::regex_search(before, m, helper))
      return helperWindow(m[1], f.windowHelpers, windowHelpers_);
    if (std::regex_search(before, m, variable)) {
      const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(before.size());
      const Binding* nearest = nullptr;
      for (const Binding& b : f.bindings)
        if (b.pos < at && b.name == m[1]) nearest = &b;
      if (nearest) return nearest->window;
    }
    return std::nullopt;
  }

  void collectWindowHelpers(File& f) {
    static const std::regex constant(
        R"re((?:constexpr|const)\s+(?:const\s+)?char\s*(?:\*\s*(?:const\s+)?)?(\w+)(?:\[\])?\s*=\s*"([^"]*)")re");
    static const std::regex windowHelper(
        R"re(ui::Window\s+(\w+)\(\)\s*\{\s*return\s+ui::Window\(\s*("[^"]*"|\w+)\s*\);\s*\})re");
    const std::string& t = f.text;
    for (std::sregex_iterator m(t.begin(), t.end(), constant), end; m != end; ++m)
      f.constants[(*m)[1]] = (*m)[2];
    for (std::sregex_iterator m(t.begin(), t.end(), windowHelper), end; m != end; ++m)
      if (auto w = windowOf(f, (*m)[2])) addHelper(f.windowHelpers, windowHelpers_, (*m)[1], *w);
  }

  void collectControlHelpers(File& f) {
    static const std::regex controlHelper(
        R"re(ui::Control\s+(\w+)\(\s*const\s+char\s*\*\s*(\w+)\s*\)\s*\{\s*return\s+(?:ui::Control\(\s*("[^"]*"|\w+)\s*,\s*(\w+)\s*\)|(\w+)\(\)\.ctl\(\s*(\w+)\s*\));\s*\})re");
    const std::string& t = f.text;
    for (std::sregex_iterator m(t.begin(), t.end(), controlHelper), end; m != end; ++m) {
      std::optional<std::string> w;
      if ((*m)[3].matched && (*m)[4] == (*m)[2]) w = windowOf(f, (*m)[3]);
      if ((*m)[5].matched && (*m)[6] == (*m)[2])
        w = helperWindow((*m)[5], f.windowHelpers, windowHelpers_);
      if (w) addHelper(f.controlHelpers, controlHelpers_, (*m)[1], *w);
    }
  }

  void collectBindings(File& f) {
    static const std::regex declaration(R"re(\bui::Window\s*&?\s*(\w+)\s*([(=,)]))re");
    const std::string& t = f.text;
    for (std::sregex_iterator m(t.begin(), t.end(), declaration), end; m != end; ++m) {
      Binding b{m->position(), (*m)[1], std::nullopt};
      const size_t after = static_cast<size_t>(m->position() + m->length());
      const std::string rest = t.substr(after, t.find_first_of(";{", after) - after);
      std::smatch a;
      static const std::regex ctorArg(R"re(^\s*("[^"]*"|\w+)\s*\))re");
      static const std::regex assigned(
          R"re(^\s*(?:ui::Window\(\s*("[^"]*"|\w+)\s*\)|(\w+)\(\))\s*$)re");
      if ((*m)[2] == "(") {
        if (rest.find_first_not_of(" )") == std::string::npos) continue;  // a function
        if (std::regex_search(rest, a, ctorArg)) b.window = windowOf(f, a[1]);
      } else if ((*m)[2] == "=" && std::regex_search(rest, a, assigned)) {
        b.window =
            a[1].matched ? windowOf(f, a[1]) : helperWindow(a[2], f.windowHelpers, windowHelpers_);
      }
      f.bindings.push_back(b);
    }
  }

  static void addHelper(std::map<std::string, std::string>& local,
                        std::map<std::string, std::string>& global, const std::string& name,
                        const std::string& window) {
    local[name] = window;
    // Helpers of the same name for different windows (a file's own ctl())
    // are known only inside their files.
    auto [it, added] = global.emplace(name, window);
    if (!added && it->second != window) it->second.clear();
  }

  std::vector<File> files_;
  std::map<std::string, std::string> windowHelpers_, controlHelpers_;
};

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

TEST(ProgramForms, EveryNameTheCodeSpellsOutIsDeclared) {
  const auto forms = declaredForms();
  ASSERT_GT(forms.size(), 10u);
  int checked = 0;
  const std::vector<std::string> faults = SourceNames().check(forms, &checked);
  std::string all;
  for (const std::string& f : faults) all += "\n  " + f;
  EXPECT_TRUE(faults.empty()) << faults.size() << " names the forms do not declare:" << all;
  // The scan still finds the program's names (a scan that matched nothing
  // would pass).
  EXPECT_GT(checked, 150);
  std::printf("%d window and control names checked\n", checked);
}

}  // namespace
