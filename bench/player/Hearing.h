#pragma once
// How the player benchmarks press a key and hear what it plays, on either
// probe of the end-to-end tests (JACK's or PulseAudio's): both count frames
// on the recording's own timeline.

#include "AppHarness.h"
#include "SoundEvents.h"
#include "player/Tplayerbase.h"

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <thread>

namespace bench {

using namespace std::chrono_literals;

// A key press as the keyboard window's PlayKey makes it: stop, open, marks,
// play.
inline void PressKey(TPlayer& player, const QString& clip) {
  if (player.State == fsPlaying) player.Stop();
  player.Open(clip);
  player.SetRelativePositions(10000, 0, 10000, 0);
  player.Play();
}

// Waits up to 5 ms, so that the press that follows falls at a random moment
// of the server's cycle.
inline void WaitIntoCycle() {
  std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 5000));
}

// Waits until the last `seconds` recorded are all below `threshold`; false
// when the deadline passes first.
template <class Probe>
bool WaitForQuiet(const Probe& ears, double seconds, float threshold,
                  std::chrono::milliseconds deadline = 10s) {
  return e2e::WaitUntil(
      [&] {
        const uint64_t now = ears.RecordedUntil();
        const auto span = static_cast<uint64_t>(seconds * ears.SampleRate());
        return now >= span && e2e::CountSounding(ears.Level(now - span, now), threshold) == 0;
      },
      deadline);
}

// The first frame from `at` on louder than `threshold`, if it comes within
// 3 s. The players' messages are handled meanwhile.
template <class Probe>
std::optional<uint64_t> OnsetFrom(const Probe& ears, uint64_t at, float threshold) {
  std::optional<uint64_t> onset;
  e2e::WaitUntil(
      [&] {
        QCoreApplication::processEvents();
        onset = e2e::FindOnset(ears.Level(at, ears.RecordedUntil()), threshold, 0, at, at);
        return onset.has_value();
      },
      3s);
  return onset;
}

}  // namespace bench
