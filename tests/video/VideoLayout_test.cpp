// The video window's geometry as numbers: the picture's place in full
// screen, keep ratio in a window, and where a window goes when it is shown.

#include "video/VideoLayout.h"

#include <gtest/gtest.h>

using video::FullScreenPicture;
using video::KeepRatioHeight;
using video::PlaceWindow;
using video::RatioOf;

TEST(VideoRatio, IsWidthTimes100OverHeightAndKeepsThePreviousForAnUnknownSize) {
  EXPECT_EQ(RatioOf(640, 480, 100), 133);
  EXPECT_EQ(RatioOf(480, 640, 100), 75);
  EXPECT_EQ(RatioOf(1920, 1080, 100), 177);
  // A clip whose size the graph can't tell must not divide by zero.
  EXPECT_EQ(RatioOf(0, 0, 133), 133);
  EXPECT_EQ(RatioOf(640, 0, 75), 75);
  EXPECT_EQ(RatioOf(0, 480, 75), 75);
}

TEST(VideoRatio, KeepsTheClientHeightToTheClientWidth) {
  EXPECT_EQ(KeepRatioHeight(400, 133), 300);
  EXPECT_EQ(KeepRatioHeight(300, 75), 400);
  EXPECT_EQ(KeepRatioHeight(400, 0), 400);
}

struct FullCase {
  QSize monitor, picture;
  bool keepRatio;
  QRect expected;
};

class FullScreenLayout : public ::testing::TestWithParam<FullCase> {};

TEST_P(FullScreenLayout, FitsThePictureInsideTheMonitor) {
  const FullCase& c = GetParam();
  EXPECT_EQ(FullScreenPicture(c.monitor, c.picture, c.keepRatio), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FullScreenLayout,
                         ::testing::Values(
                             // 4:3 on 16:9 fits the height, centred: never cropped above and below.
                             FullCase{{1920, 1080}, {640, 480}, true, {240, 0, 1440, 1080}},
                             FullCase{{1920, 1080}, {480, 640}, true, {555, 0, 810, 1080}},
                             // Wider than the monitor: spans its width, centred vertically.
                             FullCase{{1280, 1024}, {320, 240}, true, {0, 32, 1280, 960}},
                             FullCase{{1920, 1080}, {1920, 800}, true, {0, 140, 1920, 800}},
                             // The monitor's own shape fills it exactly.
                             FullCase{{1920, 1080}, {1280, 720}, true, {0, 0, 1920, 1080}},
                             // Without keep ratio, or with a picture of unknown size, the picture
                             // covers the monitor.
                             FullCase{{1920, 1080}, {640, 480}, false, {0, 0, 1920, 1080}},
                             FullCase{{1920, 1080}, {0, 0}, true, {0, 0, 1920, 1080}}));

TEST(WindowPlace, FirstShowWithOriginalSizeCentresThePictureSizedClient) {
  const auto place = PlaceWindow(QRect(0, 0, 0, 0), {640, 480}, true, {QRect(0, 0, 1280, 1024)});
  EXPECT_EQ(place.client, QSize(640, 480));
  EXPECT_EQ(place.position, QPoint(320, 272));
}

TEST(WindowPlace, FirstShowWithoutAnySizeIsNeverEmptyNorLargerThanTheScreen) {
  // Unknown picture: a default size.
  auto place = PlaceWindow(QRect(), {}, false, {QRect(0, 0, 1280, 1024)});
  EXPECT_EQ(place.client, video::kDefaultClient);
  EXPECT_EQ(place.position, QPoint(480, 392));
  // A large picture without original size shrinks to the available area.
  place = PlaceWindow(QRect(), {1920, 1080}, false, {QRect(0, 30, 1280, 994)});
  EXPECT_EQ(place.client, QSize(1280, 720));
  EXPECT_EQ(place.position, QPoint(0, 167));
  // Original size keeps the exact size asked for, from the area's corner.
  place = PlaceWindow(QRect(), {1920, 1080}, true, {QRect(0, 30, 1280, 994)});
  EXPECT_EQ(place.client, QSize(1920, 1080));
  EXPECT_EQ(place.position, QPoint(0, 30));
}

TEST(WindowPlace, FirstShowKeepsClearOfTheKeyboardWindowThatStaysOnTop) {
  const QList<QRect> screen{QRect(0, 0, 1280, 1024)};
  // The keyboard window centred too: the picture goes above it.
  const QRect keyboard(322, 408, 635, 207);
  auto place = PlaceWindow(QRect(), {160, 120}, false, screen, keyboard);
  EXPECT_EQ(place.position, QPoint(560, 408 - 40 - 120));
  EXPECT_FALSE(QRect(place.position, place.client).intersects(keyboard));
  // No room above: below it.
  place = PlaceWindow(QRect(), {320, 240}, false, screen, QRect(300, 200, 635, 300));
  EXPECT_EQ(place.position, QPoint(480, 200 + 299 + 40));
  // Out of the way already: centred as ever; and a saved place is the user's.
  EXPECT_EQ(PlaceWindow(QRect(), {160, 120}, false, screen, QRect(0, 0, 200, 100)).position,
            QPoint(560, 452));
  EXPECT_EQ(PlaceWindow(QRect(500, 450, 160, 120), {}, false, screen, keyboard).position,
            QPoint(500, 450));
}

TEST(WindowPlace, SavedPlaceIsKeptAndOriginalSizeSetsTheClient) {
  const QList<QRect> screens{QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)};
  auto place = PlaceWindow(QRect(1500, 100, 400, 300), {640, 480}, false, screens);
  EXPECT_EQ(place.position, QPoint(1500, 100));
  EXPECT_EQ(place.client, QSize(400, 300));
  place = PlaceWindow(QRect(1500, 100, 400, 300), {640, 480}, true, screens);
  EXPECT_EQ(place.position, QPoint(1500, 100));
  EXPECT_EQ(place.client, QSize(640, 480));
}

TEST(WindowPlace, SavedPlaceOnAMonitorThatIsGoneComesBackOnTheFirstScreen) {
  const auto place =
      PlaceWindow(QRect(3000, 100, 400, 300), {640, 480}, false, {QRect(0, 0, 1280, 1024)});
  EXPECT_EQ(place.client, QSize(400, 300));
  EXPECT_EQ(place.position, QPoint(440, 362));
}

TEST(FrameBounds, RoundTripsThroughFullScreenPutTheFrameBackWhereItWas) {
  // No window manager, a thin border with a title bar, a thick one.
  for (const QPoint inset : {QPoint(0, 0), QPoint(1, 20), QPoint(4, 30)}) {
    QRect client(480, 392, 320, 240);
    const QPoint frame = video::FrameTopLeft(client.topLeft(), inset);
    for (int trip = 1; trip <= 3; ++trip) {
      // Saved before full screen, where there is no frame; asked for after.
      const QPoint saved = video::FrameTopLeft(client.topLeft(), inset);
      client = video::ClientRectForFrame(saved, client.size(), inset);
    }
    EXPECT_EQ(video::FrameTopLeft(client.topLeft(), inset), frame);
    EXPECT_EQ(client, QRect(480, 392, 320, 240));
  }
}
