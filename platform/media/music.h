// Music playback in the background (SDL2_mixer): MP3 and WAV.
//
// play() stops whatever plays, then plays the files in turn, `times` rounds
// (-1 endlessly). Nothing is reported back: a file that cannot be opened or
// decoded plays nothing. When no audio device can be opened the player stays
// silent but still tracks what it was asked to play.
#pragma once

#include <string>
#include <vector>

namespace music {

void play(const std::vector<std::string>& files, int times);
inline void play(const std::string& file, int times) {
  play(std::vector<std::string>{file}, times);
}
void stopAll();

// What the player was last asked to play and has not finished (empty files
// when nothing plays). `decoded` tells whether the current file was decoded.
// `started` counts the pieces that began to sound since the last play() or
// stopAll(), also after the request has ended.
struct Status {
  std::vector<std::string> files;
  int times = 0;
  bool playing = false;
  bool decoded = false;
  int started = 0;
};
Status status();

// Closes the audio device (program end, tests).
void shutdown();

}  // namespace music
