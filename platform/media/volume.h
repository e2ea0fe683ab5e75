// System volume and mute.
//
// Two paths, as the application chooses by the system kind:
//  - the endpoint path: the master volume of the default playback device as a
//    scalar 0..1 with a step count, and its mute flag;
//  - the mixer path: the speakers line with a volume control (raw units
//    0..maximum, per channel) and a mute control.
// On Linux both are ALSA's simple mixer: the endpoint path drives the
// "Master" element of the "default" device, the mixer path the card's
// "Speaker" element (or "Master" when there is none) of hw:0. The mute toggle
// flips the playback switch of the endpoint element.
//
// A test back end replaces the real one through setBackend().
#pragma once

#include <memory>

namespace volume {

class Endpoint {
 public:
  virtual ~Endpoint() = default;
  virtual bool setMasterScalar(float level) = 0;  // 0..1
  virtual bool getMute(int* muted) = 0;
  virtual bool getStepInfo(int* step, int* count) = 0;
};

class Mixer {
 public:
  virtual ~Mixer() = default;
  // Opens the line by selector (4 = speakers); false when no line.
  virtual bool open(int line) = 0;
  virtual int maximum() = 0;                     // volume control maximum (0 when none)
  virtual void read(int* left, int* right) = 0;  // -1 on failure; right -1 on mono
  virtual bool set(int left, int right) = 0;
  virtual int muteState() = 0;  // 1 muted, 0 not, -1 no line or failure
};

class Backend {
 public:
  virtual ~Backend() = default;
  // A fresh endpoint of the default playback device, or null.
  virtual std::unique_ptr<Endpoint> defaultEndpoint() = 0;
  virtual Mixer& mixer() = 0;
  // Toggles the system mute (the mute command sent to the top-level window).
  virtual void toggleMute() = 0;
};

// Keeps ALSA from printing its errors to stderr (a machine without a card);
// called before anything opens an ALSA device, the music player included.
void silenceAlsaErrors();

// The back end in use (the ALSA one unless replaced).
Backend& backend();
// Replaces the back end (tests); null restores the ALSA one.
void setBackend(Backend* b);

}  // namespace volume
