#pragma once
// What the output benchmarks play and how they load the machine: a long
// clip that begins with an accent (a key pressed again is heard where the
// accent comes back, whatever of the old sound still fades under it), and
// threads that keep the cores busy.

#include "AppHarness.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace bench_sounds {

using e2e::RunCommand;

inline constexpr double kLongSeconds = 8;
// The long clip begins with an accent, louder than anything else it plays:
// a key pressed again is heard where the accent comes back, whatever of
// the old sound still fades under it.
inline constexpr double kAccentSeconds = 0.03, kAccentHertz = 1000, kAccentLevel = 0.8,
                        kBodyLevel = 0.2;
inline constexpr float kAccentThreshold = 0.5f;

// Threads that spin until destroyed: a machine busy with something else.
class Load {
 public:
  explicit Load(int threads) {
    for (int i = 0; i < threads; ++i)
      threads_.emplace_back([this] {
        volatile double x = 1;
        while (!stop_.load(std::memory_order_relaxed)) x = std::sqrt(x + 1.0);
      });
  }
  ~Load() {
    stop_ = true;
    for (auto& t : threads_) t.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

// Stretches of exact silence of at least `frames` in a recording's level:
// a device that ran dry. A tone never holds zero for more than a frame.
inline int SilentStretches(const std::vector<float>& level, std::size_t frames) {
  int count = 0;
  std::size_t run = 0;
  for (float l : level) {
    run = l == 0.0f ? run + 1 : 0;
    count += run == frames ? 1 : 0;
  }
  return count;
}

// The long clip: the accent, then a quiet tone (its join falls on a zero
// crossing of both).
inline std::string MakeAccentedTone(const std::string& path) {
  const std::string accent = path + ".accent.wav", body = path + ".body.wav";
  auto tone = [](const std::string& to, double seconds, double hertz, double level) {
    return RunCommand({"sox", "-n", "-r", "48000", "-c", "2", "-b", "16", to, "synth",
                       std::to_string(seconds), "sine", std::to_string(hertz), "vol",
                       std::to_string(level)})
               .status == 0;
  };
  const bool ok = tone(accent, kAccentSeconds, kAccentHertz, kAccentLevel) &&
                  tone(body, kLongSeconds, 440, kBodyLevel) &&
                  RunCommand({"sox", accent, body, path}).status == 0;
  std::remove(accent.c_str());
  std::remove(body.c_str());
  return ok ? std::string() : "sox could not make " + path;
}

// The clips the output benchmarks press: a short tone, and the long clip.
struct Clips {
  std::string shortClip, longClip;
};
// Makes them in `folder`; nothing, with a word on stderr, when sox could
// not.
inline std::optional<Clips> MakeClips(const e2e::RunFolder& folder) {
  Clips clips{folder.File("short.wav"), folder.File("long.wav")};
  if (!e2e::MakeTone(clips.shortClip, 0.3, 1000).empty() ||
      !MakeAccentedTone(clips.longClip).empty()) {
    std::fprintf(stderr, "sox could not make the clips\n");
    return std::nullopt;
  }
  return clips;
}

// Frames from the accent's first sample to its first one above the
// threshold: the sine starts at zero.
inline double AccentLead(double rate) {
  return std::asin(kAccentThreshold / kAccentLevel) / (2 * M_PI * kAccentHertz) * rate;
}

}  // namespace bench_sounds
