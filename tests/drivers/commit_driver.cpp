// Runs the real program headless on an event folder and draws for ever:
// rolls, next award, redraws of one award and of all awards, each through
// the panel's own keys and buttons. Prints "ready" once the draw panel is
// open, then "commit C N" each time commit C (counted from there, as the
// store files see commits) has ended after N file operations. Before
// operation OPERATION of commit COMMIT it prints "stop COMMIT DONE 0", DONE
// being the operations of that commit already done; when that commit ends
// with fewer operations it prints "stop COMMIT DONE 1" right after its end.
// Either way it then waits, doing nothing, to be killed.
//
//   commit_driver EVENT_DIR FORMS_DIR COMMIT OPERATION
#include <QApplication>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw_internal.h"
#include "draw/draw_logic.h"

#include "../headless.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

namespace {

long long gStopCommit = 0;
long long gStopOperation = 0;

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

[[noreturn]] void stopHere(long long commit, long long done, bool ended) {
  say("stop " + std::to_string(commit) + " " + std::to_string(done) + " " + (ended ? "1" : "0"));
  for (;;) pause();
}

void onFileChange(store::FileEvent event, long long commit, long long operation) {
  if (commit != gStopCommit) {
    if (event == store::FileEvent::CommitEnded)
      say("commit " + std::to_string(commit) + " " + std::to_string(operation));
    return;
  }
  if (event == store::FileEvent::CommitEnded) stopHere(commit, operation, true);
  if (operation == gStopOperation) stopHere(commit, operation - 1, false);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: commit_driver EVENT_DIR FORMS_DIR COMMIT OPERATION\n");
    return 2;
  }
  gStopCommit = std::atoll(argv[3]);
  gStopOperation = std::atoll(argv[4]);
  fixture::setHeadlessEnvironment();
  QApplication qapp(argc, argv);
  ui::initRuntime();
  ui::testing::enableScripting(true);  // every box is answered OK
  ui::testing::overrideScreenSize(1280, 800);
  // The program's own waits take no real time: what is tested is where the
  // commits stand, not how long the program takes between them.
  ui::testing::useTestClock(true);
  ui::setProgramFolder(argv[1]);
  if (!app::StartProgram(argv[2])) return 3;
  app::OnStartMenuStartDrawClick();
  if (!draw::DrawPanel().isOpen()) return 4;
  say("ready");
  store::watchFileChanges(onFileChange);

  for (long long step = 0;; ++step) {
    const draw::Prompt p = draw::PromptFromCaption(draw::DrawPanel().ctl("透明标签4").caption());
    if (p == draw::Prompt::Ready) {
      QTimer::singleShot(5, [] { ui::testing::pressKey(32); });
      ui::testing::pressKey(32);  // returns once the roll has committed
    } else if (p == draw::Prompt::AwardFull) {
      ui::testing::pressKey(32);  // next award
    } else if (p == draw::Prompt::AllAwardsFull || p == draw::Prompt::AllWon) {
      draw::OnDrawPanelRedrawAllButtonClick();
    } else {
      ui::waitPumping(5);
    }
    if (step % 7 == 6) draw::OnDrawPanelRedrawAwardButtonClick();
    ui::testing::clearShownDialogs();
  }
}
