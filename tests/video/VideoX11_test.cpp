// The video window on a real X server with a window manager, showing clips
// that GStreamer decodes: the picture on screen, full screen over the whole
// monitor, and a clip that plays on, at its marks, through it all.

#include "VideoClips.h"
#include "VideoFixture.h"

#include <QAction>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWindow>

namespace {

bool IsRed(const QColor& c) {
  return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

bool IsBlack(const QColor& c) {
  return c.red() < 30 && c.green() < 30 && c.blue() < 30;
}

// The colour on screen, read back from the X server's root window.
QColor ScreenPixel(QPoint global) {
  return QGuiApplication::primaryScreen()->grabWindow(0).toImage().pixelColor(global);
}

// The window's frame as the window system has it now (the widget's own
// idea of its frame may lag behind).
QRect Frame(QWidget* window) {
  const QMargins margins = window->windowHandle()->frameMargins();
  return window->geometry().marginsAdded(margins);
}

class VideoOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    player = std::make_unique<TPlayer>(&owner, 0);
    video = std::make_unique<TVideo1>(nullptr, 0);
    owner.video = video.get();
    player->HandleVideo(video->Handle());
    video->Player = player.get();
  }

  void TearDown() override {
    player->Close();
    video.reset();
    player.reset();
  }

  void PlayRed() {
    player->Open(video_clips::Red4x3());
    ASSERT_TRUE(video->isVisible());
    player->Play();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(video.get()));
  }

  bool Ended() {
    return std::count(owner.codes.begin(), owner.codes.end(), platform::PN_MEDIAEVENT) > 0 &&
           player->GetMediaEvent() == 1;
  }

  double Seconds() { return player->GetPosition() / 1e7; }

  testing_support::TempConfig config;
  Owner owner;
  std::unique_ptr<TPlayer> player;
  std::unique_ptr<TVideo1> video;
};

}  // namespace

TEST_F(VideoOnX11, FirstShowIsCentredOnTheScreenWithThePicturesSize) {
  PlayRed();
  EXPECT_EQ(video->size(), QSize(320, 240));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(testing_support::WaitFor([&] { return screen.contains(Frame(video.get())); }));
  EXPECT_GT(video->x(), 100);
  EXPECT_GT(video->y(), 100);
}

TEST_F(VideoOnX11, TheClipsColourShowsOnScreenInsideTheWindowOnly) {
  PlayRed();
  const QRect inside = QRect(video->mapToGlobal(QPoint(0, 0)), video->size());
  EXPECT_TRUE(testing_support::WaitFor([&] { return IsRed(ScreenPixel(inside.center())); }));
  EXPECT_TRUE(IsRed(ScreenPixel(inside.topLeft() + QPoint(3, 3))));
  EXPECT_TRUE(IsRed(ScreenPixel(inside.bottomRight() - QPoint(3, 3))));
  // Outside the frame the screen is not red. The window manager may still be
  // placing the window and the X server tearing down the previous test's one,
  // so the place is read afresh until the screen has settled.
  EXPECT_TRUE(testing_support::WaitFor(
      [&] { return !IsRed(ScreenPixel(Frame(video.get()).bottomRight() + QPoint(10, 10))); }));
}

TEST_F(VideoOnX11, FullScreenCoversTheMonitorAndFitsThePicture) {
  PlayRed();
  video->AFull->trigger();
  const QRect monitor = QGuiApplication::primaryScreen()->geometry();
  ASSERT_TRUE(testing_support::WaitFor([&] {
    return Frame(video.get()) == monitor && video->geometry() == monitor;
  })) << Frame(video.get()).width()
      << "x" << Frame(video.get()).height();
  // The window manager knows it as full screen.
  QProcess xprop;
  xprop.start("xprop", {"-id", QString::number(video->winId()), "_NET_WM_STATE"});
  ASSERT_TRUE(xprop.waitForFinished(10000));
  EXPECT_TRUE(xprop.readAllStandardOutput().contains("_NET_WM_STATE_FULLSCREEN"));
  // Keep ratio off: the picture covers the screen to its corners.
  EXPECT_TRUE(testing_support::WaitFor([&] {
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    return IsRed(shot.pixelColor(2, 2)) &&
           IsRed(shot.pixelColor(monitor.width() - 3, monitor.height() - 3));
  }));
  // Keep ratio on: 4:3 on a 5:4 screen spans its width, with black bars
  // above and below.
  video->ARatio->trigger();
  video->FormHide();
  video->FormShow();
  const int height = monitor.width() * 240 / 320;
  const int top = (monitor.height() - height) / 2;
  EXPECT_TRUE(testing_support::WaitFor([&] {
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    return IsBlack(shot.pixelColor(monitor.width() / 2, top / 2)) &&
           IsRed(shot.pixelColor(monitor.width() / 2, top + 2)) &&
           IsRed(shot.pixelColor(monitor.width() / 2, top + height - 3)) &&
           IsBlack(shot.pixelColor(monitor.width() / 2, monitor.height() - top / 2));
  }));
  // Back in a window, at the place it had.
  const QRect before(video->SavedLeft, video->SavedTop, video->SavedWidth, video->SavedHeight);
  video->AFull->trigger();
  EXPECT_TRUE(testing_support::WaitFor(
      [&] { return !video->isFullScreen() && Frame(video.get()).topLeft() == before.topLeft(); }));
}

TEST_F(VideoOnX11, FullScreenAndBackPutsTheFrameWhereItWasEveryTime) {
  PlayRed();
  // Placed and framed by the window manager: the client sits inside a frame.
  ASSERT_TRUE(
      testing_support::WaitFor([&] { return Frame(video.get()).top() < video->geometry().top(); }));
  const QRect frame = Frame(video.get()), client = video->geometry();
  const QRect monitor = QGuiApplication::primaryScreen()->geometry();
  for (int trip = 1; trip <= 3; ++trip) {
    SCOPED_TRACE(trip);
    video->AFull->trigger();
    ASSERT_TRUE(testing_support::WaitFor([&] { return Frame(video.get()) == monitor; }));
    video->AFull->trigger();
    // Framed again, frame and client both where they were (a client put
    // at the frame's place passes neither).
    ASSERT_TRUE(testing_support::WaitFor([&] {
      return Frame(video.get()) == frame && video->geometry() == client;
    })) << "frame at "
        << Frame(video.get()).x() << "," << Frame(video.get()).y() << ", was at " << frame.x()
        << "," << frame.y();
    EXPECT_EQ(QRect(video->SavedLeft, video->SavedTop, video->SavedWidth, video->SavedHeight),
              QRect(frame.topLeft(), client.size()));
  }
  // The next start's window, made from what was saved, has its frame there.
  player->Close();
  video.reset();
  video = std::make_unique<TVideo1>(nullptr, 0);
  owner.video = video.get();
  player->HandleVideo(video->Handle());
  video->Player = player.get();
  PlayRed();
  EXPECT_TRUE(testing_support::WaitFor([&] { return Frame(video.get()) == frame; }))
      << "frame at " << Frame(video.get()).x() << "," << Frame(video.get()).y() << ", was at "
      << frame.x() << "," << frame.y();
}

TEST_F(VideoOnX11, TogglingFullScreenKeepsTheClipPlayingToItsStopMark) {
  player->Open(video_clips::Red4x3());
  // Stop mark at 2 s of the 4 s clip.
  player->SetRelativePositions(10000, 0, 5000, 0);
  player->Play();
  ASSERT_TRUE(testing_support::WaitFor([&] { return Seconds() > 0.3; }));
  owner.codes.clear();
  video->AFull->trigger();
  ASSERT_TRUE(testing_support::WaitFor([&] { return video->isFullScreen(); }));
  const double atToggle = Seconds();
  EXPECT_TRUE(testing_support::WaitFor([&] { return Seconds() > atToggle + 0.2; }));
  video->AFull->trigger();
  EXPECT_FALSE(video->isFullScreen());
  EXPECT_TRUE(testing_support::WaitFor([&] { return Ended(); }));
  // The end came at the stop mark, not at the clip's end.
  EXPECT_GT(Seconds(), 1.8);
  EXPECT_LT(Seconds(), 2.6);
  for (int code : owner.codes) {
    EXPECT_NE(code, platform::PN_OPENING);
    EXPECT_NE(code, platform::PN_CLOSED);
  }
  EXPECT_EQ(player->State, fsPlaying);
}

TEST_F(VideoOnX11, AnAudioClipAfterAVideoClipHidesTheWindow) {
  PlayRed();
  player->Open(video_clips::Tone());
  EXPECT_FALSE(video->isVisible());
  player->Open(video_clips::Red4x3());
  EXPECT_TRUE(video->isVisible());
}

TEST_F(VideoOnX11, ClosingByTheWindowManagerHidesTheWindowAndPlaybackGoesOn) {
  PlayRed();
  ASSERT_TRUE(testing_support::WaitFor([&] { return Seconds() > 0.1; }));
  QProcess wmctrl;
  wmctrl.start("wmctrl", {"-i", "-c", QString::number(video->winId())});
  ASSERT_TRUE(wmctrl.waitForFinished(10000));
  EXPECT_TRUE(testing_support::WaitFor([&] { return !video->isVisible(); }));
  const double atClose = Seconds();
  EXPECT_TRUE(testing_support::WaitFor([&] { return Seconds() > atClose + 0.2; }));
  EXPECT_EQ(player->State, fsPlaying);
}
