#pragma once
// What the edge tests measure in a recording, whichever sound server it was
// made on: `Ears` is a JackProbe or a PulseProbe (Level, Samples). And the
// key press they make.

#include "player/Tplayerbase.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <optional>

namespace heard_edges {

// A half-scale 440 Hz sine steps by at most this between samples at 48 kHz;
// an edge may step twice as far, a hard cut steps up to 0.5.
inline const float kSineStep = float(0.5 * 2 * std::numbers::pi * 440 / 48000);

// What the keyboard window does for a key: the marks, full volume, and the
// rate, set again while the player has not taken it yet; then `beforePlay`,
// if given.
inline void PressKey(TPlayer& player, const QString& clip, int min, int max, double speed = 1.0,
                     const std::function<void()>& beforePlay = {}) {
  player.Open(clip);
  player.SetRelativePositions(10000, min, max, 0);
  player.SetRelativeVolume(100, 1, 0, 0, 0);
  player.SetRate(1.0);
  for (int i = 0; i < 3 && player.GetRate() != speed; ++i) player.SetRate(speed);
  if (beforePlay) beforePlay();
  player.Play();
}

// The first frame in [from, to) where the sound rises past a tenth.
template <class Ears>
std::optional<uint64_t> Onset(const Ears& ears, uint64_t from, uint64_t to) {
  const auto level = ears.Level(from, to);
  for (std::size_t i = 0; i < level.size(); ++i)
    if (level[i] > 0.1f) return from + i;
  return std::nullopt;
}

// The largest step between successive samples of either channel, and the
// frame it steps to.
struct Step {
  float size = 0;
  uint64_t at = 0;
};

template <class Ears>
Step LargestStepOf(const Ears& ears, uint64_t from, uint64_t to) {
  Step largest{0, from};
  for (int channel = 0; channel < 2; ++channel) {
    const auto s = ears.Samples(channel, from, to);
    for (std::size_t i = 1; i < s.size(); ++i)
      if (std::abs(s[i] - s[i - 1]) > largest.size) largest = {std::abs(s[i] - s[i - 1]), from + i};
  }
  return largest;
}

template <class Ears>
float LargestStep(const Ears& ears, uint64_t from, uint64_t to) {
  return LargestStepOf(ears, from, to).size;
}

// True when the sound broke off into a millisecond (48 frames) or more of
// exact silence, with sound again after it. That may come in the middle of
// a fade, which then goes on after the gap; a fade of ours ends within a
// thousandth of zero, never from above 0.01.
template <class Ears>
bool DroppedOut(const Ears& ears, uint64_t from, uint64_t to) {
  const auto s = ears.Level(from, to);
  for (std::size_t i = 1; i + 48 < s.size(); ++i) {
    if (s[i] != 0.0f || s[i - 1] < 0.01f) continue;
    std::size_t end = i;
    while (end < s.size() && s[end] == 0.0f) ++end;
    if (end - i >= 48 && end < s.size() && s[end] > 0.0f) return true;
    i = end;
  }
  return false;
}

}  // namespace heard_edges
