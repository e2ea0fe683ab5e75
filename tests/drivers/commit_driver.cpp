// Runs the real program headless on an event folder and draws for ever:
// rolls, next award, redraws of one award and of all awards, each through
// the panel's own keys and buttons, so that a test can kill it at any moment
// of a commit. Prints "ready" once the draw panel is open.
//
//   commit_driver EVENT_DIR FORMS_DIR [SYNC_DELAY_MS]
#include <QApplication>
#include <QTimer>

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

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: commit_driver EVENT_DIR FORMS_DIR [SYNC_DELAY_MS]\n");
    return 2;
  }
  fixture::setHeadlessEnvironment();
  QApplication qapp(argc, argv);
  ui::initRuntime();
  ui::testing::enableScripting(true);  // every box is answered OK
  ui::testing::overrideScreenSize(1280, 800);
  if (argc > 3) store::delayFileSyncs(std::atoi(argv[3]));
  ui::setProgramFolder(argv[1]);
  if (!app::StartProgram(argv[2])) return 3;
  app::OnStartMenuStartDrawClick();
  if (!draw::DrawPanel().isOpen()) return 4;
  std::printf("ready\n");
  std::fflush(stdout);

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
