// The form runtime: windows and controls declared as data in forms/, events
// bound to handlers by name, properties read and written through handles.
//
// Every window of the forms data exists as a stored description for the
// whole run. Left, top, width, height and visibility of a window or of any of
// its controls (and a window's always-on-top flag) can be read and written
// while the window is closed: the write changes the stored description and
// takes effect when the window opens. Geometry and visibility may also be
// read and written from a worker thread: the write is marshalled to the
// user-interface thread. Every other property needs the window open and the
// user-interface thread; on a closed window a write is ignored and a read
// gives "", 0 or false.
//
// Handlers are small free functions registered by name before the forms are
// loaded (see registerHandler). A binding in the forms data to an unknown
// handler name fails the load.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/text.h"
#include "platform/base/program_end.h"

namespace ui {

using model::Bytes;
using model::Text;

struct Rgb {
  int r = 0, g = 0, b = 0;
};

// Arguments of an event: mouse events give x, y (relative to the control or
// window that has the event) and the key state (1 Ctrl, 2 Shift, 4 Alt); the
// hot-key event gives the hot-key id and an extra value.
struct EventArgs {
  int a = 0;
  int b = 0;
  int c = 0;
};

using Handler = std::function<void(const EventArgs&)>;

// Registers a handler under name. The overloads adapt the handler's own
// signature: no arguments; (id, extra) for the hot key; (x, y, keys) for mouse
// events. Registering a name twice replaces the handler.
void registerHandler(const std::string& name, void (*fn)());
void registerHandler(const std::string& name, void (*fn)(int, int));
void registerHandler(const std::string& name, void (*fn)(int, int, int));
void registerHandler(const std::string& name, Handler fn);
bool hasHandler(const std::string& name);

// Wraps every handler that runs nested: inside a wait, a modal window or a
// box, a deferred destruction, or while another handler runs. Creation
// handlers are not wrapped: what they set up belongs to their window. The
// program uses this to give the interrupted code back the state it relies
// on (its current store). The wrapper must call run exactly once.
void setNestedHandlerWrapper(std::function<void(const std::function<void()>& run)> wrapper);

// --- Start-up -----------------------------------------------------------------

// Creates the application object if there is none (argc/argv may be empty).
void initRuntime(int argc = 0, char** argv = nullptr);
// Loads every *.json form of dir (a folder, or a Qt resource folder such as
// ":/forms"), binding each declared event. Pictures named in a form are files
// relative to dir. False with a message in *error on any fault: unreadable
// JSON, an unknown control type or event, a duplicate name, a parent that is
// not declared before its child, a missing picture, a binding to an unknown
// handler.
bool loadForms(const std::string& dir, std::string* error);
// The bytes of a picture kept with the loaded forms (path relative to the
// forms folder, e.g. "pictures/x.jpg"); empty when there is none.
Bytes formPicture(const std::string& path);
// Names of the loaded windows.
std::vector<std::string> windowNames();
// Forgets every loaded form and closes every window (tests).
void unloadForms();

// Runs the message loop until no window of the program is open; returns 0.
int runMessageLoop();

// --- Names --------------------------------------------------------------------

// A window or control as the forms declare it. The program's code takes them
// from the generated forms/names.h (forms::AwardsWindow::按钮2), never spells
// them out, so a name the forms lack does not compile.
struct WindowName {
  const char* name;
};
struct ControlName {
  const char* window;
  const char* name;
};

// --- Controls -------------------------------------------------------------------

class Control {
 public:
  Control(std::string window, std::string name);
  Control(ControlName n) : Control(n.window, n.name) {}  // NOLINT: a name is a control
  const std::string& window() const { return window_; }
  const std::string& name() const { return name_; }
  bool exists() const;

  // Stored description: any time, any thread.
  int left() const;
  int top() const;
  int width() const;
  int height() const;
  bool visible() const;
  void setLeft(int v);
  void setTop(int v);
  void setWidth(int v);
  void setHeight(int v);
  void setVisible(bool v);

  // The following need the window open.
  Text caption() const;  // labels, buttons, check and radio boxes, group boxes
  void setCaption(const Text& t);
  bool enabled() const;
  void setEnabled(bool v);
  bool checked() const;  // check box, radio button (setting one never clears another)
  void setChecked(bool v);
  // Picture boxes and picture buttons: the bytes given are kept as given and
  // read back unchanged; empty bytes mean no picture.
  Bytes picture() const;
  void setPicture(const Bytes& b);
  void setFontPoints(int points);
  void setFocus();
  void repaint();

  // Edit box and combo box text.
  Text text() const;
  void setText(const Text& t);

  // Items of combo boxes and check-list boxes.
  void addItem(const Text& t);
  void clearItems();
  int itemCount() const;
  Text itemText(int index) const;
  // Combo box: chosen item (-1 none; an index past the last chooses the last,
  // below 0 chooses none). List view: selected row (-1 none). Check-list box:
  // the highlighted (selected) item, -1 when none is; an item that is merely
  // current (as the first one becomes when the list receives the keyboard
  // focus) is not highlighted.
  int selectedIndex() const;
  void setSelectedIndex(int index);
  bool itemChecked(int index) const;  // check-list box tick marks

  // Slider and progress bar.
  int position() const;
  void setPosition(int v);  // clamped to minimum..maximum
  int minimum() const;
  int maximum() const;
  void setMaximum(int v);

  // List view in report mode.
  void removeAllRows();
  // Inserts a row at index (beyond the count: at the end) with the first
  // column's text; returns the index used.
  int insertRow(int index, const Text& first);
  // Appends an empty row; returns its index. The row reads and writes through
  // the handle at once; on screen, rows appended one by one show in batches
  // a little later (any other change of the rows shows them first), so that
  // filling a long list a row at a time, with messages processed in
  // between, stays linear.
  int appendRow();
  void setCell(int row, int column, const Text& t);
  Text cell(int row, int column) const;
  int rowCount() const;
  int columnCount() const;
  // Selects and focuses row; -1 takes the selection away.
  void selectRow(int row);
  // First row whose first column equals t as a whole, ignoring case; -1 none.
  int findItem(const Text& t) const;
  void ensureVisible(int row);

  // Status bar.
  void setStatusText(int part, const Text& t);

  // Timer.
  void setTimerEnabled(bool on);
  void setInterval(int ms);

  // Common file dialog.
  void setDialogSave(bool save);
  void setFilter(const Text& filter);  // "description|pattern"
  void setDefaultExt(const Text& ext);
  void setFileName(const Text& name);
  Text fileName() const;  // the full path after confirmation
  void setKeepCurrentDir(bool keep);
  bool showDialog();  // true when confirmed

 private:
  std::string window_;
  std::string name_;
};

// --- Windows --------------------------------------------------------------------

enum WindowState { kNormal = 0, kMinimized = 2, kMaximized = 3 };

class Window {
 public:
  explicit Window(std::string name);
  Window(WindowName n) : Window(std::string(n.name)) {}  // NOLINT: a name is a window
  const std::string& name() const { return name_; }
  bool exists() const;
  Control ctl(const std::string& control) const { return Control(name_, control); }

  // Non-modal: returns once the creation handler has run. Modal: disables
  // every other window, runs a nested loop, returns when the window closed.
  // Opening a window that is open brings it to the front and runs nothing.
  bool open(bool modal = false, const Window* parent = nullptr);
  // Deferred: carried out when the loop next dispatches, in request order;
  // the destroying handler runs then.
  void destroy();
  bool isOpen() const;

  // Stored description: any time, any thread.
  int left() const;
  int top() const;
  int width() const;
  int height() const;
  bool visible() const;
  bool alwaysOnTop() const;
  void setLeft(int v);
  void setTop(int v);
  void setWidth(int v);
  void setHeight(int v);
  void setVisible(bool v);
  void setAlwaysOnTop(bool v);

  // Need the window open.
  int state() const;  // WindowState
  void setState(int s);
  Text caption() const;
  void setCaption(const Text& t);
  Bytes picture() const;
  void setPicture(const Bytes& b);  // empty: no picture
  // Layered styles: pixels of key fully transparent / constant alpha 0..255.
  void setLayeredColorKey(Rgb key);
  void setLayeredAlpha(int alpha);
  // Shows the level-1 items of the window's menu as a pop-up at the screen
  // position (pushed up and left to fit on screen); returns when it closes.
  void popupMenu(int screenX, int screenY);

 private:
  std::string name_;
};

// --- Waits, time, screen ------------------------------------------------------------

// Processes window messages until more than ms milliseconds have passed, and
// at least once; returns at once for ms <= 0. Handlers, timers, hot keys and modal boxes run
// nested inside it.
void waitPumping(int ms);
// Processes the messages pending now, once.
void processPendingOnce();
// Sleeps, processing nothing.
void plainSleep(int ms);
// Runs work on a thread of its own while this, the user-interface thread,
// goes on processing window messages (handlers run nested inside, as in a
// wait); returns once work has returned. Each time work calls the nudge it
// is given, watch runs here soon after (nudges faster than the messages are
// processed run it once), and it runs once more after work returned. work
// touches no window control and no store. When the program ends meanwhile,
// this waits for work without processing messages.
void runBeside(const std::function<void(const std::function<void()>& nudge)>& work,
               const std::function<void()>& watch);

int screenWidth();
int screenHeight();
// The executable's folder (UTF-8, no trailing separator), unless overridden.
std::string programFolder();
void setProgramFolder(const std::string& dir);
// Milliseconds since an arbitrary start, monotonic.
std::uint32_t tickCount();
struct LocalTime {
  int hour = 0, minute = 0, second = 0;
};
LocalTime localTime();

// --- Dialogs --------------------------------------------------------------------------

enum MessageButtons { kOk = 0, kOkCancel = 1 };
enum MessageFlags { kNoFlags = 0, kInformationIcon = 1, kSystemModal = 2 };
enum MessageResult { kResultOk = 0, kResultCancel = 1 };

// Modal message box with no parent; title "" means the default "信息：".
int messageBox(const Text& text, const Text& title = Text(), int buttons = kOk,
               int flags = kNoFlags);
// Modal input box; true when OK was pressed, the text in *out.
bool inputBox(const Text& prompt, const Text& title, const Text& initial, Text* out);

// --- Look, hot key, threads, fonts, shell ---------------------------------------------

// Switches the flat owner-drawn look with colour scheme (1 = blue) on for
// every present and future control.
void setFlatLook(int scheme);
bool flatLookOn();

// Global hot key: a press of virtual key vk (32 = space) with the modifiers
// while `watched` exists (shown or hidden) arrives as event "hotkey" of the
// control `target` with (id, 0). The key reaches no other window meanwhile.
int registerHotKey(const Window& watched, const Control& target, int modifiers, int vk);
void unregisterHotKey(const Window& watched, int id);

// Starts fn on a new thread; the thread is never joined.
void startThread(void (*fn)());

// Installs a font file for this program; true when at least one face was added.
bool installFont(const std::string& path);
// Opens a file with the desktop's default program (verb is informational).
bool shellOpen(const std::string& path, const std::string& verb = std::string());

// The system's requests to end the program (SIGTERM at logout or from kill,
// SIGINT, SIGHUP) run fn on the user-interface thread, from its event loop,
// at most once per request; never inside the signal handler. A later call
// replaces fn.
void onTerminationRequest(void (*fn)());

// --- Test seams ----------------------------------------------------------------------
// Dialogs still run their nested loop; a scripted answer is given once the
// loop runs, and the dialog's texts are recorded.
namespace testing {
// Called with the runtime's message when code names a window or control that
// no loaded form declares (nullptr: only the message on stderr). The tests
// turn such a name into a failure.
void reportUnknownNames(void (*report)(const std::string& message));
struct ShownDialog {
  std::string kind;  // "message", "input", "file"
  Text text;         // message or prompt; for a file dialog the filter
  Text title;
  int buttons = 0;
  int flags = 0;
};
// Makes dialogs answerable by script; unscripted boxes are then answered OK
// (a file dialog: cancelled) so that no test can hang on a box.
void enableScripting(bool on);
void queueMessageAnswer(int result);
void queueInputAnswer(bool ok, const Text& text);
void queueFileAnswer(bool ok, const std::string& path);
// Runs fn inside the next dialog's (or pop-up menu's) nested loop before it is
// answered.
void queueDuringDialog(std::function<void()> fn);
std::vector<ShownDialog> shownDialogs();
void clearShownDialogs();
// While scripting is on, shellOpen starts no program: it records the path of
// an existing file (and returns true) instead.
std::vector<std::string> shellOpens();
void clearShellOpens();
// Popup menus: the next popup chooses the item with this caption (as shown,
// "&&" already as "&"), or none when empty.
void queueMenuChoice(const Text& caption);
// Makes screenWidth/screenHeight report this size (0, 0: the real screen), so
// layouts can be checked for several screens.
void overrideScreenSize(int width, int height);
// Delivers a hot-key press of vk as the real key event would.
void pressKey(int vk);
// The test clock. While it is on, tickCount reads a clock that stands still
// unless something moves it: a wait of the user-interface thread moves it by
// the wait's length at once (waitPumping processes the pending messages
// before and after, and the form timers and the runtime's own timers, such
// as the list view's batching, fire as the clock passes their time;
// plainSleep processes nothing), and advanceClock moves it from a test. A
// plainSleep on any other thread blocks until the clock has moved by its
// length. The clock moves only while every thread of startThread sleeps on it
// or has ended, and a move returns once the threads it woke sleep again or
// have ended; a thread that has not gone to sleep after two minutes ends the
// process with a message on stderr. Switching it off hands the timers back to the real clock and
// wakes every thread asleep on it.
void useTestClock(bool on);
// Moves the test clock on by ms, ticking the form timers that fall due.
void advanceClock(int ms);
// Threads asleep on the test clock now.
int testClockSleepers();
}  // namespace testing

}  // namespace ui
