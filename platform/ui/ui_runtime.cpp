// The runtime's core: handler registry, start-up, loops and waits, time,
// screen, look, hot key, threads, fonts, shell and the dialog test seams.
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QScreen>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <ctime>
#include <deque>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "platform/base/internal.h"
#include "platform/media/image.h"
#include "platform/ui/ui_core.h"
#include "platform/ui/ui_testing.h"

namespace ui {
namespace detail {

// --- Registry -----------------------------------------------------------------------

std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::unique_ptr<WindowDesc>>& registry() {
  static std::map<std::string, std::unique_ptr<WindowDesc>> r;
  return r;
}
WindowDesc* findWindow(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex());
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second.get();
}
ControlDesc* findControl(const std::string& window, const std::string& name) {
  WindowDesc* w = findWindow(window);
  return w ? w->control(name) : nullptr;
}
namespace {
std::atomic<void (*)(const std::string&)> gUnknownNameReport{nullptr};
void warnUnknown(const std::string& message) {
  std::fprintf(stderr, "form runtime: %s\n", message.c_str());
  if (auto report = gUnknownNameReport.load()) report(message);
}
}  // namespace

WindowDesc* windowOrWarn(const std::string& name) {
  WindowDesc* w = findWindow(name);
  if (!w) warnUnknown("no window \"" + name + "\" is loaded");
  return w;
}
ControlDesc* controlOrWarn(const std::string& window, const std::string& name) {
  WindowDesc* w = windowOrWarn(window);
  if (!w) return nullptr;
  ControlDesc* c = w->control(name);
  if (!c) warnUnknown("window \"" + window + "\" has no control \"" + name + "\"");
  return c;
}

// --- Handlers -------------------------------------------------------------------------

namespace {
std::mutex gHandlerMutex;
std::map<std::string, Handler>& handlers() {
  static std::map<std::string, Handler> h;
  return h;
}
}  // namespace

Handler handlerFor(const std::string& name) {
  std::lock_guard<std::mutex> lock(gHandlerMutex);
  auto it = handlers().find(name);
  return it == handlers().end() ? Handler() : it->second;
}

void fire(const std::map<std::string, std::string>& events, const std::string& event,
          EventArgs args) {
  auto it = events.find(event);
  if (it == events.end()) return;
  Handler h = handlerFor(it->second);
  if (h) runHandler(h, args, event == "created");
}

int keyState(Qt::KeyboardModifiers m) {
  int k = 0;
  if (m & Qt::ControlModifier) k |= 1;
  if (m & Qt::ShiftModifier) k |= 2;
  if (m & Qt::AltModifier) k |= 4;
  return k;
}

bool onUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void onUi(std::function<void()> fn) {
  if (onUiThread()) {
    fn();
    return;
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

QImage decodePicture(const Bytes& bytes) {
  if (bytes.empty()) return QImage();
  image::Image img = image::decode(bytes);
  if (img.valid()) {
    QImage out(img.width, img.height, QImage::Format_ARGB32);
    for (int y = 0; y < img.height; ++y)
      std::copy(img.pixels.begin() + static_cast<long>(y) * img.width,
                img.pixels.begin() + static_cast<long>(y + 1) * img.width,
                reinterpret_cast<std::uint32_t*>(out.scanLine(y)));
    return out;
  }
  // Other formats Qt reads itself (BMP, GIF).
  QImage q;
  q.loadFromData(bytes.data(), static_cast<int>(bytes.size()));
  return q;
}

// --- Loops ------------------------------------------------------------------------------

namespace {
std::vector<QEventLoop*> gLoops;
bool gQuitting = false;
QEventLoop* gMainLoop = nullptr;
}  // namespace

namespace {
int gHandlerDepth = 0;
std::function<void(const std::function<void()>&)> gNestedWrapper;
}  // namespace

void runHandler(const Handler& h, const EventArgs& args, bool creation) {
  // Nested: another handler is running, or a loop beyond the message loop
  // (a wait, a modal window, a box) dispatched this one.
  const bool nested =
      gHandlerDepth > 0 || QThread::currentThread()->loopLevel() > (gMainLoop ? 1 : 0);
  ++gHandlerDepth;
  struct Leave {
    ~Leave() { --gHandlerDepth; }
  } leave;
  if (nested && !creation && gNestedWrapper)
    gNestedWrapper([&] { h(args); });
  else
    h(args);
}

void pushLoop(QEventLoop* loop) { gLoops.push_back(loop); }
void popLoop(QEventLoop* loop) { std::erase(gLoops, loop); }
bool quitting() { return gQuitting; }

static void quitAllLoops() {
  gQuitting = true;
  for (QEventLoop* l : gLoops) l->quit();
  // Dialogs run loops of their own: end them too.
  for (int i = 0; i < 64; ++i) {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!d) break;
    d->reject();
  }
}

static bool anyWindowOpen() {
  std::lock_guard<std::mutex> lock(registryMutex());
  for (auto& [name, w] : registry())
    if (w->open) return true;
  return false;
}

void windowClosed() {
  if (gMainLoop && !anyWindowOpen()) gMainLoop->quit();
}

// --- Dialog script ------------------------------------------------------------------------

namespace {
std::deque<int> gMessageAnswers;
std::deque<std::pair<bool, Text>> gInputAnswers;
std::deque<std::pair<bool, std::string>> gFileAnswers;
std::deque<std::function<void()>> gDuring;
std::deque<Text> gMenuChoices;
std::vector<testing::ShownDialog> gShown;
}  // namespace

void DialogScript::runDuringDialog() {
  while (!gDuring.empty()) {
    auto fn = std::move(gDuring.front());
    gDuring.pop_front();
    fn();
  }
}
std::optional<int> DialogScript::nextMessage() {
  if (gMessageAnswers.empty()) return std::nullopt;
  int r = gMessageAnswers.front();
  gMessageAnswers.pop_front();
  return r;
}
std::optional<std::pair<bool, Text>> DialogScript::nextInput() {
  if (gInputAnswers.empty()) return std::nullopt;
  auto r = gInputAnswers.front();
  gInputAnswers.pop_front();
  return r;
}
std::optional<std::pair<bool, std::string>> DialogScript::nextFile() {
  if (gFileAnswers.empty()) return std::nullopt;
  auto r = gFileAnswers.front();
  gFileAnswers.pop_front();
  return r;
}
std::optional<Text> DialogScript::nextMenuChoice() {
  if (gMenuChoices.empty()) return std::nullopt;
  Text r = gMenuChoices.front();
  gMenuChoices.pop_front();
  return r;
}
void DialogScript::record(const testing::ShownDialog& d) { gShown.push_back(d); }

// --- Hot key ------------------------------------------------------------------------------

namespace {
struct HotKey {
  int id;
  std::string watched;
  std::string targetWindow, targetControl;
  int modifiers;  // 1 Alt, 2 Ctrl, 4 Shift
  int key;        // Qt key code
};
std::vector<HotKey> gHotKeys;
int gNextHotKeyId = 1;

int qtKeyForVk(int vk) {
  if (vk == 32) return Qt::Key_Space;
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return vk;
  if (vk >= 0x70 && vk <= 0x7B) return Qt::Key_F1 + (vk - 0x70);
  return 0;
}

int hotKeyModifiers(Qt::KeyboardModifiers m) {
  int k = 0;
  if (m & Qt::AltModifier) k |= 1;
  if (m & Qt::ControlModifier) k |= 2;
  if (m & Qt::ShiftModifier) k |= 4;
  return k;
}

// Catches the hot keys before any widget sees them, whichever window has the
// focus and also while a nested wait or a modal box runs.
class HotKeyFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* obj, QEvent* ev) override {
    if (ev->type() != QEvent::KeyPress && ev->type() != QEvent::KeyRelease &&
        ev->type() != QEvent::ShortcutOverride)
      return QObject::eventFilter(obj, ev);
    auto* ke = static_cast<QKeyEvent*>(ev);
    int mods = hotKeyModifiers(ke->modifiers() & ~Qt::KeypadModifier);
    for (const HotKey& hk : gHotKeys) {
      if (hk.key != ke->key() || hk.modifiers != mods) continue;
      WindowDesc* w = findWindow(hk.watched);
      if (!w || !w->open) continue;
      if (ev->type() == QEvent::KeyPress && !ke->isAutoRepeat()) {
        ControlDesc* c = findControl(hk.targetWindow, hk.targetControl);
        if (c) fire(c->decl.events, "hotkey", EventArgs{hk.id, 0, 0});
      }
      ev->accept();
      return true;
    }
    return QObject::eventFilter(obj, ev);
  }
};
HotKeyFilter* gHotKeyFilter = nullptr;

void ensureHotKeyFilter() {
  if (gHotKeyFilter || !qApp) return;
  gHotKeyFilter = new HotKeyFilter(qApp);
  qApp->installEventFilter(gHotKeyFilter);
}
}  // namespace

}  // namespace detail

using namespace detail;

// --- Handler registration -------------------------------------------------------------------

void registerHandler(const std::string& name, void (*fn)()) {
  registerHandler(name, Handler([fn](const EventArgs&) { fn(); }));
}
void registerHandler(const std::string& name, void (*fn)(int, int)) {
  registerHandler(name, Handler([fn](const EventArgs& a) { fn(a.a, a.b); }));
}
void registerHandler(const std::string& name, void (*fn)(int, int, int)) {
  registerHandler(name, Handler([fn](const EventArgs& a) { fn(a.a, a.b, a.c); }));
}
void registerHandler(const std::string& name, Handler fn) {
  std::lock_guard<std::mutex> lock(gHandlerMutex);
  handlers()[name] = std::move(fn);
}
void setNestedHandlerWrapper(std::function<void(const std::function<void()>& run)> wrapper) {
  gNestedWrapper = std::move(wrapper);
}
bool hasHandler(const std::string& name) {
  std::lock_guard<std::mutex> lock(gHandlerMutex);
  return handlers().count(name) != 0;
}

// --- Start-up and loop -------------------------------------------------------------------------

void initRuntime(int argc, char** argv) {
  if (!QCoreApplication::instance()) {
    static int sArgc = 0;
    static std::vector<char*> sArgv;
    static char sName[] = "prizedraw";
    if (argc > 0 && argv) {
      sArgc = argc;
      sArgv.assign(argv, argv + argc);
    } else {
      sArgc = 1;
      sArgv = {sName};
    }
    sArgv.push_back(nullptr);
    new QApplication(sArgc, sArgv.data());
  }
  detail::gQuitAllLoops = &detail::quitAllLoops;
  ensureHotKeyFilter();
  static bool looked = false;
  if (!looked) {
    looked = true;
    useDefaultFormFont();
    loadStandardTranslations();
  }
}

std::vector<std::string> windowNames() {
  std::lock_guard<std::mutex> lock(registryMutex());
  std::vector<std::string> names;
  for (auto& [name, w] : registry()) names.push_back(name);
  return names;
}

void unloadForms() {
  std::vector<WindowDesc*> open;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    for (auto& [name, w] : registry())
      if (w->open) open.push_back(w.get());
  }
  for (WindowDesc* w : open) closeWindowNow(*w);
  // Widgets were handed to deleteLater: let them go before the descriptions.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  {
    // A worker thread may still hold a description it looked up a moment
    // ago: retired descriptions stay allocated for the life of the process.
    static std::vector<std::unique_ptr<WindowDesc>> retired;
    std::lock_guard<std::mutex> lock(registryMutex());
    for (auto& [name, w] : registry()) retired.push_back(std::move(w));
    registry().clear();
  }
  forgetFormDirs();
  gHotKeys.clear();
  gQuitting = false;
}

int runMessageLoop() {
  initRuntime();
  gQuitting = false;
  if (!anyWindowOpen()) return 0;
  QEventLoop loop;
  QEventLoop* outer = gMainLoop;
  gMainLoop = &loop;
  pushLoop(&loop);
  loop.exec();
  popLoop(&loop);
  gMainLoop = outer;
  return 0;
}

// --- Waits, time, screen -------------------------------------------------------------------------

namespace {
std::uint32_t realTicks() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// True when tick a is not later than tick b (the counter wraps).
bool notAfter(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) <= 0; }

// The test clock: its time only moves forward, by the waits of the
// user-interface thread and by advanceClock; sleeping workers wait on it.
// Time moves only while every thread started by startThread is asleep on it
// (or has ended), and a move returns once the threads it woke are asleep
// again or ended: what a worker does in a step is done before the clock
// goes on, however slowly the machine runs it.
std::atomic<bool> gTestClock{false};
std::mutex gClockMutex;
std::condition_variable gClockMoved;
std::uint32_t gTestNow = 0;
// Threads asleep on the test clock, each until its end time. The clock
// releases a sleeper the moment it reaches that time, so that a test can
// tell at once who a move woke.
struct ClockSleeper {
  std::uint32_t end = 0;
  bool released = false;
};
std::vector<ClockSleeper*> gClockSleepers;
int gRunningThreads = 0;  // started by startThread and not ended

// With gClockMutex held; true when any sleeper was released.
bool releaseSleepers(bool all) {
  return std::erase_if(gClockSleepers, [all](ClockSleeper* s) {
           if (!all && !notAfter(s->end, gTestNow)) return false;
           s->released = true;
           return true;
         }) > 0;
}

// With the lock held: waits until every worker sleeps on the clock or has
// ended, however slowly the machine runs them. A worker that has not gone
// to sleep after two minutes never will (it waits for something other than
// the clock): the test then ends here, saying so, rather than going on with
// the worker still running or hanging without a word.
void awaitSleepingWorkers(std::unique_lock<std::mutex>& lock) {
  const bool asleep = gClockMoved.wait_for(lock, std::chrono::minutes(2), [] {
    return !gTestClock.load() || static_cast<int>(gClockSleepers.size()) >= gRunningThreads;
  });
  if (asleep) return;
  std::fprintf(stderr,
               "test clock: %d of %d worker threads did not go to sleep on the clock within "
               "2 minutes\n",
               gRunningThreads - static_cast<int>(gClockSleepers.size()), gRunningThreads);
  std::abort();
}

std::uint32_t testNow() {
  std::lock_guard<std::mutex> lock(gClockMutex);
  return gTestNow;
}

void moveTestClockTo(std::uint32_t t) {
  std::unique_lock<std::mutex> lock(gClockMutex);
  if (notAfter(t, gTestNow)) return;
  awaitSleepingWorkers(lock);
  gTestNow = t;
  if (!releaseSleepers(false)) return;
  gClockMoved.notify_all();
  awaitSleepingWorkers(lock);
}

// The timers of the open windows (user-interface thread).
std::vector<ControlDesc*> openTimers() {
  std::vector<ControlDesc*> out;
  std::lock_guard<std::mutex> lock(registryMutex());
  for (auto& [name, w] : registry()) {
    if (!w->open) continue;
    for (auto& c : w->controls)
      if (c->timer) out.push_back(c.get());
  }
  return out;
}

// The runtime's own timers in existence (user-interface thread).
std::vector<RuntimeTimer*>& runtimeTimers() {
  static std::vector<RuntimeTimer*> timers;
  return timers;
}

// True when tick a is earlier than tick b.
bool earlier(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) < 0; }

// Moves the test clock to target, ticking each timer as its time comes.
void runTestClockTo(std::uint32_t target) {
  while (gTestClock.load()) {
    ControlDesc* next = nullptr;
    for (ControlDesc* c : openTimers())
      if (c->clockTimerOn && notAfter(c->clockTimerDue, target) &&
          (!next || earlier(c->clockTimerDue, next->clockTimerDue)))
        next = c;
    RuntimeTimer* own = nullptr;
    for (RuntimeTimer* r : runtimeTimers())
      if (r->clockOn && notAfter(r->clockDue, target) &&
          (!own || earlier(r->clockDue, own->clockDue)))
        own = r;
    if (own && (!next || notAfter(own->clockDue, next->clockTimerDue))) {
      moveTestClockTo(own->clockDue);
      own->clockOn = false;
      own->fire();
      continue;
    }
    if (!next) break;
    moveTestClockTo(next->clockTimerDue);
    const int interval = std::max(1, next->timer->interval());
    next->clockTimerDue += static_cast<std::uint32_t>(interval);
    fire(next->decl.events, "tick");
    // A tick that fell behind (the handler waited past it) is dropped, as a
    // real timer drops the ticks it missed.
    if (next->clockTimerOn && notAfter(next->clockTimerDue, testNow()))
      next->clockTimerDue = testNow() + static_cast<std::uint32_t>(interval);
  }
  if (gTestClock.load()) moveTestClockTo(target);
}

// Processes the messages pending now inside a loop of the runtime, as a
// real wait would.
void pumpPending() {
  QEventLoop loop;
  QTimer::singleShot(0, &loop, &QEventLoop::quit);
  pushLoop(&loop);
  loop.exec();
  popLoop(&loop);
}
}  // namespace

namespace detail {
void startFormTimer(ControlDesc& c) {
  if (!c.timer) return;
  if (gTestClock.load()) {
    c.timer->stop();
    c.clockTimerOn = c.timer->interval() > 0;
    c.clockTimerDue = testNow() + static_cast<std::uint32_t>(c.timer->interval());
  } else {
    c.timer->start();
  }
}

void stopFormTimer(ControlDesc& c) {
  c.clockTimerOn = false;
  if (c.timer) c.timer->stop();
}

bool formTimerActive(const ControlDesc& c) {
  if (!c.timer) return false;
  return gTestClock.load() ? c.clockTimerOn : c.timer->isActive();
}

RuntimeTimer::RuntimeTimer(std::function<void()> f) : fire(std::move(f)) {
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, [this] { fire(); });
  runtimeTimers().push_back(this);
}

RuntimeTimer::~RuntimeTimer() { std::erase(runtimeTimers(), this); }

void RuntimeTimer::start(int ms) {
  ms = std::max(0, ms);
  if (gTestClock.load()) {
    timer.stop();
    clockOn = true;
    clockDue = testNow() + static_cast<std::uint32_t>(ms);
  } else {
    clockOn = false;
    timer.start(ms);
  }
}

void RuntimeTimer::stop() {
  clockOn = false;
  timer.stop();
}

bool RuntimeTimer::isActive() const { return clockOn || timer.isActive(); }
}  // namespace detail

std::uint32_t tickCount() { return gTestClock.load() ? testNow() : realTicks(); }

void waitPumping(int ms) {
  if (ms <= 0 || !QCoreApplication::instance()) return;
  if (gTestClock.load()) {
    // The wait takes no real time: what is pending runs, the clock moves by
    // ms (ticking the timers on the way), and what that posted runs too.
    const std::uint32_t end = tickCount() + static_cast<std::uint32_t>(ms);
    pumpPending();
    if (gQuitting) return;
    runTestClockTo(end);
    if (!gQuitting) pumpPending();
    return;
  }
  std::uint32_t start = tickCount();
  // Messages are processed at least once, even when the thread got the
  // processor back only after the time was up.
  bool pumped = false;
  while (!gQuitting) {
    std::uint32_t elapsed = tickCount() - start;
    if (elapsed > static_cast<std::uint32_t>(ms) && pumped) break;
    pumped = true;
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(elapsed > static_cast<std::uint32_t>(ms) ? 0 : static_cast<int>(ms - elapsed + 1));
    pushLoop(&loop);
    loop.exec();
    popLoop(&loop);
  }
}

void processPendingOnce() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void plainSleep(int ms) {
  if (ms <= 0) return;
  if (gTestClock.load()) {
    // The user-interface thread moves the clock (its timers tick at the next
    // wait, as they would after a real sleep); other threads wait for it.
    if (onUiThread()) {
      moveTestClockTo(testNow() + static_cast<std::uint32_t>(ms));
      return;
    }
    std::unique_lock<std::mutex> lock(gClockMutex);
    if (gTestClock.load()) {  // still on, now that the lock is held
      ClockSleeper me;
      me.end = gTestNow + static_cast<std::uint32_t>(ms);
      gClockSleepers.push_back(&me);
      gClockMoved.notify_all();
      gClockMoved.wait(lock, [&me] { return me.released; });
      return;
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void runBeside(const std::function<void(const std::function<void()>& nudge)>& work,
               const std::function<void()>& watch) {
  if (!QCoreApplication::instance()) {
    work([] {});
    if (watch) watch();
    return;
  }
  QEventLoop loop;
  QObject relay;  // of this thread: what is queued to it runs here
  std::atomic<bool> finished{false}, nudged{false};
  auto nudge = [&] {
    if (nudged.exchange(true)) return;
    QMetaObject::invokeMethod(
        &relay,
        [&] {
          nudged = false;
          if (watch && !finished) watch();
        },
        Qt::QueuedConnection);
  };
  std::thread worker([&] {
    work(nudge);
    finished = true;
    QMetaObject::invokeMethod(
        &relay, [&] { loop.quit(); }, Qt::QueuedConnection);
  });
  pushLoop(&loop);
  while (!finished && !gQuitting) loop.exec();
  popLoop(&loop);
  worker.join();
  // Whatever was queued to the relay goes with it.
  if (watch) watch();
}

namespace {
std::atomic<int> gScreenW{0}, gScreenH{0};  // overridden size, 0: the real screen
}  // namespace

int screenWidth() {
  if (gScreenW > 0) return gScreenW;
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().width() : 0;
}
int screenHeight() {
  if (gScreenH > 0) return gScreenH;
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().height() : 0;
}

namespace {
std::mutex gFolderMutex;
std::string gProgramFolder;
}  // namespace

std::string programFolder() {
  std::lock_guard<std::mutex> lock(gFolderMutex);
  if (!gProgramFolder.empty()) return gProgramFolder;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

void setProgramFolder(const std::string& dir) {
  std::lock_guard<std::mutex> lock(gFolderMutex);
  gProgramFolder = dir;
  while (gProgramFolder.size() > 1 && gProgramFolder.back() == '/') gProgramFolder.pop_back();
}

LocalTime localTime() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return LocalTime{tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// --- Look ---------------------------------------------------------------------------------------

namespace {
int gFlatScheme = 0;
const char* kBlueSheet = R"(
QPushButton { background: #e8f0fb; border: 1px solid #3a6fb0; color: #10305a; padding: 1px 3px; }
QPushButton:hover { background: #cfe0f7; }
QPushButton:pressed { background: #3a6fb0; color: white; }
QPushButton:disabled { color: #8a9bb0; border-color: #a9bcd6; }
QLineEdit, QPlainTextEdit, QComboBox, QListWidget, QTreeWidget {
  background: white; border: 1px solid #3a6fb0; selection-background-color: #3a6fb0; }
QHeaderView::section { background: #e8f0fb; border: none; border-right: 1px solid #a9bcd6;
  border-bottom: 1px solid #3a6fb0; color: #10305a; padding: 2px; }
QGroupBox { border: 1px solid #3a6fb0; margin-top: 0px; }
QGroupBox[titled="true"] { margin-top: 8px; }
QGroupBox::title { subcontrol-origin: margin; left: 6px; color: #10305a; }
QProgressBar { border: 1px solid #3a6fb0; background: white; text-align: center; }
QProgressBar::chunk { background: #3a6fb0; }
QSlider::groove:vertical { background: #cfe0f7; width: 4px; }
QSlider::groove:horizontal { background: #cfe0f7; height: 4px; }
QSlider::handle { background: #3a6fb0; border: 1px solid #10305a; width: 14px; height: 10px;
  margin: -5px; }
QCheckBox, QRadioButton { color: #10305a; }
QMenu { background: white; border: 1px solid #3a6fb0; }
QMenu::item:selected { background: #3a6fb0; color: white; }
QMenu::separator { height: 1px; background: #a9bcd6; margin: 3px 6px; }
)";
}  // namespace

// The look's arrows (the drop-down of a combo box among them): a solid
// triangle in the look's dark blue, plain to see on its pale buttons.
class FlatArrowStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  void drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p,
                     const QWidget* w) const override {
    if (pe != PE_IndicatorArrowDown && pe != PE_IndicatorArrowUp) {
      QProxyStyle::drawPrimitive(pe, opt, p, w);
      return;
    }
    const QRectF r = opt->rect;
    const double half = std::min(r.width(), r.height()) * 0.45;
    const double rise = (pe == PE_IndicatorArrowDown ? 0.55 : -0.55) * half;
    const QPointF c = r.center();
    const QPolygonF triangle{QPointF(c.x() - half, c.y() - rise),
                             QPointF(c.x() + half, c.y() - rise), QPointF(c.x(), c.y() + rise)};
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(Qt::NoPen);
    p->setBrush(opt->state & State_Enabled ? QColor(0x10, 0x30, 0x5a) : QColor(0x8a, 0x9b, 0xb0));
    p->drawPolygon(triangle);
    p->restore();
  }
};

void setFlatLook(int scheme) {
  initRuntime();
  gFlatScheme = scheme;
  static bool arrows = false;
  if (scheme == 1 && !arrows) {
    arrows = true;
    qApp->setStyle(new FlatArrowStyle);
  }
  // Scheme 1 is the blue one; any other scheme switches the look off.
  qApp->setStyleSheet(scheme == 1 ? QString::fromUtf8(kBlueSheet) : QString());
}
bool flatLookOn() { return gFlatScheme == 1; }

// --- Hot key, threads, fonts, shell
// ----------------------------------------------------------------

int registerHotKey(const Window& watched, const Control& target, int modifiers, int vk) {
  initRuntime();
  int key = qtKeyForVk(vk);
  if (key == 0) {
    std::fprintf(stderr, "form runtime: hot key %d is not supported\n", vk);
    return 0;
  }
  if (!findWindow(watched.name()) || !findControl(target.window(), target.name())) {
    std::fprintf(stderr, "form runtime: hot key for unknown window or control %s.%s\n",
                 target.window().c_str(), target.name().c_str());
    return 0;
  }
  for (const HotKey& hk : gHotKeys)
    if (hk.key == key && hk.modifiers == modifiers) return 0;  // taken, as a system would say
  HotKey hk{gNextHotKeyId++, watched.name(), target.window(), target.name(), modifiers, key};
  gHotKeys.push_back(hk);
  // The key reaches the program only while one of its windows has the
  // keyboard focus: the watched window takes it as soon as it shows.
  std::string name = watched.name();
  QTimer::singleShot(0, qApp, [name] {
    WindowDesc* w = findWindow(name);
    QWidget* widget = w && w->open ? windowWidgetOf(*w) : nullptr;
    if (widget && widget->isVisible() && widget->isEnabled()) widget->activateWindow();
  });
  return hk.id;
}

void unregisterHotKey(const Window& watched, int id) {
  std::erase_if(gHotKeys,
                [&](const HotKey& hk) { return hk.id == id && hk.watched == watched.name(); });
}

void startThread(void (*fn)()) {
  {
    std::lock_guard<std::mutex> lock(gClockMutex);
    ++gRunningThreads;
  }
  std::thread([fn] {
    fn();
    {
      std::lock_guard<std::mutex> lock(gClockMutex);
      --gRunningThreads;
    }
    gClockMoved.notify_all();
  }).detach();
}

bool installFont(const std::string& path) {
  initRuntime();
  return QFontDatabase::addApplicationFont(QString::fromStdString(path)) >= 0;
}

namespace {
// Files that shellOpen was asked to open while dialogs are scripted.
std::vector<std::string> gShellOpens;
}  // namespace

bool shellOpen(const std::string& path, const std::string& /*verb*/) {
  initRuntime();
  if (!QFileInfo::exists(QString::fromStdString(path))) return false;
  // Under scripting (tests) no desktop program is started: the request is
  // recorded instead.
  if (detail::gScripting) {
    gShellOpens.push_back(path);
    return true;
  }
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

// --- Termination requests ------------------------------------------------------------------

namespace {
// The signal handler only writes one byte into this pipe; the event loop
// reads it and runs the program's handler.
int gTermPipe[2] = {-1, -1};
void (*gTermHandler)() = nullptr;
QSocketNotifier* gTermNotifier = nullptr;

extern "C" void onTermSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a pending request.
  [[maybe_unused]] ssize_t n = write(gTermPipe[1], &byte, 1);
  errno = saved;
}

void readTermRequests() {
  char buf[64];
  bool any = false;
  while (read(gTermPipe[0], buf, sizeof buf) > 0) any = true;
  if (any && gTermHandler) gTermHandler();
}
}  // namespace

void onTerminationRequest(void (*fn)()) {
  initRuntime();
  gTermHandler = fn;
  if (gTermNotifier) return;
  if (pipe2(gTermPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("form runtime: termination requests cannot be caught");
    return;
  }
  gTermNotifier = new QSocketNotifier(gTermPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(gTermNotifier, &QSocketNotifier::activated, qApp, [] { readTermRequests(); });
  struct sigaction sa {};
  sa.sa_handler = onTermSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

// --- Test seams
// ------------------------------------------------------------------------------------

namespace testing {
void enableScripting(bool on) {
  detail::gScripting = on;
  if (!on) {
    gMessageAnswers.clear();
    gInputAnswers.clear();
    gFileAnswers.clear();
    gDuring.clear();
    gMenuChoices.clear();
  }
}
void queueMessageAnswer(int result) { gMessageAnswers.push_back(result); }
void queueInputAnswer(bool ok, const Text& text) { gInputAnswers.emplace_back(ok, text); }
void queueFileAnswer(bool ok, const std::string& path) { gFileAnswers.emplace_back(ok, path); }
void queueDuringDialog(std::function<void()> fn) { gDuring.push_back(std::move(fn)); }
std::vector<ShownDialog> shownDialogs() { return gShown; }
void clearShownDialogs() { gShown.clear(); }
std::vector<std::string> shellOpens() { return gShellOpens; }
void clearShellOpens() { gShellOpens.clear(); }
void queueMenuChoice(const Text& caption) { gMenuChoices.push_back(caption); }

void overrideScreenSize(int width, int height) {
  bool on = width > 0 && height > 0;
  gScreenW = on ? width : 0;
  gScreenH = on ? height : 0;
}

void useTestClock(bool on) {
  if (on == gTestClock.load()) return;
  if (on) {
    {
      std::lock_guard<std::mutex> lock(gClockMutex);
      gTestNow = realTicks();  // time goes on from where it is
      gTestClock = true;
    }
    for (ControlDesc* c : openTimers())
      if (c->timer->isActive()) startFormTimer(*c);
    for (RuntimeTimer* r : runtimeTimers())
      if (r->timer.isActive()) r->start(r->timer.remainingTime());
    return;
  }
  {
    std::lock_guard<std::mutex> lock(gClockMutex);
    gTestClock = false;
    releaseSleepers(true);
  }
  gClockMoved.notify_all();
  for (ControlDesc* c : openTimers()) {
    if (!c->clockTimerOn) continue;
    c->clockTimerOn = false;
    c->timer->start();
  }
  // The runtime's timers keep the time they had left on the test clock.
  const std::uint32_t now = testNow();
  for (RuntimeTimer* r : runtimeTimers())
    if (r->clockOn) r->start(notAfter(r->clockDue, now) ? 0 : static_cast<int>(r->clockDue - now));
}

void advanceClock(int ms) {
  if (ms > 0 && gTestClock.load()) runTestClockTo(testNow() + static_cast<std::uint32_t>(ms));
}

int testClockSleepers() {
  std::lock_guard<std::mutex> lock(gClockMutex);
  return static_cast<int>(gClockSleepers.size());
}

void pressKey(int vk) {
  initRuntime();
  int key = qtKeyForVk(vk);
  QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QString();
  QObject* target = QApplication::focusWidget();
  if (!target) target = QApplication::activeWindow();
  if (!target) target = qApp;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}
}  // namespace testing

namespace testing {
void reportUnknownNames(void (*report)(const std::string& message)) {
  detail::gUnknownNameReport = report;
}
}  // namespace testing

}  // namespace ui
