// The picture path on real GStreamer: frames decoded at the size they are
// painted at, and a clip with a picture kept for the same key again, its
// first frame shown with the key.

#include "VideoClips.h"
#include "engine/graph/GstMediaGraph.h"
#include "engine/video/VideoSurface.h"
#include "player/Tplayerbase.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

using engine::VideoSurface;
using testing_support::WaitFor;

namespace {

bool IsRed(const QColor& c) {
  return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

bool IsGreen(const QColor& c) {
  return c.green() > 200 && c.red() < 60 && c.blue() < 60;
}

class VideoPicture : public ::testing::Test {
 protected:
  void SetUp() override {
    owner.resize(160, 120);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    player = std::make_unique<TPlayer>(&notices, 0, graph);
    player->HandleVideo(&owner);
  }

  void TearDown() override {
    player->Close();
    player.reset();
  }

  // Opens the clip as a key does, with the picture over the whole owner.
  void Open(const QString& clip) {
    player->Open(clip);
    ASSERT_TRUE(player->IsVideo());
    player->ResizeVideo(0, 0, owner.width(), owner.height());
  }

  bool PlayToEnd() {
    player->Play();
    return WaitFor([&] { return player->GetMediaEvent() == 1; });
  }

  // The graph's source filter: the same one when a kept decoder is reused.
  std::shared_ptr<engine::IBaseFilter> Decoder() {
    std::vector<std::shared_ptr<engine::IBaseFilter>> filters;
    graph->EnumFilters(filters);
    return filters.empty() ? nullptr : filters.back();  // renderers first
  }

  VideoSurface* Surface() {
    for (QWidget* child : owner.findChildren<QWidget*>())
      if (auto* s = dynamic_cast<VideoSurface*>(child)) return s;
    return nullptr;
  }

  // What the picture shows now; a hidden picture is rendered all the same.
  QColor PictureAt(QPoint point) {
    VideoSurface* surface = Surface();
    return surface ? surface->grab().toImage().pixelColor(point) : QColor();
  }

  QObject notices;
  QWidget owner;
  std::shared_ptr<engine::GstMediaGraph> graph = std::make_shared<engine::GstMediaGraph>();
  std::unique_ptr<TPlayer> player;
};

}  // namespace

TEST_F(VideoPicture, TheSameClipAgainShowsItsFirstFrameBeforeItRunsAndPlaysToItsEnd) {
  for (const QString& clip : {video_clips::RedThenGreen(), video_clips::RedThenGreenWithTone()}) {
    SCOPED_TRACE(clip.toStdString());
    const bool sound = clip == video_clips::RedThenGreenWithTone();
    Open(clip);
    const auto decoder = Decoder();
    ASSERT_TRUE(PlayToEnd());
    EXPECT_TRUE(IsGreen(PictureAt({80, 60})));

    // The decoder is kept; the picture is its first frame, not where it
    // stopped, and not black.
    Open(clip);
    if (!sound) {
      EXPECT_EQ(Decoder(), decoder);
    }
    EXPECT_TRUE(IsRed(PictureAt({80, 60}))) << PictureAt({80, 60}).name().toStdString();
    EXPECT_NEAR(player->Duration, 20000000, 1000000);
    const auto heard = graph->AudioTaken();
    ASSERT_TRUE(PlayToEnd());
    EXPECT_TRUE(IsGreen(PictureAt({80, 60})));
    // A clip with sound plays it again.
    if (sound) {
      EXPECT_GT(graph->AudioTaken() - heard, 15000000);
    }

    // Another clip shows its own picture, and the first one comes back.
    Open(video_clips::Green());
    EXPECT_TRUE(IsGreen(PictureAt({80, 60})));
    ASSERT_TRUE(PlayToEnd());
    Open(clip);
    EXPECT_NE(Decoder(), decoder);
    EXPECT_TRUE(IsRed(PictureAt({80, 60})));
    ASSERT_TRUE(PlayToEnd());
  }
}

TEST_F(VideoPicture, TheFirstFrameComesWithTheKeyOnlyWhenTheClipStartsThere) {
  const QString clip = video_clips::RedThenGreen();
  for (bool again : {false, true}) {
    SCOPED_TRACE(again ? "same clip again" : "new clip");
    Open(clip);
    player->SetRelativePositions(10000, 0, 10000, 0);
    player->Play();
    // Painted while Play waited for the clip to run, not after.
    ASSERT_NE(Surface(), nullptr);
    EXPECT_EQ(Surface()->PaintedFrames(), 1u);
    player->Stop();

    // From its mark in the green half: the red first frame never shows.
    Open(clip);
    player->SetRelativePositions(10000, 7500, 10000, 0);
    player->Play();
    EXPECT_EQ(Surface()->PaintedFrames(), 0u);
    EXPECT_TRUE(WaitFor([&] { return IsGreen(PictureAt({80, 60})); }));
    player->Stop();
  }
}

TEST_F(VideoPicture, ThePictureFillsItsRectangleToTheCornersAfterEveryResize) {
  Open(video_clips::Red4x3());
  player->Play();
  // Shapes other than the clip's 4:3: the picture is stretched, never given
  // borders, and comes at the new size.
  for (const QSize size : {QSize(400, 100), QSize(90, 300), QSize(160, 120)}) {
    SCOPED_TRACE(size.width());
    owner.resize(size);
    player->ResizeVideo(0, 0, size.width(), size.height());
    EXPECT_TRUE(WaitFor([&] {
      const std::uint64_t scaled = Surface()->ScaledPaints();
      const QImage shot = owner.grab().toImage();
      return Surface()->ScaledPaints() == scaled && IsRed(shot.pixelColor(1, 1)) &&
             IsRed(shot.pixelColor(size.width() - 2, size.height() - 2)) &&
             IsRed(shot.pixelColor(size.width() / 2, size.height() / 2));
    }));
  }
}
