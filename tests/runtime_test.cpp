// The form runtime's window semantics: loading, opening and destroying,
// modal nesting, waits, stored descriptions, dialogs, hot key, layered
// windows and window mouse events.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <csignal>
#include <thread>

#include "platform/ui/ui.h"
#include "platform/ui/ui_testing.h"
#include "tests/ui_fixture.h"
#include "tests/wait_until.h"

using namespace uitest;
using model::Text;
using model::operator""_t;

namespace {

// --- Loading -------------------------------------------------------------------------

struct BadForm {
  const char* what;
  const char* json;
  const char* message;  // part of the error
};

class LoadErrors : public ::testing::TestWithParam<BadForm> {};

TEST_P(LoadErrors, FailWithAMessageAndLoadNothing) {
  ui::initRuntime();
  registerLoggingHandlers();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile good(dir.filePath("a_good.json"));
  ASSERT_TRUE(good.open(QIODevice::WriteOnly));
  good.write(R"({"name": "GoodWindow", "events": {"created": "OnMainCreated"}})");
  good.close();
  QFile bad(dir.filePath("b_bad.json"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write(GetParam().json);
  bad.close();
  std::string error;
  EXPECT_FALSE(ui::loadForms(dir.path().toStdString(), &error));
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
  // All or nothing: the sound file before the bad one is not loaded either.
  EXPECT_FALSE(ui::Window("GoodWindow").exists());
  ui::unloadForms();
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LoadErrors,
    ::testing::Values(
        BadForm{"unknown handler", R"({"name": "W", "events": {"created": "OnNobodyHasThis"}})",
                "unknown handler \"OnNobodyHasThis\""},
        BadForm{"unknown control handler",
                R"({"name": "W", "controls": [{"name": "b", "type": "button",
                    "events": {"click": "NoSuchClick"}}]})",
                "NoSuchClick"},
        BadForm{"unknown type", R"({"name": "W", "controls": [{"name": "x", "type": "gauge"}]})",
                "unknown control type \"gauge\""},
        BadForm{"unknown window event", R"({"name": "W", "events": {"exploded": "OnMainCreated"}})",
                "unknown event \"exploded\""},
        BadForm{"event the type lacks",
                R"({"name": "W", "controls": [{"name": "t", "type": "timer",
                    "events": {"click": "OnClockTick"}}]})",
                "unknown event \"click\""},
        BadForm{"duplicate control",
                R"({"name": "W", "controls": [{"name": "x", "type": "label"},
                    {"name": "x", "type": "button"}]})",
                "duplicate control name"},
        BadForm{"duplicate window", R"({"name": "GoodWindow"})", "duplicate window name"},
        BadForm{"parent after child",
                R"({"name": "W", "controls": [{"name": "c", "type": "label", "parent": "g"},
                    {"name": "g", "type": "groupBox"}]})",
                "parent \"g\" is not declared before"},
        BadForm{"parent that holds nothing",
                R"({"name": "W", "controls": [{"name": "b", "type": "button"},
                    {"name": "c", "type": "label", "parent": "b"}]})",
                "cannot hold controls"},
        BadForm{"missing picture", R"({"name": "W", "picture": "pictures/none.jpg"})",
                "missing picture"},
        BadForm{"bad JSON", R"({"name": "W", )", "invalid JSON"},
        BadForm{"unknown key", R"({"name": "W", "colour": [1, 2, 3]})", "unknown key \"colour\""},
        BadForm{"bad colour", R"({"name": "W", "background": [1, 2, 300]})", "background"},
        BadForm{"bad border", R"({"name": "W", "border": "thick"})", "border"}),
    [](const ::testing::TestParamInfo<BadForm>& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(Load, AWindowWithoutAPositionIsCentredOnTheScreen) {
  ui::initRuntime();
  ui::testing::overrideScreenSize(1000, 800);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile a(dir.filePath("centred.json")), b(dir.filePath("placed.json"));
  ASSERT_TRUE(a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly));
  a.write(R"({"name": "Centred", "width": 300, "height": 200})");
  b.write(R"({"name": "Placed", "left": 5, "top": 6, "width": 300, "height": 200})");
  a.close();
  b.close();
  std::string error;
  ASSERT_TRUE(ui::loadForms(dir.path().toStdString(), &error)) << error;
  EXPECT_EQ(ui::Window("Centred").left(), 350);
  EXPECT_EQ(ui::Window("Centred").top(), 300);
  EXPECT_EQ(ui::Window("Placed").left(), 5);
  EXPECT_EQ(ui::Window("Placed").top(), 6);
  ui::unloadForms();
  ui::testing::overrideScreenSize(0, 0);
}

TEST(Load, MissingFolderFails) {
  std::string error;
  EXPECT_FALSE(ui::loadForms("/nonexistent/forms", &error));
  EXPECT_NE(error.find("/nonexistent/forms"), std::string::npos);
}

// --- Opening, destroying, modal ----------------------------------------------------------

class Windows : public FormsTest {};

TEST_F(Windows, NonModalOpenRunsCreatedOnceAndReturns) {
  ui::Window w("PlainAWindow");
  EXPECT_FALSE(w.isOpen());
  ASSERT_TRUE(w.open());
  EXPECT_TRUE(w.isOpen());
  EXPECT_EQ(count("OnPlainACreated"), 1);
  // Opening again brings it forward and runs nothing.
  ASSERT_TRUE(w.open());
  EXPECT_EQ(count("OnPlainACreated"), 1);
  // A window no form declares opens nothing and is reported.
  static std::string reported;
  reported.clear();
  ui::testing::reportUnknownNames([](const std::string& m) { reported = m; });
  EXPECT_FALSE(ui::Window("NoSuchWindow").open());
  EXPECT_EQ(reported, "no window \"NoSuchWindow\" is loaded");
  reported.clear();
  EXPECT_EQ(ui::Control("PlainAWindow", "NoSuchControl").caption(), model::Text());
  EXPECT_EQ(reported, "window \"PlainAWindow\" has no control \"NoSuchControl\"");
  fixture::failOnUnknownNames();
}

TEST_F(Windows, DestroyRequestsRunAfterTheHandlerInRequestOrder) {
  ui::Window a("PlainAWindow"), b("PlainBWindow");
  a.open();
  b.open();
  bool aOpenAtEnd = false, bOpenAtEnd = false;
  actions()["OnButtonClick"] = [&](const ui::EventArgs&) {
    a.destroy();
    b.destroy();
    aOpenAtEnd = a.isOpen();
    bOpenAtEnd = b.isOpen();
  };
  ui::Window("MainWindow").open();
  log().clear();
  static_cast<QAbstractButton*>(ui::testing::controlWidget("MainWindow", "按钮1"))->click();
  EXPECT_TRUE(aOpenAtEnd);
  EXPECT_TRUE(bOpenAtEnd);
  EXPECT_TRUE(a.isOpen());
  ui::processPendingOnce();
  EXPECT_FALSE(a.isOpen());
  EXPECT_FALSE(b.isOpen());
  EXPECT_EQ(
      namesExcept({"OnClockTick", "OnMainMoved", "OnMainResized"}),
      (std::vector<std::string>{"OnButtonClick", "OnPlainADestroying", "OnPlainBDestroying"}));
}

TEST_F(Windows, DestroyRequestedInsideAWaitIsCarriedOutByTheWait) {
  ui::Window a("PlainAWindow");
  a.open();
  a.destroy();
  EXPECT_TRUE(a.isOpen());
  ui::waitPumping(5);
  EXPECT_FALSE(a.isOpen());
  EXPECT_EQ(count("OnPlainADestroying"), 1);
  // A second request on a closed window does nothing.
  a.destroy();
  ui::processPendingOnce();
  EXPECT_EQ(count("OnPlainADestroying"), 1);
}

TEST_F(Windows, TitleBarCloseRunsDestroying) {
  ui::Window a("PlainAWindow");
  a.open();
  ui::testing::windowWidget("PlainAWindow")->close();
  EXPECT_FALSE(a.isOpen());
  EXPECT_EQ(count("OnPlainADestroying"), 1);
}

TEST_F(Windows, ModalOpenDisablesOthersAndReturnsAfterClose) {
  ui::Window main("MainWindow"), modal("ModalWindow");
  main.open();
  bool mainEnabledDuring = true, modalOpenDuring = false;
  QTimer::singleShot(0, [&] {
    mainEnabledDuring = ui::testing::windowWidget("MainWindow")->isEnabled();
    modalOpenDuring = modal.isOpen();
    modal.destroy();
  });
  ASSERT_TRUE(modal.open(true));
  EXPECT_TRUE(modalOpenDuring);
  EXPECT_FALSE(mainEnabledDuring);
  EXPECT_FALSE(modal.isOpen());
  EXPECT_TRUE(ui::testing::windowWidget("MainWindow")->isEnabled());
  EXPECT_EQ(namesExcept({"OnClockTick", "OnMainMoved", "OnMainResized", "OnMainCreated"}),
            (std::vector<std::string>{"OnModalCreated", "OnModalDestroying"}));
}

TEST_F(Windows, TimerTicksInsideWaitAndModalLoop) {
  ui::Window main("MainWindow"), modal("ModalWindow");
  main.open();
  // A wait lasts more than its length and lets the timer tick.
  std::uint32_t t0 = ui::tickCount();
  ui::waitPumping(60);
  EXPECT_GT(ui::tickCount() - t0, 60u);
  EXPECT_TRUE(testwait::pumpUntil([] { return count("OnClockTick") >= 2; }));
  // The modal window's loop runs the timer too: it closes once it has seen
  // two ticks (or after 10 s without).
  log().clear();
  QTimer poll, guard;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (count("OnClockTick") >= 2) modal.destroy();
  });
  QObject::connect(&guard, &QTimer::timeout, [&] { modal.destroy(); });
  poll.start(5);
  guard.setSingleShot(true);
  guard.start(10000);
  modal.open(true);
  EXPECT_GE(count("OnClockTick"), 2);

  // On the test clock: the 10 ms timer ticks exactly once per 10 ms a wait
  // lasts, and zero and negative waits return at once, processing nothing.
  ui::testing::useTestClock(true);
  log().clear();
  t0 = ui::tickCount();
  ui::waitPumping(60);
  EXPECT_EQ(ui::tickCount() - t0, 60u);
  EXPECT_EQ(count("OnClockTick"), 6);
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  ui::waitPumping(0);
  ui::waitPumping(-5);
  EXPECT_EQ(ui::tickCount() - t0, 60u);
  EXPECT_FALSE(ran);
  ui::testing::useTestClock(false);
  ui::processPendingOnce();
}

TEST_F(Windows, RunMessageLoopEndsWhenTheLastWindowCloses) {
  ui::Window a("PlainAWindow"), b("PlainBWindow");
  EXPECT_EQ(ui::runMessageLoop(), 0);  // nothing open: at once
  a.open();
  b.open();
  QTimer::singleShot(10, [&] { a.destroy(); });
  QTimer::singleShot(20, [&] { b.destroy(); });
  EXPECT_EQ(ui::runMessageLoop(), 0);
  EXPECT_FALSE(a.isOpen());
  EXPECT_FALSE(b.isOpen());
}

TEST_F(Windows, InterceptedProgramEndQuitsEveryLoop) {
  ui::testing::interceptProgramEnd(true);
  ui::Window main("MainWindow"), modal("ModalWindow");
  main.open();
  QTimer::singleShot(0, [] { ui::endProgram(7); });
  modal.open(true);  // the nested loop ends
  EXPECT_EQ(ui::testing::interceptedEndCode(), 7);
  ui::testing::interceptProgramEnd(false);
}

// --- Stored descriptions -------------------------------------------------------------------

TEST_F(Windows, ClosedWindowGeometryIsStoredAndAppliedOnOpen) {
  ui::Window a("PlainAWindow");
  EXPECT_EQ(a.left(), 400);
  a.setLeft(123);
  a.setWidth(150);
  a.ctl("标签1").setTop(33);
  a.ctl("标签1").setVisible(false);
  EXPECT_EQ(a.left(), 123);
  EXPECT_EQ(a.ctl("标签1").top(), 33);
  // Everything but geometry needs the window open.
  a.ctl("标签1").setCaption("忽略"_t);
  EXPECT_EQ(a.ctl("标签1").caption(), Text());
  a.open();
  QWidget* w = ui::testing::windowWidget("PlainAWindow");
  EXPECT_EQ(w->x(), 123);
  EXPECT_EQ(w->width(), 150);
  QWidget* label = ui::testing::controlWidget("PlainAWindow", "标签1");
  EXPECT_EQ(label->y(), 33);
  EXPECT_TRUE(label->isHidden());
  EXPECT_EQ(a.ctl("标签1").caption(), "声明的文字"_t);
}

TEST_F(Windows, ReopenedWindowStartsFromDeclaredTextsButKeepsGeometry) {
  ui::Window a("PlainAWindow");
  a.open();
  a.ctl("编辑框1").setText("999"_t);
  a.setTop(210);
  EXPECT_EQ(a.ctl("编辑框1").text(), "999"_t);
  a.destroy();
  ui::processPendingOnce();
  EXPECT_EQ(a.top(), 210);
  a.open();
  EXPECT_EQ(a.ctl("编辑框1").text(), "1"_t);
  EXPECT_EQ(ui::testing::windowWidget("PlainAWindow")->y(), 210);
}

TEST_F(Windows, GeometryFromAWorkerThreadReachesTheWidget) {
  ui::Window a("PlainAWindow");
  a.open();
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) a.ctl("标签1").setLeft(a.ctl("标签1").left() + 1);
    a.setTop(77);
  });
  worker.join();
  EXPECT_EQ(a.ctl("标签1").left(), 54);  // the reads see the worker's writes at once
  ui::processPendingOnce();
  EXPECT_EQ(ui::testing::controlWidget("PlainAWindow", "标签1")->x(), 54);
  EXPECT_EQ(ui::testing::windowWidget("PlainAWindow")->y(), 77);
  // And while the window is closed: stored, applied on the next open.
  a.destroy();
  ui::processPendingOnce();
  std::thread([&] { a.ctl("标签1").setTop(12); }).join();
  ui::processPendingOnce();
  a.open();
  EXPECT_EQ(ui::testing::controlWidget("PlainAWindow", "标签1")->y(), 12);
}

TEST_F(Windows, AlwaysOnTopIsStoredWhileClosedAndReadFromTheWindow) {
  ui::Window a("PlainAWindow");
  EXPECT_FALSE(a.alwaysOnTop());
  a.setAlwaysOnTop(true);
  EXPECT_TRUE(a.alwaysOnTop());
  a.open();
  QWidget* w = ui::testing::windowWidget("PlainAWindow");
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  // The change is made in place: the window is never hidden meanwhile (a
  // hidden window loses the keyboard focus and is placed anew when shown).
  struct HideCounter : QObject {
    int hides = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Hide) ++hides;
      return false;
    }
  } counter;
  w->installEventFilter(&counter);
  a.setAlwaysOnTop(false);
  EXPECT_FALSE(a.alwaysOnTop());
  EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(w->isVisible());  // changing the flag keeps it shown
  a.setAlwaysOnTop(true);
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(counter.hides, 0);
  w->removeEventFilter(&counter);
  EXPECT_TRUE(ui::Window("KeyedWindow").alwaysOnTop());  // declared
}

// The window a message box showing `text` belongs to, while it shows.
QWindow* messageBoxOwner(const Text& text) {
  QWindow* owner = nullptr;
  ui::testing::queueMessageAnswer(ui::kResultOk);
  ui::testing::queueDuringDialog([&] {
    if (QWidget* box = QApplication::activeModalWidget())
      if (box->windowHandle()) owner = box->windowHandle()->transientParent();
  });
  ui::messageBox(text);
  return owner;
}

TEST_F(Windows, WindowsAndDialogsBelongToTheMainWindow) {
  // The first window opened non-modal with a taskbar entry is the main
  // window; the others, and the dialogs, are kept above it by the window
  // manager.
  ui::Window main("MainWindow"), keyed("KeyedWindow"), plain("PlainAWindow");
  main.open();
  keyed.open();
  plain.open();
  QWindow* mainHandle = ui::testing::windowWidget("MainWindow")->windowHandle();
  ASSERT_NE(mainHandle, nullptr);
  EXPECT_EQ(mainHandle->transientParent(), nullptr);
  for (const char* name : {"KeyedWindow", "PlainAWindow"}) {
    QWindow* h = ui::testing::windowWidget(name)->windowHandle();
    ASSERT_NE(h, nullptr) << name;
    EXPECT_EQ(h->transientParent(), mainHandle) << name;
  }
  EXPECT_NE(messageBoxOwner("?"_t), nullptr);
  // A modal window is a dialog belonging to the main window, and one opened
  // from inside it belongs to it.
  QWindow* modalParent = nullptr;
  QWindow* modalHandle = nullptr;
  Qt::WindowType modalType = Qt::Widget;
  QTimer::singleShot(0, [&] {
    QWindow* h = ui::testing::windowWidget("ModalWindow")->windowHandle();
    modalHandle = h;
    modalParent = h ? h->transientParent() : nullptr;
    modalType = ui::testing::windowWidget("ModalWindow")->windowType();
    ui::Window("PlainBWindow").open(true);
    ui::Window("ModalWindow").destroy();
  });
  QWindow* innerParent = nullptr;
  QTimer::singleShot(20, [&] {
    QWindow* h = ui::testing::windowWidget("PlainBWindow")->windowHandle();
    innerParent = h ? h->transientParent() : nullptr;
    ui::Window("PlainBWindow").destroy();
  });
  ui::Window("ModalWindow").open(true);
  EXPECT_EQ(modalParent, mainHandle);
  EXPECT_EQ(modalType, Qt::Dialog);
  EXPECT_NE(innerParent, nullptr);
  EXPECT_EQ(innerParent, modalHandle);
  // A hidden owned window shown again is still owned.
  keyed.setVisible(false);
  keyed.setVisible(true);
  EXPECT_EQ(ui::testing::windowWidget("KeyedWindow")->windowHandle()->transientParent(),
            mainHandle);
}

// Notes that its window was made the active one.
struct ActivationSeen : QObject {
  bool seen = false;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::WindowActivate) seen = true;
    return false;
  }
};

// Where the keyboard focus goes: a window declared not to take it leaves it
// where it is when it shows; a click on a window that a modal window blocks
// gives it back to the modal window; a message box that opens while no
// window is active (the focus still on its way back from a dialog) belongs
// to the window that had the focus last and gives it back to that window.
TEST_F(Windows, KeyboardFocusStaysWithTheWindowTheOperatorWorksIn) {
  ui::Window main("MainWindow"), plain("PlainAWindow"), ticker("TickerWindow");
  main.open();
  plain.open();
  QWidget* plainWidget = ui::testing::windowWidget("PlainAWindow");
  plainWidget->activateWindow();
  ASSERT_TRUE(testwait::pumpUntil([&] { return QApplication::activeWindow() == plainWidget; }));
  ticker.open();
  ticker.setVisible(true);
  QWidget* tickerWidget = ui::testing::windowWidget("TickerWindow");
  EXPECT_TRUE(tickerWidget->isVisible());
  // Even where the window system hands it the focus, it gives it back.
  ActivationSeen tickerActivated;
  tickerWidget->installEventFilter(&tickerActivated);
  tickerWidget->activateWindow();
  EXPECT_TRUE(testwait::pumpUntil(
      [&] { return tickerActivated.seen && QApplication::activeWindow() == plainWidget; }));
  tickerWidget->removeEventFilter(&tickerActivated);
  EXPECT_TRUE(tickerWidget->windowFlags() & Qt::WindowDoesNotAcceptFocus);

  // The box belongs to the window last active.
  QApplication::setActiveWindow(nullptr);
  ASSERT_EQ(QApplication::activeWindow(), nullptr);
  EXPECT_EQ(messageBoxOwner("导出成功！"_t), plainWidget->windowHandle());
  EXPECT_TRUE(testwait::pumpUntil([&] { return QApplication::activeWindow() == plainWidget; }));

  // Clicked while a modal window is open, the main window passes the focus
  // back to it.
  QWidget* mainWidget = ui::testing::windowWidget("MainWindow");
  ActivationSeen mainActivated;
  QWidget* modalWidget = nullptr;
  QWidget* activeAfterClick = nullptr;
  QTimer::singleShot(0, [&] {
    modalWidget = ui::testing::windowWidget("ModalWindow");
    modalWidget->activateWindow();
    testwait::pumpUntil([&] { return QApplication::activeWindow() == modalWidget; });
    mainWidget->installEventFilter(&mainActivated);
    mainWidget->activateWindow();  // as the window manager does on a click
    testwait::pumpUntil(
        [&] { return mainActivated.seen && QApplication::activeWindow() == modalWidget; });
    activeAfterClick = QApplication::activeWindow();
    mainWidget->removeEventFilter(&mainActivated);
    ui::Window("ModalWindow").destroy();
  });
  ASSERT_TRUE(ui::Window("ModalWindow").open(true));
  EXPECT_TRUE(mainActivated.seen);
  ASSERT_NE(modalWidget, nullptr);
  EXPECT_EQ(activeAfterClick, modalWidget);
}

TEST_F(Windows, AWindowWithoutAFrameKeepsThePositionTheProgramGaveIt) {
  // A window manager taking a frameless window in may report a passing
  // position; a framed window is moved by the operator, and its new
  // position is kept.
  ui::Window main("MainWindow"), plain("PlainAWindow");
  main.open();
  plain.open();
  ui::processPendingOnce();
  log().clear();
  ui::testing::windowWidget("MainWindow")->move(0, 0);
  ui::processPendingOnce();
  EXPECT_EQ(main.left(), 40);
  EXPECT_EQ(main.top(), 30);
  EXPECT_EQ(count("OnMainMoved"), 1);  // the event is still raised
  ui::testing::windowWidget("PlainAWindow")->move(10, 20);
  ui::processPendingOnce();
  EXPECT_EQ(plain.left(), 10);
  EXPECT_EQ(plain.top(), 20);
}

TEST_F(Windows, StateChangesRaiseMoved) {
  ui::Window main("MainWindow");
  main.open();
  ui::processPendingOnce();
  log().clear();
  main.setState(ui::kMinimized);
  EXPECT_EQ(main.state(), ui::kMinimized);
  EXPECT_EQ(count("OnMainMoved"), 1);
  main.setState(ui::kNormal);
  EXPECT_EQ(main.state(), ui::kNormal);
  EXPECT_EQ(count("OnMainMoved"), 2);
  main.setLeft(60);
  EXPECT_EQ(count("OnMainMoved"), 3);
  main.setWidth(310);
  EXPECT_EQ(count("OnMainResized"), 1);
}

TEST_F(Windows, CaptionAndPictureNeedTheWindowOpenAndKeepBytes) {
  ui::Window a("PlainAWindow");
  EXPECT_EQ(a.caption(), Text());
  a.open();
  EXPECT_EQ(a.caption(), "窗口A"_t);
  a.setCaption("数据导入（x）"_t);
  EXPECT_EQ(a.caption(), "数据导入（x）"_t);
  QFile f(PD_SOURCE_DIR "/tests/forms/runtime/pictures/green_4x4.png");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray data = f.readAll();
  ui::Bytes bytes(data.begin(), data.end());
  a.setPicture(bytes);
  EXPECT_EQ(a.picture(), bytes);
  ui::Bytes junk{1, 2, 3};
  a.setPicture(junk);
  EXPECT_EQ(a.picture(), junk);  // kept as given, even when it is no picture
  a.setPicture({});
  EXPECT_TRUE(a.picture().empty());
  // The pictures of the loaded forms are at hand by their form path.
  EXPECT_EQ(ui::formPicture("pictures/green_4x4.png"), bytes);
  EXPECT_TRUE(ui::formPicture("pictures/none.png").empty());
}

// --- Mouse ------------------------------------------------------------------------------

TEST_F(Windows, WindowMouseEventsOnlyOverItsOwnArea) {
  ui::Window main("MainWindow");
  main.open();
  QWidget* w = ui::testing::windowWidget("MainWindow");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w, 10000));
  // The declared size must have reached the native window before the
  // pointer is sent to a point near its corner.
  QTRY_VERIFY(w->windowHandle()->geometry().contains(w->mapToGlobal(QPoint(280, 180))));
  log().clear();
  QWindow* win = w->windowHandle();
  QTest::mousePress(win, Qt::LeftButton, Qt::ControlModifier, QPoint(280, 180));
  QTest::mouseRelease(win, Qt::LeftButton, Qt::ControlModifier, QPoint(280, 180));
  ASSERT_EQ(count("OnMainMouseDown"), 1);
  const Call* down = firstCall("OnMainMouseDown");
  EXPECT_EQ(down->args.a, 280);
  EXPECT_EQ(down->args.b, 180);
  EXPECT_EQ(down->args.c, 1);
  EXPECT_EQ(count("OnMainMouseUp"), 1);
  log().clear();
  // Over the picture box: its events, relative to it; none for the window.
  QTest::mousePress(win, Qt::RightButton, Qt::ShiftModifier, QPoint(160, 50));
  QTest::mouseRelease(win, Qt::RightButton, Qt::ShiftModifier, QPoint(160, 50));
  QTest::mousePress(win, Qt::LeftButton, Qt::AltModifier, QPoint(160, 50));
  QTest::mouseRelease(win, Qt::LeftButton, Qt::AltModifier, QPoint(160, 50));
  EXPECT_EQ(count("OnMainMouseDown") + count("OnMainMouseUp"), 0);
  ASSERT_EQ(count("OnBoxRightMouseDown"), 1);
  ASSERT_EQ(count("OnBoxMouseDown"), 1);
  for (const Call& c : log())
    if (c.name == "OnBoxRightMouseDown") {
      EXPECT_EQ(c.args.a, 10);
      EXPECT_EQ(c.args.b, 40);
      EXPECT_EQ(c.args.c, 2);
    } else if (c.name == "OnBoxMouseDown") {
      EXPECT_EQ(c.args.c, 4);
    }
  // A button inside the picture box: its click, nothing for the box or window.
  log().clear();
  QTest::mouseClick(win, Qt::LeftButton, Qt::NoModifier, QPoint(160, 20));
  // (The form's timer may tick meanwhile; only mouse handlers count here.)
  EXPECT_EQ(namesExcept({"OnClockTick"}), std::vector<std::string>{"OnButtonClick"});
}

// --- Dialogs ---------------------------------------------------------------------------------

TEST_F(Windows, ScriptedMessageBoxesAnswerAndRecord) {
  bool modalInside = false;
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  ui::testing::queueDuringDialog(
      [&] { modalInside = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); });
  EXPECT_EQ(ui::messageBox("确定吗？"_t, Text(), ui::kOkCancel, ui::kSystemModal),
            ui::kResultCancel);
  EXPECT_TRUE(modalInside);
  ui::testing::queueMessageAnswer(ui::kResultOk);
  EXPECT_EQ(ui::messageBox("确定吗？"_t, "标题"_t, ui::kOkCancel), ui::kResultOk);
  // Unscripted: OK. A Cancel answer for an OK-only box is still OK.
  EXPECT_EQ(ui::messageBox("导出成功!"_t, Text(), ui::kOk, ui::kInformationIcon), ui::kResultOk);
  ui::testing::queueMessageAnswer(ui::kResultCancel);
  EXPECT_EQ(ui::messageBox("x"_t), ui::kResultOk);
  auto shown = ui::testing::shownDialogs();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].kind, "message");
  EXPECT_EQ(shown[0].text, "确定吗？"_t);
  EXPECT_EQ(shown[0].title, "信息："_t);
  EXPECT_EQ(shown[0].buttons, ui::kOkCancel);
  EXPECT_EQ(shown[0].flags, ui::kSystemModal);
  EXPECT_EQ(shown[1].title, "标题"_t);
  EXPECT_EQ(shown[2].flags, ui::kInformationIcon);
}

TEST_F(Windows, ScriptedInputBox) {
  Text out;
  ui::testing::queueInputAnswer(true, "张三"_t);
  EXPECT_TRUE(ui::inputBox("请输入需要查找的内容"_t, "查找"_t, Text(), &out));
  EXPECT_EQ(out, "张三"_t);
  ui::testing::queueInputAnswer(false, "x"_t);
  EXPECT_FALSE(ui::inputBox("请输入需要查找的内容"_t, "查找"_t, Text(), &out));
  EXPECT_EQ(out, Text());
  auto shown = ui::testing::shownDialogs();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, "input");
  EXPECT_EQ(shown[0].text, "请输入需要查找的内容"_t);
  EXPECT_EQ(shown[0].title, "查找"_t);
}

TEST_F(Windows, MessageBoxRunsItsLoopSoTimersTick) {
  ui::Window("MainWindow").open();
  log().clear();
  bool ticked = false;
  ui::testing::queueDuringDialog(
      [&] { ticked = QTest::qWaitFor([] { return count("OnClockTick") >= 2; }, 10000); });
  ui::messageBox("x"_t);
  EXPECT_TRUE(ticked);
}

// --- Hot key ----------------------------------------------------------------------------------

TEST_F(Windows, HotKeyReachesTheTargetWhileTheWatchedWindowExists) {
  ui::Window panel("PanelWindow"), plain("PlainAWindow");
  plain.open();
  QWidget* edit = ui::testing::controlWidget("PlainAWindow", "编辑框1");
  edit->activateWindow();
  edit->setFocus();
  ui::testing::pressKey(32);
  EXPECT_EQ(count("OnPanelHotkey"), 0);  // not registered yet
  panel.open();
  ASSERT_FALSE(ui::testing::windowWidget("PanelWindow")->isVisible());  // declared hidden
  int id = ui::registerHotKey(panel, panel.ctl("热键标签"), 0, 32);
  ASSERT_GT(id, 0);
  static_cast<QLineEdit*>(edit)->setText("ab");
  edit->setFocus();
  ui::testing::pressKey(32);
  ASSERT_EQ(count("OnPanelHotkey"), 1);
  EXPECT_EQ(log().back().args.a, id);
  EXPECT_EQ(log().back().args.b, 0);
  EXPECT_EQ(static_cast<QLineEdit*>(edit)->text(), "ab");  // the key reached no widget
  // While a message box runs.
  ui::testing::queueDuringDialog([] { ui::testing::pressKey(32); });
  ui::messageBox("抽奖正在进行中，请停止后操作！"_t);
  EXPECT_EQ(count("OnPanelHotkey"), 2);
  // Unregistered, or the watched window closed: nothing.
  ui::unregisterHotKey(panel, id);
  ui::testing::pressKey(32);
  EXPECT_EQ(count("OnPanelHotkey"), 2);
  id = ui::registerHotKey(panel, panel.ctl("热键标签"), 0, 32);
  panel.destroy();
  ui::processPendingOnce();
  ui::testing::pressKey(32);
  EXPECT_EQ(count("OnPanelHotkey"), 2);
}

// --- Layered windows -------------------------------------------------------------------------

TEST_F(Windows, ColourKeyPixelsAreTransparent) {
  ui::Window keyed("KeyedWindow");
  keyed.open();
  QWidget* w = ui::testing::windowWidget("KeyedWindow");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w, 10000));
  QImage img = w->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(img.pixel(30, 20)), 0);        // the background is the key
  EXPECT_EQ(qAlpha(img.pixel(50, 20)), 0);        // so is the second label's background
  EXPECT_EQ(img.pixel(10, 20), qRgb(0, 255, 0));  // the first label is opaque
  ui::Window("FadedWindow").open();
  ui::Window("FadedWindow").setLayeredAlpha(200);
  EXPECT_NEAR(ui::testing::windowWidget("FadedWindow")->windowOpacity(), 200 / 255.0, 0.01);
}

TEST_F(Windows, ConstantAlphaFromTheForm) {
  ui::Window("FadedWindow").open();
  EXPECT_NEAR(ui::testing::windowWidget("FadedWindow")->windowOpacity(), 70 / 255.0, 0.01);
}

// --- Time, folders ----------------------------------------------------------------------------

TEST(Runtime, ProgramFolderScreenAndSleep) {
  ui::initRuntime();
  std::string folder = ui::programFolder();
  EXPECT_TRUE(QDir(QString::fromStdString(folder)).exists());
  EXPECT_NE(folder.back(), '/');
  ui::setProgramFolder("/tmp/pd/");
  EXPECT_EQ(ui::programFolder(), "/tmp/pd");
  ui::setProgramFolder("");
  EXPECT_EQ(ui::programFolder(), folder);
  int realW = ui::screenWidth(), realH = ui::screenHeight();
  EXPECT_GT(realW, 0);
  EXPECT_GT(realH, 0);
  ui::testing::overrideScreenSize(1366, 768);
  EXPECT_EQ(ui::screenWidth(), 1366);
  EXPECT_EQ(ui::screenHeight(), 768);
  ui::testing::overrideScreenSize(0, 0);
  EXPECT_EQ(ui::screenWidth(), realW);
  EXPECT_EQ(ui::screenHeight(), realH);
  // A plain sleep processes nothing: a posted call waits for the next dispatch.
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  std::uint32_t t0 = ui::tickCount();
  ui::plainSleep(20);
  EXPECT_GE(ui::tickCount() - t0, 20u);
  EXPECT_FALSE(ran);
  ui::processPendingOnce();
  EXPECT_TRUE(ran);
  ui::LocalTime t = ui::localTime();
  EXPECT_TRUE(t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60);
}

TEST(Runtime, TerminationSignalsReachTheHandlerThroughTheEventLoop) {
  static int calls = 0;
  ui::onTerminationRequest([] { ++calls; });
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    calls = 0;
    ASSERT_EQ(std::raise(sig), 0);
    EXPECT_EQ(calls, 0) << "signal " << sig << ": the handler ran inside the signal";
    const std::uint32_t t0 = ui::tickCount();
    while (calls == 0 && ui::tickCount() - t0 < 15000) ui::waitPumping(10);
    EXPECT_EQ(calls, 1) << "signal " << sig;
  }
  // Requests that arrive together are one request.
  calls = 0;
  std::raise(SIGTERM);
  std::raise(SIGTERM);
  const std::uint32_t t0 = ui::tickCount();
  while (calls == 0 && ui::tickCount() - t0 < 15000) ui::waitPumping(10);
  ui::waitPumping(50);
  EXPECT_EQ(calls, 1);
  ui::onTerminationRequest([] {});
}

TEST(Runtime, StartThreadRunsDetached) {
  static std::atomic<int> ran{0};
  ui::startThread([] { ran = 1; });
  EXPECT_TRUE(QTest::qWaitFor([] { return ran.load() == 1; }, 10000));
}

TEST(Runtime, InstallFontRejectsWhatIsNoFont) {
  ui::initRuntime();
  EXPECT_FALSE(ui::installFont("/nonexistent/STCAIYUN.ttf"));
  EXPECT_FALSE(ui::installFont(PD_SOURCE_DIR "/tests/forms/runtime/Main.json"));
  EXPECT_FALSE(ui::shellOpen("/nonexistent/help.chm"));
}

}  // namespace
