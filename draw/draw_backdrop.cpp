// The translucent sheet behind the draw panel, with the slot frames.
#include <cmath>

#include "draw/draw_internal.h"
#include "forms/names.h"
#include "platform/ui/ui.h"

namespace draw {

void PlaceOnDrawScreen(ui::Window& w) {
  ui::Window start(forms::StartWindow::window);
  ui::Control subtitle(forms::StartWindow::副标题);
  ui::Window banner(forms::BannerWindow::window);
  w.setHeight(
      TruncToInt(static_cast<double>(banner.top()) - subtitle.top() - subtitle.height() - 10));
  w.setWidth(TruncToInt(start.width() / 3.0 * 2));
  w.setLeft(TruncToInt((static_cast<double>(start.width()) - w.width()) / 2));
  w.setTop(subtitle.top() + subtitle.height());
}

void OnDrawBackdropCreated() {
  ui::Window d = DrawBackdrop();
  // Same place and size as the panel, which opens right after it: between
  // the subtitle and the banner, two thirds of the start window wide.
  PlaceOnDrawScreen(d);
  d.setLayeredAlpha(70);

  ui::Control bottomBand = ui::Control(forms::DrawBackdropWindow::分组框22);
  bottomBand.setTop(d.height() - bottomBand.height());
  bottomBand.setWidth(d.width());
  ui::Control(forms::DrawBackdropWindow::分组框21).setWidth(d.width());

  // The panel's prize picture is read from its stored description: the panel
  // is not open yet.
  ui::Control picture(forms::DrawPanelWindow::图片框1);
  for (int k = 1; k <= 10; ++k)
    SlotFrame(k).setLeft(TruncToInt(static_cast<double>(picture.left()) + picture.width() + 20));
  for (int k = 11; k <= 20; ++k)
    SlotFrame(k).setLeft(
        TruncToInt(static_cast<double>(SlotFrame(1).left()) + SlotFrame(1).width() + 10));
}

void OnDrawBackdropActivated() { DrawBackdrop().setAlwaysOnTop(false); }

void OnDrawBackdropDeactivated() {
  DrawBackdrop().setAlwaysOnTop(true);
  if (DrawPanel().isOpen()) DrawPanel().setAlwaysOnTop(true);
}

}  // namespace draw
