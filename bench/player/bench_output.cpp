// The size of the output's buffer, weighed on the JACK server: for a few
// sizes, key-to-sound (a key press as the keyboard window makes it, to the
// clip's first frame on the player's JACK output, read on the server's frame
// clock), the same for a key pressed again while its clip sounds (the old
// sound faded out, the clip started over), and the dropouts of a long clip
// while two threads keep the machine busy (a server that misses cycles
// breaks the frame clock, so the latencies are measured without the load).
// A bigger buffer lets the decoder be kept waiting longer before the device
// runs dry; the start of a clip should not depend on it. The default size
// is also measured on GStreamer's own JACK sink, which cuts without a fade
// unless the window waits for one, as the baseline.
//
// With TASTIVO_AUDIO_SINK=alsasink the same is weighed on our ALSA output,
// at two sizes of the device's buffer, played on ALSA's JACK device so the
// probe hears it. GStreamer's ALSA sink gives no baseline there: with it
// on that device the run stalled, no round done in five minutes.
//
// Runs under scripts/with-test-services.sh (a JACK dummy server at
// 48 kHz / 256 frames). The machine is shared: figures taken while others
// build are noisy.

#include "AppHarness.h"
#include "BenchOutput.h"
#include "BenchSounds.h"
#include "JackEars.h"
#include "OutputTrial.h"
#include "SoundEvents.h"
#include "player/Tplayerbase.h"

#include <QApplication>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace e2e;

constexpr bench::OutputPlan kPlan{
    .rounds = 3, .warmUp = 3, .presses = 30, .retriggers = 20, .retriggerAfter = 0.05};

struct Sizing {
  std::string name;
  std::string bufferUs;
  bool stockOutput = false;  // GStreamer's sink instead of ours
  std::string alsaUs = "";   // what our ALSA output keeps in its device
};

// What every round shares.
struct Run {
  std::string tag = std::to_string(getpid());
  RunFolder folder{"bench-output"};
  bool alsa = AlsaAsked();
  // On ALSA every player plays through the one JACK client its device is.
  std::string alsaClient = "bench-output-alsa-" + tag;
};

// False, with a word on stderr, when the output asked for cannot be heard.
bool ReadyOutput(const Run& run) {
  if (!run.alsa) return OnJackServer();
  const std::string why = PlayAlsaOnJack(run.folder.File("alsa.conf"), run.alsaClient);
  if (why.empty() && engine::DefaultAudioOutput().Sink == "alsasink") return true;
  std::fprintf(stderr, "needs ALSA's JACK device and a JACK server %s\n", why.c_str());
  return false;
}

// The default, a quarter of it, and two periods of this server.
std::vector<Sizing> Sizings(bool alsa, const JackProbe& ears) {
  if (alsa)
    return {{"ours_40ms", "200000", false, "40000"}, {"ours_20ms", "200000", false, "20000"}};
  const std::string twoPeriods = std::to_string(
      static_cast<long long>(std::ceil(2 * ears.Period() * 1e6 / ears.SampleRate())));
  return {{"200ms", "200000"},
          {"50ms", "50000"},
          {"2periods", twoPeriods},
          {"200ms_stock_sink", "200000", true}};
}

void UseSizing(const Sizing& sizing) {
  setenv("TASTIVO_OUTPUT_BUFFER_US", sizing.bufferUs.c_str(), 1);
  setenv("TASTIVO_ALSA_LATENCY_US", sizing.alsaUs.c_str(), 1);
  if (sizing.stockOutput)
    setenv("TASTIVO_STOCK_JACK_OUTPUT", "1", 1);
  else
    unsetenv("TASTIVO_STOCK_JACK_OUTPUT");
}

// A sizing's turn in a round: a new player on an output of that size,
// pressed from silence, pressed again while it sounds, and played through
// on a busy machine.
void MeasureTurn(const Run& run, const bench_sounds::Clips& clips, bench::JackEars& jack,
                 const Sizing& sizing, int round, bool first, bench::OutputFigures& f) {
  UseSizing(sizing);
  const std::string name =
      run.alsa ? run.alsaClient
               : "bench-output-" + run.tag + "-" + sizing.name + "-" + std::to_string(round);
  QuietWindow window;
  TPlayer player(&window, 0);
  player.SetOutputName(QString::fromStdString(name));
  JackProbe& ears = jack.Probe();
  if (!run.alsa || first) ears.Follow(name);
  bench::OutputTrial trial(kPlan, ears, player, [&] { return jack.FrameNow(); });
  trial.KeyToSound(clips.shortClip, f);
  trial.Retriggers(clips.longClip, f);
  // The server's own xruns (it runs without real-time scheduling here, so
  // the load slows it too) are counted apart; a dropout the server did not
  // report is the output's.
  const int xrunsBefore = ears.Xruns();
  if (const std::optional<int> dropouts = trial.LoadedDropouts(clips.longClip, ears.Period())) {
    f.dropouts += *dropouts;
    f.xruns += ears.Xruns() - xrunsBefore;
    ++f.plays;
  }
  // A long run shows how far it has got.
  std::fprintf(stderr, "round %d, %s: %zu presses heard, %d missed\n", round + 1,
               sizing.name.c_str(), f.latencies.size() + f.retriggers.size(),
               f.missed + f.missedRetriggers);
}

void PrintFigures(const std::string& prefix, const bench::OutputFigures& f, const JackProbe& ears) {
  const double period = ears.Period();
  Print(prefix + "_key_to_sound_p50_periods", Percentile(f.latencies, 50) / period, "periods");
  Print(prefix + "_key_to_sound_p99_periods", Percentile(f.latencies, 99) / period, "periods");
  Print(prefix + "_key_to_sound_p50", Percentile(f.latencies, 50) / ears.SampleRate() * 1000, "ms");
  Print(prefix + "_retrigger_to_sound_p50_periods", Percentile(f.retriggers, 50) / period,
        "periods");
  Print(prefix + "_retrigger_to_sound_p99_periods", Percentile(f.retriggers, 99) / period,
        "periods");
  Print(prefix + "_loaded_dropouts_per_minute", bench::PerLoadedMinute(f.dropouts, f.plays),
        "dropouts");
  Print(prefix + "_loaded_server_xruns_per_minute", bench::PerLoadedMinute(f.xruns, f.plays),
        "xruns");
  Print(prefix + "_missed", f.missed + f.missedRetriggers, "presses");
}

// GStreamer's sink is only the baseline: in a long run after many of ours
// it now and then stops reading its buffer for good (its misses are
// printed, not held against the run).
bool MissedTooMany(const Sizing& sizing, const bench::OutputFigures& f) {
  return !sizing.stockOutput &&
         (f.missed > kPlan.presses * kPlan.rounds / 10 ||
          f.missedRetriggers > kPlan.retriggers * kPlan.rounds / 10 || f.plays < kPlan.rounds);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Run run;
  if (!ReadyOutput(run)) return 1;
  const std::optional<bench_sounds::Clips> clips = bench_sounds::MakeClips(run.folder);
  if (!clips) return 1;
  bench::JackEars jack("bench-output", run.tag, 2);
  if (!jack.Ok()) return 1;
  JackProbe& ears = jack.Probe();
  ears.WaitForFrame(ears.RecordedUntil() + ears.Period());

  const std::vector<Sizing> sizings = Sizings(run.alsa, ears);
  std::vector<bench::OutputFigures> figures(sizings.size());
  // The sizings take turns, so that what else the machine does falls on
  // each alike.
  for (int round = 0; round < kPlan.rounds; ++round)
    for (std::size_t n = 0; n < sizings.size(); ++n)
      MeasureTurn(run, *clips, jack, sizings[n], round, round == 0 && n == 0, figures[n]);

  int status = 0;
  for (std::size_t n = 0; n < sizings.size(); ++n) {
    PrintFigures(std::string(run.alsa ? "alsa_output_" : "output_buffer_") + sizings[n].name,
                 figures[n], ears);
    if (MissedTooMany(sizings[n], figures[n])) status = 1;
  }
  return status;
}
