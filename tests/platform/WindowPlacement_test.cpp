// Where our windows open beside a keyboard window that stays on top: as
// numbers, on the two screen sizes people have most, with the keyboard
// window where it opens by default (centred).

#include "platform/WindowPlacement.h"

#include <gtest/gtest.h>

using platform::ClearPlace;

namespace {

const QRect kScreen1280(0, 0, 1280, 1024);
const QRect kScreen1920(0, 0, 1920, 1080);
const QRect kKeyboard1280(322, 408, 635, 207);
const QRect kKeyboard1920(642, 436, 635, 207);
// Frames of the set editor and the key editor at their first size.
const QSize kSetEditor(614, 866);
const QSize kKeyEditor(734, 470);

QPoint Centred(const QRect& screen, QSize size) {
  return {(screen.width() - size.width()) / 2, (screen.height() - size.height()) / 2};
}

struct PlaceCase {
  const char* name;
  QRect screen;
  QList<QRect> onTop;
  QSize size;
  QPoint wanted;
  QRect expected;
  QSize least = QSize();
};

class ClearPlaceTable : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(ClearPlaceTable, PlacesWhollyOnScreenAndClearOfOnTopWindows) {
  const PlaceCase& c = GetParam();
  const QRect place = ClearPlace(c.screen, c.onTop, c.size, c.wanted, c.least);
  EXPECT_EQ(place, c.expected);
  EXPECT_TRUE(c.screen.contains(place)) << "off screen";
  if (c.least.isValid()) {
    for (const QRect& r : c.onTop) EXPECT_FALSE(place.intersects(r)) << "under an on-top window";
    EXPECT_TRUE(place.width() >= c.least.width() && place.height() >= c.least.height());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Screens, ClearPlaceTable,
    ::testing::Values(
        // Beside the keyboard window when there is room on either side.
        PlaceCase{"SetEditorAt1920",
                  kScreen1920,
                  {kKeyboard1920},
                  kSetEditor,
                  Centred(kScreen1920, kSetEditor),
                  QRect(QPoint(1277, 107), kSetEditor)},
        // No room: the tool bar stays clear, the least of the table is covered.
        PlaceCase{"SetEditorAt1280",
                  kScreen1280,
                  {kKeyboard1280},
                  kSetEditor,
                  Centred(kScreen1280, kSetEditor),
                  QRect(QPoint(666, 79), kSetEditor)},
        PlaceCase{"KeyEditorAt1280",
                  kScreen1280,
                  {kKeyboard1280},
                  kKeyEditor,
                  Centred(kScreen1280, kKeyEditor),
                  QRect(QPoint(546, 0), kKeyEditor)},
        PlaceCase{"KeyEditorAt1920",
                  kScreen1920,
                  {kKeyboard1920},
                  kKeyEditor,
                  Centred(kScreen1920, kKeyEditor),
                  QRect(QPoint(1186, 0), kKeyEditor)},
        // The set editor's tool bar (New, Open, Save) stays in sight too.
        PlaceCase{"KeyEditorBesideSetEditorAt1920",
                  kScreen1920,
                  {kKeyboard1920, QRect(1277, 107, 614, 100)},
                  kKeyEditor,
                  Centred(kScreen1920, kKeyEditor),
                  QRect(QPoint(0, 0), kKeyEditor)},
        PlaceCase{"KeyEditorBesideSetEditorAt1280",
                  kScreen1280,
                  {kKeyboard1280, QRect(666, 79, 614, 100)},
                  kKeyEditor,
                  Centred(kScreen1280, kKeyEditor),
                  QRect(QPoint(546, 277), kKeyEditor)},
        // A window that may be cut down finds room above or below instead,
        // and the key editor then takes the other side.
        PlaceCase{"SetEditorCutToFitAt1280",
                  kScreen1280,
                  {kKeyboard1280},
                  kSetEditor,
                  Centred(kScreen1280, kSetEditor),
                  QRect(333, 615, 614, 409),
                  QSize(437, 239)},
        PlaceCase{"KeyEditorCutBesideSetEditorAt1280",
                  kScreen1280,
                  {kKeyboard1280, QRect(333, 615, 614, 100)},
                  kKeyEditor,
                  Centred(kScreen1280, kKeyEditor),
                  QRect(273, 0, 734, 408),
                  QSize(295, 156)},
        // A clear wanted place is kept.
        PlaceCase{"ClearPlaceKept",
                  kScreen1920,
                  {kKeyboard1920},
                  QSize(400, 300),
                  QPoint(100, 100),
                  QRect(100, 100, 400, 300)},
        PlaceCase{"BelowKeyboardAt1280",
                  kScreen1280,
                  {kKeyboard1280},
                  QSize(400, 300),
                  QPoint(440, 450),
                  QRect(440, 615, 400, 300)},
        // A saved place off the screen comes back wholly onto it.
        PlaceCase{"OffScreenComesBack",
                  kScreen1280,
                  {},
                  QSize(400, 300),
                  QPoint(-500, 2000),
                  QRect(0, 724, 400, 300)},
        // A window reaching the bottom of a 1000 px screen is moved up.
        PlaceCase{"TallWindowOn1000",
                  QRect(0, 0, 1280, 1000),
                  {},
                  kSetEditor,
                  QPoint(300, 160),
                  QRect(QPoint(300, 134), kSetEditor)},
        // A window taller than the screen is cut to it.
        PlaceCase{"TallerThanScreen",
                  kScreen1280,
                  {},
                  QSize(614, 1100),
                  QPoint(10, 10),
                  QRect(10, 0, 614, 1024)},
        // The available area of a second screen, beside the first.
        PlaceCase{"SecondScreen",
                  QRect(1280, 0, 1920, 1080),
                  {},
                  QSize(400, 300),
                  QPoint(3100, 50),
                  QRect(2800, 50, 400, 300)}),
    [](const ::testing::TestParamInfo<PlaceCase>& info) { return std::string(info.param.name); });

}  // namespace
