// A key press as the keyboard window makes it, on the real GStreamer graph:
// where each segment ends, clips whose length is unknown at first, and how
// much seeking one press costs.

#include "engine/graph/FrameCount.h"
#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/MediaFiles.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace platform;
using testing_support::WaitFor;

namespace {

constexpr std::int64_t kSecond = 10000000;
constexpr std::int64_t kMs = kSecond / 1000;

class KeyPressOnGStreamer : public ::testing::Test {
 protected:
  void SetUp() override {
    graph = std::make_shared<engine::GstMediaGraph>();
    player = std::make_unique<TPlayer>(&window, 0, graph);
  }

  // What the keyboard window does for one key: open, marks, volume, rate
  // until it reads back, then play.
  void PressKey(const QString& clip, int min, int max, double rate) {
    player->Open(clip);
    player->SetRelativePositions(10000, min, max, 0);
    player->SetRelativeVolume(100, 1, 0, 0, 0);
    player->SetRate(1.0);
    for (int i = 0; i < 3 && player->GetRate() != rate; ++i) player->SetRate(rate);
    (void)player->Duration;
    player->GetPosition();
    player->Play();
  }

  // The next completion the graph reports, with the position it was read
  // at; -1 when none came in time.
  std::int64_t NextCompletion(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    std::int64_t at = -1;
    WaitFor(
        [&] {
          if (window.Count(PN_MEDIAEVENT) == 0) return false;
          window.Clear();
          while (const int code = player->GetMediaEvent())
            if (code == 1 && at < 0) at = player->GetPosition();
          return at >= 0;
        },
        deadline);
    return at;
  }

  NoticeRecorder window;
  std::shared_ptr<engine::GstMediaGraph> graph;
  std::unique_ptr<TPlayer> player;
};

// The end of the segment that was playing when the key came again must not
// end (or, looping, restart) the new one: each completion has to come at the
// stop mark of the segment it reports.
TEST_F(KeyPressOnGStreamer, RetriggerRightAtTheStopMarkEndsOnlyAtTheNewStopMark) {
  constexpr int kMin = 5000, kMax = 5500;  // 1.0 s to 1.1 s of the 2 s tone
  constexpr std::int64_t kStop = 11 * kSecond / 10;
  player->Open(media_files::ToneWav());
  player->SetRelativePositions(10000, kMin, kMax, 0);
  player->Play();
  int early = 0;
  for (int i = 0; i < 60; ++i) {
    // Close in on the old segment's end without sleeping, then press again;
    // a completion of the old segment may be on its way at that moment.
    const std::int64_t lead = (i % 8) * kMs / 2;
    QDeadlineTimer deadline(std::chrono::seconds(5));
    while (!deadline.hasExpired() && window.Count(PN_MEDIAEVENT) == 0 &&
           player->GetPosition() < kStop - lead)
      QCoreApplication::processEvents();
    player->SetRelativePositions(10000, kMin, kMax, 0);
    window.Clear();
    const std::int64_t at = NextCompletion();
    ASSERT_GE(at, 0) << "no completion after press " << i;
    if (at < kStop - 30 * kMs) ++early;
    player->SetRelativePositions(10000, kMin, kMax, 0);
    window.Clear();
  }
  EXPECT_EQ(early, 0) << "completions taken from the segment before";
}

// Looping as the window does it, on the completion itself.
TEST_F(KeyPressOnGStreamer, LoopingOnEachCompletionPlaysEachRoundWhole) {
  constexpr std::int64_t kStart = kSecond / 2, kStop = 7 * kSecond / 10;
  player->Open(media_files::ToneWav());
  player->SetRelativePositions(10000, 2500, 3500, 0);
  player->Play();
  for (int round = 0; round < 15; ++round) {
    const std::int64_t at = NextCompletion();
    ASSERT_GE(at, 0) << "round " << round;
    EXPECT_GE(at, kStop - 30 * kMs) << "round " << round;
    player->SetRelativePositions(10000, 2500, 3500, 0);
    EXPECT_NEAR(player->GetPosition(), kStart, 30 * kMs);
  }
}

// Each decoder must let the graph tell which segment an end closes, or a key
// with marks would never report its end.
TEST_F(KeyPressOnGStreamer, EveryFormatReportsTheEndOfAMarkedSegment) {
  QWidget owner;
  player->HandleVideo(&owner);
  for (const QString& clip :
       {media_files::ToneWav(), media_files::ToneOgg(), media_files::ToneMp3(),
        media_files::ToneRawMp3(), media_files::ShortMidi(), media_files::RedAvi(),
        media_files::RedSilentAvi(), media_files::GreenMpg(), media_files::BlueDivx()}) {
    SCOPED_TRACE(clip.toStdString());
    PressKey(clip, 1000, 8000, 1.0);
    const std::int64_t at = NextCompletion();
    ASSERT_GE(at, 0);
    if (player->Duration > 0) {
      EXPECT_NEAR(at, player->Duration * 8 / 10, kSecond / 10);
    }
    // Again while it rests at the stop mark, as a re-trigger.
    player->SetRelativePositions(10000, 1000, 8000, 0);
    EXPECT_GE(NextCompletion(), 0);
    player->Stop();
  }
}

// A bare stream (MP3 frames without a seek table, raw AAC) says nothing of
// its length, and its parser has read too little at preroll to guess: the
// frames are counted, so its marks hold from its very first press.
TEST_F(KeyPressOnGStreamer, ABareStreamKnowsItsLengthAndItsMarksAtItsFirstPress) {
  for (const QString& clip : {media_files::ToneRawMp3(), media_files::ToneAdts()}) {
    SCOPED_TRACE(clip.toStdString());
    graph = std::make_shared<engine::GstMediaGraph>();
    player = std::make_unique<TPlayer>(&window, 0, graph);
    PressKey(clip, 5000, 7500, 1.0);
    EXPECT_NEAR(player->Duration, 2 * kSecond, kSecond / 10);
    EXPECT_NEAR(player->GetPosition(), player->Duration / 2, kMs);
    const std::int64_t at = NextCompletion();
    ASSERT_GE(at, 0);
    EXPECT_NEAR(at, player->Duration * 3 / 4, kSecond / 20);
    // The parser's own guesses while it plays do not move the marks.
    EXPECT_NEAR(player->Duration, 2 * kSecond, kSecond / 10);
    player->SetRelativePositions(10000, 0, 10000, 0);
    EXPECT_GE(NextCompletion(), player->Duration - kSecond / 20);
  }
}

// The count itself: exact for constant and variable bit rates, and nothing
// for what is not a stream of frames, whatever its name.
TEST(FrameCount, CountsBareStreamsAndNothingElse) {
  for (const QString& clip :
       {media_files::ToneRawMp3(), media_files::ToneVbrMp3(), media_files::ToneAdts()}) {
    SCOPED_TRACE(clip.toStdString());
    const auto count = engine::CountAudioFrames(clip.toStdString());
    ASSERT_TRUE(count.has_value());
    // 2 s in whole frames, with the encoder's own delay.
    EXPECT_GT(count->LengthNs(), 1950000000);
    EXPECT_LT(count->LengthNs(), 2100000000);
  }
  for (const QString& other : {media_files::ToneWav(), media_files::Corrupt()})
    EXPECT_FALSE(engine::CountAudioFrames(other.toStdString()).has_value()) << other.toStdString();
  // A FIFO with no writer is never opened.
  QTemporaryDir dir;
  const QString fifo = dir.filePath("fifo.mp3");
  ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  EXPECT_FALSE(engine::CountAudioFrames(fifo.toStdString()).has_value());
}

TEST_F(KeyPressOnGStreamer, OneKeyPressSeeksAtMostOnce) {
  struct Case {
    const char* name;
    QString clip;
    int min, max;
    double rate;
    int seeks;
  };
  const QString wav = media_files::ToneWav(), mp3 = media_files::ToneMp3();
  for (const Case& c :
       {Case{"whole clip", wav, 0, 10000, 1.0, 0}, Case{"marks", wav, 2500, 7500, 1.0, 1},
        Case{"marks and rate", mp3, 2500, 7500, 1.5, 1}, Case{"rate alone", mp3, 0, 10000, 0.5, 1},
        Case{"same clip again", mp3, 2500, 7500, 1.5, 1}}) {
    SCOPED_TRACE(c.name);
    player->Stop();
    const int before = graph->FlushingSeeks();
    PressKey(c.clip, c.min, c.max, c.rate);
    EXPECT_EQ(graph->FlushingSeeks() - before, c.seeks);
    EXPECT_DOUBLE_EQ(player->GetRate(), c.rate);
    const std::int64_t at = NextCompletion();
    ASSERT_GE(at, 0);
    EXPECT_NEAR(at, player->Duration * c.max / 10000, kSecond / 20);
  }
}

// Folding the seeks must not change what the window sees.
TEST_F(KeyPressOnGStreamer, KeyPressReadsBackWhatWasSetBeforePlaying) {
  player->Open(media_files::ToneWav());
  window.Clear();
  player->SetRelativePositions(10000, 2500, 7500, 0);
  EXPECT_NEAR(player->GetPosition(), kSecond / 2, kMs);
  EXPECT_EQ(player->GetRelativePosition(10000, 0), 2500);
  player->SetRate(1.0);
  player->SetRate(2.0);
  EXPECT_DOUBLE_EQ(player->GetRate(), 2.0);
  EXPECT_NEAR(player->GetPosition(), kSecond / 2, kMs);
  player->Play();
  EXPECT_EQ(window.codes, (std::vector<int>{PN_PLAYING}));
  EXPECT_TRUE(WaitFor([&] { return player->GetPosition() > 6 * kSecond / 10; }));
  const std::int64_t at = NextCompletion();
  EXPECT_NEAR(at, 3 * kSecond / 2, kSecond / 20);
}

}  // namespace
