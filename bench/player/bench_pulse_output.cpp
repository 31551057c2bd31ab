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
#include "PulseProbe.h"
#include "SoundEvents.h"
#include "player/Tplayerbase.h"

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace e2e;
using namespace bench_sounds;

constexpr int kPresses = 25;  // per round
constexpr int kRounds = 2;
constexpr int kRetriggers = 15;  // per round
constexpr int kWarmUp = 3;
constexpr float kThreshold = 0.05f;

struct Variant {
  const char* name;
  const char* latencyUs;     // what ours keeps in the server
  bool stockOutput = false;  // GStreamer's PulseAudio sink instead of ours
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The test services run a JACK server too, which would come first.
  setenv("TASTIVO_AUDIO_SINK", "pulsesink", 1);
  if (engine::DefaultAudioOutput().Sink != "pulsesink") {
    std::fprintf(stderr, "needs a running PulseAudio server (scripts/with-test-services.sh)\n");
    return 1;
  }
  RunFolder folder("bench-pulse-output");
  const std::string shortClip = folder.File("short.wav"), longClip = folder.File("long.wav");
  if (!MakeTone(shortClip, 0.3, 1000).empty() || !MakeAccentedTone(longClip).empty()) {
    std::fprintf(stderr, "sox could not make the clips\n");
    return 1;
  }
  PulseProbe ears;
  if (!ears.Ok()) {
    std::fprintf(stderr, "%s\n", ears.Error().c_str());
    return 1;
  }
  const double rate = PulseProbe::kRate;
  const std::vector<Variant> variants = {{"ours_40ms", "40000"},
                                         {"ours_20ms", "20000"},
                                         {"ours_10ms", "10000"},
                                         {"stock_sink", "20000", true}};
  struct Figures {
    std::vector<double> latencies, retriggers;
    int missed = 0, dropouts = 0, plays = 0;
  };
  std::vector<Figures> figures(variants.size());
  auto ms = [&](double frames) { return frames / rate * 1000; };

  for (int round = 0; round < kRounds; ++round)
    for (std::size_t n = 0; n < variants.size(); ++n) {
      const Variant& variant = variants[n];
      Figures& f = figures[n];
      setenv("TASTIVO_PULSE_LATENCY_US", variant.latencyUs, 1);
      if (variant.stockOutput)
        setenv("TASTIVO_STOCK_PULSE_OUTPUT", "1", 1);
      else
        unsetenv("TASTIVO_STOCK_PULSE_OUTPUT");
      QuietWindow window;
      auto player = std::make_unique<TPlayer>(&window, 0);
      player->SetOutputName(QString("bench-pulse-%1").arg(variant.name));

      auto press = [&](const std::string& clip) {
        player->Open(QString::fromStdString(clip));
        player->SetRelativePositions(10000, 0, 10000, 0);
        player->Play();
      };
      auto onsetFrom = [&](uint64_t at, float threshold) {
        std::optional<uint64_t> onset;
        WaitUntil(
            [&] {
              app.processEvents();
              onset = FindOnset(ears.Level(at, ears.RecordedUntil()), threshold, 0, at, at);
              return onset.has_value();
            },
            3s);
        return onset;
      };
      auto quiet = [&] {
        const uint64_t now = ears.RecordedUntil();
        const auto span = static_cast<uint64_t>(0.03 * rate);
        return now >= span && CountSounding(ears.Level(now - span, now), kThreshold) == 0;
      };

      for (int i = 0; i < kWarmUp + kPresses; ++i) {
        WaitUntil(quiet);
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 5000));
        const uint64_t at = ears.RecordedUntil();
        press(shortClip);
        const std::optional<uint64_t> onset = onsetFrom(at, kThreshold);
        player->Stop();
        app.processEvents();
        if (!onset)
          ++f.missed;
        else if (i >= kWarmUp)
          f.latencies.push_back(ms(double(*onset - at)));
      }

      press(longClip);
      for (int i = 0; i < kRetriggers; ++i) {
        const uint64_t heard = ears.RecordedUntil();
        WaitUntil([&] {
          app.processEvents();
          return ears.RecordedUntil() >= heard + static_cast<uint64_t>(0.08 * rate) &&
                 CountSounding(ears.Level(ears.RecordedUntil() - 480, ears.RecordedUntil()),
                               kThreshold) > 0;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 5000));
        const uint64_t at = ears.RecordedUntil();
        player->Stop();
        press(longClip);
        const std::optional<uint64_t> onset = onsetFrom(at, kAccentThreshold);
        if (onset)
          f.retriggers.push_back(ms(double(*onset - at) - AccentLead(rate)));
        else
          ++f.missed;
      }
      player->Stop();
      app.processEvents();
      WaitUntil(quiet);

      // A long clip played through on a busy machine.
      Load load(2);
      const uint64_t from = ears.RecordedUntil();
      press(longClip);
      if (const auto begin = onsetFrom(from, kThreshold)) {
        const auto until = *begin + static_cast<uint64_t>((kLongSeconds - 0.5) * rate);
        WaitUntil(
            [&] {
              app.processEvents();
              return ears.RecordedUntil() >= until;
            },
            10s);
        f.dropouts += SilentStretches(ears.Level(*begin + 480, until), 16);
        ++f.plays;
      }
      player->Stop();
      app.processEvents();
    }

  int status = 0;
  for (std::size_t n = 0; n < variants.size(); ++n) {
    const Figures& f = figures[n];
    const std::string prefix = std::string("pulse_output_") + variants[n].name;
    Print(prefix + "_key_to_sound_p50", Percentile(f.latencies, 50), "ms");
    Print(prefix + "_key_to_sound_p99", Percentile(f.latencies, 99), "ms");
    Print(prefix + "_retrigger_to_sound_p50", Percentile(f.retriggers, 50), "ms");
    Print(prefix + "_retrigger_to_sound_p99", Percentile(f.retriggers, 99), "ms");
    Print(prefix + "_loaded_dropouts_per_minute",
          f.plays ? f.dropouts * 60.0 / (f.plays * (kLongSeconds - 0.5)) : -1, "dropouts");
    Print(prefix + "_missed", f.missed, "presses");
    if (f.missed > (kPresses + kRetriggers) * kRounds / 10 || f.plays < kRounds) status = 1;
  }
  return status;
}
