// What the draw and maintenance windows share of the application frame: the
// settings applied to the start window and the end-of-program flag.
#include "frame/frame.h"

#include <cmath>
#include <string>

#include "forms/names.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

using model::Text;

namespace frame {

int gOsKind = 1;
std::atomic<int> gBannerScrolling{0};
std::atomic<int> gListScrolling{0};
int gSuppressListRestore = 0;

namespace {
bool gEnding = false;
ui::Window startWindow() { return ui::Window(forms::StartWindow::window); }
}  // namespace

bool ProgramEnding() { return gEnding; }
void MarkProgramEnding() { gEnding = true; }
void ResetProgramEnding() { gEnding = false; }

int CaptionWidth(const Text& caption, int perByte) { return caption.length() * perByte; }

int Centred(int outer, int inner) {
  return static_cast<int>(std::trunc((static_cast<double>(outer) - inner) / 2.0));
}

void ApplySystemSettings() {
  // Once the exit item has begun, the settings store may be closed and the
  // start window is about to go: there is nothing left to restore.
  if (ProgramEnding()) return;
  store::select(model::aliasSettings());

  ui::Control title = ui::Control(forms::StartWindow::主标题);
  ui::Control subtitle = ui::Control(forms::StartWindow::副标题);
  ui::Control greeting = ui::Control(forms::StartWindow::祝福词);
  title.setCaption(store::readText(model::settings::主标题()));
  subtitle.setCaption(store::readText(model::settings::副标题()));
  greeting.setCaption(store::readText(model::settings::祝福词()));

  const std::string folder = ui::programFolder();
  const std::string picture = model::resolveFileReference(
      folder, model::kBackgroundFolder, store::readText(model::settings::背景图片()));
  startWindow().setPicture(image::readFile(picture));

  const Text idle = store::readText(model::settings::背景音乐());
  if (model::isMusicDisabled(idle)) {
    music::stopAll();
  } else {
    music::play(model::resolveFileReference(folder, model::kIdleMusicFolder, idle), -1);
  }

  const int W = ui::screenWidth();
  const int H = ui::screenHeight();
  title.setWidth(CaptionWidth(title.caption(), 24));
  title.setLeft(Centred(W, title.width()));
  subtitle.setWidth(CaptionWidth(subtitle.caption(), 20));
  subtitle.setLeft(Centred(W, subtitle.width()));
  greeting.setWidth(CaptionWidth(greeting.caption(), 48));
  greeting.setLeft(Centred(W, greeting.width()));
  greeting.setTop(Centred(H, greeting.height()));
  greeting.setVisible(true);
}

}  // namespace frame
