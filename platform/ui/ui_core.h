// Inside the form runtime: the stored descriptions of windows and controls,
// the handler registry and the helpers the runtime's parts share.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui.h"

class QTimer;
class QEventLoop;

namespace ui::detail {

// --- Declarations read from the forms data -------------------------------------

struct FontDecl {
  QString face;
  int pixelHeight = 0;  // 0: the default size
  bool bold = false;
  QString charset;
};

struct MenuItemDecl {
  QString caption;
  int level = 1;
  bool visible = true;
  bool enabled = true;
  std::string clickHandler;
};

struct ControlDecl {
  std::string name;
  std::string type;
  std::string parent;  // "" for the window itself
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = true;
  bool enabled = true;
  QString caption;
  std::optional<FontDecl> font;
  std::optional<QColor> color;
  std::optional<QColor> background;
  bool shadow = false;
  QString alignment;  // "left", "center", "right"
  bool wrap = false;
  bool multiline = false;
  bool focusable = true;
  std::map<std::string, Bytes> pictures;  // "picture", "normal", "hot", "pressed"
  QStringList items;
  std::vector<std::pair<QString, int>> columns;
  std::vector<int> parts;  // status bar part widths (-1: the rest)
  bool checked = false;
  QString style;  // combo box: "list" or "edit"
  int minimum = 0, maximum = 100, position = 0;
  int tickFrequency = 1, pageStep = 10, lineStep = 1;
  QString orientation;  // "horizontal" or "vertical"
  bool inverted = false;
  QString ticks;  // "none", "both", "above"/"left", "below"/"right"
  int interval = 1000;
  QString dialogType;  // "open" or "save"
  QString filter, defaultExt;
  // menuStyle: background, text, highlight background, highlight text,
  // separator and icon band (empty: the plain look), and one icon per command
  // item of the window's menu, in menu order.
  std::vector<QColor> menuColors;
  std::vector<Bytes> menuIcons;
  std::map<std::string, std::string> events;  // event -> handler name
};

struct WindowDecl {
  std::string name;
  int left = 0, top = 0, width = 200, height = 150;
  bool visible = true;
  QString border = "sizable";  // "none", "fixed", "sizable"
  bool captionBar = true;
  QString caption;
  bool alwaysOnTop = false;
  bool taskbar = true;
  bool takesFocus = true;
  std::optional<QColor> background;
  Bytes picture;
  std::optional<QColor> colorKey;
  std::optional<int> alpha;
  std::map<std::string, std::string> events;
  std::vector<MenuItemDecl> menu;
  std::vector<ControlDecl> controls;
};

// --- Stored descriptions ----------------------------------------------------------

struct Geometry {
  std::atomic<int> left{0}, top{0}, width{0}, height{0};
  std::atomic<bool> visible{true};
};

class FormWindow;

struct ControlDesc {
  ControlDecl decl;
  Geometry geo;
  // Valid only while the window is open; user-interface thread only.
  QPointer<QWidget> widget;
  QPointer<QTimer> timer;
  // A timer while the test clock runs: ticked by the clock, not by Qt.
  bool clockTimerOn = false;
  std::uint32_t clockTimerDue = 0;
  // File dialog state while the window is open.
  bool dialogSave = false;
  QString filter, defaultExt, fileName;
  bool keepCurrentDir = false;
};

struct WindowDesc {
  WindowDecl decl;
  Geometry geo;
  std::atomic<bool> alwaysOnTop{false};
  std::atomic<bool> open{false};
  std::vector<std::unique_ptr<ControlDesc>> controls;  // declaration order
  std::map<std::string, ControlDesc*> byName;
  // User-interface thread only.
  QPointer<FormWindow> widget;
  QEventLoop* modalLoop = nullptr;
  bool closing = false;
  std::vector<QPointer<QWidget>> disabledByModal;
  std::optional<QColor> colorKey;  // while open
  ControlDesc* control(const std::string& n) const {
    auto it = byName.find(n);
    return it == byName.end() ? nullptr : it->second;
  }
};

// The loaded windows. The map's shape changes only on load and unload (user-
// interface thread); lookups from worker threads take the lock.
std::mutex& registryMutex();
std::map<std::string, std::unique_ptr<WindowDesc>>& registry();
WindowDesc* findWindow(const std::string& name);
ControlDesc* findControl(const std::string& window, const std::string& name);
// The same, with a message on stderr when the name is unknown.
WindowDesc* windowOrWarn(const std::string& name);
ControlDesc* controlOrWarn(const std::string& window, const std::string& name);

// --- Handlers and events ----------------------------------------------------------------

bool onUiThread();
// Runs the handler bound to event of the declaration (no-op when unbound).
void fire(const std::map<std::string, std::string>& events, const std::string& event,
          EventArgs args = {});
Handler handlerFor(const std::string& name);
// Runs a handler, through the nested-handler wrapper when it runs nested
// (creation handlers never are).
void runHandler(const Handler& h, const EventArgs& args, bool creation = false);

// Mouse key state: 1 Ctrl, 2 Shift, 4 Alt.
int keyState(Qt::KeyboardModifiers m);

// --- Conversions ------------------------------------------------------------------------

inline QString toQt(const Text& t) { return QString::fromStdString(t.toUtf8()); }
inline Text fromQt(const QString& s) { return Text::fromUtf8(s.toStdString()); }
QImage decodePicture(const Bytes& bytes);

// --- Fonts ---------------------------------------------------------------------------------

// The installed families that stand in for a face the forms name ("" is the
// default face of the Chinese character set), best first.
QStringList faceFamilies(const QString& face);
// base with the stand-ins of face, the height in pixels (0 keeps base's) and
// the weight.
QFont formFont(const QFont& base, const QString& face, int pixelHeight, bool bold);
// The font of controls that declare none: the default face, 12 pixels high.
QFont defaultFormFont();
// Makes defaultFormFont the application's font.
void useDefaultFormFont();
// Character height in pixels of a size in points, at the 96 dots per inch
// the forms were laid out for.
int pointsToPixels(int points);
// How a label stacks lines of text: the distance from one line's top to the
// next, and from a line's top to its baseline.
struct LinePitch {
  double pitch;
  double baseline;
};
LinePitch linePitch(const QFont& f);
// Bold text that Qt would draw without its made-up bold (large text of a
// face that has no bold style): the width of the stroke that makes it bold.
// 0 when Qt draws the bold itself.
double drawnBoldStroke(const QFont& f);

// Loads Qt's own Chinese translations, so that the standard dialogs and
// buttons speak the program's language. False when they are not installed.
bool loadStandardTranslations();

// --- Parts of the runtime -----------------------------------------------------------------

// Loads one form file; false with a message on a fault.
bool parseForm(const QString& path, const QString& dir, WindowDecl* out, std::string* error);
// The top-level widget of an open window (nullptr when closed).
QWidget* windowWidgetOf(WindowDesc& w);
// Gives a dialog about to be shown the window it belongs to: the active
// window, else the innermost modal window, else the main window; window
// managers keep it above that window. When the guard goes, after the
// dialog has closed, that window gets the keyboard focus back.
class DialogOwner {
 public:
  explicit DialogOwner(QWidget* dialog);
  ~DialogOwner();
  DialogOwner(const DialogOwner&) = delete;
  DialogOwner& operator=(const DialogOwner&) = delete;

 private:
  QPointer<QWidget> owner_;
};
// Forgets the folders formPicture reads from (unloading).
void forgetFormDirs();
// Builds the widgets of every control of an opening window.
void buildControls(WindowDesc& w);
// Applies a control's stored geometry and visibility to its widget.
void applyControlGeometry(ControlDesc& c);
// Applies a window's stored geometry and visibility to its widget.
void applyWindowGeometry(WindowDesc& w);
// Closes an open window now: destroying handler, teardown, end of its modal loop.
void closeWindowNow(WindowDesc& w);
// Runs fn on the user-interface thread: at once when called there, else queued.
void onUi(std::function<void()> fn);
// Every loop the runtime runs registers here, so that quitting all reaches them.
void pushLoop(QEventLoop* loop);
void popLoop(QEventLoop* loop);
bool quitting();
// The colour painted transparent in a layered window, if any.
std::optional<QColor> colorKeyOf(QWidget* w);
// Call when a window closed: ends the main loop when none is left.
void windowClosed();

// Form timers. On the real clock a timer is its QTimer; while the test clock
// runs, the clock ticks it as it passes the timer's due time.
void startFormTimer(ControlDesc& c);
void stopFormTimer(ControlDesc& c);
bool formTimerActive(const ControlDesc& c);

// A single-shot timer of the runtime itself (the list view's batching). On
// the real clock it is its QTimer; while the test clock runs, the clock
// fires it as it passes the due time, as it ticks the form timers.
// User-interface thread only.
class RuntimeTimer {
 public:
  explicit RuntimeTimer(std::function<void()> fire);
  ~RuntimeTimer();
  RuntimeTimer(const RuntimeTimer&) = delete;
  RuntimeTimer& operator=(const RuntimeTimer&) = delete;
  void start(int ms);
  void stop();
  bool isActive() const;

  // The test clock's side (ui_runtime.cpp).
  QTimer timer;
  std::function<void()> fire;
  bool clockOn = false;
  std::uint32_t clockDue = 0;
};

// Test seams shared by the dialogs.
struct DialogScript {
  // Runs the functions queued for the next dialog, inside its loop.
  static void runDuringDialog();
  static std::optional<int> nextMessage();
  static std::optional<std::pair<bool, Text>> nextInput();
  static std::optional<std::pair<bool, std::string>> nextFile();
  static std::optional<Text> nextMenuChoice();
  static void record(const ui::testing::ShownDialog& d);
};

}  // namespace ui::detail
