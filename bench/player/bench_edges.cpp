// Cuts, starts and ends as heard on the output that $TASTIVO_AUDIO_SINK
// names (JACK, PulseAudio, or ALSA on ALSA's JACK device), with the machine
// kept busy on purpose: both cores spinning at normal priority and a writer
// doing file I/O. Counts, per 1,000 edges, the cuts that clicked, the starts
// heard without their first frames and the ends broken off before their
// mark. And how much later a stop is heard when the machine is busy than
// when it is quiet: the threads that ask for it come late then, and the
// output's own cycle should make up for them within a period.
//
// $TASTIVO_BENCH_EDGES sets the number of edges under load (1,000).
// Prints "name: value unit" lines.

#include "HeardEdges.h"
#include "JackProbe.h"
#include "PulseProbe.h"
#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/MediaFiles.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QApplication>

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing_support::WaitFor;

using heard_edges::kSineStep;

// The two kinds of ears behind one face: frames of one recording.
class Ears {
 public:
  virtual ~Ears() = default;
  virtual bool Ok() const = 0;
  virtual std::string Error() const = 0;
  virtual uint64_t RecordedUntil() const = 0;
  // The frame being played now, as near as these ears can tell.
  virtual uint64_t FrameNow() const = 0;
  virtual std::vector<float> Samples(int channel, uint64_t from, uint64_t to) const = 0;
  virtual std::vector<float> Level(uint64_t from, uint64_t to) const = 0;
  // How far back of "now" the sound asked for at a cut may already be heard.
  virtual uint64_t Reach() const = 0;
  // Cycles the server itself missed so far: a hole no client could fill.
  virtual int Xruns() const { return 0; }
};

// What both probes answer alike.
template <class Probe>
class ProbeEars : public Ears {
 public:
  template <class... Args>
  explicit ProbeEars(Args&&... args) : probe_(std::forward<Args>(args)...) {}
  Probe& Of() { return probe_; }
  bool Ok() const override { return probe_.Ok(); }
  std::string Error() const override { return probe_.Error(); }
  uint64_t RecordedUntil() const override { return probe_.RecordedUntil(); }
  std::vector<float> Samples(int c, uint64_t f, uint64_t t) const override {
    return probe_.Samples(c, f, t);
  }
  std::vector<float> Level(uint64_t f, uint64_t t) const override { return probe_.Level(f, t); }

 protected:
  Probe probe_;
};

class OnJack : public ProbeEars<e2e::JackProbe> {
 public:
  // The probe keeps its whole recording: ten minutes, for 1,000 edges and
  // more (about 230 MB).
  explicit OnJack(const std::string& name) : ProbeEars(name, 2, 600) {}
  uint64_t FrameNow() const override { return probe_.FrameNow(); }
  uint64_t Reach() const override { return 2 * probe_.Period(); }
  int Xruns() const override { return probe_.Xruns(); }
};

class OnPulse : public ProbeEars<e2e::PulseProbe> {
 public:
  uint64_t FrameNow() const override { return probe_.RecordedUntil(); }
  uint64_t Reach() const override { return e2e::PulseProbe::kRate / 100; }
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

struct Tally {
  int edges = 0, clicks = 0, dropouts = 0;
  // Clicks and dropouts heard across a cycle the server missed: its hole,
  // not the program's.
  int serverClicks = 0, serverDropouts = 0;
  int starts = 0, cutAttacks = 0;
  int ends = 0, cutTails = 0;
  std::vector<double> stopDelayMs;
};

class Bench {
 public:
  Bench(std::unique_ptr<Ears> ears, unsigned period, bool alsa)
      : ears_(std::move(ears)), period_(period), alsa_(alsa) {}

  void SetPlayer(TPlayer* player) { player_ = player; }

  // A stop at a random moment of a playing tone: whether it clicked, and
  // when its fade was heard against when it was asked for.
  void Stop(Tally& t) {
    if (!StartTone(sine_, 0, 10000)) return;
    const uint64_t from = Cut("stop", [&] { player_->Stop(); });
    const uint64_t asked = asked_;
    Settle(t, from);
    if (const auto fade = FadeHeard(from, Now())) {
      const double ms = (double(*fade) - double(asked)) * 1000.0 / 48000.0;
      t.stopDelayMs.push_back(ms);
    }
  }

  void ReTrigger(Tally& t) {
    if (!StartTone(sine_, 2000, 10000)) return;
    const uint64_t from = Cut("re-trigger", [&] {
      player_->Stop();
      Press(sine_, 2000, 10000);
    });
    Settle(t, from);
    player_->Stop();
    Record(20);
  }

  void Seek(Tally& t) {
    if (!StartTone(sine_, 0, 10000)) return;
    const int to = std::uniform_int_distribution<int>(500, 5000)(random_);
    const uint64_t from = Cut("seek", [&] { player_->SetRelativePosition(10000, to, 0); });
    Settle(t, from);
    player_->Stop();
    Record(20);
  }

  void PauseAndResume(Tally& t) {
    if (!StartTone(sine_, 0, 10000)) return;
    const uint64_t from = Cut("pause", [&] {
      player_->Pause();
      Record(20);
      player_->Pause();
    });
    Settle(t, from);
    player_->Stop();
    Record(20);
  }

  // A clip that ends at its stop mark: its whole length up to the mark is
  // heard, and it fades there rather than breaking off.
  void EndAtMark(Tally& t) {
    const int mark = std::uniform_int_distribution<int>(500, 1500)(random_);
    const uint64_t before = Now();
    Press(sine_, 0, mark);
    std::optional<uint64_t> onset;
    if (!WaitFor([&] { return (onset = Onset(before, Now())).has_value(); })) return;
    // 4 s of clip: a mark of 10000 is its end.
    const uint64_t length = uint64_t(mark) * 4 * 48000 / 10000;
    uint64_t end = 0;
    if (!WaitFor([&] {
          const auto level = ears_->Level(*onset, Now());
          std::size_t last = level.size();
          while (last > 0 && level[last - 1] < 0.001f) --last;
          end = *onset + last;
          return Now() > *onset + length && Now() > end + 4800;
        }))
      return;
    ++t.ends;
    ++t.edges;
    const bool broken = LargestStep(end - 480, end + 96) > 2 * kSineStep;
    const bool shortened = end - *onset + 240 < length;
    if (broken || shortened) ++t.cutTails;
    if (DroppedOut(*onset, end)) ++t.dropouts;
  }

  // A clip that starts at its file's first frame: every frame of it heard,
  // at full gain.
  void Start(Tally& t) {
    using media_files::kMarkerFrames;
    const uint64_t before = Now();
    Press(marker_, 0, 10000);
    std::optional<uint64_t> onset;
    if (!WaitFor([&] { return (onset = Onset(before, Now())).has_value(); })) return;
    Record(20);
    const auto left = ears_->Samples(0, *onset, *onset + 480);
    const auto right = ears_->Samples(1, *onset, *onset + 1);
    player_->Stop();
    if (left.size() < 480 || right.empty()) return;
    ++t.starts;
    ++t.edges;
    const double cut = kMarkerFrames * (1.0 - double(right[0]) / double(left[0]));
    // ALSA's JACK device may play a few frames it fetched before the start
    // was written over them; see the edge tests.
    if (cut >= (alsa_ ? 16.0 : 1.0) || left.front() / left.back() < 0.99f) ++t.cutAttacks;
    WaitFor([&] {
      const uint64_t now = Now();
      return now > 480 && !Onset(now - 480, now).has_value();
    });
    Record(std::uniform_real_distribution<double>(0, 20)(random_));
  }

  uint64_t Now() const { return ears_->RecordedUntil(); }
  bool Ok() const { return ears_->Ok(); }
  std::string Error() const { return ears_->Error(); }

 private:
  void Press(const QString& clip, int min, int max) {
    heard_edges::PressKey(*player_, clip, min, max);
  }

  bool StartTone(const QString& clip, int min, int max) {
    const uint64_t before = Now();
    Press(clip, min, max);
    if (!WaitFor([&] { return Onset(before, Now()).has_value(); })) return false;
    return Record(std::uniform_real_distribution<double>(60, 200)(random_));
  }

  // Runs the cut; returns where its window starts.
  uint64_t Cut(const char* kind, const std::function<void()>& cut) {
    kind_ = kind;
    const uint64_t from = Now() - ears_->Reach();
    asked_ = ears_->FrameNow();
    xrunsAtCut_ = ears_->Xruns();
    cut();
    return from;
  }

  void Settle(Tally& t, uint64_t from) {
    Record(80);
    const uint64_t to = Now();
    ++t.edges;
    const bool server = ears_->Xruns() != xrunsAtCut_;
    if (const float step = LargestStep(from, to); step > 2 * kSineStep) {
      ++(server ? t.serverClicks : t.clicks);
      std::fprintf(
          stderr, "bench_edges: a %s clicked (%.3f) %lld frames after it was asked%s\n", kind_,
          double(step),
          (long long)(heard_edges::LargestStepOf(*ears_, from, to).at) - (long long)(asked_),
          server ? ", across a cycle the server missed" : "");
    }
    if (DroppedOut(from, to)) ++(server ? t.serverDropouts : t.dropouts);
  }

  bool Record(double ms) {
    const uint64_t until = Now() + uint64_t(ms * 48);
    return WaitFor([&] { return Now() >= until; });
  }

  std::optional<uint64_t> Onset(uint64_t from, uint64_t to) const {
    return heard_edges::Onset(*ears_, from, to);
  }

  float LargestStep(uint64_t from, uint64_t to) const {
    return heard_edges::LargestStep(*ears_, from, to);
  }

  // Where the tone's swing first falls below nine tenths of its height: the
  // fade heard. The swing is the peak over one cycle of the tone.
  std::optional<uint64_t> FadeHeard(uint64_t from, uint64_t to) const {
    const auto level = ears_->Level(from, to);
    const std::size_t cycle = 110;
    for (std::size_t i = 0; i + cycle < level.size(); ++i) {
      const float peak = *std::max_element(level.begin() + i, level.begin() + i + cycle);
      if (peak < 0.45f) return from + i;
    }
    return std::nullopt;
  }

  bool DroppedOut(uint64_t from, uint64_t to) const {
    return heard_edges::DroppedOut(*ears_, from, to);
  }

  std::unique_ptr<Ears> ears_;
  unsigned period_;
  bool alsa_;
  TPlayer* player_ = nullptr;
  std::mt19937 random_{std::random_device{}()};
  const QString sine_ = media_files::Sine(440, 4);
  const QString marker_ = media_files::StartMarker();
  uint64_t asked_ = 0;
  int xrunsAtCut_ = 0;
  const char* kind_ = "";
};

void Print(const std::string& name, double value, const char* unit) {
  std::printf("%s: %.2f %s\n", name.c_str(), value, unit);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::string sink = qEnvironmentVariable("TASTIVO_AUDIO_SINK").toStdString();
  const std::string pid = std::to_string(getpid());
  const std::string client = "bench-edges-" + pid;
  std::string out;
  std::unique_ptr<Ears> ears;
  unsigned period = 0;
  if (sink == "pulsesink") {
    out = "pulse";
    ears = std::make_unique<OnPulse>();
  } else {
    out = sink == "alsasink" ? "alsa" : "jack";
    if (out == "alsa") {
      const std::string why = e2e::PlayAlsaOnJack(
          testing_support::TestDataDir().toStdString() + "/alsa-on-jack-" + client + ".conf",
          client);
      if (!why.empty()) {
        std::fprintf(stderr, "bench_edges: %s\n", why.c_str());
        return 1;
      }
    }
    auto jack = std::make_unique<OnJack>("bench-edges-ears-" + pid);
    period = jack->Of().Period();
    jack->Of().Follow(client);
    ears = std::move(jack);
  }
  if (const std::string used = engine::DefaultAudioOutput().Sink;
      used != (out == "pulse"  ? "pulsesink"
               : out == "alsa" ? "alsasink"
                               : "jackaudiosink")) {
    std::fprintf(stderr, "bench_edges: the %s output is not there (%s instead)\n", out.c_str(),
                 used.c_str());
    return 1;
  }
  Bench bench(std::move(ears), period, out == "alsa");
  if (!bench.Ok()) {
    std::fprintf(stderr, "bench_edges: no ears on %s: %s\n", out.c_str(), bench.Error().c_str());
    return 1;
  }
  NoticeRecorder window;
  TPlayer player(&window, 0);
  player.SetOutputName(QString::fromStdString(client));
  bench.SetPlayer(&player);

  // The stop as heard on a quiet machine, the measure of "on time".
  Tally quiet;
  for (int i = 0; i < 40; ++i) bench.Stop(quiet);

  const int edges = std::max(6, qEnvironmentVariableIntValue("TASTIVO_BENCH_EDGES") > 0
                                    ? qEnvironmentVariableIntValue("TASTIVO_BENCH_EDGES")
                                    : 1000);
  Tally load;
  {
    qputenv("TASTIVO_TEST_LOAD", "1");
    testing_support::MachineLoad busy;
    const std::vector<std::function<void(Tally&)>> kinds = {
        [&](Tally& t) { bench.Stop(t); },      [&](Tally& t) { bench.ReTrigger(t); },
        [&](Tally& t) { bench.Seek(t); },      [&](Tally& t) { bench.PauseAndResume(t); },
        [&](Tally& t) { bench.EndAtMark(t); }, [&](Tally& t) { bench.Start(t); }};
    for (int i = 0; i < edges; ++i) {
      kinds[std::size_t(i) % kinds.size()](load);
      if ((i + 1) % 100 == 0)
        std::fprintf(stderr, "bench_edges: %s %d/%d\n", out.c_str(), i + 1, edges);
    }
  }
  player.Stop();

  const std::string name = "edges_" + out + "_";
  const double cuts = std::max(1, load.edges - load.starts - load.ends);
  Print(name + "edges_heard", load.edges, "count");
  Print(name + "clicks", 1000.0 * load.clicks / cuts, "per_1000_cuts");
  Print(name + "dropouts", 1000.0 * load.dropouts / std::max(1, load.edges), "per_1000_edges");
  Print(name + "clicks_server_missed_cycle", 1000.0 * load.serverClicks / cuts, "per_1000_cuts");
  Print(name + "dropouts_server_missed_cycle",
        1000.0 * load.serverDropouts / std::max(1, load.edges), "per_1000_edges");
  Print(name + "cut_attacks", 1000.0 * load.cutAttacks / std::max(1, load.starts),
        "per_1000_starts");
  Print(name + "cut_tails", 1000.0 * load.cutTails / std::max(1, load.ends), "per_1000_ends");
  const double onTime = Percentile(quiet.stopDelayMs, 0.5);
  Print(name + "stop_heard_quiet_p50", onTime, "ms");
  Print(name + "stop_heard_loaded_p50", Percentile(load.stopDelayMs, 0.5), "ms");
  Print(name + "stop_heard_loaded_p99", Percentile(load.stopDelayMs, 0.99), "ms");
  const double added50 = Percentile(load.stopDelayMs, 0.5) - onTime;
  const double added99 = Percentile(load.stopDelayMs, 0.99) - onTime;
  Print(name + "late_stop_added_p50", added50, "ms");
  Print(name + "late_stop_added_p99", added99, "ms");
  if (period > 0) {
    const double periodMs = period * 1000.0 / 48000.0;
    Print(name + "late_stop_added_p50", added50 / periodMs, "periods");
    Print(name + "late_stop_added_p99", added99 / periodMs, "periods");
  }
  return 0;
}
