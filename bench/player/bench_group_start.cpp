// A key press in a group of four windows, heard on the four players' JACK
// outputs: how far apart the clips' first frames land (the spread of
// onsets), started together by a GroupStart as the group dispatch does, and
// beside it the start without one (each player plays as its turn comes),
// alternating press by press in the same run. Also what the group start
// costs: how much later the group's sound begins than the last window's did
// without it, and the lead it chose.
//
// Runs under scripts/with-test-services.sh (a JACK dummy server at
// 48 kHz / 256 frames). Each press does in every window what the keyboard
// window's PlayKey does with the player: stop, open, marks, play.

#include "AppHarness.h"
#include "BenchOutput.h"
#include "Hearing.h"
#include "JackEars.h"
#include "JackProbe.h"
#include "SoundEvents.h"
#include "engine/timing/GroupStart.h"
#include "player/Tplayerbase.h"

#include <QApplication>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace e2e;

constexpr int kWindows = 4;
constexpr int kPresses = 100;  // of each kind
constexpr int kWarmUp = 2;
constexpr float kThreshold = 0.05f;

struct Press {
  double spread = 0;           // frames from the first window's onset to the last's
  double first = 0, last = 0;  // frames from the press
};
using Presses = std::vector<Press>;
using Onsets = std::array<std::optional<uint64_t>, kWindows>;

// The windows of a group, each player heard on an input of its own.
class Group {
 public:
  Group(JackProbe& ears, const std::string& tag) {
    for (int n = 0; n < kWindows; ++n) {
      const std::string name = "bench-group-" + tag + "-" + std::to_string(n);
      players_.push_back(std::make_unique<TPlayer>(&windows_[n], 0));
      players_.back()->SetOutputName(QString::fromStdString(name));
      ears.Follow(name, n, 1);
    }
  }
  // A key press in every window: started together by a GroupStart as the
  // group dispatch does, or each as its turn comes.
  void Dispatch(const QString& clip, bool together) {
    std::optional<engine::GroupStart> group;
    if (together) group.emplace();
    for (auto& p : players_) bench::PressKey(*p, clip);
  }
  void Stop() {
    for (auto& p : players_) p->Stop();
  }

 private:
  std::array<QuietWindow, kWindows> windows_;
  std::vector<std::unique_ptr<TPlayer>> players_;
};

// Each window's first frame of sound from `at` on, for those heard within
// 3 s.
Onsets OnsetsFrom(const JackProbe& ears, uint64_t at) {
  Onsets onsets;
  WaitUntil(
      [&] {
        QCoreApplication::processEvents();
        const uint64_t now = ears.RecordedUntil();
        bool all = true;
        for (int n = 0; n < kWindows; ++n) {
          if (!onsets[n]) onsets[n] = FindOnset(ears.Level(at, now, n, 1), kThreshold, 0, at, at);
          all = all && onsets[n];
        }
        return all;
      },
      3s);
  return onsets;
}

// One key press from silence; nothing when a window was not heard.
std::optional<Press> MeasurePress(const JackProbe& ears, Group& group, const QString& clip,
                                  bool together) {
  bench::WaitForQuiet(ears, 0.05, kThreshold, 5s);
  // Frames recorded so far lag the server by up to a period and the
  // cycle's own work, alike for both kinds of press.
  const uint64_t at = ears.RecordedUntil();
  group.Dispatch(clip, together);
  const Onsets onsets = OnsetsFrom(ears, at);
  group.Stop();
  QCoreApplication::processEvents();
  if (!std::all_of(onsets.begin(), onsets.end(), [](const auto& o) { return o.has_value(); }))
    return std::nullopt;
  uint64_t lo = *onsets[0], hi = *onsets[0];
  for (auto& o : onsets) {
    lo = std::min(lo, *o);
    hi = std::max(hi, *o);
  }
  return Press{static_cast<double>(hi - lo), static_cast<double>(lo - at),
               static_cast<double>(hi - at)};
}

// The median and the 99th percentile of one field of the presses.
std::array<double, 2> Figures(const Presses& list, double Press::*field) {
  std::vector<double> v;
  for (const Press& p : list) v.push_back(p.*field);
  return {Percentile(v, 50), Percentile(v, 99)};
}

// Onsets fall on the server's cycles, so a spread is 0 or whole periods:
// how often the windows' clips did not begin on the same frame (within
// 1 ms).
double PercentSplit(const Presses& list, double rate) {
  int n = 0;
  for (const Press& p : list) n += p.spread > rate / 1000 ? 1 : 0;
  return list.empty() ? 0.0 : 100.0 * n / static_cast<double>(list.size());
}

double MeanLast(const Presses& list) {
  double sum = 0;
  for (const Press& p : list) sum += p.last;
  return list.empty() ? 0.0 : sum / static_cast<double>(list.size());
}

void PrintSpreads(const Presses& base, const Presses& group, double rate) {
  const auto spreadBase = Figures(base, &Press::spread);
  const auto spread = Figures(group, &Press::spread);
  Print("group4_onset_spread_p50", spread[0], "frames");
  Print("group4_onset_spread_p99", spread[1], "frames");
  Print("group4_onset_spread_baseline_p50", spreadBase[0], "frames");
  Print("group4_onset_spread_baseline_p99", spreadBase[1], "frames");
  if (spread[1] > 0)
    Print("group4_onset_spread_p99_baseline_ratio", spreadBase[1] / spread[1], "x");
  Print("group4_onset_spread_p99_ms", spread[1] / rate * 1000, "ms");
  Print("group4_presses_spread_over_1ms", PercentSplit(group, rate), "%");
  Print("group4_presses_spread_over_1ms_baseline", PercentSplit(base, rate), "%");
}

// Press to sound is read against the frames recorded at the press, which
// lag the server by up to a period: compare the two kinds, not the values.
void PrintStartCost(const Presses& base, const Presses& group, double rate, double period) {
  const auto lastBase = Figures(base, &Press::last);
  const auto lastGroup = Figures(group, &Press::last);
  const auto firstBase = Figures(base, &Press::first);
  Print("group4_press_to_sound_p50", lastGroup[0] / rate * 1000, "ms");
  Print("group4_press_to_last_window_baseline_p50", lastBase[0] / rate * 1000, "ms");
  Print("group4_press_to_first_window_baseline_p50", firstBase[0] / rate * 1000, "ms");
  Print("group4_start_cost_p50", lastGroup[0] - lastBase[0], "frames");
  Print("group4_start_cost_p50_periods", (lastGroup[0] - lastBase[0]) / period, "periods");
  Print("group4_start_cost_mean", MeanLast(group) - MeanLast(base), "frames");
  Print("group4_start_cost_mean_periods", (MeanLast(group) - MeanLast(base)) / period, "periods");
  Print("group4_start_lead",
        std::chrono::duration<double, std::milli>(engine::GroupStart::Lead()).count(), "ms");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!OnJackServer()) return 1;
  const std::string tag = std::to_string(getpid());
  RunFolder folder("bench-group");
  const std::string clip = folder.File("tone.wav");
  if (!MakeTone(clip, 0.3, 1000).empty()) {
    std::fprintf(stderr, "sox could not make the clip\n");
    return 1;
  }
  bench::JackEars jack("bench-group", tag, kWindows);
  if (!jack.Ok()) return 1;
  const JackProbe& ears = jack.Probe();
  Group group(jack.Probe(), tag);

  std::array<Presses, 2> presses;  // [0] without, [1] with a group start
  int missed = 0;
  for (int i = 0; i < 2 * (kPresses + kWarmUp); ++i) {
    const bool together = i % 2 == 1;
    const std::optional<Press> press =
        MeasurePress(ears, group, QString::fromStdString(clip), together);
    if (!press)
      ++missed;
    else if (i >= 2 * kWarmUp)
      presses[together].push_back(*press);
  }

  PrintSpreads(presses[0], presses[1], ears.SampleRate());
  PrintStartCost(presses[0], presses[1], ears.SampleRate(), ears.Period());
  Print("group4_presses", static_cast<double>(presses[1].size()), "presses");
  Print("group4_missed", missed, "presses");
  return missed > kPresses / 10 ? 1 : 0;
}
