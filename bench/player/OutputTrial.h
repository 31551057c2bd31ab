#pragma once
// What the output benchmarks measure of one player, heard by a probe (JACK's
// or PulseAudio's): key-to-sound from silence, a key pressed again while its
// clip sounds, and a long clip played through on a busy machine. Figures
// are in frames of the recording.

#include "BenchSounds.h"
#include "Hearing.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

inline constexpr float kOnsetThreshold = 0.05f;
// How much of the long clip a loaded play listens to.
inline constexpr double kLoadedSeconds = bench_sounds::kLongSeconds - 0.5;

// What a benchmark's turns press, and how many rounds of turns it takes.
struct OutputPlan {
  int rounds = 0;
  int warmUp = 0;             // presses from silence, not counted, per turn
  int presses = 0;            // counted presses from silence, per turn
  int retriggers = 0;         // per turn
  double retriggerAfter = 0;  // seconds the clip sounds before it is pressed again
};

struct OutputFigures {
  std::vector<double> latencies, retriggers;  // frames from the press to the sound
  int missed = 0, missedRetriggers = 0, dropouts = 0, xruns = 0, plays = 0;
};

// `count` a minute of the loaded plays, or -1 when none was heard.
inline double PerLoadedMinute(int count, int plays) {
  return plays ? count * 60.0 / (plays * kLoadedSeconds) : -1;
}

template <class Probe>
class OutputTrial {
 public:
  // `pressFrame` places a press on the probe's timeline when it is made.
  OutputTrial(const OutputPlan& plan, const Probe& ears, TPlayer& player,
              std::function<uint64_t()> pressFrame)
      : plan_(plan), ears_(ears), player_(player), pressFrame_(std::move(pressFrame)) {}

  // Presses of `clip`, each from silence; the warm-up ones are not counted.
  void KeyToSound(const std::string& clip, OutputFigures& f) {
    const QString file = QString::fromStdString(clip);
    for (int i = 0; i < plan_.warmUp + plan_.presses; ++i) {
      WaitForQuiet(ears_, 0.03, kOnsetThreshold);
      WaitIntoCycle();
      const uint64_t at = pressFrame_();
      PressKey(player_, file);
      const std::optional<uint64_t> onset = OnsetFrom(ears_, at, kOnsetThreshold);
      player_.Stop();
      QCoreApplication::processEvents();
      if (!onset)
        ++f.missed;
      else if (i >= plan_.warmUp)
        f.latencies.push_back(static_cast<double>(*onset - at));
    }
  }

  // The key of the accented clip pressed again while it sounds: the sound
  // is faded out and the clip starts over. From the press to the new
  // start's first frame: where its accent sounds again.
  void Retriggers(const std::string& clip, OutputFigures& f) {
    const QString file = QString::fromStdString(clip);
    const auto heardFrames = static_cast<uint64_t>(plan_.retriggerAfter * ears_.SampleRate());
    PressKey(player_, file);
    for (int i = 0; i < plan_.retriggers; ++i) {
      const uint64_t heard = ears_.RecordedUntil();
      e2e::WaitUntil([&] {
        QCoreApplication::processEvents();
        const uint64_t now = ears_.RecordedUntil();
        return now >= heard + heardFrames &&
               e2e::CountSounding(ears_.Level(now - 480, now), kOnsetThreshold) > 0;
      });
      WaitIntoCycle();
      const uint64_t at = pressFrame_();
      player_.Stop();
      PressKey(player_, file);
      const std::optional<uint64_t> onset = OnsetFrom(ears_, at, bench_sounds::kAccentThreshold);
      if (onset)
        f.retriggers.push_back(static_cast<double>(*onset - at) -
                               bench_sounds::AccentLead(ears_.SampleRate()));
      else
        ++f.missedRetriggers;
    }
    player_.Stop();
    QCoreApplication::processEvents();
  }

  // The long clip played through while two threads keep the machine busy:
  // its stretches of silence after its first `settle` frames, or nothing
  // when it was not heard.
  std::optional<int> LoadedDropouts(const std::string& clip, uint64_t settle) {
    bench_sounds::Load load(2);
    const uint64_t from = ears_.RecordedUntil();
    PressKey(player_, QString::fromStdString(clip));
    std::optional<int> dropouts;
    if (const auto begin = OnsetFrom(ears_, from, kOnsetThreshold)) {
      const auto until = *begin + static_cast<uint64_t>(kLoadedSeconds * ears_.SampleRate());
      e2e::WaitUntil(
          [&] {
            QCoreApplication::processEvents();
            return ears_.RecordedUntil() >= until;
          },
          10s);
      dropouts = bench_sounds::SilentStretches(ears_.Level(*begin + settle, until), 16);
    }
    player_.Stop();
    QCoreApplication::processEvents();
    return dropouts;
  }

 private:
  const OutputPlan& plan_;
  const Probe& ears_;
  TPlayer& player_;
  std::function<uint64_t()> pressFrame_;
};

}  // namespace bench
