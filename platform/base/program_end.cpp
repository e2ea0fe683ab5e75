// The two ends of the program: the orderly end with its callbacks, and the
// fatal run-time error.
#include <QApplication>
#include <QMessageBox>
#include <QWindow>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <unistd.h>
#include <vector>

#include "platform/base/internal.h"
#include "platform/base/program_end.h"

namespace ui {

using model::Text;

namespace detail {
std::atomic<bool> gScripting{false};
std::function<void()> gQuitAllLoops;

static std::vector<std::function<void()>>& runtimeCleanups() {
  static std::vector<std::function<void()>> list;
  return list;
}
void atRuntimeCleanup(std::function<void()> fn) { runtimeCleanups().push_back(std::move(fn)); }
}  // namespace detail

namespace {
std::vector<void (*)()>& programEndCallbacks() {
  static std::vector<void (*)()> list;
  return list;
}
bool gIntercept = false;
int gInterceptedCode = -1000;
}  // namespace

void atProgramEnd(void (*fn)()) { programEndCallbacks().push_back(fn); }

void endProgram(int code) {
  for (auto fn : programEndCallbacks()) fn();
  for (auto& fn : detail::runtimeCleanups()) fn();
  if (gIntercept) {
    gInterceptedCode = code;
    if (detail::gQuitAllLoops) detail::gQuitAllLoops();
    return;
  }
  std::fflush(nullptr);
  _exit(code);
}

void fatalError(int code, const Text& text) {
  Text message = Text::fromUtf8("运行时出错!\n");
  if (code != 0)
    message += Text::fromUtf8("错误代码：") + model::numberToText(static_cast<long long>(code)) +
               Text::fromUtf8("\n");
  message += Text::fromUtf8("错误信息：") + text;
  std::string utf8 = message.toUtf8();
  std::fprintf(stderr, "%s\n", utf8.c_str());
  std::fflush(stderr);
  // The box is shown unless dialogs are scripted or nobody could see it
  // (the headless platform of the tests).
  if (!detail::gScripting && qobject_cast<QApplication*>(QCoreApplication::instance()) &&
      QGuiApplication::platformName() != QLatin1String("offscreen")) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8("运行时出错!"),
                    QString::fromUtf8(utf8), QMessageBox::Ok);
    box.setWindowRole(QStringLiteral("FatalErrorBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // The program's always-on-top windows (the draw screen) would keep the
    // box underneath, a blank screen that seems to hang: they give the top
    // up, and the box alone stands above every window. The program ends
    // when it is closed.
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w == &box || !(w->windowFlags() & Qt::WindowStaysOnTopHint)) continue;
      const Qt::WindowFlags flags = w->windowFlags() & ~Qt::WindowStaysOnTopHint;
      if (QWindow* handle = w->windowHandle()) {
        w->overrideWindowFlags(flags);
        handle->setFlags(flags);
      } else {
        w->setWindowFlags(flags);
      }
    }
    box.show();
    box.raise();
    box.activateWindow();
    // A window manager that restacks the other windows after their change
    // (or another program's window that keeps itself on top) does not bury
    // the box for long: it rises again while it shows.
    QTimer keepOnTop;
    QObject::connect(&keepOnTop, &QTimer::timeout, &box, [&box] { box.raise(); });
    keepOnTop.start(250);
    box.exec();
  }
  _exit(-1);
}

namespace testing {
void interceptProgramEnd(bool on) {
  gIntercept = on;
  if (on) gInterceptedCode = -1000;
}
int interceptedEndCode() { return gInterceptedCode; }
}  // namespace testing

}  // namespace ui
