#include "controls/cmpKeyboard.h"

#include "ControlsTestSupport.h"

#include <gtest/gtest.h>

#include <QImage>

#include <memory>
#include <tuple>

using controls::kbHorizontal;
using controls::kbVertical;
using controls::KeyboardGeometry;
using controls::TKeys;
using controls_test::EventLog;

namespace {

// The keyboard window's keyboard: 565 x 76, note width 18, lowest key note 0.
KeyboardGeometry Keys1Geometry() {
  return KeyboardGeometry(kbHorizontal, 18, 0, 565, 76);
}
KeyboardGeometry Keys1Vertical() {
  return KeyboardGeometry(kbVertical, 18, 0, 76, 565);
}

std::unique_ptr<TKeys> MakeKeys1() {
  auto keys = std::make_unique<TKeys>(nullptr);
  keys->resize(565, 76);
  keys->SetNoteWidth(18);
  keys->SetBaseOctave(0);
  keys->SetBlackBrush(QBrush(controls::ToQColor(10526880)));
  keys->SetWhiteBrush(QBrush(controls::ToQColor(15987699)));
  keys->SetVelocityMode(false);
  return keys;
}

void Record(TKeys& keys, EventLog& log) {
  keys.OnNoteOn = [&log](QObject*, int n, int v) {
    log.Add(QStringLiteral("on %1 %2").arg(n).arg(v));
  };
  keys.OnNoteOff = [&log](QObject*, int n, int v) {
    log.Add(QStringLiteral("off %1 %2").arg(n).arg(v));
  };
  keys.OnMouseOn = [&log](QObject*, int n, int v) {
    log.Add(QStringLiteral("hover %1 %2").arg(n).arg(v));
  };
}

}  // namespace

class BlackKeySize : public ::testing::TestWithParam<std::tuple<int, int, int, int, int>> {};

TEST_P(BlackKeySize, WidthIsForcedOdd) {
  const auto [noteWidth, depth, bw, h, bl] = GetParam();
  const KeyboardGeometry g(kbHorizontal, noteWidth, 0, 565, depth);
  EXPECT_EQ(g.BlackWidth(), bw);
  EXPECT_EQ(g.HalfWidth(), h);
  EXPECT_EQ(g.BlackLength(), bl);
}

INSTANTIATE_TEST_SUITE_P(KeyboardGeometry, BlackKeySize,
                         ::testing::Values(std::make_tuple(18, 76, 11, 5, 45),
                                           std::make_tuple(10, 50, 7, 3, 30),
                                           std::make_tuple(20, 50, 13, 6, 30),
                                           std::make_tuple(15, 50, 9, 4, 30)));

struct InvertCase {
  const char* name;
  bool vertical;
  int note;
  std::vector<QRect> rects;
};

class InvertRects : public ::testing::TestWithParam<InvertCase> {};

TEST_P(InvertRects, MatchTheKeyParts) {
  const InvertCase& c = GetParam();
  const KeyboardGeometry g = c.vertical ? Keys1Vertical() : Keys1Geometry();
  EXPECT_EQ(g.InvertRects(c.note), c.rects) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    KeyboardGeometry, InvertRects,
    ::testing::Values(
        InvertCase{"white C", false, 0, {QRect(2, 46, 15, 28), QRect(2, 2, 9, 44)}},
        InvertCase{"white D", false, 2, {QRect(20, 46, 15, 28), QRect(24, 2, 7, 44)}},
        InvertCase{"white E", false, 4, {QRect(38, 46, 15, 28), QRect(44, 2, 9, 44)}},
        InvertCase{"black C#", false, 1, {QRect(13, 1, 9, 43)}},
        InvertCase{"black D# next octave", false, 15, {QRect(159, 1, 9, 43)}},
        InvertCase{"vertical white C", true, 0, {QRect(46, 548, 28, 15), QRect(2, 554, 44, 9)}},
        InvertCase{"vertical white D", true, 2, {QRect(46, 530, 28, 15), QRect(2, 534, 44, 7)}},
        InvertCase{"vertical white E", true, 4, {QRect(46, 512, 28, 15), QRect(2, 512, 44, 9)}},
        InvertCase{"vertical black C#", true, 1, {QRect(1, 543, 43, 9)}}));

TEST(KeyboardGeometry, BlackKeysSitWhereTheyArePainted) {
  const KeyboardGeometry g = Keys1Geometry();
  const auto items = g.PaintItems();
  ASSERT_GE(items.size(), 2u);
  EXPECT_EQ(items[0].black, QRect(12, 0, 11, 45));  // C# over the C/D edge, shifted left
  EXPECT_EQ(items[1].black, QRect(32, 0, 11, 45));  // D# shifted right
  EXPECT_FALSE(items[2].hasBlack);                  // E
  // The white key cut by the far end gets no separator: 565 / 18 = 31 edges.
  EXPECT_EQ(items.size(), 31u);
  EXPECT_EQ(items.back().separatorFrom.x(), 558);
  // Vertical: the first edge sits one key up from the bottom.
  EXPECT_EQ(Keys1Vertical().PaintItems()[0].separatorFrom, QPoint(0, 546));
  EXPECT_EQ(Keys1Vertical().PaintItems()[0].black, QRect(0, 542, 45, 11));
}

TEST(KeyboardGeometry, NoteAtPointSplitsBlackAndWhiteOverlaps) {
  const KeyboardGeometry g = Keys1Geometry();
  int v = -1;
  EXPECT_EQ(g.NoteAtPoint(11, 10, false, &v), 0);    // left of C#
  EXPECT_EQ(g.NoteAtPoint(12, 10, false, &v), 1);    // C# seen from C
  EXPECT_EQ(g.NoteAtPoint(22, 10, false, &v), 1);    // C# seen from D
  EXPECT_EQ(g.NoteAtPoint(23, 10, false, &v), 2);    // D
  EXPECT_EQ(g.NoteAtPoint(22, 45, false, &v), 2);    // below the black key
  EXPECT_EQ(g.NoteAtPoint(52, 10, false, &v), 4);    // E has no black key above
  EXPECT_EQ(g.NoteAtPoint(125, 10, false, &v), 11);  // B
  EXPECT_EQ(g.NoteAtPoint(126, 10, false, &v), 12);  // next octave's C
  EXPECT_EQ(g.NoteAtPoint(110, 10, false, &v), 10);  // A# seen from B
  EXPECT_EQ(v, 127);
  EXPECT_EQ(Keys1Vertical().NoteAtPoint(10, 564, false, &v), 0);
  EXPECT_EQ(Keys1Vertical().NoteAtPoint(10, 545, false, &v), 1);
  EXPECT_EQ(KeyboardGeometry(kbHorizontal, 18, 3, 565, 76).NoteAtPoint(30, 60, false, &v), 38);
}

TEST(KeyboardGeometry, VelocityGrowsTowardTheFrontEdge) {
  const KeyboardGeometry g = Keys1Geometry();
  int v = -1;
  g.NoteAtPoint(5, 0, true, &v);
  EXPECT_EQ(v, 0);
  g.NoteAtPoint(15, 44, true, &v);  // black key, across BL - 1
  EXPECT_EQ(v, 44 * 127 / 45);
  g.NoteAtPoint(5, 75, true, &v);  // white key at the front
  EXPECT_EQ(v, 75 * 127 / 76);
}

TEST(KeyboardGeometry, NotesBelowTheLowestKeyStayOnTheKeyboardGrid) {
  // With the default lowest key (note 36) a low note must still split into a
  // valid key (off the left edge) rather than a negative white index.
  const KeyboardGeometry g(kbHorizontal, 10, 3, 200, 50);
  const auto split = g.Split(1);  // 35 below: the B an octave under the lowest
  EXPECT_EQ(split.octave, -3);
  EXPECT_EQ(split.white, 0);
  EXPECT_TRUE(split.black);
  for (const QRect& r : g.InvertRects(1)) EXPECT_LT(r.right(), 0);
  EXPECT_EQ(g.NoteAtPoint(-1, 40, false, nullptr), 35);
}

TEST(KeysEvents, NoteOnOfAPressedKeyStillNotifies) {
  auto keys = MakeKeys1();
  EventLog log;
  Record(*keys, log);
  keys->NoteOn(5, 0, true);
  keys->NoteOn(5, 90, true);
  keys->NoteOff(7, 64, true);
  keys->NoteOn(200, 1, true);
  keys->NoteOn(6, 3, false);
  EXPECT_EQ(log.Joined(), "on 5 0, on 5 90, off 7 0, on 200 1");
  EXPECT_TRUE(keys->IsPressed(5));
  EXPECT_TRUE(keys->IsPressed(6));
  keys->NoteOff(5, 0, true);
  EXPECT_FALSE(keys->IsPressed(5));
}

TEST(KeysEvents, DragRaisesNoteOffBeforeNoteOnAndNothingWithinAKey) {
  auto keys = MakeKeys1();
  EventLog log;
  Record(*keys, log);
  controls_test::Press(keys.get(), QPoint(5, 60));
  controls_test::Drag(keys.get(), QPoint(10, 60));   // same key
  controls_test::Drag(keys.get(), QPoint(25, 60));   // D
  controls_test::Drag(keys.get(), QPoint(600, 60));  // outside: nothing
  controls_test::Release(keys.get(), QPoint(600, 60));
  EXPECT_EQ(log.Joined(), "on 0 127, off 0 0, on 2 127, off 2 0");
  EXPECT_EQ(keys->MouseNote(), 2);
  EXPECT_FALSE(keys->IsPressed(0));
  EXPECT_FALSE(keys->IsPressed(2));
}

TEST(KeysEvents, RightClickReleasesTheMouseNoteOnly) {
  auto keys = MakeKeys1();
  EventLog log;
  Record(*keys, log);
  controls_test::Press(keys.get(), QPoint(5, 60), Qt::RightButton);
  controls_test::Release(keys.get(), QPoint(5, 60), Qt::RightButton);
  EXPECT_EQ(log.Joined(), "off -1 0");
  EXPECT_FALSE(keys->IsPressed(0));
}

TEST(KeysEvents, HoverReportsEachKeyOnce) {
  auto keys = MakeKeys1();
  EventLog log;
  Record(*keys, log);
  controls_test::Hover(keys.get(), QPoint(5, 60));
  controls_test::Hover(keys.get(), QPoint(8, 60));
  controls_test::Hover(keys.get(), QPoint(564, 60));  // the last column is not inside
  controls_test::Hover(keys.get(), QPoint(5, 50));
  controls_test::Hover(keys.get(), QPoint(15, 10));
  EXPECT_EQ(log.Joined(), "hover 0 0, hover 1 0");
}

TEST(KeysPainting, PressedKeyIsInvertedAndRestored) {
  auto keys = MakeKeys1();
  const QRgb white = 0xFFF3F3F3, black = 0xFFA0A0A0;
  const QImage before = keys->grab().toImage();
  EXPECT_EQ(before.pixel(9, 60), white);
  EXPECT_EQ(before.pixel(17, 20), black);
  keys->NoteOn(0, 0, false);
  keys->NoteOn(1, 0, false);
  const QImage pressed = keys->grab().toImage();
  EXPECT_EQ(pressed.pixel(9, 60), 0xFF0C0C0C);  // front part of C
  EXPECT_EQ(pressed.pixel(5, 20), 0xFF0C0C0C);  // back part of C
  EXPECT_EQ(pressed.pixel(17, 20), 0xFF5F5F5F);
  EXPECT_EQ(pressed.pixel(12, 20), before.pixel(12, 20));  // black key outline untouched
  EXPECT_EQ(pressed.pixel(27, 60), white);                 // D untouched
  keys->NoteOff(0, 0, false);
  keys->NoteOff(1, 0, false);
  EXPECT_EQ(keys->grab().toImage(), before);
}

TEST(KeysPainting, LabelsShowOnlyWhenAlphaNumAndHorizontal) {
  auto keys = MakeKeys1();
  auto darkPixels = [](const QImage& image, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) n += qGray(image.pixel(x, y)) < 100;
    return n;
  };
  const QRect labelArea(3, 56, 14, 14);  // white C's label, 20 pixels above the front edge
  EXPECT_EQ(darkPixels(keys->grab().toImage(), labelArea), 0);
  keys->SetAlphaNum(true);
  EXPECT_GT(darkPixels(keys->grab().toImage(), labelArea), 0);
  keys->SetOrientation(kbVertical);
  keys->resize(76, 565);
  const QImage vertical = keys->grab().toImage();
  keys->SetAlphaNum(false);
  EXPECT_EQ(keys->grab().toImage(), vertical);
}

TEST(KeysProperties, RejectsANoteWidthBelowOne) {
  TKeys keys(nullptr);
  EXPECT_THROW(keys.SetNoteWidth(0), std::invalid_argument);
  EXPECT_EQ(keys.NoteWidth(), 10);
  EXPECT_EQ(keys.BaseOctave(), 3);
  EXPECT_EQ(keys.size(), QSize(200, 50));
  EXPECT_TRUE(keys.VelocityMode());
  EXPECT_FALSE(keys.AlphaNum());
}
