// Loops and rate changes as heard on a JACK server
// (scripts/with-test-services.sh), recorded sample by sample with the
// end-to-end probe. A looped clip's start follows its end with no gap and
// no click, the end-of-clip rules still decide at each end whether to loop,
// and a rate changed while a clip plays changes without a gap.

#include "HeardEdges.h"
#include "JackProbe.h"
#include "app/PlayRules.h"
#include "engine/cue/ArmedStart.h"
#include "engine/cue/ClipHeads.h"
#include "engine/cue/CuePool.h"
#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <iostream>

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>
#include <thread>

using namespace platform;
using testing_support::WaitFor;

namespace {

// A 48 kHz stereo sine at half scale, as float samples.
QString Sine(double hertz, double seconds) {
  const QString name = QString("sine-%1hz.wav").arg(hertz);
  const QString pipeline =
      QString(
          "audiotestsrc wave=sine freq=%1 volume=0.5 samplesperbuffer=4800 num-buffers=%2 ! "
          "audio/x-raw,format=F32LE,rate=48000,channels=2 ! wavenc ! filesink location=%3")
          .arg(hertz)
          .arg(int(seconds * 10));
  return testing_support::CachedFile(name, pipeline, [&](const QString& partial) {
    QProcess process;
    process.start("gst-launch-1.0",
                  QStringList{"-q"} + QProcess::splitCommand(pipeline.arg(partial)));
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
      throw std::runtime_error("could not make " + name.toStdString());
  });
}

// How far a half-scale sine steps between samples at 48 kHz.
float SineStep(double hertz) {
  return float(0.5 * 2 * std::numbers::pi * hertz / 48000);
}

// A keyboard window's player, its end-of-clip rules and what it sounds like.
class LoopsOnJack : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(engine::DefaultAudioOutput().Sink, "jackaudiosink")
        << "needs a running JACK server (scripts/with-test-services.sh)";
    const std::string pid = std::to_string(getpid());
    probe = std::make_unique<e2e::JackProbe>("loops-ears-" + pid, 2, 90);
    ASSERT_TRUE(probe->Ok()) << probe->Error();
    ASSERT_EQ(probe->SampleRate(), 48000u) << "the clips are made at 48 kHz";
    client = "loops-" + pid;
    player = std::make_unique<TPlayer>(&window, 0);
    player->SetOutputName(QString::fromStdString(client));
    probe->Follow(client);
    // The window's end-of-clip rules, with the key held. A loop given
    // ahead (Publish) is made by the graph itself and told afterwards.
    window.onNotice = [&](int code) {
      if (code != PN_MEDIAEVENT) return;
      const int event = player->GetMediaEvent();
      if (event == engine::EC_LOOPED) ++ends, ++restarts;
      if (event != engine::EC_COMPLETE) return;
      ++ends;
      switch (app::EndOfClipAction(player->State == fsPlaying, loop, sustain, true)) {
        case app::EndOfClip::Restart:
          ++restarts;
          player->SetRelativePositions(10000, min, max, 0);
          break;
        case app::EndOfClip::Stop:
          player->Stop();
          break;
        case app::EndOfClip::Nothing:
          break;
      }
    };
  }

  // The rules' answer given ahead, as a window gives it whenever it
  // changes.
  void Publish() {
    player->LoopAtEnd(app::EndOfClipAction(true, loop, sustain, true) == app::EndOfClip::Restart,
                      10000, min, max, 0);
  }

  // As a window plays a key: the answer to the clip's end is given before
  // it plays.
  void PressKey(const QString& clip, double speed = 1.0) {
    heard_edges::PressKey(*player, clip, min, max, speed, [&] { Publish(); });
    ASSERT_TRUE(WaitFor([&] { return probe->FollowedConnections(client) > 0; }));
  }

  uint64_t Now() const { return probe->RecordedUntil(); }

  bool RecordUntil(uint64_t frame) {
    return WaitFor([&] { return Now() >= frame; });
  }

  std::optional<uint64_t> Onset(uint64_t from, uint64_t to) const {
    return heard_edges::Onset(*probe, from, to);
  }

  // The frame after the last sound in [from, to).
  uint64_t SoundEnd(uint64_t from, uint64_t to) const {
    const auto level = probe->Level(from, to);
    std::size_t last = level.size();
    while (last > 0 && level[last - 1] < 0.001f) --last;
    return from + last;
  }

  float LargestStep(uint64_t from, uint64_t to) const {
    return heard_edges::LargestStep(*probe, from, to);
  }

  // The longest run of frames where both channels are below `level`: a
  // sine passes zero in a frame or two, a gap lasts. Ramped out and in, it
  // touches silence for a frame; a gap is silent throughout.
  std::size_t LongestQuiet(uint64_t from, uint64_t to, float level = 0.02f) const {
    const auto levels = probe->Level(from, to);
    std::size_t longest = 0, run = 0;
    for (float l : levels) {
      run = l < level ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    return longest;
  }

  // Whole periods of silence cut into loud sound. No edge of ours looks
  // like that: it is the output running dry, or the server missing a cycle
  // (which it reports; such a press tells nothing and is played again).
  bool DroppedOut(uint64_t from, uint64_t to) const {
    const std::size_t period = probe->Period();
    const auto s = probe->Level(from, to);
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      run = s[i] == 0.0f ? run + 1 : 0;
      if (run >= period && i + 1 < s.size() && s[i + 1] > 0.05f) return true;
    }
    return false;
  }

  // Frequency of the louder channel from its upward zero crossings.
  double Pitch(uint64_t from, uint64_t to) const {
    const auto s = probe->Samples(0, from, to);
    std::size_t first = 0, last = 0, crossings = 0;
    for (std::size_t i = 1; i < s.size(); ++i)
      if (s[i - 1] < 0 && s[i] >= 0) {
        if (crossings++ == 0) first = i;
        last = i;
      }
    return crossings < 2 ? 0 : double(crossings - 1) * 48000 / double(last - first);
  }

  void Save(const char* name, uint64_t from, uint64_t to) {
    probe->WriteWav(testing_support::TestDataDir().toStdString() + "/" + name, from, to);
  }

  // Keeps the machine busy on purpose when asked (TASTIVO_TEST_LOAD=1).
  testing_support::MachineLoad load;
  std::unique_ptr<e2e::JackProbe> probe;
  std::string client;
  NoticeRecorder window;
  std::unique_ptr<TPlayer> player;
  int min = 0, max = 10000;
  bool loop = true, sustain = false;
  int ends = 0, restarts = 0;
};

// A sine looped between random marks: each seam follows the end without a
// gap and steps no further than a crossfade of the tone may; once Loop is
// unticked, the next end is the last.
TEST_F(LoopsOnJack, LoopFollowsItsEndWithoutGapOrClick) {
  const QString clip = Sine(440, 4);
  std::random_device device;
  const unsigned seed = device();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 4) << "the server missed cycles too often to tell";
    const int xruns = probe->Xruns();
    // The clip is 4 s long: a loop of 0.2 to 0.5 s starting within 1 s.
    min = std::uniform_int_distribution<int>(0, 2500)(random);
    if (attempt == 0) min = 0;  // a loop from the file's start has no ramp in of its own
    max = min + std::uniform_int_distribution<int>(500, 1250)(random);
    loop = true;
    ends = restarts = 0;
    const uint64_t mark = Now();
    PressKey(clip);
    ASSERT_TRUE(WaitFor([&] { return Onset(mark, Now()).has_value(); }));
    const uint64_t onset = *Onset(mark, Now());
    ASSERT_TRUE(WaitFor([&] { return restarts >= 4; }));
    const uint64_t length = uint64_t(4.0 * 48000 * (max - min) / 10000);
    ASSERT_TRUE(RecordUntil(Now() + length / 2));
    const uint64_t looped = Now();
    loop = false;
    Publish();
    const int endsBefore = ends, restartsBefore = restarts;
    ASSERT_TRUE(WaitFor([&] { return ends > endsBefore; }));
    // Then silence: no further pass.
    ASSERT_TRUE(WaitFor([&] { return Now() > SoundEnd(onset, Now()) + 48000 * 3 / 10; }));
    const uint64_t end = SoundEnd(onset, Now());
    player->Stop();
    if (probe->Xruns() != xruns) continue;
    EXPECT_FALSE(DroppedOut(onset + 480, end - 480)) << "the sound dropped out";

    SCOPED_TRACE("marks " + std::to_string(min) + ".." + std::to_string(max));
    const float step = LargestStep(onset + 480, looped);
    const std::size_t quiet = LongestQuiet(onset + 480, looped);
    const std::size_t silent = LongestQuiet(onset + 480, looped, 1e-5f);
    // A seam ramped in as well as out (a loop from inside the clip) stays
    // quiet for up to half a swing of the tone longer, as the marks fall on
    // it; it never goes silent.
    const std::size_t quietAllowed = min == 0 ? 48 : 48 + 48000 / 440 / 2;
    if (step > 2 * SineStep(440) || quiet > quietAllowed || silent > 4)
      Save("loop-failed.wav", onset, looped);
    EXPECT_LE(step, 2 * SineStep(440)) << "a seam clicked";
    EXPECT_LE(quiet, quietAllowed) << "a seam left a gap";
    EXPECT_LE(silent, 4u) << "a seam left a gap";
    EXPECT_EQ(restarts, restartsBefore) << "Loop unticked ends the looping";
    EXPECT_LT(end - looped, length + 48000 / 10) << "the clip looped once more";
    // The last pass plays to its end, ramped down there.
    EXPECT_LE(LargestStep(end - 960, end + 96), 2 * SineStep(440));
    return;
  }
}

// A whole clip, cued ahead as a keyboard window's keys are, loops without a
// gap from its very first pass: its decoder comes already set to end with a
// segment, not an end of stream that only a flush gets past.
TEST_F(LoopsOnJack, AClipCuedAheadLoopsWithoutGapFromItsFirstPass) {
  const QString clip = Sine(440, 0.5);  // a whole number of cycles: no seam of its own
  player->CueClips({clip});
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 4) << "the server missed cycles too often to tell";
    const int xruns = probe->Xruns();
    // Cued again for the next press.
    ASSERT_TRUE(WaitFor([&] {
      return engine::CuePool::Instance().StatusOf(clip.toStdString()) ==
             engine::CuePool::Status::Ready;
    }));
    // Another clip first, so the key takes the cued decoder, not the one
    // kept from its last press.
    PressKey(Sine(660, 0.5));
    player->Stop();
    ends = restarts = 0;
    const uint64_t mark = Now();
    PressKey(clip);
    ASSERT_TRUE(WaitFor([&] { return Onset(mark, Now()).has_value(); }));
    const uint64_t onset = *Onset(mark, Now());
    ASSERT_TRUE(WaitFor([&] { return restarts >= 2; }));
    ASSERT_TRUE(RecordUntil(Now() + 4800));
    const uint64_t looped = Now();
    player->Stop();
    if (probe->Xruns() != xruns) continue;
    EXPECT_FALSE(DroppedOut(onset + 480, looped)) << "the sound dropped out";
    const float step = LargestStep(onset + 480, looped);
    const std::size_t quiet = LongestQuiet(onset + 480, looped);
    if (step > 2 * SineStep(440) || quiet > 48) Save("cued-loop-failed.wav", onset, looped);
    EXPECT_LE(quiet, 48u) << "the first seam left a gap";
    EXPECT_LE(step, 2 * SineStep(440)) << "the first seam clicked";
    return;
  }
}

// A loop given ahead comes on time while the window's thread is busy for
// longer than the loop's lead at each end: the graph makes it by itself,
// and the window learns of it afterwards. A clip opened anew loops so from
// its first pass.
TEST_F(LoopsOnJack, ALoopGivenAheadIsOnTimeWhileTheWindowIsBusy) {
  const QString clip = Sine(440, 0.5);  // a whole number of cycles: no seam of its own
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 4) << "the server missed cycles too often to tell";
    const int xruns = probe->Xruns();
    ends = restarts = 0;
    const uint64_t mark = Now();
    PressKey(clip);
    ASSERT_TRUE(WaitFor([&] { return Onset(mark, Now()).has_value(); }));
    const uint64_t onset = *Onset(mark, Now());
    // Three seams, each met by a window that answers nothing for 100 ms
    // at a time.
    while (Now() < onset + 48000 * 17 / 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      QCoreApplication::processEvents();
    }
    const uint64_t looped = Now();
    player->Stop();
    if (probe->Xruns() != xruns) continue;
    EXPECT_FALSE(DroppedOut(onset + 480, looped)) << "the sound dropped out";
    const std::size_t quiet = LongestQuiet(onset + 480, looped);
    const float step = LargestStep(onset + 480, looped);
    if (step > 2 * SineStep(440) || quiet > 48) Save("busy-loop-failed.wav", onset, looped);
    EXPECT_LE(quiet, 48u) << "a seam left a gap";
    EXPECT_LE(step, 2 * SineStep(440)) << "a seam clicked";
    EXPECT_EQ(restarts, 3) << "each end was told once, as looped";
    return;
  }
}

// Sustain without Loop stops the clip at its end; what the output still
// held of the clip is heard to the end all the same.
TEST_F(LoopsOnJack, StopAtTheEndPlaysTheTailOut) {
  const QString clip = Sine(440, 4);
  loop = false;
  sustain = true;
  min = 0;
  max = 1250;  // 0.5 s
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 4) << "the server missed cycles too often to tell";
    const int xruns = probe->Xruns();
    ends = 0;
    const uint64_t mark = Now();
    PressKey(clip);
    ASSERT_TRUE(WaitFor([&] { return Onset(mark, Now()).has_value(); }));
    const uint64_t onset = *Onset(mark, Now());
    ASSERT_TRUE(WaitFor([&] { return ends == 1 && player->State == fsStopped; }));
    ASSERT_TRUE(RecordUntil(Now() + 48000 * 3 / 10));
    const uint64_t end = SoundEnd(onset, Now());
    if (probe->Xruns() != xruns) continue;
    EXPECT_FALSE(DroppedOut(onset + 480, end - 480)) << "the sound dropped out";
    // The whole half second, less a few ms, ramped down.
    EXPECT_GT(end - onset, 24000u - 48 * 5) << "the end was cut";
    EXPECT_LE(LargestStep(end - 960, end + 96), 2 * SineStep(440));
    return;
  }
}

// The rate changed while a sine plays, as the rate bar does it: no gap, no
// click, and the pitch follows.
TEST_F(LoopsOnJack, RateChangesWithoutGap) {
  const QString clip = Sine(440, 4);
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 4) << "the server missed cycles too often to tell";
    const int xruns = probe->Xruns();
    const uint64_t mark = Now();
    PressKey(clip);
    ASSERT_TRUE(WaitFor([&] { return Onset(mark, Now()).has_value(); }));
    const uint64_t onset = *Onset(mark, Now());
    ASSERT_TRUE(RecordUntil(onset + 48000 / 5));
    const int rateSets = app::SetRateUntilExact(
        1.5, [&](double r) { player->SetRate(r); }, [&] { return player->GetRate(); });
    EXPECT_EQ(rateSets, 1);
    const uint64_t changed = Now();
    ASSERT_TRUE(RecordUntil(changed + 48000 * 6 / 10));
    const uint64_t to = Now();
    const double position = double(player->GetPosition()) / 1e7;
    player->Stop();
    if (probe->Xruns() != xruns) continue;
    EXPECT_FALSE(DroppedOut(onset + 480, to)) << "the sound dropped out";
    const float step = LargestStep(onset + 480, to);
    const std::size_t quiet = LongestQuiet(onset + 480, to);
    if (step > 2 * SineStep(660) || quiet > 48) Save("rate-change-failed.wav", onset, to);
    EXPECT_LE(step, 2 * SineStep(660)) << "the change clicked";
    EXPECT_LE(quiet, 48u) << "the change left a gap";
    EXPECT_NEAR(Pitch(onset + 480, onset + 48000 / 5), 440, 5);
    EXPECT_NEAR(Pitch(to - 48000 / 4, to), 660, 5) << "the pitch follows the rate";
    // Positions are still clip time: 0.2 s at 1, then up to 0.6 s at 1.5
    // (less what the output held at the old rate).
    EXPECT_NEAR(position, 0.2 + 0.6 * 1.5, 0.25);
    return;
  }
}

// A key armed on the output starts from its clip's head, and the graph
// goes on from where the head ends: with no gap and no click when the
// window is quick, and never from a place already heard when it is slow
// (a clip not cued yet on the first press): the clip is heard once, whole,
// ramped where its sound breaks. The window's part is played while the
// head has just started, has played most of itself, and has ended; at
// normal speed and at a rate, where the head is read at the key's rate.
TEST_F(LoopsOnJack, AnArmedStartGoesOnFromItsHeadAndNeverBack) {
  const QString clip = Sine(440, 1);  // a whole number of cycles: no seam of its own
  sustain = true;                     // stopped at its end
  loop = false;
  // The output opens with the clip, which the player then keeps ready: the
  // quick window finds it so, as a key played before does.
  PressKey(clip);
  player->Stop();
  const auto armed = player->Armed();
  ASSERT_TRUE(armed);
  ASSERT_TRUE(WaitFor([&] { return armed->OutputRate() == 48000; }));
  // Frames of sound in [from, to), across a sine's zero crossings.
  const auto heardFor = [&](uint64_t from, uint64_t to) {
    const auto level = probe->Level(from, to);
    std::size_t frames = 0, quiet = 0;
    for (float l : level) {
      quiet = l < 0.01f ? quiet + 1 : 0;
      if (quiet <= 8) ++frames;
    }
    return frames;
  };
  enum class Window { Quick, Slow, AfterTheHead };
  for (const double speed : {1.0, 1.5})
    for (const Window window : {Window::Quick, Window::Slow, Window::AfterTheHead}) {
      SCOPED_TRACE("rate " + std::to_string(speed) + ", window " + std::to_string(int(window)));
      const auto head = engine::ReadClipHead({clip.toStdString(), 0, speed, 48000, 2, 12000});
      ASSERT_TRUE(head);
      armed->Publish(0, engine::ArmedStart::Verdict::Plays, head);
      // The clip's second, and the steepest step of its tone, as heard.
      const auto clipFrames = std::size_t(std::lround(48000 / speed));
      const float toneStep = SineStep(440 * speed);
      for (int attempt = 0;; ++attempt) {
        ASSERT_LT(attempt, 4) << "the server missed cycles too often to tell";
        const int xruns = probe->Xruns();
        ends = 0;
        const uint64_t mark = Now();
        ASSERT_TRUE(armed->Arm(0));
        ASSERT_TRUE(WaitFor([&] { return Onset(mark, Now()).has_value(); }));
        const uint64_t onset = *Onset(mark, Now());
        if (window == Window::Slow) {
          ASSERT_TRUE(RecordUntil(onset + 48000 / 5));
        } else if (window == Window::AfterTheHead) {
          ASSERT_TRUE(WaitFor([&] { return !armed->Sounding() && Now() > onset + 12000; }));
        }
        player->Open(clip);
        player->SetRelativePositions(10000, 0, 10000, 0);
        player->SetRelativeVolume(100, 1, 0, 0, 0);
        player->SetRate(speed);
        player->ContinueArmed(0, 10000, 0);
        // How far into the head the window came: on a busy machine this
        // thread, too, may be late.
        const uint64_t cameAt = Now() - onset;
        player->Play();
        ASSERT_TRUE(WaitFor([&] { return ends == 1 && player->State == fsStopped; }));
        ASSERT_TRUE(RecordUntil(Now() + 48000 / 5));
        const uint64_t end = SoundEnd(onset, Now());
        if (probe->Xruns() != xruns) continue;
        // A graph late for the head leaves a gap too, but ramped at both ends.
        EXPECT_FALSE(DroppedOut(onset + 480, end - 480)) << "the sound dropped out";
        const float step = LargestStep(onset + 480, end - 480);
        const std::size_t quiet = LongestQuiet(onset + 480, end - 480);
        const std::size_t heard = heardFor(onset, end);
        // The clip's end is heard up to 20 ms short, as the window stops it;
        // a place heard again would add tens of ms.
        if (step > 2 * toneStep || heard > clipFrames + 480) Save("armed-failed.wav", onset, end);
        EXPECT_LE(step, 2 * toneStep) << "the sound clicked";
        EXPECT_LE(heard, clipFrames + 480) << "a place of the clip was heard again";
        EXPECT_GE(heard, clipFrames - 960) << "some of the clip was never heard";
        // Quick: with half the head still to play.
        if (window == Window::Quick && cameAt < 6000) {
          EXPECT_LE(quiet, 48u) << "the graph's sound left a gap";
        } else if (window == Window::Quick) {
          std::cout << "[   NOTE   ] the quick window came " << cameAt
                    << " frames into the head: judged as a slow one\n";
        }
        break;
      }
    }
}

}  // namespace
