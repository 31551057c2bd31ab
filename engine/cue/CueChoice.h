#pragma once
// Which clips the cue pool holds, apart from GStreamer so the choice can be
// checked on its own.
//
// Every window names the clips of its keys, in key order. A cued clip holds
// a decoder, its first sound or picture, an open file and a streaming
// thread, so the process holds only so many: at most `Clips` in all, at
// most `VideoClips` of them with a picture, and at most `Bytes` of memory
// as measured when each was cued. When the windows want more than that, the
// clips played most recently are held first, then the ones never played in
// the order the windows name them; the least recently played are released
// first.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

struct CueLimits {
  int Clips = 48;
  int VideoClips = 6;
  std::int64_t Bytes = std::int64_t{384} << 20;
  // A clip taken by a window is cued again after this, while the window
  // keeps its decoder for the same key again and it may still sound; at
  // once when the window gives that decoder up for another clip.
  std::chrono::milliseconds CueAgainAfterTake{1500};
};

struct CueCandidate {
  std::string Path;
  // A counter that grows with each key played; 0 for never played.
  std::uint64_t LastPlayed = 0;
  // Where the clip comes in the windows' lists (0 first).
  int WantOrder = 0;
  bool Video = false;
  // Measured when it was cued, else a guess.
  std::int64_t Bytes = 0;
};

// The paths to hold, best first, within the limits.
std::vector<std::string> ChooseCues(std::vector<CueCandidate> candidates, const CueLimits& limits);

}  // namespace engine
