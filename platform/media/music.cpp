// Background music on SDL2_mixer.
//
// One player: a list of files, played in turn for a number of rounds. SDL
// reports the end of a piece through its music-finished hook, which runs on
// the audio thread (or inside Mix_HaltMusic on the caller's thread) with the
// audio lock held. The hook therefore only raises a flag and wakes the
// sequencer thread; the sequencer, never the hook, loads and starts the next
// piece. Every SDL call happens under gLock, on the caller's thread or on the
// sequencer.
#include "platform/media/music.h"
#include "platform/media/volume.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace music {

namespace {

struct Player {
  // What the caller asked for.
  std::vector<std::string> files;
  int times = 0;         // rounds asked for; negative: endless
  bool playing = false;  // asked and not finished
  bool decoded = false;  // the current file was decoded and is sounding
  // Where the player is.
  size_t index = 0;
  int roundsDone = 0;
  bool anyDecodedThisRound = false;
  Mix_Music* current = nullptr;
  int started = 0;  // pieces begun since the last play() or stopAll()
  // The device.
  bool deviceTried = false;
  bool deviceOpen = false;
};

std::mutex gLock;  // guards gPlayer and every SDL call
Player gPlayer;

// Sequencer wake-up: the hook sets gFinished and notifies.
std::mutex gWakeLock;
std::condition_variable gWake;
std::atomic<bool> gFinished{false};
std::atomic<bool> gQuit{false};
std::thread gSequencer;

void onMusicFinished() {
  // Audio thread: no SDL call, no wait on gLock (a caller may hold it while
  // SDL holds the audio lock).
  gFinished.store(true);
  std::lock_guard<std::mutex> g(gWakeLock);
  gWake.notify_one();
}

// With gLock held.
void freeCurrent(Player& p) {
  if (p.current) {
    Mix_HaltMusic();
    Mix_FreeMusic(p.current);
    p.current = nullptr;
  }
  p.decoded = false;
}

// With gLock held.
void resetRequest(Player& p) {
  freeCurrent(p);
  p.files.clear();
  p.times = 0;
  p.playing = false;
  p.index = 0;
  p.roundsDone = 0;
  p.anyDecodedThisRound = false;
}

// With gLock held: opens the device on first use. A machine without sound
// stays silent; the request is still tracked.
bool ensureDevice(Player& p) {
  if (p.deviceTried) return p.deviceOpen;
  p.deviceTried = true;
  volume::silenceAlsaErrors();
  // SDL would otherwise catch SIGINT and SIGTERM for itself as its audio
  // starts, and nothing would act on them: the program handles them.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  Mix_Init(MIX_INIT_MP3);
  if (Mix_OpenAudio(44100, MIX_DEFAULT_FORMAT, 2, 2048) != 0) {
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  Mix_HookMusicFinished(onMusicFinished);
  p.deviceOpen = true;
  return true;
}

// With gLock held: starts the file at p.index or a later one, moving through
// rounds, until one sounds or the request is used up.
void startFromIndex(Player& p) {
  while (p.playing) {
    if (p.index >= p.files.size()) {
      ++p.roundsDone;
      const bool silentRound = !p.anyDecodedThisRound;
      p.index = 0;
      p.anyDecodedThisRound = false;
      // A round in which nothing could be decoded ends the request: an
      // endless list of bad files must not spin.
      if (silentRound || (p.times >= 0 && p.roundsDone >= p.times)) {
        resetRequest(p);
        return;
      }
    }
    freeCurrent(p);
    const std::string& file = p.files[p.index];
    Mix_Music* m = file.empty() ? nullptr : Mix_LoadMUS(file.c_str());
    if (m && Mix_PlayMusic(m, 1) == 0) {
      p.current = m;
      p.decoded = true;
      ++p.started;
      p.anyDecodedThisRound = true;
      return;
    }
    if (m) Mix_FreeMusic(m);
    ++p.index;
  }
}

// With gLock held: the current piece has ended.
void advance(Player& p) {
  if (!p.playing || !p.current || Mix_PlayingMusic()) return;
  ++p.index;
  startFromIndex(p);
}

void sequencerLoop() {
  while (!gQuit.load()) {
    {
      std::unique_lock<std::mutex> w(gWakeLock);
      // The timeout is a safety net should a hook ever be missed.
      gWake.wait_for(w, std::chrono::milliseconds(200),
                     [] { return gFinished.load() || gQuit.load(); });
    }
    if (gQuit.load()) break;
    gFinished.store(false);
    std::lock_guard<std::mutex> g(gLock);
    if (gPlayer.deviceOpen) advance(gPlayer);
  }
}

// With gLock held.
void ensureSequencer() {
  if (gSequencer.joinable()) return;
  gQuit.store(false);
  gSequencer = std::thread(sequencerLoop);
}

void stopSequencer() {
  if (!gSequencer.joinable()) return;
  gQuit.store(true);
  {
    std::lock_guard<std::mutex> w(gWakeLock);
    gWake.notify_all();
  }
  gSequencer.join();
}

// Closes everything at the end of the process if nobody called shutdown().
struct AtExit {
  ~AtExit() { shutdown(); }
} gAtExit;

}  // namespace

void play(const std::vector<std::string>& files, int times) {
  std::lock_guard<std::mutex> g(gLock);
  Player& p = gPlayer;
  resetRequest(p);
  p.started = 0;
  if (files.empty() || times == 0) return;
  p.files = files;
  p.times = times < 0 ? -1 : times;
  p.playing = true;
  if (!ensureDevice(p)) return;  // silent: tracked, never sounding
  ensureSequencer();
  startFromIndex(p);
}

void stopAll() {
  std::lock_guard<std::mutex> g(gLock);
  resetRequest(gPlayer);
  gPlayer.started = 0;
}

Status status() {
  std::lock_guard<std::mutex> g(gLock);
  Player& p = gPlayer;
  // A piece that ended a moment ago is accounted for before answering.
  if (p.deviceOpen) advance(p);
  Status s;
  s.started = p.started;
  if (p.playing) {
    s.files = p.files;
    s.times = p.times;
    s.playing = true;
    s.decoded = p.decoded;
  }
  return s;
}

void shutdown() {
  stopSequencer();
  std::lock_guard<std::mutex> g(gLock);
  Player& p = gPlayer;
  resetRequest(p);
  if (p.deviceOpen) {
    Mix_HookMusicFinished(nullptr);
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  p.deviceOpen = false;
  p.deviceTried = false;
}

}  // namespace music
