// System volume and mute from the start window: the volume panel with its
// inverted slider, the mute button and the speaker pictures.
#include <cmath>
#include <memory>

#include "app/frame.h"
#include "forms/names.h"
#include "frame/frame.h"
#include "platform/media/volume.h"
#include "platform/ui/ui.h"

namespace app {

namespace {

// The speaker pictures, kept with the forms.
const char* const kSpeakerNormal = "pictures/speaker_normal_30x30.jpg";
const char* const kSpeakerMuted = "pictures/speaker_muted_30x30.jpg";
const char* const kMuteNormal = "pictures/mute_normal_32x30.jpg";
const char* const kMuteMuted = "pictures/mute_muted_32x30.jpg";

// The endpoint of the default playback device, obtained afresh each time.
std::unique_ptr<volume::Endpoint> GetEndpointVolume() {
  return volume::backend().defaultEndpoint();
}
}  // namespace

int SetMasterVolumeCoreAudio(int level) {
  auto endpoint = GetEndpointVolume();
  if (!endpoint) return -1;
  endpoint->setMasterScalar(static_cast<float>(level) / 100.0f);
  return 0;
}

int IsMutedCoreAudio() {
  auto endpoint = GetEndpointVolume();
  if (!endpoint) return -1;
  int muted = 0;
  endpoint->getMute(&muted);
  return muted != 0 ? 1 : 0;
}

int PercentFromSteps(int step, int count) {
  // Fewer than two steps leave no range to divide: report a failure, which
  // puts the slider at its silent end.
  if (count < 2) return -1;
  return static_cast<int>(std::trunc(static_cast<double>(step) / (count - 1) * 100.0));
}

int GetVolumePercentCoreAudio() {
  auto endpoint = GetEndpointVolume();
  if (!endpoint) return -1;
  int step = 0, count = 0;
  if (!endpoint->getStepInfo(&step, &count)) return -1;
  return PercentFromSteps(step, count);
}

int MixerValueFromSlider(int mixerMax, int sliderMax, int position) {
  if (mixerMax <= 0 || sliderMax <= 0) return -1;
  return static_cast<int>(
      std::trunc(static_cast<double>(mixerMax) / sliderMax * (sliderMax - position)));
}

int SliderFromMixerValue(int mixerMax, int sliderMax, int value) {
  if (mixerMax <= 0) return sliderMax;  // no range: the silent end
  return static_cast<int>(std::trunc(static_cast<double>(mixerMax - value) / mixerMax * sliderMax));
}

void SetVolumeSliderFromSystem() {
  volume::Mixer& mixer = volume::backend().mixer();
  mixer.open(4);
  ui::Control slider = ui::Control(forms::StartWindow::滑块条1);
  if (frame::gOsKind == 2) {
    slider.setPosition(100 - GetVolumePercentCoreAudio());
  } else {
    int left = -1, right = -1;
    mixer.read(&left, &right);
    const int value = left != 0 ? left : right;
    slider.setPosition(SliderFromMixerValue(mixer.maximum(), slider.maximum(), value));
  }
}

void OnStartVolumeSliderPositionChanged() {
  ui::Control slider = ui::Control(forms::StartWindow::滑块条1);
  const int position = slider.position();
  if (frame::gOsKind == 2) {
    SetMasterVolumeCoreAudio(100 - position);
    return;
  }
  volume::Mixer& mixer = volume::backend().mixer();
  const int value = MixerValueFromSlider(mixer.maximum(), slider.maximum(), position);
  if (value >= 0) mixer.set(value, value);
}

void ShowMutePair(bool muted) {
  ui::Control(forms::StartWindow::图片框2)
      .setPicture(ui::formPicture(muted ? kSpeakerMuted : kSpeakerNormal));
  ui::Control(forms::StartWindow::图片框4)
      .setPicture(ui::formPicture(muted ? kMuteMuted : kMuteNormal));
}

void ShowMuteState() {
  if (frame::gOsKind == 2) {
    ShowMutePair(IsMutedCoreAudio() == 1);
  } else {
    ShowMutePair(volume::backend().mixer().muteState() != 0);
  }
}

void SendVolumeMute(const ui::Window&) { volume::backend().toggleMute(); }

void SendVolumeCommand(int command, const ui::Window& window) {
  if (command == 3) SendVolumeMute(window);
}

void OnStartMuteIconMouseDown(int, int, int) {
  const bool showsNormal =
      ui::Control(forms::StartWindow::图片框2).picture() == ui::formPicture(kSpeakerNormal);
  ShowMutePair(showsNormal);
  SendVolumeCommand(3, ui::Window(forms::StartWindow::window));
}

void OnStartVolumeIconMouseDown(int, int, int) {
  ui::Control panel = ui::Control(forms::StartWindow::图片框3);
  panel.setVisible(!panel.visible());
  ui::Control(forms::StartWindow::滑块条1).setFocus();
}

void OnStartVolumeSliderFocusLost() { ui::Control(forms::StartWindow::图片框3).setVisible(false); }

}  // namespace app
