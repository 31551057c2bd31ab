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
#include "JackProbe.h"
#include "SoundEvents.h"
#include "engine/timing/GroupStart.h"
#include "platform/WindowMessages.h"
#include "player/Tplayerbase.h"

#include <QApplication>

#include <jack/jack.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

using namespace e2e;

constexpr int kWindows = 4;
constexpr int kPresses = 100;  // of each kind
constexpr int kWarmUp = 2;
constexpr float kThreshold = 0.05f;

bool Silent(const JackProbe& ears, double seconds) {
  return WaitUntil(
      [&] {
        const uint64_t now = ears.RecordedUntil();
        const auto span = static_cast<uint64_t>(seconds * ears.SampleRate());
        return now >= span && CountSounding(ears.Level(now - span, now), kThreshold) == 0;
      },
      5s);
}

struct Press {
  double spread = 0;           // frames from the first window's onset to the last's
  double first = 0, last = 0;  // frames from the press
};

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
  JackProbe ears("bench-group-ears-" + tag, kWindows, 120);
  jack_client_t* clock =
      jack_client_open(("bench-group-clock-" + tag).c_str(), JackNoStartServer, nullptr);
  if (!ears.Ok() || clock == nullptr) {
    std::fprintf(stderr, "cannot open the JACK clients: %s\n", ears.Error().c_str());
    return 1;
  }
  std::array<QuietWindow, kWindows> windows;
  std::vector<std::unique_ptr<TPlayer>> players;
  std::vector<std::string> names;
  for (int n = 0; n < kWindows; ++n) {
    names.push_back("bench-group-" + tag + "-" + std::to_string(n));
    players.push_back(std::make_unique<TPlayer>(&windows[n], 0));
    players.back()->SetOutputName(QString::fromStdString(names.back()));
    ears.Follow(names.back(), n, 1);
  }

  const QString file = QString::fromStdString(clip);
  auto dispatch = [&](bool together) {
    std::optional<engine::GroupStart> group;
    if (together) group.emplace();
    for (auto& p : players) {
      if (p->State == fsPlaying) p->Stop();
      p->Open(file);
      p->SetRelativePositions(10000, 0, 10000, 0);
      p->Play();
    }
  };

  std::array<std::vector<Press>, 2> presses;  // [0] without, [1] with a group start
  int missed = 0;
  for (int i = 0; i < 2 * (kPresses + kWarmUp); ++i) {
    const bool together = i % 2 == 1;
    Silent(ears, 0.05);
    // Frames recorded so far lag the server by up to a period and the
    // cycle's own work, alike for both kinds of press.
    const uint64_t at = ears.RecordedUntil();
    dispatch(together);
    std::array<std::optional<uint64_t>, kWindows> onsets;
    WaitUntil(
        [&] {
          app.processEvents();
          const uint64_t now = ears.RecordedUntil();
          bool all = true;
          for (int n = 0; n < kWindows; ++n) {
            if (!onsets[n]) onsets[n] = FindOnset(ears.Level(at, now, n, 1), kThreshold, 0, at, at);
            all = all && onsets[n];
          }
          return all;
        },
        3s);
    for (auto& p : players) p->Stop();
    app.processEvents();
    bool heard = true;
    for (auto& o : onsets) heard = heard && o;
    if (!heard) {
      ++missed;
      continue;
    }
    if (i < 2 * kWarmUp) continue;
    Press press;
    uint64_t lo = *onsets[0], hi = *onsets[0];
    for (auto& o : onsets) {
      lo = std::min(lo, *o);
      hi = std::max(hi, *o);
    }
    press.spread = static_cast<double>(hi - lo);
    press.first = static_cast<double>(lo - at);
    press.last = static_cast<double>(hi - at);
    presses[together].push_back(press);
  }
  jack_client_close(clock);

  const double rate = ears.SampleRate(), period = ears.Period();
  auto figures = [&](const std::vector<Press>& list, double Press::*field) {
    std::vector<double> v;
    for (const Press& p : list) v.push_back(p.*field);
    return std::array<double, 2>{Percentile(v, 50), Percentile(v, 99)};
  };
  const auto base = figures(presses[0], &Press::spread);
  const auto group = figures(presses[1], &Press::spread);
  Print("group4_onset_spread_p50", group[0], "frames");
  Print("group4_onset_spread_p99", group[1], "frames");
  Print("group4_onset_spread_baseline_p50", base[0], "frames");
  Print("group4_onset_spread_baseline_p99", base[1], "frames");
  if (group[1] > 0) Print("group4_onset_spread_p99_baseline_ratio", base[1] / group[1], "x");
  Print("group4_onset_spread_p99_ms", group[1] / rate * 1000, "ms");
  const auto lastBase = figures(presses[0], &Press::last);
  const auto lastGroup = figures(presses[1], &Press::last);
  const auto firstBase = figures(presses[0], &Press::first);
  // Onsets fall on the server's cycles, so a spread is 0 or whole periods:
  // how often the windows' clips did not begin on the same frame (within
  // 1 ms).
  auto split = [&](const std::vector<Press>& list) {
    int n = 0;
    for (const Press& p : list) n += p.spread > rate / 1000 ? 1 : 0;
    return list.empty() ? 0.0 : 100.0 * n / static_cast<double>(list.size());
  };
  Print("group4_presses_spread_over_1ms", split(presses[1]), "%");
  Print("group4_presses_spread_over_1ms_baseline", split(presses[0]), "%");
  auto mean = [](const std::vector<Press>& list) {
    double sum = 0;
    for (const Press& p : list) sum += p.last;
    return list.empty() ? 0.0 : sum / static_cast<double>(list.size());
  };
  // Press to sound is read against the frames recorded at the press, which
  // lag the server by up to a period: compare the two kinds, not the values.
  Print("group4_press_to_sound_p50", lastGroup[0] / rate * 1000, "ms");
  Print("group4_press_to_last_window_baseline_p50", lastBase[0] / rate * 1000, "ms");
  Print("group4_press_to_first_window_baseline_p50", firstBase[0] / rate * 1000, "ms");
  Print("group4_start_cost_p50", lastGroup[0] - lastBase[0], "frames");
  Print("group4_start_cost_p50_periods", (lastGroup[0] - lastBase[0]) / period, "periods");
  Print("group4_start_cost_mean", mean(presses[1]) - mean(presses[0]), "frames");
  Print("group4_start_cost_mean_periods", (mean(presses[1]) - mean(presses[0])) / period,
        "periods");
  Print("group4_start_lead",
        std::chrono::duration<double, std::milli>(engine::GroupStart::Lead()).count(), "ms");
  Print("group4_presses", static_cast<double>(presses[1].size()), "presses");
  Print("group4_missed", missed, "presses");
  return missed > kPresses / 10 ? 1 : 0;
}
