// Key-to-sound, re-trigger and stop accuracy of the player, against a fresh
// playbin per clip as the baseline. Prints "name: value unit" lines.
//
// Key-to-sound is the time from the key (Open) through SetRelativePositions
// and Play until the pipeline plays and its audio sink holds the first
// buffer of the range. Run without arguments it measures the default sink
// (JACK when a server runs) and a fakesink in sync mode, each in a child
// process of its own since the sink is chosen once per process.

#include "bench/player/PlaybinBaseline.h"
#include "engine/graph/ClipCache.h"
#include "engine/graph/ClipLength.h"
#include "engine/graph/FrameCount.h"
#include "engine/graph/GstMediaGraph.h"
#include "platform/WindowMessages.h"
#include "player/Tplayerbase.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 60;

class Window : public QObject {
 public:
  int events = 0;

 protected:
  bool event(QEvent* e) override {
    if (auto* m = platform::AsWindowMessage(e)) {
      events += m->LParam == platform::PN_MEDIAEVENT;
      return true;
    }
    return QObject::event(e);
  }
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

void Print(const std::string& name, const std::vector<double>& values) {
  std::printf("%s_p50: %.2f ms\n%s_p99: %.2f ms\n", name.c_str(), Percentile(values, 0.5),
              name.c_str(), Percentile(values, 0.99));
}

bool Make(const QString& path, const QString& encoder) {
  QProcess p;
  QStringList args{"-q"};
  args += QProcess::splitCommand(
      "audiotestsrc num-buffers=20 samplesperbuffer=4410 ! audio/x-raw,rate=44100,channels=2 ! " +
      encoder + " ! filesink location=" + path);
  p.start("gst-launch-1.0", args);
  return p.waitForFinished(30000) && p.exitCode() == 0;
}

// A player on a graph that says when its audio sink gets a buffer.
class Rig {
 public:
  Rig() : graph_(std::make_shared<engine::GstMediaGraph>()), player_(&window_, 0, graph_) {
    graph_->SetAudioBufferObserver([this] {
      bufferAt_ = Clock::now().time_since_epoch().count();
      buffered_ = true;
    });
  }
  TPlayer& Player() { return player_; }
  Window& Owner() { return window_; }
  int FlushingSeeks() const { return graph_->FlushingSeeks(); }

  // Milliseconds from the key to the first buffer of the marked range at the
  // sink. rate 0: the window leaves the rate alone; else it sets 1.0, then
  // rate.
  double KeyToSound(const QString& file, double rate = 0) {
    buffered_ = false;
    const auto t0 = Clock::now();
    player_.Open(file);
    player_.SetRelativePositions(10000, 2500, 7500, 0);
    if (rate != 0) {
      player_.SetRate(1.0);
      player_.SetRate(rate);
    }
    player_.Play();
    const auto played = Clock::now();
    while (!buffered_ && Clock::now() - t0 < std::chrono::seconds(5)) QThread::usleep(100);
    const auto at = Clock::time_point(Clock::duration(bufferAt_.load()));
    const double ms = std::chrono::duration<double, std::milli>(std::max(at, played) - t0).count();
    player_.Stop();
    return ms;
  }

 private:
  std::atomic<Clock::rep> bufferAt_{0};
  std::atomic<bool> buffered_{false};
  Window window_;
  std::shared_ptr<engine::GstMediaGraph> graph_;
  TPlayer player_;
};

// `runs` keys alternating between clips `a` and `b`, each followed by the
// window's events.
std::vector<double> KeysToSound(Rig& rig, const QString& a, const QString& b, double rate = 0) {
  std::vector<double> ms;
  for (int i = 0; i < kRuns; ++i) {
    ms.push_back(rig.KeyToSound(i % 2 ? a : b, rate));
    QCoreApplication::processEvents();
  }
  return ms;
}

void MeasureFormat(Rig& rig, const std::string& format, const QString& a, const QString& b,
                   const std::string& sink) {
  for (int i = 0; i < 5; ++i) rig.KeyToSound(i % 2 ? a : b);  // warm up
  const std::vector<double> ours = KeysToSound(rig, a, b);
  const std::vector<double> retrigger = KeysToSound(rig, a, a);
  const int seeksBefore = rig.FlushingSeeks();
  const std::vector<double> withRate = KeysToSound(rig, a, b, 1.5);
  const double seeksPerPress = double(rig.FlushingSeeks() - seeksBefore) / kRuns;
  std::vector<double> baseline;
  for (int i = 0; i < kRuns; ++i)
    baseline.push_back(bench::FreshPlaybinKeyToSoundMs((i % 2 ? a : b).toStdString(), 0.5, 1.5));
  const std::string suffix = format + "_" + sink;
  Print("key_to_sound_" + suffix, ours);
  Print("key_to_sound_baseline_playbin_" + suffix, baseline);
  std::printf("key_to_sound_ratio_%s: %.2f x\n", suffix.c_str(),
              Percentile(ours, 0.5) / Percentile(baseline, 0.5));
  Print("retrigger_" + suffix, retrigger);
  // A key with marks and a rate, as the keyboard window plays it.
  Print("key_to_sound_with_rate_" + suffix, withRate);
  std::printf("flushing_seeks_per_key_press_%s: %.2f seeks\n", suffix.c_str(), seeksPerPress);
}

// Where the clip really was when the complete event came, against the stop
// mark (1.0 s), and how late the event was by the clock.
void MeasureStop(Rig& rig, const QString& wav, const std::string& sink) {
  TPlayer& player = rig.Player();
  std::vector<double> positionError, lateness;
  for (int i = 0; i < 10; ++i) {
    player.Open(wav);
    player.SetRelativePositions(10000, 0, 5000, 0);
    rig.Owner().events = 0;
    const auto t0 = Clock::now();
    player.Play();
    while (rig.Owner().events == 0 && Clock::now() - t0 < std::chrono::seconds(5))
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const auto at = Clock::now();
    if (player.GetMediaEvent() != 1) continue;
    positionError.push_back(std::abs(player.GetPosition() - 10000000) / 10000.0);
    lateness.push_back(std::chrono::duration<double, std::milli>(at - t0).count() - 1000.0);
    player.Stop();
  }
  Print("stop_position_error_wav_" + sink, positionError);
  Print("stop_event_lateness_wav_" + sink, lateness);
}

int RunMeasurements(const std::string& sink) {
  QTemporaryDir dir;
  const QString wavA = dir.filePath("a.wav"), wavB = dir.filePath("b.wav");
  const QString mp3A = dir.filePath("a.mp3"), mp3B = dir.filePath("b.mp3");
  if (!Make(wavA, "wavenc") || !Make(wavB, "wavenc") || !Make(mp3A, "lamemp3enc ! xingmux") ||
      !Make(mp3B, "lamemp3enc ! xingmux")) {
    std::fprintf(stderr, "cannot make the clips\n");
    return 1;
  }
  Rig rig;
  MeasureFormat(rig, "wav", wavA, wavB, sink);
  MeasureFormat(rig, "mp3", mp3A, mp3B, sink);
  MeasureStop(rig, wavA, sink);
  return 0;
}

}  // namespace

// How long a bare VBR MP3 and an MPEG program stream of 10 minutes take to
// measure: once at the first open, and again for another key of the same
// clip (the answer is kept).
int MeasureFrameCount() {
  QTemporaryDir dir;
  const QString mp3 = dir.filePath("ten.mp3"), mpg = dir.filePath("ten.mpg");
  const QString noise =
      "-q audiotestsrc wave=pink-noise num-buffers=6000 samplesperbuffer=4410 ! "
      "audio/x-raw,rate=44100,channels=2 ! ";
  for (const QString& encode :
       {noise + "lamemp3enc target=quality quality=4 ! filesink location=" + mp3,
        noise + "avenc_mp2 ! mpegaudioparse ! mpegpsmux ! filesink location=" + mpg}) {
    QProcess p;
    p.start("gst-launch-1.0", QProcess::splitCommand(encode));
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
      std::fprintf(stderr, "cannot make the 10-minute clip\n");
      return 1;
    }
  }
  for (const char* name : {"frame_count_10min_vbr_mp3", "frame_count_10min_vbr_mp3_again"}) {
    const auto start = Clock::now();
    const auto count = engine::CountAudioFrames(mp3.toStdString());
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!count) return 1;
    std::printf("%s: %.2f ms\n", name, ms);
  }
  for (const char* name :
       {"program_stream_length_10min_mpg", "program_stream_length_10min_mpg_again"}) {
    const auto start = Clock::now();
    const auto length =
        engine::ExactLengthNs(mpg.toStdString(), engine::FileIdentity::Of(mpg.toStdString()));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!length) return 1;
    std::printf("%s: %.2f ms\n", name, ms);
  }
  return 0;
}

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc >= 3 && std::string(argv[1]) == "--sink") return RunMeasurements(argv[2]);
  if (argc >= 2 && std::string(argv[1]) == "--frame-count") return MeasureFrameCount();
  if (argc >= 2 && std::string(argv[1]) == "--which-sink") {
    const std::string sink = engine::GstMediaGraph::DefaultAudioSinkName();
    std::printf("%s\n", sink == "jackaudiosink" ? "jack" : sink.c_str());
    return 0;
  }

  int status = MeasureFrameCount();
  for (const char* forced : {"", "fakesink"}) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (*forced)
      env.insert("TASTIVO_AUDIO_SINK", forced);
    else
      env.remove("TASTIVO_AUDIO_SINK");
    child.setProcessEnvironment(env);
    // The child finds out which sink it got and names the figures after it.
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(argv[0], {"--which-sink"});
    probe.waitForFinished();
    const QString label = QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
    if (label.isEmpty()) continue;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(argv[0], {"--sink", label});
    child.waitForFinished(-1);
    status |= child.exitCode();
  }
  return status;
}
