// The sound server going away and coming back while the program runs, or
// changing its period under it: a server of the test's own, with the
// players' output on it. A JACK server on its dummy driver, or, when the
// test runs with TASTIVO_AUDIO_SINK=pulsesink, a PulseAudio server on a
// null sink. With TASTIVO_AUDIO_SINK=alsasink the players play through the
// ALSA output on ALSA's JACK device, on the test's JACK server: its sound
// just stops when the server goes away, as a card's would if it hung.

#include "JackProbe.h"
#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/MediaFiles.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace platform;
using testing_support::WaitFor;

namespace {

constexpr std::int64_t kSecond = 10000000;

bool OnPulse() {
  return qgetenv("TASTIVO_AUDIO_SINK") == "pulsesink";
}

// A sound server of this test alone, so stopping it disturbs no other test.
class SoundServer {
 public:
  SoundServer() : name_(QString("tastivo-lost-%1").arg(QCoreApplication::applicationPid())) {
    if (OnPulse()) {
      pulseDir_ = std::make_unique<QTemporaryDir>("/tmp/tastivo-lost-XXXXXX");
      process_.setProcessEnvironment([&] {
        auto env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "HOME"})
          env.insert(name, pulseDir_->path());
        return env;
      }());
      qputenv("PULSE_SERVER", ("unix:" + pulseDir_->filePath("native")).toUtf8());
    } else {
      qputenv("JACK_DEFAULT_SERVER", name_.toUtf8());
      qputenv("JACK_NO_AUDIO_RESERVATION", "1");
    }
  }
  ~SoundServer() { Stop(); }

  bool Start() { return OnPulse() ? StartPulse() : StartJack(); }

  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }

 private:
  bool StartJack() {
    // Real-time when the machine allows it, as a performer's server runs:
    // without it a busy machine makes the server itself miss short periods.
    QProcess chrt;
    chrt.start("chrt", {"-f", "1", "true"});
    const bool realtime = chrt.waitForFinished(5000) && chrt.exitCode() == 0;
    process_.start("jackd",
                   {"-n", name_, realtime ? "-R" : "-r", "-d", "dummy", "-r", "48000", "-p", "256"});
    if (!process_.waitForStarted(10000)) return false;
    QProcess wait;
    wait.start("jack_wait", {"-s", name_, "-w", "-t", "10"});
    return wait.waitForFinished(15000) && wait.exitCode() == 0;
  }

  bool StartPulse() {
    process_.start(
        "pulseaudio",
        {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-L",
         "module-native-protocol-unix auth-anonymous=1 socket=" + pulseDir_->filePath("native"),
         "-L", "module-null-sink sink_name=lost rate=48000"});
    if (!process_.waitForStarted(10000)) return false;
    return WaitFor(
        [] {
          QProcess info;
          info.start("pactl", {"info"});
          return info.waitForFinished(5000) && info.exitCode() == 0;
        },
        std::chrono::seconds(10));
  }

  QString name_;
  std::unique_ptr<QTemporaryDir> pulseDir_;
  QProcess process_;
};

class OutputLost : public ::testing::Test {
 protected:
  std::string OpenError(const QString& path) {
    try {
      player->Open(path);
    } catch (const EPlayerError& e) {
      return e.what();
    }
    return "opened";
  }

  bool PlayToCompletion() {
    window.Clear();
    player->Play();
    int event = 0;
    WaitFor(
        [&] {
          if (window.Count(PN_MEDIAEVENT) > 0 && event != 1) {
            window.Clear();
            event = player->GetMediaEvent();
          }
          return event == 1;
        },
        std::chrono::seconds(20));
    return event == 1;
  }

  SoundServer server;
  NoticeRecorder window;
  std::unique_ptr<TPlayer> player;
};

TEST_F(OutputLost, ClipsGoOnSilentlyWhileTheServerIsGoneAndTheUserIsToldOnceEachWay) {
  ASSERT_TRUE(server.Start());
  if (e2e::AlsaAsked()) {
    ASSERT_EQ(e2e::PlayAlsaOnJack(testing_support::TestDataDir().toStdString() + "/alsa-lost.conf",
                                  "alsa-lost"),
              "");
  }
  player = std::make_unique<TPlayer>(&window, 0);
  ASSERT_EQ(engine::GstMediaGraph::DefaultAudioSinkName(), OnPulse()          ? "pulsesink"
                                                           : e2e::AlsaAsked() ? "alsasink"
                                                                              : "jackaudiosink");
  ASSERT_EQ(OpenError(media_files::ToneWav()), "opened");
  player->Play();
  ASSERT_TRUE(WaitFor([&] { return player->GetPosition() > kSecond / 10; }));
  EXPECT_EQ(TakeAudioOutputChange(), QString());

  server.Stop();
  QString change;
  ASSERT_TRUE(WaitFor([&] {
    change = TakeAudioOutputChange();
    return !change.isEmpty();
  }));
  EXPECT_TRUE(change.startsWith("The sound output was lost")) << change.toStdString();

  // No key is refused for a missing file; clips keep their time, silently.
  for (const QString& clip : {media_files::ToneWav(), media_files::ToneOgg()}) {
    SCOPED_TRACE(clip.toStdString());
    ASSERT_EQ(OpenError(clip), "opened");
    player->SetRelativePositions(10000, 8000, 10000, 0);
    EXPECT_TRUE(PlayToCompletion());
  }
  EXPECT_EQ(TakeAudioOutputChange(), QString());  // told once

  ASSERT_TRUE(server.Start());
  ASSERT_EQ(OpenError(media_files::ToneWav()), "opened");
  EXPECT_EQ(TakeAudioOutputChange(), "The sound output is back.");
  player->SetRelativePositions(10000, 8000, 10000, 0);
  EXPECT_TRUE(PlayToCompletion());
  EXPECT_EQ(TakeAudioOutputChange(), QString());
}

// PipeWire changes its period as other programs ask for less latency; a
// JACK server may be told to. A clip that plays on goes on sounding.
TEST_F(OutputLost, AClipGoesOnSoundingWhenTheServersPeriodChanges) {
  if (OnPulse() || e2e::AlsaAsked()) GTEST_SKIP() << "a JACK server's period";
  ASSERT_TRUE(server.Start());
  e2e::JackProbe ears("period-ears", 2, 30);
  ASSERT_TRUE(ears.Ok()) << ears.Error();
  player = std::make_unique<TPlayer>(&window, 0);
  player->SetOutputName("period-test");
  ears.Follow("period-test");
  ASSERT_EQ(OpenError(media_files::LongToneWav()), "opened");
  player->Play();
  ASSERT_TRUE(WaitFor([&] { return ears.FollowedConnections("period-test") > 0; }));
  ASSERT_TRUE(WaitFor([&] { return player->GetPosition() > kSecond / 5; }));
  for (const char* frames : {"128", "512"}) {
    SCOPED_TRACE(std::string("period ") + frames);
    QProcess change;
    change.start("jack_bufsize", {frames});
    ASSERT_TRUE(change.waitForFinished(10000));
    ASSERT_EQ(change.exitCode(), 0) << change.readAllStandardError().toStdString();
    // The tone never rests near zero for more than a frame or two; a
    // stretch of silence is the output running dry. A quarter second the
    // server itself broke (an xrun: some client missed a cycle) is heard
    // again, a few times at most.
    std::size_t longest = 0;
    int xruns = 0;
    for (int heard = 0; heard < 5 && (heard == 0 || xruns != 0); ++heard) {
      // The server takes a cycle or two to change over.
      const std::uint64_t from = ears.RecordedUntil() + ears.SampleRate() / 20;
      const int before = ears.Xruns();
      ASSERT_TRUE(ears.WaitForFrame(from + ears.SampleRate() / 4));
      xruns = ears.Xruns() - before;
      std::size_t quiet = 0;
      longest = 0;
      for (float level : ears.Level(from, from + ears.SampleRate() / 4)) {
        quiet = level < 0.01f ? quiet + 1 : 0;
        longest = std::max(longest, quiet);
      }
    }
    EXPECT_LT(longest, 32u) << xruns << " xruns in the last quarter second heard";
  }
  // A clip opened since plays in the new period.
  const std::uint64_t before = ears.RecordedUntil();
  ASSERT_EQ(OpenError(media_files::ToneWav()), "opened");
  player->Play();
  EXPECT_TRUE(WaitFor([&] {
    const auto level = ears.Level(before, ears.RecordedUntil());
    return std::count_if(level.begin(), level.end(), [](float l) { return l > 0.1f; }) > 4800;
  }));
  player->Stop();
}

}  // namespace
