// The start window's creation and the settings applied to it.
#include <cmath>
#include <string>

#include "app/app.h"
#include "app/frame.h"
#include "draw/draw.h"
#include "forms/names.h"
#include "frame/frame.h"
#include "model/records.h"
#include "platform/media/image.h"
#include "platform/media/music.h"
#include "platform/media/system.h"
#include "platform/media/volume.h"
#include "platform/store/store.h"
#include "platform/ui/ui.h"

using model::operator""_t;
using model::Text;

namespace app {

namespace {
ui::Window startWindow() { return ui::Window(forms::StartWindow::window); }

void installDisplayFont() {
  // The program's own copy of the display font is added for this program
  // only; nothing is written to system folders. A missing file is silent.
  ui::installFont(model::programPath(ui::programFolder(), model::kFontFile));
}
}  // namespace

int OsCodeFromVersion(int platformId, int major, int minor) {
  if (platformId == 1) {
    if (minor == 0) return 1;
    if (minor == 10) return 2;
    if (minor == 90) return 3;
    return 0;
  }
  if (platformId == 2) {
    if (major == 3) return 4;
    if (major == 4) return 5;
    if (major == 5) return minor == 0 ? 6 : 7;
    if (major == 6) return 8;
  }
  return 0;
}

int GetOsName() {
  const sys::OsVersion v = sys::osVersion();
  return OsCodeFromVersion(v.platformId, v.major, v.minor);
}

Text OsNameFromCode(int code) {
  switch (code) {
    case 1:
      return "Windows 95"_t;
    case 2:
      return "Windows 98"_t;
    case 3:
      return "Windows ME"_t;
    case 4:
      return "Windows NT 3.51"_t;
    case 5:
      return "Windows NT 4.0"_t;
    case 6:
      return "Windows 2000"_t;
    case 7:
      return "Windows XP"_t;
    case 8:
      return "Windows Vista"_t;
    default:
      return "未知系统"_t;
  }
}

int OsKindFromName(const Text& name) { return name == "Windows Vista"_t ? 2 : 1; }

void OnStartCreated() {
  frame::ResetProgramEnding();
  installDisplayFont();
  frame::gOsKind = OsKindFromName(OsNameFromCode(GetOsName()));

  const std::string folder = ui::programFolder();
  store::open(model::programPath(folder, model::kPersonsFile), model::aliasPersons());
  store::open(model::programPath(folder, model::kAwardsFile), model::aliasAwards());
  store::open(model::programPath(folder, model::kSettingsFile), model::aliasSettings());

  frame::ApplySystemSettings();

  // The first mute reading always goes through the endpoint path; the clock
  // then refreshes it by the system kind.
  {
    const bool muted = IsMutedCoreAudio() == 1;
    ShowMutePair(muted);
  }

  ui::setFlatLook(1);

  ui::Window w = startWindow();
  const int W = ui::screenWidth();
  const int H = ui::screenHeight();
  w.setHeight(H);
  w.setWidth(W);
  w.setLeft(0);
  w.setTop(0);

  ui::Control strip = ui::Control(forms::StartWindow::图片框1);
  ui::Control minimise = ui::Control(forms::StartWindow::最小化超级按钮);
  ui::Control clock = ui::Control(forms::StartWindow::透明标签10);
  ui::Control speaker = ui::Control(forms::StartWindow::图片框2);
  ui::Control panel = ui::Control(forms::StartWindow::图片框3);
  strip.setTop(H - strip.height());
  strip.setWidth(W + 10);
  minimise.setLeft(strip.width() - minimise.width() - 10);
  clock.setLeft(strip.width() - minimise.width() - clock.width() - 14);
  speaker.setLeft(strip.width() - minimise.width() - clock.width() - speaker.width() - 18);
  panel.setLeft(speaker.left());
  panel.setTop(strip.top() - panel.height());

  SetVolumeSliderFromSystem();

  ui::Window banner(forms::BannerWindow::window);
  banner.open();
  banner.setTop(strip.top() - banner.height() - 10);

  frame::gBannerScrolling = 1;
  ui::startThread(&draw::BannerThreadMain);
}

}  // namespace app
