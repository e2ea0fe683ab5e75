// The ALSA back end of the system volume: the simple mixer interface.
//
// Endpoint path: the "Master" element (else "PCM") of the "default" device.
// Mixer path: the "Speaker" element (else "Master") of card hw:0.
// A machine without a sound card opens nothing: no endpoint, a mixer that
// reports no line, and nothing printed (ALSA's error printer is silenced).
#include "platform/media/volume.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace volume {

namespace {

// ALSA prints its errors to stderr unless a handler is installed.
void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void silenceAlsaErrors() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(quietAlsaErrors); });
}

namespace {
void silenceAlsa() { silenceAlsaErrors(); }

// An open simple mixer with one chosen playback element.
class MixerHandle {
 public:
  MixerHandle() = default;
  MixerHandle(const MixerHandle&) = delete;
  MixerHandle& operator=(const MixerHandle&) = delete;
  ~MixerHandle() { close(); }

  // Opens device and picks the first of the element names that has a
  // playback volume or switch.
  bool open(const char* device, const char* first, const char* second) {
    close();
    silenceAlsa();
    if (snd_mixer_open(&mixer_, 0) < 0) {
      mixer_ = nullptr;
      return false;
    }
    if (snd_mixer_attach(mixer_, device) < 0 ||
        snd_mixer_selem_register(mixer_, nullptr, nullptr) < 0 || snd_mixer_load(mixer_) < 0) {
      close();
      return false;
    }
    for (const char* name : {first, second}) {
      snd_mixer_selem_id_t* sid;
      snd_mixer_selem_id_alloca(&sid);
      snd_mixer_selem_id_set_index(sid, 0);
      snd_mixer_selem_id_set_name(sid, name);
      snd_mixer_elem_t* e = snd_mixer_find_selem(mixer_, sid);
      if (e && (snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e))) {
        elem_ = e;
        return true;
      }
    }
    close();
    return false;
  }

  void close() {
    if (mixer_) snd_mixer_close(mixer_);
    mixer_ = nullptr;
    elem_ = nullptr;
  }

  bool isOpen() const { return elem_ != nullptr; }
  // Picks up changes made by others (another program, the mute toggle).
  void refresh() {
    if (mixer_) snd_mixer_handle_events(mixer_);
  }
  snd_mixer_elem_t* elem() const { return elem_; }

  bool range(long* lo, long* hi) const {
    if (!elem_ || !snd_mixer_selem_has_playback_volume(elem_)) return false;
    if (snd_mixer_selem_get_playback_volume_range(elem_, lo, hi) < 0) return false;
    return *hi >= *lo;
  }

 private:
  snd_mixer_t* mixer_ = nullptr;
  snd_mixer_elem_t* elem_ = nullptr;
};

bool readSwitch(snd_mixer_elem_t* e, int* on) {
  if (!snd_mixer_selem_has_playback_switch(e)) return false;
  return snd_mixer_selem_get_playback_switch(e, SND_MIXER_SCHN_FRONT_LEFT, on) >= 0;
}

class AlsaEndpoint : public Endpoint {
 public:
  bool open() { return h_.open("default", "Master", "PCM"); }

  bool setMasterScalar(float level) override {
    long lo, hi;
    if (!h_.range(&lo, &hi)) return false;
    if (!(level >= 0.0f)) level = 0.0f;  // NaN too
    if (level > 1.0f) level = 1.0f;
    const long v = lo + std::lround(double(level) * double(hi - lo));
    return snd_mixer_selem_set_playback_volume_all(h_.elem(), v) >= 0;
  }

  bool getMute(int* muted) override {
    h_.refresh();
    int on = 1;
    if (!readSwitch(h_.elem(), &on)) return false;
    if (muted) *muted = on ? 0 : 1;
    return true;
  }

  bool getStepInfo(int* step, int* count) override {
    h_.refresh();
    long lo, hi, v;
    if (!h_.range(&lo, &hi)) return false;
    if (snd_mixer_selem_get_playback_volume(h_.elem(), SND_MIXER_SCHN_FRONT_LEFT, &v) < 0)
      return false;
    if (step) *step = int(v - lo);
    if (count) *count = int(hi - lo + 1);
    return true;
  }

 private:
  MixerHandle h_;
};

class AlsaMixer : public Mixer {
 public:
  bool open(int line) override {
    // Only the speakers line (selector 4) exists on this layer.
    if (line != 4) {
      h_.close();
      return false;
    }
    return h_.open("hw:0", "Speaker", "Master");
  }

  int maximum() override {
    long lo, hi;
    if (!h_.range(&lo, &hi)) return 0;
    return int(hi - lo);
  }

  void read(int* left, int* right) override {
    int l = -1, r = -1;
    long lo, hi;
    h_.refresh();
    if (h_.range(&lo, &hi)) {
      snd_mixer_elem_t* e = h_.elem();
      long v;
      if (snd_mixer_selem_get_playback_volume(e, SND_MIXER_SCHN_FRONT_LEFT, &v) >= 0) {
        l = int(v - lo);
        if (snd_mixer_selem_is_playback_mono(e))
          r = -1;
        else if (snd_mixer_selem_get_playback_volume(e, SND_MIXER_SCHN_FRONT_RIGHT, &v) >= 0)
          r = int(v - lo);
      }
    }
    if (left) *left = l;
    if (right) *right = r;
  }

  bool set(int left, int right) override {
    long lo, hi;
    if (!h_.range(&lo, &hi)) return false;
    auto clamp = [&](int v) { return lo + std::max(0L, std::min<long>(v, hi - lo)); };
    snd_mixer_elem_t* e = h_.elem();
    if (snd_mixer_selem_is_playback_mono(e))
      return snd_mixer_selem_set_playback_volume(e, SND_MIXER_SCHN_MONO, clamp(left)) >= 0;
    const bool okL =
        snd_mixer_selem_set_playback_volume(e, SND_MIXER_SCHN_FRONT_LEFT, clamp(left)) >= 0;
    const bool okR =
        snd_mixer_selem_set_playback_volume(e, SND_MIXER_SCHN_FRONT_RIGHT, clamp(right)) >= 0;
    return okL && okR;
  }

  int muteState() override {
    if (!h_.isOpen()) return -1;
    h_.refresh();
    int on = 1;
    if (!readSwitch(h_.elem(), &on)) return -1;
    return on ? 0 : 1;
  }

 private:
  MixerHandle h_;
};

class AlsaBackend : public Backend {
 public:
  std::unique_ptr<Endpoint> defaultEndpoint() override {
    auto ep = std::make_unique<AlsaEndpoint>();
    if (!ep->open()) return nullptr;
    return ep;
  }

  Mixer& mixer() override { return mixer_; }

  void toggleMute() override {
    MixerHandle h;
    if (!h.open("default", "Master", "PCM")) return;
    int on = 1;
    if (!readSwitch(h.elem(), &on)) return;
    snd_mixer_selem_set_playback_switch_all(h.elem(), on ? 0 : 1);
  }

 private:
  AlsaMixer mixer_;
};

Backend* gReplacement = nullptr;

}  // namespace

Backend& backend() {
  static AlsaBackend alsa;
  return gReplacement ? *gReplacement : alsa;
}

void setBackend(Backend* b) { gReplacement = b; }

}  // namespace volume
