// The seam of a looped clip and a rate change while a clip plays, as heard
// on the JACK server's outputs: the longest silence at the seam (the gap)
// and the largest step between samples, as a multiple of the tone's own
// largest step (a click shows as several). Each figure is measured with
// the seamless path and, in a child process with $TASTIVO_FLUSHING_LOOPS
// set, with the old flushing one. Prints "name: value unit" lines.

#include "JackProbe.h"
#include "platform/WindowMessages.h"
#include "player/Tplayerbase.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 5;

class Window : public QObject {
 public:
  std::function<void()> onEnd;

 protected:
  bool event(QEvent* e) override {
    if (auto* m = platform::AsWindowMessage(e)) {
      if (m->LParam == platform::PN_MEDIAEVENT && onEnd) onEnd();
      return true;
    }
    return QObject::event(e);
  }
};

bool WaitFor(const std::function<bool()>& condition, int ms = 10000) {
  QDeadlineTimer deadline(ms);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Figures {
  std::vector<double> gapMs, jump;
};

class Bench {
 public:
  explicit Bench(const QString& clip) : clip_(clip) {
    const std::string pid = std::to_string(getpid());
    probe_ = std::make_unique<e2e::JackProbe>("bench-loops-ears-" + pid, 2, 60);
    client_ = "bench-loops-" + pid;
    player_ = std::make_unique<TPlayer>(&window_, 0);
    player_->SetOutputName(QString::fromStdString(client_));
    probe_->Follow(client_);
  }
  bool Ok() const { return probe_->Ok(); }

  // Loops between random marks; the figures of the whole looped stretch.
  void Loop(Figures& f, std::mt19937& random) {
    const int min = std::uniform_int_distribution<int>(500, 2500)(random);
    const int max = min + std::uniform_int_distribution<int>(500, 1250)(random);
    int restarts = 0;
    window_.onEnd = [&] {
      if (player_->GetMediaEvent() != 1) return;
      ++restarts;
      player_->SetRelativePositions(10000, min, max, 0);
    };
    const uint64_t mark = Now();
    Press(min, max, 1.0);
    if (!WaitFor([&] { return Onset(mark).has_value(); })) return;
    const uint64_t onset = *Onset(mark);
    if (!WaitFor([&] { return restarts >= 4; })) return;
    const uint64_t to = Now();
    window_.onEnd = {};
    player_->Stop();
    Add(f, onset + 480, to, 440);
  }

  // Changes the rate from 1 to 1.5 while the tone plays.
  void Rate(Figures& f) {
    window_.onEnd = {};
    const uint64_t mark = Now();
    Press(0, 10000, 1.0);
    if (!WaitFor([&] { return Onset(mark).has_value(); })) return;
    const uint64_t onset = *Onset(mark);
    WaitFor([&] { return Now() > onset + 48000 / 5; });
    player_->SetRate(1.0);
    player_->SetRate(1.5);
    const uint64_t changed = Now();
    WaitFor([&] { return Now() > changed + 48000 / 2; });
    const uint64_t to = Now();
    player_->Stop();
    Add(f, onset + 480, to, 660);
  }

 private:
  void Press(int min, int max, double rate) {
    player_->Open(clip_);
    player_->SetRelativePositions(10000, min, max, 0);
    player_->SetRelativeVolume(100, 1, 0, 0, 0);
    player_->SetRate(1.0);
    if (rate != 1.0) player_->SetRate(rate);
    player_->Play();
    WaitFor([&] { return probe_->FollowedConnections(client_) > 0; });
  }

  uint64_t Now() const { return probe_->RecordedUntil(); }

  std::optional<uint64_t> Onset(uint64_t from) const {
    const auto level = probe_->Level(from, Now());
    for (std::size_t i = 0; i < level.size(); ++i)
      if (level[i] > 0.1f) return from + i;
    return std::nullopt;
  }

  // The longest near-silence and the largest step in [from, to), against
  // a half-scale sine of `hertz`.
  void Add(Figures& f, uint64_t from, uint64_t to, double hertz) const {
    if (to <= from) return;
    const auto level = probe_->Level(from, to);
    std::size_t longest = 0, run = 0;
    for (float l : level) {
      run = l < 0.02f ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    float step = 0;
    for (int channel = 0; channel < 2; ++channel) {
      const auto s = probe_->Samples(channel, from, to);
      for (std::size_t i = 1; i < s.size(); ++i) step = std::max(step, std::abs(s[i] - s[i - 1]));
    }
    f.gapMs.push_back(double(longest) * 1000 / 48000);
    f.jump.push_back(step / (0.5 * 2 * std::numbers::pi * hertz / 48000));
  }

  QString clip_;
  std::unique_ptr<e2e::JackProbe> probe_;
  std::string client_;
  Window window_;
  std::unique_ptr<TPlayer> player_;
};

// Measures in this process and prints the raw figures.
int Child(const QString& clip) {
  Bench bench(clip);
  if (!bench.Ok()) {
    std::fprintf(stderr, "no JACK server\n");
    return 1;
  }
  std::mt19937 random(5);
  Figures loop, rate;
  for (int i = 0; i < kRounds; ++i) bench.Loop(loop, random);
  for (int i = 0; i < kRounds; ++i) bench.Rate(rate);
  std::printf("loop_seam_gap %.3f\nloop_seam_jump %.2f\n", Median(loop.gapMs), Median(loop.jump));
  std::printf("rate_change_gap %.3f\nrate_change_jump %.2f\n", Median(rate.gapMs),
              Median(rate.jump));
  return 0;
}

std::map<std::string, double> RunChild(const QString& self, const QString& clip, bool flushing) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (flushing) env.insert("TASTIVO_FLUSHING_LOOPS", "1");
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(self, {"--child", clip});
  process.waitForFinished(300000);
  std::map<std::string, double> figures;
  for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
    const auto parts = line.split(' ');
    if (parts.size() == 2) figures[parts[0].toStdString()] = parts[1].toDouble();
  }
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc == 3 && std::string(argv[1]) == "--child") return Child(argv[2]);

  QTemporaryDir dir;
  const QString clip = dir.filePath("sine-440.wav");
  const int made =
      QProcess::execute("gst-launch-1.0", {"-q", "audiotestsrc", "wave=sine", "freq=440",
                                           "volume=0.5", "samplesperbuffer=4800", "num-buffers=40",
                                           "!", "audio/x-raw,format=F32LE,rate=48000,channels=2",
                                           "!", "wavenc", "!", "filesink", "location=" + clip});
  if (made != 0) {
    std::fprintf(stderr, "could not make the clip\n");
    return 1;
  }
  const QString self = QCoreApplication::applicationFilePath();
  auto seamless = RunChild(self, clip, false);
  auto flushing = RunChild(self, clip, true);
  if (seamless.empty() || flushing.empty()) return 1;
  for (const char* name :
       {"loop_seam_gap", "loop_seam_jump", "rate_change_gap", "rate_change_jump"}) {
    const bool gap = std::string(name).ends_with("gap");
    const char* unit = gap ? "ms" : "x_sine_step";
    std::printf("%s: %.3f %s\n", name, seamless[name], unit);
    std::printf("%s_flushing: %.3f %s\n", name, flushing[name], unit);
  }
  return 0;
}
