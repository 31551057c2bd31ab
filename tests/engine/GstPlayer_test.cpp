// The player on the real GStreamer graph, with clips the tests generate.

#include "engine/cue/CuePool.h"
#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/MediaFiles.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>

using namespace platform;
using testing_support::WaitFor;

namespace {

using Codes = std::vector<int>;
constexpr std::int64_t kSecond = 10000000;

class PlayerOnGStreamer : public ::testing::Test {
 protected:
  void SetUp() override {
    graph = std::make_shared<engine::GstMediaGraph>();
    player = std::make_unique<TPlayer>(&window, 0, graph);
  }

  // Plays until the graph reports the end of the clip (or its stop mark).
  bool PlayToCompletion() {
    window.Clear();
    player->Play();
    int event = 0;
    const bool ended = WaitFor(
        [&] {
          if (window.Count(PN_MEDIAEVENT) > 0 && event == 0) event = player->GetMediaEvent();
          return event != 0;
        },
        std::chrono::seconds(20));
    return ended && event == 1;
  }

  std::string OpenError(const QString& path) {
    try {
      player->Open(path);
    } catch (const EPlayerError& e) {
      lastDetail = e.Detail();
      return e.Text();
    }
    return "opened";
  }

  // A key pressed while its clip loads says so; pressed again, it plays. A
  // busy machine may take longer than one press waits.
  std::string OpenPressingAgain(const QString& path) {
    std::string opened;
    WaitFor([&] { return (opened = OpenError(path)).find("still loading") == std::string::npos; },
            std::chrono::seconds(10));
    return opened;
  }

  NoticeRecorder window;
  std::shared_ptr<engine::GstMediaGraph> graph;
  std::unique_ptr<TPlayer> player;
  std::string lastDetail;
};

TEST_F(PlayerOnGStreamer, OpenPlayStopAndCloseSendTheirNotices) {
  player->Open(media_files::ToneWav());
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_NOVIDEO, PN_LOADED, PN_OPENED}));
  EXPECT_EQ(player->State, fsOpened);
  EXPECT_NEAR(player->Duration, 2 * kSecond, kSecond / 100);

  window.Clear();
  player->Play();
  EXPECT_EQ(window.codes, (Codes{PN_PLAYING}));
  EXPECT_EQ(player->State, fsPlaying);
  ASSERT_TRUE(WaitFor([&] { return player->GetPosition() > kSecond / 10; }));

  window.Clear();
  player->Stop();
  EXPECT_EQ(window.codes, (Codes{PN_STOPPING, PN_STOPPED}));
  const std::int64_t cued = player->GetPosition();
  EXPECT_GT(cued, 0);
  player->Play();
  EXPECT_GE(player->GetPosition(), cued - kSecond / 50);  // goes on from where it stopped

  window.Clear();
  player->Close();
  EXPECT_EQ(window.codes, (Codes{PN_STOPPING, PN_STOPPED, PN_CLOSED}));
}

TEST_F(PlayerOnGStreamer, CompletesAtTheStopMarkAndKeepsPlaying) {
  player->Open(media_files::ToneWav());
  player->SetRelativePositions(10000, 2500, 5000, 0);  // 0.5 s to 1.0 s
  EXPECT_NEAR(player->GetPosition(), kSecond / 2, kSecond / 100);
  ASSERT_TRUE(PlayToCompletion());
  EXPECT_EQ(player->State, fsPlaying);
  EXPECT_NEAR(player->GetPosition(), kSecond, kSecond / 50);
  EXPECT_NEAR(player->GetRelativePosition(10000, 0), 5000, 10);

  // Looping: the graph is still running, a new range plays again.
  player->SetRelativePositions(10000, 2500, 5000, 0);
  window.Clear();
  ASSERT_TRUE(WaitFor([&] { return window.Count(PN_MEDIAEVENT) > 0; }, std::chrono::seconds(10)));
  EXPECT_EQ(player->GetMediaEvent(), 1);
}

// A program stream as FFmpeg writes it: GStreamer's demuxer alone would end
// every segment with a stop a quarter of a second after its start. Opened
// cold or cued at its marks, the key plays its whole segment, and again
// when it loops.
TEST_F(PlayerOnGStreamer, AProgramStreamFromFfmpegPlaysToItsStopMarkAndLoops) {
  const QString clip = media_files::FfmpegMpg();  // 4 s
  for (const bool cued : {false, true}) {
    SCOPED_TRACE(cued ? "cued" : "cold");
    player.reset();
    graph = std::make_shared<engine::GstMediaGraph>();
    player = std::make_unique<TPlayer>(&window, 0, graph);
    if (cued) {
      player->CueClips(std::vector<engine::ClipToCue>{{clip.toStdString(), 2500, 7500}});
      ASSERT_TRUE(WaitFor([&] {
        return engine::CuePool::Instance().StatusOf(clip.toStdString()) ==
               engine::CuePool::Status::Ready;
      }));
    }
    player->Open(clip);
    player->SetRelativePositions(10000, 2500, 7500, 0);  // 1 s to 3 s
    std::int64_t before = graph->AudioTaken();
    ASSERT_TRUE(PlayToCompletion());
    EXPECT_NEAR(graph->AudioTaken() - before, 2 * kSecond, kSecond / 10);

    before = graph->AudioTaken();
    window.Clear();
    player->SetRelativePositions(10000, 2500, 7500, 0);
    ASSERT_TRUE(WaitFor([&] { return window.Count(PN_MEDIAEVENT) > 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(player->GetMediaEvent(), 1);
    EXPECT_NEAR(graph->AudioTaken() - before, 2 * kSecond, kSecond / 10);
    player->Close();
  }
  engine::CuePool::Instance().Clear();
}

TEST_F(PlayerOnGStreamer, DoubleRateHalvesThePlayingTime) {
  player->Open(media_files::ToneWav());
  player->SetRelativePositions(10000, 0, 5000, 0);  // 1 s of clip
  ASSERT_TRUE(PlayToCompletion());
  const double normal = graph->RunningTime();

  player->Open(media_files::ToneWav());
  player->SetRate(1.0);
  player->SetRate(2.0);
  EXPECT_DOUBLE_EQ(player->GetRate(), 2.0);
  player->SetRelativePositions(10000, 0, 5000, 0);
  ASSERT_TRUE(PlayToCompletion());
  const double fast = graph->RunningTime();
  EXPECT_NEAR(fast / normal, 0.5, 0.15);
}

// A decoder kept for the same key coming again must not play a file that
// was replaced under the same name, size and modification time (cp -p,
// rsync -t, unzipping): the new clip here lasts twice as long.
TEST_F(PlayerOnGStreamer, AClipReplacedWithItsSizeAndTimeKeptPlaysItsNewContent) {
  QTemporaryDir dir;
  const QString path = dir.filePath("clip.wav");
  const auto bytes = [](const QString& from) {
    QFile file(from);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  const QByteArray shortClip = bytes(media_files::ToneWav());
  const QByteArray longClip = bytes(media_files::ToneWavHalfRate());
  ASSERT_EQ(shortClip.size(), longClip.size());
  const auto write = [](const QString& to, const QByteArray& data) {
    QFile file(to);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
  };
  const auto playAndClose = [&] {
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->GetPosition() > 0; }));
    player->Close();  // the decoder stays, for the same key again
  };
  write(path, shortClip);
  const QDateTime modified = QFileInfo(path).lastModified();
  player->Open(path);
  EXPECT_NEAR(player->Duration, 2 * kSecond, kSecond / 10);
  playAndClose();

  // Rewritten in place, its time put back.
  write(path, longClip);
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
  }
  player->Open(path);
  EXPECT_NEAR(player->Duration, 4 * kSecond, kSecond / 10);
  playAndClose();

  // Replaced by another file renamed over it, with the same time.
  const QString replacement = dir.filePath("new.wav");
  write(replacement, shortClip);
  {
    QFile file(replacement);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
  }
  ASSERT_EQ(std::rename(replacement.toLocal8Bit().constData(), path.toLocal8Bit().constData()), 0);
  player->Open(path);
  EXPECT_NEAR(player->Duration, 2 * kSecond, kSecond / 10);
  EXPECT_TRUE(PlayToCompletion());
}

// A clip that exposes new streams while it plays (the next chain of a
// chained Ogg) keeps sounding through the same output, and nothing it added
// stays in the graph to hold up the next clip.
TEST_F(PlayerOnGStreamer, AChainedOggSoundsToItsEndAndTheNextClipOpens) {
  player->Open(media_files::ChainedOgg());
  const std::int64_t before = graph->AudioTaken();
  ASSERT_TRUE(PlayToCompletion());
  EXPECT_GT(graph->AudioTaken() - before, 35 * kSecond / 10);  // both chains were heard

  EXPECT_EQ(OpenError(media_files::ToneWav()), "opened") << lastDetail;
  EXPECT_TRUE(PlayToCompletion());
  EXPECT_EQ(OpenError(media_files::ChainedOgg()), "opened") << lastDetail;
  player->Play();
  ASSERT_TRUE(WaitFor([&] { return player->GetPosition() > 25 * kSecond / 10; }));
  EXPECT_EQ(OpenError(media_files::ToneMp3()), "opened") << lastDetail;
  EXPECT_TRUE(PlayToCompletion());
}

TEST_F(PlayerOnGStreamer, VolumeGoesToTheGraphAndReadsBack) {
  player->Open(media_files::ToneMp3());
  EXPECT_EQ(player->SetRelativeVolume(100, 1, 0, 0, 50), 50);
  EXPECT_EQ(player->GetVolume(), -566);
  EXPECT_EQ(player->GetRelativeVolume(100, 1, 0), 50);
  player->SetRelativeVolume(100, 1, 0, 0, 99);
  EXPECT_EQ(player->GetVolume(), -10000);
  EXPECT_TRUE(PlayToCompletion());
}

TEST_F(PlayerOnGStreamer, EveryAudioFormatOfTheMaskPlays) {
  for (const QString& clip : {media_files::ToneWav(), media_files::ToneOgg(),
                              media_files::ToneMp3(), media_files::ToneRiff()}) {
    SCOPED_TRACE(clip.toStdString());
    player->Open(clip);
    EXPECT_NEAR(player->Duration, 2 * kSecond, kSecond / 10);
    player->SetRelativePositions(10000, 9000, 10000, 0);
    EXPECT_TRUE(PlayToCompletion());
  }
}

// GStreamer's AIFF parser can push before its decoder has linked it; a
// key must not fail for that.
TEST_F(PlayerOnGStreamer, AnAiffClipOpensEveryTime) {
  QTemporaryDir dir;
  for (int i = 0; i < 30; ++i) {
    // Another file each time: the same one again would be the kept one.
    const QString copy = dir.filePath(QString("tone%1.aiff").arg(i));
    ASSERT_TRUE(QFile::copy(media_files::ToneAiff(), copy));
    ASSERT_EQ(OpenPressingAgain(copy), "opened") << i << ": " << lastDetail;
    player->Close();
  }
}

TEST_F(PlayerOnGStreamer, MidiPlaysThroughTheSynthesizer) {
  for (const QString& clip : {media_files::ShortMidi(), media_files::ShortKar()}) {
    SCOPED_TRACE(clip.toStdString());
    const std::string error = OpenError(clip);
    ASSERT_EQ(error, "opened") << lastDetail;
    EXPECT_GT(player->Duration, kSecond / 2);
    EXPECT_TRUE(PlayToCompletion());
  }
}

TEST_F(PlayerOnGStreamer, EveryVideoFormatOfTheMaskShowsItsPicture) {
  QWidget owner;
  owner.resize(320, 240);
  owner.show();
  player->HandleVideo(&owner);
  struct Clip {
    QString path;
    bool (*colour)(const QColor&);
  };
  const auto green = [](const QColor& c) {
    return c.green() > 200 && c.red() < 60 && c.blue() < 60;
  };
  const auto blue = [](const QColor& c) {
    return c.blue() > 200 && c.red() < 60 && c.green() < 60;
  };
  for (const Clip& clip :
       {Clip{media_files::GreenMpg(), green}, Clip{media_files::GreenDat(), green},
        Clip{media_files::BlueDivx(), blue}, Clip{media_files::BlueDvx(), blue}}) {
    SCOPED_TRACE(clip.path.toStdString());
    ASSERT_EQ(OpenPressingAgain(clip.path), "opened") << lastDetail;
    EXPECT_TRUE(player->IsVideo());
    EXPECT_GT(player->Duration, 0);  // a program stream's length is an estimate
    player->ResizeVideo(0, 0, 320, 240);
    player->Play();
    EXPECT_TRUE(WaitFor([&] { return clip.colour(owner.grab().toImage().pixelColor(160, 120)); }));
    player->Stop();
  }
  player->Close();
}

TEST_F(PlayerOnGStreamer, PictureDrawsInsideTheOwnerInTheClipsColour) {
  QWidget owner;
  owner.resize(320, 240);
  owner.show();
  player->HandleVideo(&owner);
  int width = 0, height = 0;
  window.onNotice = [&](int code) {
    if (code == PN_VIDEO) player->GetVideoSize(width, height);
  };
  player->Open(media_files::RedAvi());
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_VIDEO, PN_LOADED, PN_OPENED}));
  EXPECT_TRUE(player->IsVideo());
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 120);
  player->ResizeVideo(0, 0, 320, 240);
  player->Play();
  auto red = [&] {
    const QColor c = owner.grab().toImage().pixelColor(160, 120);
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
  };
  EXPECT_TRUE(WaitFor(red));
  // On a real X server the frames must reach the screen, not only the
  // widget's own painting.
  if (QGuiApplication::platformName() == "xcb") {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    EXPECT_TRUE(WaitFor([&] {
      const QColor c = owner.screen()->grabWindow(owner.winId()).toImage().pixelColor(160, 120);
      return c.red() > 200 && c.green() < 60 && c.blue() < 60;
    }));
  }

  // Input over the picture reaches the owner.
  struct Clicks : QObject {
    int presses = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      presses += e->type() == QEvent::MouseButtonPress;
      return false;
    }
  } clicks;
  owner.installEventFilter(&clicks);
  QWidget* picture = owner.childAt(160, 120);
  ASSERT_NE(picture, nullptr);
  QTest::mouseClick(picture, Qt::RightButton, {}, QPoint(10, 10));
  EXPECT_EQ(clicks.presses, 1);
  owner.removeEventFilter(&clicks);
  player->Close();
}

TEST_F(PlayerOnGStreamer, VideoWithoutSoundHasNoVolumeButPlays) {
  QWidget owner;
  player->HandleVideo(&owner);
  player->Open(media_files::RedSilentAvi());
  EXPECT_TRUE(player->IsVideo());
  EXPECT_EQ(player->GetVolume(), 0);
  EXPECT_TRUE(PlayToCompletion());
}

TEST_F(PlayerOnGStreamer, AudioClipAnnouncesNoVideoEvenWithAnOwner) {
  QWidget owner;
  player->HandleVideo(&owner);
  player->Open(media_files::ToneOgg());
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_NOVIDEO, PN_LOADED, PN_OPENED}));
  EXPECT_FALSE(player->IsVideo());
}

TEST_F(PlayerOnGStreamer, VideoOnlyReplacesTheSoundByANullRenderer) {
  QWidget owner;
  player->HandleVideo(&owner);
  player->VideoOnly = true;
  player->Open(media_files::RedAvi());
  EXPECT_TRUE(player->IsVideo());
  EXPECT_EQ(player->GetVolume(), 0);  // no sound renderer any more
  EXPECT_TRUE(PlayToCompletion());
}

TEST_F(PlayerOnGStreamer, MissingFileGetsTheMissingFileText) {
  EXPECT_EQ(OpenError("/nonexistent/tone.wav"), "The specified file can not be found.");
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_OPENFAILED}));
}

TEST_F(PlayerOnGStreamer, CorruptFileRaisesAndThePlayerStaysUsable) {
  window.onNotice = [&](int code) {
    if (code == PN_OPENFAILED) player->Close();
  };
  EXPECT_NE(OpenError(media_files::Corrupt()), "opened");
  EXPECT_FALSE(lastDetail.empty());
  EXPECT_EQ(window.codes.back(), PN_CLOSED);
  window.onNotice = nullptr;
  player->Open(media_files::ToneWav());
  player->SetRelativePositions(10000, 9000, 10000, 0);
  EXPECT_TRUE(PlayToCompletion());
}

// Opening the clip that is already loaded reuses its decoder; each of these
// must still behave exactly like a fresh open.
TEST_F(PlayerOnGStreamer, SameFileAgainEndsAtItsNewStopMark) {
  const QString clip = media_files::ToneWav();
  player->Open(clip);
  player->SetRelativePositions(10000, 2500, 5000, 0);  // 0.5 s to 1.0 s
  ASSERT_TRUE(PlayToCompletion());

  window.Clear();
  player->Open(clip);
  EXPECT_EQ(window.codes,
            (Codes{PN_OPENING, PN_STOPPING, PN_STOPPED, PN_NOVIDEO, PN_LOADED, PN_OPENED}));
  EXPECT_NEAR(player->Duration, 2 * kSecond, kSecond / 100);
  EXPECT_NEAR(player->GetPosition(), 0, kSecond / 100);
  player->SetRelativePositions(10000, 0, 2000, 0);  // 0 s to 0.4 s
  ASSERT_TRUE(PlayToCompletion());
  EXPECT_NEAR(player->GetPosition(), 4 * kSecond / 10, kSecond / 50);
  EXPECT_EQ(player->SetRelativeVolume(100, 1, 0, 0, 50), 50);
  EXPECT_EQ(player->GetVolume(), -566);
}

TEST_F(PlayerOnGStreamer, AnotherFileAfterTheSameFileTwicePlaysItself) {
  const QString wav = media_files::ToneWav(), picture = media_files::RedAvi();
  for (const QString& clip : {wav, wav, picture, wav}) {
    player->Open(clip);
    EXPECT_NEAR(player->Duration, (clip == wav ? 2 : 1) * kSecond, kSecond / 20)
        << clip.toStdString();
    player->SetRelativePositions(10000, 8000, 10000, 0);
    EXPECT_TRUE(PlayToCompletion()) << clip.toStdString();
  }
}

TEST_F(PlayerOnGStreamer, OutputSurvivesFailedOpens) {
  const QString clip = media_files::ToneWav();
  player->Open(clip);
  player->Play();
  EXPECT_NE(OpenError(media_files::Corrupt()), "opened");
  EXPECT_EQ(OpenError("/nonexistent/tone.wav"), "The specified file can not be found.");
  player->Open(clip);
  player->SetRelativePositions(10000, 9000, 10000, 0);
  EXPECT_TRUE(PlayToCompletion());
  player->Open(media_files::ToneMp3());
  player->SetRelativePositions(10000, 9000, 10000, 0);
  EXPECT_TRUE(PlayToCompletion());
}

TEST_F(PlayerOnGStreamer, RewrittenFileUnderTheSameNameIsReadAgain) {
  QTemporaryDir dir;
  const QString path = dir.filePath("clip.wav");
  ASSERT_TRUE(QFile::copy(media_files::ToneWav(), path));
  player->Open(path);
  EXPECT_NEAR(player->Duration, 2 * kSecond, kSecond / 100);
  player->Close();

  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::copy(media_files::RedAvi(), path));  // 1 s of sound
  player->Open(path);
  EXPECT_NEAR(player->Duration, kSecond, kSecond / 20);
  player->SetRelativePositions(10000, 8000, 10000, 0);
  EXPECT_TRUE(PlayToCompletion());
}

int ThreadCount() {
  QFile status("/proc/self/status");
  status.open(QIODevice::ReadOnly);
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("Threads:")) return line.mid(8).trimmed().toInt();
  return -1;
}

long ResidentKb() {
  QFile status("/proc/self/status");
  status.open(QIODevice::ReadOnly);
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').front().toLong();
  return -1;
}

TEST_F(PlayerOnGStreamer, TwoHundredOpenCloseCyclesDoNotGrow) {
  const QString clip = media_files::ToneWav();
  auto cycle = [&] {
    player->Open(clip);
    player->Play();
    player->Close();
  };
  for (int i = 0; i < 20; ++i) cycle();
  WaitFor([] { return false; }, std::chrono::milliseconds(200));
  const int threads = ThreadCount();
  const long memory = ResidentKb();
  for (int i = 0; i < 200; ++i) cycle();
  WaitFor([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_LE(ThreadCount(), threads + 2);
  EXPECT_LT(ResidentKb() - memory, 16 * 1024);
}

}  // namespace
