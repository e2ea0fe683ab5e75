// The banner: a full-width strip above the tool strip whose black pixels are
// see-through, carrying the congratulation line.
#include "app/frame.h"
#include "forms/names.h"
#include "platform/ui/ui.h"

namespace app {

namespace {
void applyBannerLayering() {
  ui::Window(forms::BannerWindow::window).setLayeredColorKey(ui::Rgb{0, 0, 0});
}
}  // namespace

void OnBannerCreated() {
  ui::Window banner(forms::BannerWindow::window);
  banner.setWidth(ui::screenWidth());
  banner.setLeft(0);
  applyBannerLayering();
  ui::Control(forms::BannerWindow::标签1).setWidth(2 * ui::screenWidth());
}

void OnBannerResized() { applyBannerLayering(); }

}  // namespace app
