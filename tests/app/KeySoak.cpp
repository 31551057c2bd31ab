#include "KeySoak.h"

#include "app/FormList.h"
#include "app/morvela1.h"
#include "engine/cue/CuePool.h"
#include "engine/graph/GstMediaGraph.h"
#include "platform/ScriptedDialogs.h"
#include "support/TestSupport.h"
#include "video/Video.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace soak {

namespace {

using testing_support::WaitFor;

constexpr int kWindows = 4;
// The last predefined row is kept out of the random play: every window
// plays it before a measurement, so the baseline and the end compare
// windows that hold the same clip.
constexpr int kSettleKey = kPredefinedRows - 1;

int CountEntries(const char* folder) {
  std::error_code error;
  int n = 0;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error))
    ++n;
  return n;
}

QString Make(const QString& name, const QString& pipeline) {
  return testing_support::CachedFile(name, pipeline, [&](const QString& partial) {
    QProcess process;
    process.start("gst-launch-1.0",
                  QStringList{"-q"} + QProcess::splitCommand(QString(pipeline).arg(partial)));
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
      throw std::runtime_error("could not make soak clip " + name.toStdString() + ": " +
                               process.readAllStandardError().toStdString());
  });
}

// Tones of 0.4 to 0.8 s: short enough that clips reach their stop marks
// during the longer pauses of the play.
QString Tone(int buffers, int freq) {
  return QString(
             "audiotestsrc num-buffers=%1 samplesperbuffer=4410 freq=%2 ! "
             "audio/x-raw,rate=44100,channels=1 ! ")
      .arg(buffers)
      .arg(freq);
}

TForm11* W(int i) {
  return FormList.at(static_cast<std::size_t>(i));
}

// Runs the window thread's event loop for ms milliseconds, as it runs
// between two keys of a performer.
void RunEventLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

class Performer {
 public:
  Performer(const Options& options, const Clips& clips, Report& report)
      : options_(options), clips_(clips), report_(report), rng_(options.Seed) {}
  // Also when the play ends with an error: no window outlives the run.
  ~Performer() {
    delete Form11;
    Form11 = nullptr;
  }

  void Play() {
    MakeWindows();
    LoadSets();
    QElapsedTimer clock;
    clock.start();
    while (report_.Presses < options_.WarmupPresses) Step();
    report_.Warm = SettledBaseline();
    while (report_.Presses < options_.Presses) Step();
    report_.End = SettledEnd();
    report_.Seconds = clock.elapsed() / 1000.0;
    report_.Boxes += static_cast<int>(dialogs_.boxes().size());
    dialogs_.Clear();
  }

 private:
  struct Held {
    int window;
    int key;
  };

  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  const QString& Pick(const QStringList& list) {
    return list.at(Uniform(0, static_cast<int>(list.size()) - 1));
  }

  void MakeWindows() {
    Form11 = new TForm11(qApp);
    Form11->show();
    for (int i = 1; i < kWindows; ++i) Form11->Image1Click();
    // Two groups of two: 0 and 1 play together, so do 2 and 3.
    W(1)->Group->setText("0");
    W(3)->Group->setText("2");
  }

  // Each window gets a random set of its own, saved to a set file and
  // loaded from it, so the clips are found as on stage.
  void LoadSets() {
    const QString gone = QDir(sets_.path()).filePath("gone.wav");
    for (int w = 0; w < kWindows; ++w) {
      KeySet& set = W(w)->Tuning->Set;
      for (int row = 0; row < kSettleKey; ++row) {
        QString file, min = "0", max = "10000", rate = "100";
        const double kind = std::uniform_real_distribution<double>(0, 1)(rng_);
        if (kind < 0.05) {
          // No file: the key shows or hides the set editor.
        } else if (kind < 0.07) {
          file = gone;  // an information box
        } else if (kind < 0.25) {
          file = Pick(clips_.Video);
        } else {
          file = Pick(clips_.Audio);
        }
        if (Chance(0.5)) {
          min = QString::number(Uniform(0, 6000));
          max = QString::number(Uniform(min.toInt() + 500, 10000));
        }
        if (Chance(0.4)) rate = QString::number(Uniform(25, 300));
        if (Chance(0.01)) rate = "x";  // a bad row: an information box
        set.SetCell(row, kLabelColumn, QString("k%1").arg(row));
        set.SetCell(row, kFileColumn, file);
        set.SetCell(row, kMinColumn, min);
        set.SetCell(row, kMaxColumn, max);
        set.SetCell(row, kRateColumn, rate);
      }
      set.SetCell(kSettleKey, kLabelColumn, "settle");
      set.SetCell(kSettleKey, kFileColumn, clips_.Audio.first());
      const QString path = QDir(sets_.path()).filePath(QString("window%1.wql").arg(w));
      QString error;
      if (!W(w)->Tuning->SaveSet(path, &error))
        throw std::runtime_error("could not save the soak set: " + error.toStdString());
      if (!W(w)->Tuning->LoadSet(path))
        throw std::runtime_error("could not load the soak set " + path.toStdString());
    }
  }

  // One action of the performer, then a pause.
  void Step() {
    if (held_.empty() || (held_.size() < 3 && Chance(0.5))) {
      const Held key{Uniform(0, kWindows - 1), Uniform(0, kSettleKey - 1)};
      W(key.window)->Keys1->NoteOn(key.key, 0, true);
      held_.push_back(key);
      ++report_.Presses;
      report_.Played += W(key.window)->Player->State == fsPlaying ? 1 : 0;
      report_.Pictures += W(key.window)->Video->isVisible() ? 1 : 0;
      if (options_.SampleEvery > 0 && report_.Presses % options_.SampleEvery == 0) Sample();
    } else {
      const auto at = held_.begin() + Uniform(0, static_cast<int>(held_.size()) - 1);
      const Held key = *at;
      held_.erase(at);
      W(key.window)->Keys1->NoteOff(key.key, 0, true);
      ++report_.Releases;
    }
    if (Chance(0.01)) {
      TForm11* w = W(Uniform(0, kWindows - 1));
      (Chance(0.5) ? w->Loop : w->Sustain)->click();
      ++report_.Toggles;
    }
    Pause();
  }

  // Mostly quick fingers; now and then a rest long enough for clips to
  // reach their stop marks, loop or end.
  void Pause() {
    const double r = std::uniform_real_distribution<double>(0, 1)(rng_);
    if (r < 0.6)
      QCoreApplication::processEvents();
    else if (r < 0.995)
      RunEventLoop(Uniform(1, 8));
    else
      RunEventLoop(Uniform(100, 500));
  }

  void Sample() {
    // The recorded boxes are the harness's own memory, not the program's.
    report_.Boxes += static_cast<int>(dialogs_.boxes().size());
    dialogs_.Clear();
    if (options_.OnSample) options_.OnSample(report_.Presses, Measure());
  }

  // Lets every key go, plays the same clip in every window, stops them all,
  // hides the set editors and waits for the removed clips' teardowns.
  void Settle() {
    for (const Held& key : held_) W(key.window)->Keys1->NoteOff(key.key, 0, true);
    held_.clear();
    for (int w : {0, 2}) {
      W(w)->Keys1->NoteOn(kSettleKey, 0, true);
      QCoreApplication::processEvents();
      W(w)->Keys1->NoteOff(kSettleKey, 0, true);
    }
    for (int w : {0, 2}) W(w)->StopClick();
    for (int w = 0; w < kWindows; ++w)
      if (W(w)->Tuning->isVisible()) W(w)->CoolBtn1Click();
    report_.Boxes += static_cast<int>(dialogs_.boxes().size());
    dialogs_.Clear();
    WaitFor([] { return engine::GstMediaGraph::PendingTeardowns() == 0; });
    // The clips cued ahead for the windows' keys are a bounded number of
    // decoders, each with its file and threads: counted when the pool holds
    // what it wants, so a clip being cued again is not taken for a leak.
    WaitFor([] { return engine::CuePool::Instance().Settled(); });
  }

  // The baseline: settled, and the thread and file counts steady over a
  // few readings (streaming threads of the last clips end a moment late).
  Usage SettledBaseline() {
    Settle();
    Usage last = Measure();
    int steady = 0;
    WaitFor(
        [&] {
          RunEventLoop(50);
          const Usage now = Measure();
          steady = now.Threads == last.Threads && now.Fds == last.Fds ? steady + 1 : 0;
          last = now;
          return steady >= 4;
        },
        std::chrono::seconds(5));
    return last;
  }

  // The end: settled, then given time for threads and files to come back
  // to the baseline.
  Usage SettledEnd() {
    Settle();
    const Usage& warm = report_.Warm;
    WaitFor(
        [&] {
          const Usage now = Measure();
          return now.Threads <= warm.Threads && now.Fds <= warm.Fds;
        },
        std::chrono::milliseconds(options_.SettleMs));
    return Measure();
  }

  const Options& options_;
  const Clips& clips_;
  Report& report_;
  std::mt19937 rng_;
  std::vector<Held> held_;
  platform::ScriptedDialogs dialogs_;
  QTemporaryDir sets_;
};

}  // namespace

Usage Measure() {
  Usage usage;
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  usage.RssKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
  usage.Threads = CountEntries("/proc/self/task");
  usage.Fds = CountEntries("/proc/self/fd");
  usage.PendingTeardowns = engine::GstMediaGraph::PendingTeardowns();
  return usage;
}

Clips MakeClips() {
  Clips clips;
  clips.Audio << Make("soak.wav", Tone(6, 440) + "wavenc ! filesink location=%1")
              << Make("soak.ogg",
                      Tone(8, 523) + "audioconvert ! vorbisenc ! oggmux ! filesink location=%1")
              << Make("soak.mp3",
                      Tone(7, 659) + "audioconvert ! lamemp3enc ! xingmux ! filesink location=%1")
              << Make("soak.flac", Tone(5, 784) + "audioconvert ! flacenc ! filesink location=%1");
  // Small pictures of a few seconds: one with sound, one without.
  clips.Video << Make("soak-sound.avi",
                      "videotestsrc pattern=ball num-buffers=50 ! "
                      "video/x-raw,width=160,height=120,framerate=25/1 ! jpegenc ! avimux name=m ! "
                      "filesink location=%1 audiotestsrc num-buffers=20 samplesperbuffer=4410 ! "
                      "audio/x-raw,rate=44100,channels=1,format=S16LE ! m.")
              << Make("soak-silent.avi",
                      "videotestsrc pattern=smpte num-buffers=45 ! "
                      "video/x-raw,width=160,height=120,framerate=15/1 ! avenc_mpeg4 ! avimux ! "
                      "filesink location=%1");
  return clips;
}

Report Run(const Options& options, const Clips& clips) {
  if (clips.Audio.isEmpty() || clips.Video.isEmpty())
    throw std::invalid_argument("the soak needs audio and video clips");
  Report report;
  Performer(options, clips, report).Play();
  return report;
}

double RssGrowthPercent(const Report& report) {
  if (report.Warm.RssKb <= 0) return 0;
  return 100.0 * static_cast<double>(report.End.RssKb - report.Warm.RssKb) /
         static_cast<double>(report.Warm.RssKb);
}

}  // namespace soak
