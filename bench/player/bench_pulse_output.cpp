// Our PulseAudio output against GStreamer's PulseAudio sink, heard on the
// monitor of the test PulseAudio server's null sink: key-to-sound (a key
// press as the keyboard window makes it, to the clip's first sound), the
// same for a key pressed again while its clip sounds (heard where its
// accent comes back), and the dropouts of a long clip while two threads
// keep the machine busy. Ours is weighed at two sizes of what it keeps in
// the server.
//
// Times are read on the recording's own timeline: a press is placed at the
// last frame recorded when it is made, so the recorder's own latency drops
// out, and the pieces it records in (2 ms) add up to that much.
//
// Runs under scripts/with-test-services.sh. The machine is shared: figures
// taken while others build are noisy.

#include "AppHarness.h"
#include "BenchOutput.h"
#include "BenchSounds.h"
#include "OutputTrial.h"
#include "PulseProbe.h"
#include "SoundEvents.h"
#include "player/Tplayerbase.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace e2e;

constexpr bench::OutputPlan kPlan{
    .rounds = 2, .warmUp = 3, .presses = 25, .retriggers = 15, .retriggerAfter = 0.08};

struct Variant {
  const char* name;
  const char* latencyUs;     // what ours keeps in the server
  bool stockOutput = false;  // GStreamer's PulseAudio sink instead of ours
};

// False, with a word on stderr, when no PulseAudio server plays.
bool OnPulseServer() {
  // The test services run a JACK server too, which would come first.
  setenv("TASTIVO_AUDIO_SINK", "pulsesink", 1);
  if (engine::DefaultAudioOutput().Sink == "pulsesink") return true;
  std::fprintf(stderr, "needs a running PulseAudio server (scripts/with-test-services.sh)\n");
  return false;
}

void UseVariant(const Variant& variant) {
  setenv("TASTIVO_PULSE_LATENCY_US", variant.latencyUs, 1);
  if (variant.stockOutput)
    setenv("TASTIVO_STOCK_PULSE_OUTPUT", "1", 1);
  else
    unsetenv("TASTIVO_STOCK_PULSE_OUTPUT");
}

// A variant's turn in a round: a new player on that output, pressed from
// silence, pressed again while it sounds, and played through on a busy
// machine.
void MeasureTurn(const PulseProbe& ears, const bench_sounds::Clips& clips, const Variant& variant,
                 bench::OutputFigures& f) {
  UseVariant(variant);
  QuietWindow window;
  TPlayer player(&window, 0);
  player.SetOutputName(QString("bench-pulse-%1").arg(variant.name));
  bench::OutputTrial trial(kPlan, ears, player, [&] { return ears.RecordedUntil(); });
  trial.KeyToSound(clips.shortClip, f);
  trial.Retriggers(clips.longClip, f);
  bench::WaitForQuiet(ears, 0.03, bench::kOnsetThreshold);
  if (const std::optional<int> dropouts = trial.LoadedDropouts(clips.longClip, 480)) {
    f.dropouts += *dropouts;
    ++f.plays;
  }
}

// Prints a variant's figures; false when it missed too many presses or
// plays.
bool PrintFigures(const Variant& variant, const bench::OutputFigures& f) {
  const std::string prefix = std::string("pulse_output_") + variant.name;
  auto ms = [](double frames) { return frames / PulseProbe::kRate * 1000; };
  const int missed = f.missed + f.missedRetriggers;
  Print(prefix + "_key_to_sound_p50", ms(Percentile(f.latencies, 50)), "ms");
  Print(prefix + "_key_to_sound_p99", ms(Percentile(f.latencies, 99)), "ms");
  Print(prefix + "_retrigger_to_sound_p50", ms(Percentile(f.retriggers, 50)), "ms");
  Print(prefix + "_retrigger_to_sound_p99", ms(Percentile(f.retriggers, 99)), "ms");
  Print(prefix + "_loaded_dropouts_per_minute", bench::PerLoadedMinute(f.dropouts, f.plays),
        "dropouts");
  Print(prefix + "_missed", missed, "presses");
  return missed <= (kPlan.presses + kPlan.retriggers) * kPlan.rounds / 10 &&
         f.plays >= kPlan.rounds;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!OnPulseServer()) return 1;
  RunFolder folder("bench-pulse-output");
  const std::optional<bench_sounds::Clips> clips = bench_sounds::MakeClips(folder);
  if (!clips) return 1;
  PulseProbe ears;
  if (!ears.Ok()) {
    std::fprintf(stderr, "%s\n", ears.Error().c_str());
    return 1;
  }
  const std::vector<Variant> variants = {{"ours_40ms", "40000"},
                                         {"ours_20ms", "20000"},
                                         {"ours_10ms", "10000"},
                                         {"stock_sink", "20000", true}};
  std::vector<bench::OutputFigures> figures(variants.size());
  for (int round = 0; round < kPlan.rounds; ++round)
    for (std::size_t n = 0; n < variants.size(); ++n)
      MeasureTurn(ears, *clips, variants[n], figures[n]);

  int status = 0;
  for (std::size_t n = 0; n < variants.size(); ++n)
    if (!PrintFigures(variants[n], figures[n])) status = 1;
  return status;
}
