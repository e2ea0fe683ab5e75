// The forms data loader: one JSON file per window (see forms/README.md).
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>

#include <set>

#include "platform/ui/ui_core.h"

namespace ui {
namespace detail {
namespace {

const std::set<QString> kWindowKeys = {
    "name",       "left",    "top",         "width",    "height",     "visible", "border",
    "captionBar", "caption", "alwaysOnTop", "taskbar",  "background", "picture", "pictureMode",
    "layered",    "events",  "menu",        "controls", "takesFocus"};
const std::set<std::string> kWindowEvents = {"created",   "destroying",    "moved",     "resized",
                                             "activated", "deactivated",   "mouseMove", "mouseDown",
                                             "mouseUp",   "rightMouseDown"};
const std::set<QString> kControlKeys = {
    "name",       "type",     "parent",      "left",     "top",       "width",
    "height",     "visible",  "enabled",     "caption",  "font",      "color",
    "background", "shadow",   "alignment",   "wrap",     "multiline", "focus",
    "focusable",  "picture",  "pictures",    "items",    "columns",   "parts",
    "checked",    "style",    "min",         "max",      "position",  "tickFrequency",
    "pageStep",   "lineStep", "orientation", "inverted", "ticks",     "interval",
    "dialogType", "filter",   "defaultExt",  "colors",   "icons",     "events"};

const std::set<std::string> kMouse = {"mouseDown", "mouseUp",     "rightMouseDown",
                                      "mouseMove", "doubleClick", "click"};

// Events each control type can raise.
const std::map<std::string, std::set<std::string>>& typeEvents() {
  static const std::map<std::string, std::set<std::string>> m = {
      {"label",
       {"click", "doubleClick", "mouseDown", "mouseUp", "rightMouseDown", "mouseMove", "hotkey"}},
      {"transparentLabel",
       {"click", "doubleClick", "mouseDown", "mouseUp", "rightMouseDown", "mouseMove", "hotkey"}},
      {"pictureBox",
       {"click", "doubleClick", "mouseDown", "mouseUp", "rightMouseDown", "mouseMove", "focusLost",
        "hotkey"}},
      {"shapeBox", {"click", "mouseDown", "mouseUp", "rightMouseDown", "mouseMove"}},
      {"groupBox", {"hotkey"}},
      {"button", {"click", "focusLost", "hotkey"}},
      {"pictureButton", {"click", "hotkey"}},
      {"checkBox", {"click", "focusLost"}},
      {"radioButton", {"click", "focusLost"}},
      {"comboBox", {"itemChosen", "focusLost"}},
      {"editBox", {"focusLost"}},
      {"checkList", {"click", "currentItemChanged", "focusLost"}},
      {"listView", {"click", "doubleClick", "focusLost", "currentItemChanged"}},
      {"statusBar", {}},
      {"progressBar", {}},
      {"slider", {"positionChanged", "focusLost"}},
      {"splitter", {}},
      {"timer", {"tick"}},
      {"fileDialog", {}},
      {"systemVolume", {}},
      {"menuStyle", {}},
      {"object", {}},
  };
  return m;
}

const std::set<std::string> kContainers = {"pictureBox", "groupBox", "shapeBox"};
const std::set<std::string> kNonVisual = {"timer", "fileDialog", "systemVolume", "menuStyle",
                                          "object"};

class Reader {
 public:
  Reader(QString file, QString dir) : file_(std::move(file)), dir_(std::move(dir)) {}
  std::string error;

  bool fail(const QString& where, const QString& what) {
    if (error.empty())
      error = (file_ + ": " + (where.isEmpty() ? QString() : where + ": ") + what).toStdString();
    return false;
  }

  bool checkKeys(const QJsonObject& o, const std::set<QString>& allowed, const QString& where) {
    for (auto it = o.begin(); it != o.end(); ++it)
      if (!allowed.count(it.key())) return fail(where, "unknown key \"" + it.key() + "\"");
    return true;
  }

  bool getInt(const QJsonObject& o, const char* key, int* out, const QString& where) {
    if (!o.contains(key)) return true;
    QJsonValue v = o.value(key);
    if (!v.isDouble()) return fail(where, QString("\"%1\" must be a number").arg(key));
    *out = static_cast<int>(v.toDouble());
    return true;
  }
  bool getBool(const QJsonObject& o, const char* key, bool* out, const QString& where) {
    if (!o.contains(key)) return true;
    QJsonValue v = o.value(key);
    if (v.isBool()) {
      *out = v.toBool();
    } else if (v.isDouble()) {
      *out = v.toDouble() != 0;
    } else {
      return fail(where, QString("\"%1\" must be true or false").arg(key));
    }
    return true;
  }
  bool getString(const QJsonObject& o, const char* key, QString* out, const QString& where) {
    if (!o.contains(key)) return true;
    QJsonValue v = o.value(key);
    if (!v.isString()) return fail(where, QString("\"%1\" must be a text").arg(key));
    *out = v.toString();
    return true;
  }
  bool getColor(const QJsonObject& o, const char* key, std::optional<QColor>* out,
                const QString& where) {
    if (!o.contains(key)) return true;
    QColor c;
    if (!toColor(o.value(key), &c))
      return fail(where, QString("\"%1\" must be [r, g, b] with values 0 to 255").arg(key));
    *out = c;
    return true;
  }
  static bool toColor(const QJsonValue& v, QColor* c) {
    if (!v.isArray()) return false;
    QJsonArray a = v.toArray();
    if (a.size() != 3) return false;
    int rgb[3];
    for (int i = 0; i < 3; ++i) {
      if (!a[i].isDouble()) return false;
      rgb[i] = static_cast<int>(a[i].toDouble());
      if (rgb[i] < 0 || rgb[i] > 255) return false;
    }
    *c = QColor(rgb[0], rgb[1], rgb[2]);
    return true;
  }
  bool getPicture(const QJsonValue& v, Bytes* out, const QString& where) {
    if (!v.isString()) return fail(where, "a picture must be a path relative to the forms folder");
    QString path = QDir(dir_).filePath(v.toString());
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return fail(where, "missing picture \"" + path + "\"");
    QByteArray data = f.readAll();
    out->assign(data.begin(), data.end());
    return true;
  }
  bool getEvents(const QJsonObject& o, const std::set<std::string>& allowed,
                 std::map<std::string, std::string>* out, const QString& where) {
    if (!o.contains("events")) return true;
    if (!o.value("events").isObject()) return fail(where, "\"events\" must be an object");
    QJsonObject ev = o.value("events").toObject();
    for (auto it = ev.begin(); it != ev.end(); ++it) {
      std::string name = it.key().toStdString();
      if (!allowed.count(name)) return fail(where, "unknown event \"" + it.key() + "\"");
      if (!it.value().isString() || it.value().toString().isEmpty())
        return fail(where, "event \"" + it.key() + "\" must name a handler");
      std::string handler = it.value().toString().toStdString();
      if (!hasHandler(handler))
        return fail(where, "event \"" + it.key() + "\" is bound to the unknown handler \"" +
                               it.value().toString() + "\"");
      (*out)[name] = handler;
    }
    return true;
  }
  bool getFont(const QJsonObject& o, std::optional<FontDecl>* out, const QString& where) {
    if (!o.contains("font")) return true;
    if (!o.value("font").isObject()) return fail(where, "\"font\" must be an object");
    QJsonObject f = o.value("font").toObject();
    if (!checkKeys(f, {"face", "height", "bold", "charset"}, where + ": font")) return false;
    FontDecl d;
    if (!getString(f, "face", &d.face, where) || !getInt(f, "height", &d.pixelHeight, where) ||
        !getBool(f, "bold", &d.bold, where) || !getString(f, "charset", &d.charset, where))
      return false;
    if (d.pixelHeight < 0) return fail(where, "font height must not be negative");
    *out = d;
    return true;
  }

  bool control(const QJsonObject& o, WindowDecl& w, ControlDecl* c) {
    QString where = "window \"" + QString::fromStdString(w.name) + "\"";
    QString name;
    if (!o.value("name").isString() || (name = o.value("name").toString()).isEmpty())
      return fail(where, "a control has no name");
    where += ", control \"" + name + "\"";
    c->name = name.toStdString();
    if (!checkKeys(o, kControlKeys, where)) return false;
    QString type;
    if (!getString(o, "type", &type, where)) return false;
    c->type = type.toStdString();
    auto te = typeEvents().find(c->type);
    if (te == typeEvents().end()) return fail(where, "unknown control type \"" + type + "\"");
    for (const ControlDecl& other : w.controls)
      if (other.name == c->name) return fail(where, "duplicate control name");
    QString parent;
    if (!getString(o, "parent", &parent, where)) return false;
    c->parent = parent.toStdString();
    if (!c->parent.empty()) {
      const ControlDecl* p = nullptr;
      for (const ControlDecl& other : w.controls)
        if (other.name == c->parent) p = &other;
      if (!p) return fail(where, "parent \"" + parent + "\" is not declared before the control");
      if (!kContainers.count(p->type) && !kNonVisual.count(c->type))
        return fail(where, "parent \"" + parent + "\" cannot hold controls");
    }
    if (!getInt(o, "left", &c->left, where) || !getInt(o, "top", &c->top, where) ||
        !getInt(o, "width", &c->width, where) || !getInt(o, "height", &c->height, where) ||
        !getBool(o, "visible", &c->visible, where) || !getBool(o, "enabled", &c->enabled, where) ||
        !getString(o, "caption", &c->caption, where) || !getFont(o, &c->font, where) ||
        !getColor(o, "color", &c->color, where) ||
        !getColor(o, "background", &c->background, where) ||
        !getBool(o, "shadow", &c->shadow, where) ||
        !getString(o, "alignment", &c->alignment, where) || !getBool(o, "wrap", &c->wrap, where) ||
        !getBool(o, "multiline", &c->multiline, where) ||
        !getBool(o, "focus", &c->focusable, where) ||
        !getBool(o, "focusable", &c->focusable, where) ||
        !getBool(o, "checked", &c->checked, where) || !getString(o, "style", &c->style, where) ||
        !getInt(o, "min", &c->minimum, where) || !getInt(o, "max", &c->maximum, where) ||
        !getInt(o, "position", &c->position, where) ||
        !getInt(o, "tickFrequency", &c->tickFrequency, where) ||
        !getInt(o, "pageStep", &c->pageStep, where) ||
        !getInt(o, "lineStep", &c->lineStep, where) ||
        !getString(o, "orientation", &c->orientation, where) ||
        !getBool(o, "inverted", &c->inverted, where) || !getString(o, "ticks", &c->ticks, where) ||
        !getInt(o, "interval", &c->interval, where) ||
        !getString(o, "dialogType", &c->dialogType, where) ||
        !getString(o, "filter", &c->filter, where) ||
        !getString(o, "defaultExt", &c->defaultExt, where))
      return false;
    if (c->width < 0 || c->height < 0) return fail(where, "width and height must not be negative");
    if (!c->alignment.isEmpty() && c->alignment != "left" && c->alignment != "center" &&
        c->alignment != "right")
      return fail(where, "alignment must be \"left\", \"center\" or \"right\"");
    if (c->type == "comboBox" && !c->style.isEmpty() && c->style != "list" && c->style != "edit")
      return fail(where, "combo box style must be \"list\" or \"edit\"");
    if (!c->orientation.isEmpty() && c->orientation != "horizontal" && c->orientation != "vertical")
      return fail(where, "orientation must be \"horizontal\" or \"vertical\"");
    if (!c->ticks.isEmpty() && c->ticks != "none" && c->ticks != "both" && c->ticks != "above" &&
        c->ticks != "below" && c->ticks != "left" && c->ticks != "right")
      return fail(where, "ticks must be none, both, above, below, left or right");
    if (!c->dialogType.isEmpty() && c->dialogType != "open" && c->dialogType != "save")
      return fail(where, "dialogType must be \"open\" or \"save\"");
    if (c->minimum > c->maximum) return fail(where, "min is above max");
    if (c->type == "timer" && c->interval < 0) return fail(where, "interval must not be negative");
    if (o.contains("picture") && !getPicture(o.value("picture"), &c->pictures["picture"], where))
      return false;
    if (o.contains("pictures")) {
      // Faces of a picture button: [normal, hot, pressed] or {normal, hot, pressed}.
      static const char* kFaces[] = {"normal", "hot", "pressed"};
      QJsonValue pv = o.value("pictures");
      if (pv.isArray()) {
        QJsonArray faces = pv.toArray();
        if (faces.size() > 3) return fail(where, "\"pictures\" has more than three faces");
        for (int i = 0; i < faces.size(); ++i)
          if (!getPicture(faces[i], &c->pictures[kFaces[i]], where)) return false;
      } else if (pv.isObject()) {
        QJsonObject faces = pv.toObject();
        for (auto it = faces.begin(); it != faces.end(); ++it) {
          std::string face = it.key().toStdString();
          if (face != "normal" && face != "hot" && face != "pressed")
            return fail(where, "unknown picture face \"" + it.key() + "\"");
          if (!getPicture(it.value(), &c->pictures[face], where)) return false;
        }
      } else {
        return fail(where, "\"pictures\" must list the faces normal, hot, pressed");
      }
    }
    if (o.contains("items")) {
      if (!o.value("items").isArray()) return fail(where, "\"items\" must be a list of texts");
      for (const QJsonValue& v : o.value("items").toArray()) {
        if (!v.isString()) return fail(where, "\"items\" must be a list of texts");
        c->items << v.toString();
      }
    }
    if (o.contains("columns")) {
      if (!o.value("columns").isArray()) return fail(where, "\"columns\" must be a list");
      for (const QJsonValue& v : o.value("columns").toArray()) {
        QJsonObject col = v.toObject();
        if (!v.isObject() || !col.value("caption").isString())
          return fail(where, "a column needs a caption");
        if (!checkKeys(col, {"caption", "width"}, where + ": column")) return false;
        int width = 80;
        if (!getInt(col, "width", &width, where)) return false;
        c->columns.emplace_back(col.value("caption").toString(), width);
      }
    }
    if (o.contains("parts")) {
      if (!o.value("parts").isArray()) return fail(where, "\"parts\" must be a list of widths");
      for (const QJsonValue& v : o.value("parts").toArray()) {
        if (!v.isDouble()) return fail(where, "\"parts\" must be a list of widths");
        c->parts.push_back(static_cast<int>(v.toDouble()));
      }
    }
    if (!menuStyle(o, c, where)) return false;
    return getEvents(o, te->second, &c->events, where);
  }

  // The look of the window's pop-up menu: six colours and the icons of its
  // command items.
  bool menuStyle(const QJsonObject& o, ControlDecl* c, const QString& where) {
    if (c->type != "menuStyle") {
      if (o.contains("colors") || o.contains("icons"))
        return fail(where, "\"colors\" and \"icons\" belong to a menuStyle control");
      return true;
    }
    if (o.contains("colors")) {
      QJsonArray colors = o.value("colors").toArray();
      if (!o.value("colors").isArray() || colors.size() != 6)
        return fail(where,
                    "\"colors\" must list six [r, g, b]: background, text, highlight "
                    "background, highlight text, separator, icon band");
      for (int i = 0; i < colors.size(); ++i) {
        QColor color;
        if (!toColor(colors[i], &color))
          return fail(where, QString("colour %1 of \"colors\" must be [r, g, b] with values 0 to "
                                     "255")
                                 .arg(i + 1));
        c->menuColors.push_back(color);
      }
    }
    if (o.contains("icons")) {
      if (!o.value("icons").isArray()) return fail(where, "\"icons\" must be a list of pictures");
      for (const QJsonValue& v : o.value("icons").toArray()) {
        Bytes icon;
        if (!getPicture(v, &icon, where)) return false;
        if (decodePicture(icon).isNull())
          return fail(where, "the icon \"" + v.toString() + "\" cannot be decoded");
        c->menuIcons.push_back(std::move(icon));
      }
    }
    return true;
  }

  // A menu style pairs its icons with the menu's command items: one style per
  // window, and no more icons than items.
  bool checkMenuStyles(const WindowDecl& w, const QString& where) {
    int commands = 0;
    for (const MenuItemDecl& item : w.menu)
      if (item.level == 1 && item.caption != "-") ++commands;
    const ControlDecl* style = nullptr;
    for (const ControlDecl& c : w.controls) {
      if (c.type != "menuStyle") continue;
      QString cw = where + ", control \"" + QString::fromStdString(c.name) + "\"";
      if (style)
        return fail(cw, "the window already has the menu style \"" +
                            QString::fromStdString(style->name) + "\"");
      style = &c;
      if (static_cast<int>(c.menuIcons.size()) > commands)
        return fail(cw,
                    QString("%1 icons for %2 menu items").arg(c.menuIcons.size()).arg(commands));
    }
    return true;
  }

  bool window(const QJsonObject& o, WindowDecl* w) {
    if (!o.value("name").isString() || o.value("name").toString().isEmpty())
      return fail(QString(), "the window has no name");
    w->name = o.value("name").toString().toStdString();
    QString where = "window \"" + o.value("name").toString() + "\"";
    if (!checkKeys(o, kWindowKeys, where)) return false;
    if (!getInt(o, "left", &w->left, where) || !getInt(o, "top", &w->top, where) ||
        !getInt(o, "width", &w->width, where) || !getInt(o, "height", &w->height, where) ||
        !getBool(o, "visible", &w->visible, where) || !getString(o, "border", &w->border, where) ||
        !getBool(o, "captionBar", &w->captionBar, where) ||
        !getString(o, "caption", &w->caption, where) ||
        !getBool(o, "alwaysOnTop", &w->alwaysOnTop, where) ||
        !getBool(o, "taskbar", &w->taskbar, where) ||
        !getBool(o, "takesFocus", &w->takesFocus, where) ||
        !getColor(o, "background", &w->background, where))
      return false;
    // A window declared without a position opens centred on the screen.
    if (!o.contains("left") && !o.contains("top")) {
      w->left = (screenWidth() - w->width) / 2;
      w->top = (screenHeight() - w->height) / 2;
    }
    if (w->border != "none" && w->border != "fixed" && w->border != "sizable")
      return fail(where, "border must be \"none\", \"fixed\" or \"sizable\"");
    if (w->width < 0 || w->height < 0) return fail(where, "width and height must not be negative");
    if (o.contains("picture") && !getPicture(o.value("picture"), &w->picture, where)) return false;
    QString mode;
    if (!getString(o, "pictureMode", &mode, where)) return false;
    if (!mode.isEmpty() && mode != "stretch") return fail(where, "pictureMode must be \"stretch\"");
    if (o.contains("layered")) {
      QJsonObject l = o.value("layered").toObject();
      if (!o.value("layered").isObject() || !checkKeys(l, {"colorKey", "alpha"}, where))
        return fail(where, "\"layered\" must be {colorKey: [r, g, b]} or {alpha: n}");
      if (!getColor(l, "colorKey", &w->colorKey, where)) return false;
      if (l.contains("alpha")) {
        int a = 255;
        if (!getInt(l, "alpha", &a, where)) return false;
        if (a < 0 || a > 255) return fail(where, "alpha must be 0 to 255");
        w->alpha = a;
      }
    }
    if (!getEvents(o, kWindowEvents, &w->events, where)) return false;
    if (o.contains("menu")) {
      if (!o.value("menu").isArray()) return fail(where, "\"menu\" must be a list of items");
      for (const QJsonValue& v : o.value("menu").toArray()) {
        QJsonObject m = v.toObject();
        QString mw = where + ", menu item";
        if (!v.isObject() || !m.value("caption").isString())
          return fail(mw, "a menu item needs a caption");
        if (!checkKeys(m, {"caption", "level", "visible", "enabled", "events"}, mw)) return false;
        MenuItemDecl item;
        item.caption = m.value("caption").toString();
        mw += " \"" + item.caption + "\"";
        if (!getInt(m, "level", &item.level, mw) || !getBool(m, "visible", &item.visible, mw) ||
            !getBool(m, "enabled", &item.enabled, mw))
          return false;
        if (item.level < 0 || item.level > 1) return fail(mw, "level must be 0 or 1");
        std::map<std::string, std::string> ev;
        if (!getEvents(m, {"click"}, &ev, mw)) return false;
        if (ev.count("click")) item.clickHandler = ev["click"];
        w->menu.push_back(item);
      }
    }
    if (o.contains("controls")) {
      if (!o.value("controls").isArray()) return fail(where, "\"controls\" must be a list");
      for (const QJsonValue& v : o.value("controls").toArray()) {
        if (!v.isObject()) return fail(where, "a control must be an object");
        ControlDecl c;
        if (!control(v.toObject(), *w, &c)) return false;
        w->controls.push_back(std::move(c));
      }
    }
    return checkMenuStyles(*w, where);
  }

 private:
  QString file_, dir_;
};

}  // namespace

bool parseForm(const QString& path, const QString& dir, WindowDecl* out, std::string* error) {
  Reader r(QFileInfo(path).fileName(), dir);
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    *error = (path + ": cannot be read").toStdString();
    return false;
  }
  QJsonParseError pe;
  QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &pe);
  if (pe.error != QJsonParseError::NoError) {
    *error = (QFileInfo(path).fileName() + ": invalid JSON at offset " +
              QString::number(pe.offset) + ": " + pe.errorString())
                 .toStdString();
    return false;
  }
  if (!doc.isObject()) {
    *error = (QFileInfo(path).fileName() + ": the file must hold one window object").toStdString();
    return false;
  }
  if (!r.window(doc.object(), out)) {
    *error = r.error;
    return false;
  }
  return true;
}

}  // namespace detail

using namespace detail;

namespace {
std::mutex gDirsMutex;
std::vector<QString> gFormDirs;  // folders loaded, newest last
}  // namespace

void detail::forgetFormDirs() {
  std::lock_guard<std::mutex> lock(gDirsMutex);
  gFormDirs.clear();
}

Bytes formPicture(const std::string& path) {
  std::vector<QString> dirs;
  {
    std::lock_guard<std::mutex> lock(gDirsMutex);
    dirs = gFormDirs;
  }
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
    QFile f(QDir(*it).filePath(QString::fromStdString(path)));
    if (!f.open(QIODevice::ReadOnly)) continue;
    QByteArray data = f.readAll();
    return Bytes(data.begin(), data.end());
  }
  return Bytes();
}

bool loadForms(const std::string& dir, std::string* error) {
  std::string dummy;
  if (!error) error = &dummy;
  error->clear();
  initRuntime();
  QString qdir = QString::fromStdString(dir);
  QDir d(qdir);
  if (!d.exists()) {
    *error = "forms folder \"" + dir + "\" does not exist";
    return false;
  }
  std::vector<WindowDecl> decls;
  for (const QString& file : d.entryList({"*.json"}, QDir::Files, QDir::Name)) {
    WindowDecl w;
    if (!parseForm(d.filePath(file), qdir, &w, error)) return false;
    for (const WindowDecl& other : decls)
      if (other.name == w.name) {
        *error = file.toStdString() + ": duplicate window name \"" + w.name + "\"";
        return false;
      }
    if (findWindow(w.name)) {
      *error = file.toStdString() + ": window \"" + w.name + "\" is already loaded";
      return false;
    }
    decls.push_back(std::move(w));
  }
  // Every file is sound: the windows join the run.
  {
    std::lock_guard<std::mutex> dirs(gDirsMutex);
    gFormDirs.push_back(qdir);
  }
  std::lock_guard<std::mutex> lock(registryMutex());
  for (WindowDecl& decl : decls) {
    auto w = std::make_unique<WindowDesc>();
    w->geo.left = decl.left;
    w->geo.top = decl.top;
    w->geo.width = decl.width;
    w->geo.height = decl.height;
    w->geo.visible = decl.visible;
    w->alwaysOnTop = decl.alwaysOnTop;
    for (ControlDecl& cd : decl.controls) {
      auto c = std::make_unique<ControlDesc>();
      c->geo.left = cd.left;
      c->geo.top = cd.top;
      c->geo.width = cd.width;
      c->geo.height = cd.height;
      c->geo.visible = cd.visible;
      c->decl = cd;
      w->byName[cd.name] = c.get();
      w->controls.push_back(std::move(c));
    }
    std::string name = decl.name;
    w->decl = std::move(decl);
    w->decl.controls.clear();  // kept in the control descriptions
    registry()[name] = std::move(w);
  }
  return true;
}

}  // namespace ui
