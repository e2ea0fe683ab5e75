// Writes the header of window and control names from the forms: one typed
// constant for every window and control, named as the form declares it, so
// that code naming a control the forms lack does not compile.
//
//   form_names OUTPUT FORM.json...
//
// For controls numbered from 1 without a gap (名单1 … 名单20), a function
// named after the stem with "At" gives the k-th: 名单At(k).
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

struct Form {
  std::string window;
  std::vector<std::string> controls;
};

bool readForm(const char* path, Form* form) {
  QFile file(QString::fromLocal8Bit(path));
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "form_names: cannot read %s\n", path);
    return false;
  }
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
  if (!doc.isObject()) {
    std::fprintf(stderr, "form_names: %s: %s\n", path, error.errorString().toUtf8().constData());
    return false;
  }
  const QJsonObject root = doc.object();
  form->window = root.value("name").toString().toStdString();
  for (const auto& c : root.value("controls").toArray())
    form->controls.push_back(c.toObject().value("name").toString().toStdString());
  return !form->window.empty();
}

// Stems of names "stem1" … "stemN" (N >= 2, every number present), with N.
std::map<std::string, int> numberedFamilies(const std::vector<std::string>& names) {
  static const std::regex numbered("^(.*[^0-9])([1-9][0-9]*)$");
  std::map<std::string, std::set<int>> seen;
  for (const std::string& n : names) {
    std::smatch m;
    if (std::regex_match(n, m, numbered)) seen[m[1]].insert(std::stoi(m[2]));
  }
  std::map<std::string, int> families;
  for (const auto& [stem, numbers] : seen) {
    const int last = *numbers.rbegin();
    if (last >= 2 && static_cast<int>(numbers.size()) == last) families[stem] = last;
  }
  return families;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: form_names OUTPUT FORM.json...\n");
    return 2;
  }
  std::vector<Form> forms;
  for (int i = 2; i < argc; ++i) {
    Form f;
    if (!readForm(argv[i], &f)) return 1;
    forms.push_back(std::move(f));
  }
  std::string out =
      "// Generated from forms/*.json by forms/form_names.cpp: do not edit.\n"
      "#pragma once\n\n"
      "#include \"platform/ui/ui.h\"\n\n"
      "namespace forms {\n";
  for (const Form& f : forms) {
    const std::string& w = f.window;
    out += "\nnamespace " + w + " {\n";
    out += "inline constexpr ui::WindowName window{\"" + w + "\"};\n";
    for (const std::string& c : f.controls)
      out += "inline constexpr ui::ControlName " + c + "{\"" + w + "\", \"" + c + "\"};\n";
    for (const auto& [stem, count] : numberedFamilies(f.controls)) {
      out += "// " + stem + "1 … " + stem + std::to_string(count) + " by number.\n";
      out += "inline ui::ControlName " + stem + "At(int k) {\n";
      out += "  static constexpr ui::ControlName all[] = {";
      for (int k = 1; k <= count; ++k) out += (k > 1 ? ", " : "") + stem + std::to_string(k);
      out += "};\n";
      out += "  return k >= 1 && k <= " + std::to_string(count) +
             " ? all[k - 1] : ui::ControlName{\"" + w + "\", \"" + stem + "?\"};\n";
      out += "}\n";
    }
    out += "}  // namespace " + w + "\n";
  }
  out += "\n}  // namespace forms\n";

  // Written only when it changed, so that nothing rebuilds for nothing.
  QFile old(QString::fromLocal8Bit(argv[1]));
  if (old.open(QIODevice::ReadOnly) && old.readAll() == QByteArray::fromStdString(out)) return 0;
  old.close();
  QSaveFile file(QString::fromLocal8Bit(argv[1]));
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(out.data(), static_cast<qint64>(out.size())) != static_cast<qint64>(out.size()) ||
      !file.commit()) {
    std::fprintf(stderr, "form_names: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
