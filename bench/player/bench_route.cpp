// Key-to-sound on a window's chosen output against the default output, in
// one run, heard on the JACK server: the chosen output names the server the
// default output finds by itself, so any difference is the choice's cost.
// Prints "name: value unit" lines.

#include "AppHarness.h"
#include "BenchOutput.h"
#include "BenchSounds.h"
#include "JackEars.h"
#include "OutputTrial.h"
#include "SoundEvents.h"
#include "player/Tplayerbase.h"

#include <QApplication>

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr bench::OutputPlan kPlan{.rounds = 4, .warmUp = 3, .presses = 20};

struct Output {
  const char* name;
  std::string key;  // the window's choice; "" for the default output
  bench::OutputFigures figures;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!OnJackServer()) return 1;
  const std::string tag = std::to_string(getpid());
  e2e::RunFolder folder("bench-route");
  const std::optional<bench_sounds::Clips> clips = bench_sounds::MakeClips(folder);
  if (!clips) return 1;
  bench::JackEars jack("bench-route", tag, 2);
  if (!jack.Ok()) return 1;
  e2e::JackProbe& ears = jack.Probe();
  ears.WaitForFrame(ears.RecordedUntil() + ears.Period());

  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  Output outputs[] = {{"default", "", {}},
                      {"chosen", "jack:" + std::string(server ? server : "default"), {}}};
  // The two take turns, so that what else the machine does falls on each
  // alike.
  for (int round = 0; round < kPlan.rounds; ++round)
    for (Output& output : outputs) {
      const std::string name = "bench-route-" + tag + "-" + output.name + std::to_string(round);
      QuietWindow window;
      TPlayer player(&window, 0);
      player.SetOutputName(QString::fromStdString(name));
      player.SetOutputDevice(QString::fromStdString(output.key), QString());
      ears.Follow(name);
      bench::OutputTrial trial(kPlan, ears, player, [&] { return jack.FrameNow(); });
      trial.KeyToSound(clips->shortClip, output.figures);
    }

  const double ms = 1000.0 / ears.SampleRate();
  double medians[2] = {};
  for (int n = 0; n < 2; ++n) {
    const Output& o = outputs[n];
    medians[n] = e2e::Percentile(o.figures.latencies, 50) * ms;
    Print(std::string("route_key_to_sound_") + o.name + "_p50", medians[n], "ms");
    Print(std::string("route_key_to_sound_") + o.name + "_p99",
          e2e::Percentile(o.figures.latencies, 99) * ms, "ms");
    Print(std::string("route_key_to_sound_") + o.name + "_missed", o.figures.missed, "presses");
  }
  Print("route_key_to_sound_chosen_over_default", medians[0] > 0 ? medians[1] / medians[0] : -1,
        "ratio");
  return 0;
}
