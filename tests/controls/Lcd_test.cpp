#include "controls/Lcd99.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPaintEvent>

#include <memory>
#include <tuple>

using controls::LcdGeometry;
using controls::TLCD99;
namespace lcd = controls::lcd;

namespace {

constexpr controls::TColor kBack = 13624029, kOn = 6447714, kOff = 12112845;

std::unique_ptr<TLCD99> MakeLcd(int width, int height, int digits, int spacing) {
  auto display = std::make_unique<TLCD99>(nullptr);
  display->resize(width, height);
  display->SetDigitNum(digits);
  display->SetDigitSpacing(spacing);
  display->SetGapX(1);
  display->SetGapY(1);
  display->SetSegmentSize(1);
  display->SetColor(kBack);
  display->SetOnColor(kOn);
  display->SetOffColor(kOff);
  return display;
}

QRgb Rgb(controls::TColor c) {
  return controls::ToQColor(c).rgb();
}

// Counts the paint events a widget receives and the area they cover.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  int paints = 0;
  QRect area;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) {
      ++paints;
      area |= static_cast<QPaintEvent*>(e)->rect();
    }
    return false;
  }
};

}  // namespace

TEST(LcdValue, NormalizesCaseDropsATrailingPointAndBlanksOnBadCharacters) {
  EXPECT_EQ(lcd::NormalizeValue("abc"), "ABC");
  EXPECT_EQ(lcd::NormalizeValue("5."), "5");
  EXPECT_EQ(lcd::NormalizeValue("12,5"), "");
  EXPECT_EQ(lcd::NormalizeValue("1:2 -3.4"), "1:2 -3.4");
  EXPECT_EQ(lcd::NormalizeValue(QString::fromUtf8("\u00e45")), "");
}

TEST(LcdValue, SplitsPointsOntoTheFollowingCellAndAlignsRight) {
  auto split = lcd::SplitCells("12.5", 5);
  EXPECT_EQ(split.chars, "  125");
  EXPECT_EQ(split.marks, "    .");
  split = lcd::SplitCells("1..2", 4);
  EXPECT_EQ(split.chars, " 1 2");
  EXPECT_EQ(split.marks, "  ..");
  split = lcd::SplitCells(".5", 2);
  EXPECT_EQ(split.chars, " 5");
  EXPECT_EQ(split.marks, " .");
  split = lcd::SplitCells("1234567", 5);
  EXPECT_EQ(split.chars, "1234567");
  // A point left waiting at the end gets a cell of its own, keeping the marks aligned.
  split = lcd::SplitCells("5..", 3);
  EXPECT_EQ(split.chars.size(), split.marks.size());
}

TEST(LcdGeometry, CellValuesOfTheCurrentTimeDisplay) {
  const LcdGeometry g(60, 13, 7, 2, 1, 1, 1);
  EXPECT_EQ(g.S(), 3);
  EXPECT_EQ(g.CW(), 5);
  EXPECT_EQ(g.CH(), 12);
  EXPECT_EQ(g.LH(), 3);
  EXPECT_EQ(g.LV(), 4);
  EXPECT_EQ(g.CellX(1), 3);
  EXPECT_EQ(g.CellX(7), 51);
  EXPECT_TRUE(g.Point(1).isEmpty());  // a spacing of 2 leaves no room for a point
}

TEST(LcdGeometry, SegmentPolygonsOfOneCell) {
  const LcdGeometry g(60, 13, 7, 2, 1, 1, 1);
  using P = QPoint;
  EXPECT_EQ(g.Segment(1, 1), QPolygon({P(4, 0), P(4, 0), P(7, 0), P(7, 0), P(6, 1), P(5, 1)}));
  EXPECT_EQ(g.Segment(1, 7),
            QPolygon({P(4, 12), P(4, 12), P(7, 12), P(7, 12), P(6, 11), P(5, 11)}));
  EXPECT_EQ(g.Segment(1, 4), QPolygon({P(4, 6), P(5, 6), P(6, 6), P(7, 6), P(6, 7), P(5, 7)}));
  EXPECT_EQ(g.Segment(1, 2), QPolygon({P(3, 1), P(3, 1), P(3, 5), P(3, 5), P(4, 4), P(4, 2)}));
  EXPECT_EQ(g.Segment(1, 5), QPolygon({P(3, 7), P(3, 7), P(3, 11), P(3, 11), P(4, 10), P(4, 8)}));
  EXPECT_EQ(g.Segment(1, 3), QPolygon({P(8, 1), P(8, 1), P(8, 5), P(8, 5), P(7, 4), P(7, 2)}));
  EXPECT_EQ(g.Segment(1, 6), QPolygon({P(8, 7), P(8, 7), P(8, 11), P(8, 11), P(7, 10), P(7, 8)}));
  // Thickness 2 rounds d / 4 = 0.5 and d / 2 = 1 half to even.
  const LcdGeometry thick(92, 34, 4, 5, 2, 2, 2);
  EXPECT_EQ(thick.Segment(1, 1)[0], QPoint(thick.CellX(1) + 2, 0));
  EXPECT_EQ(thick.Segment(1, 4)[0].y(), thick.CH() / 2 - 1 + 1);
  EXPECT_EQ(lcd::RoundHalfEven(2.5), 2);
  EXPECT_EQ(lcd::RoundHalfEven(-0.5), 0);
  EXPECT_EQ(lcd::RoundHalfEven(1.5), 2);
}

TEST(LcdGeometry, ColonAndPointOfTheCurrentPositionDisplay) {
  const LcdGeometry g(78, 10, 5, 7, 1, 1, 1);
  EXPECT_EQ(g.CW(), 7);
  EXPECT_EQ(g.Point(5), QRect(62, 4, 5, 5));
  EXPECT_EQ(g.CellX(5), 68);
  const auto colon = g.Colon(1);
  EXPECT_EQ(colon[0], QRect(8 + (7 - 1) / 2, 4 - 2 * 0, 1, 0));
}

TEST(LcdCharacterTable, HasThe38RowsInOrder) {
  EXPECT_EQ(lcd::TableCharacters(), "0123456789-:ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  auto bits = [](std::initializer_list<int> s) {
    unsigned b = 0;
    for (int i : s) b |= 1u << i;
    return b;
  };
  EXPECT_EQ(lcd::LitSegments('8'), bits({1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(lcd::LitSegments('A'), bits({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(lcd::LitSegments(':'), bits({8}));
  EXPECT_EQ(lcd::LitSegments('7'), bits({1, 3, 6}));
  EXPECT_EQ(lcd::LitSegments('Z'), bits({1, 3, 4, 5, 7}));
  EXPECT_EQ(lcd::LitSegments(' '), 0u);
  EXPECT_EQ(lcd::SegmentOrder(1), (std::array<int, 8>{8, 4, 2, 1, 3, 6, 7, 5}));
  EXPECT_EQ(lcd::SegmentOrder(lcd::OrderFor(controls::anNone)),
            (std::array<int, 8>{1, 2, 3, 8, 4, 5, 6, 7}));
}

TEST(LcdPainting, PointLightsInTheGapLeftOfItsCell) {
  auto display = MakeLcd(78, 10, 5, 7);
  display->SetValue("12.5");
  const QImage image = display->grab().toImage();
  EXPECT_EQ(image.pixel(64, 6), Rgb(kOn));   // point of cell 5
  EXPECT_EQ(image.pixel(49, 6), Rgb(kOff));  // point of cell 4
  EXPECT_EQ(image.pixel(0, 0), Rgb(kBack));
  // The 5 lights its top and lower right, not its lower left.
  const LcdGeometry g = display->Geometry();
  EXPECT_EQ(image.pixel(g.Segment(5, 1).boundingRect().center()), Rgb(kOn));
  EXPECT_EQ(image.pixel(g.Segment(5, 5)[4]), Rgb(kOff));
  // Blank cells stay unlit.
  EXPECT_EQ(image.pixel(g.Segment(1, 1).boundingRect().center()), Rgb(kOff));
}

TEST(LcdPainting, CommaBlanksTheDisplay) {
  auto display = MakeLcd(78, 10, 5, 7);
  display->SetValue("88888");
  const QImage lit = display->grab().toImage();
  display->SetValue("12,5");
  EXPECT_EQ(display->Value(), "");
  const QImage image = display->grab().toImage();
  EXPECT_NE(image, lit);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ASSERT_NE(image.pixel(x, y), Rgb(kOn)) << x << "," << y;
  EXPECT_EQ(display->LastDrawnValue(), "");
}

TEST(LcdPainting, AChangeRepaintsOnlyTheChangedCells) {
  auto display = MakeLcd(60, 13, 7, 2);
  display->SetValue("1200");
  display->show();
  ASSERT_TRUE(testing_support::WaitFor([&] { return display->LastDrawnValue() == "1200"; }));
  PaintCounter counter(display.get());
  display->SetValue("1209");
  ASSERT_TRUE(testing_support::WaitFor([&] { return counter.paints > 0; }));
  const LcdGeometry g = display->Geometry();
  EXPECT_TRUE(counter.area.contains(g.CellBounds(7)));
  EXPECT_FALSE(counter.area.intersects(g.CellBounds(6)));
  counter.paints = 0;
  display->SetValue("1209");  // the same value repaints nothing
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.paints, 0);
  // The picture drawn piecewise equals one drawn from scratch.
  auto fresh = MakeLcd(60, 13, 7, 2);
  fresh->SetValue("1209");
  EXPECT_EQ(display->grab().toImage(), fresh->grab().toImage());
}

TEST(LcdPainting, ValuesShownOneOverTheLastEndOnAFreshPicture) {
  // The shapes of the keyboard window's time and position displays, which
  // change at every refresh of a playing clip.
  for (const auto& [width, height, digits, spacing] :
       {std::tuple{60, 13, 7, 2}, std::tuple{78, 10, 5, 7}}) {
    auto display = MakeLcd(width, height, digits, spacing);
    display->show();
    for (const QString value : {"0", "13", "250", "1234", "1235", "9999", "8", "12.5", "88888"}) {
      display->SetValue(value);
      ASSERT_TRUE(testing_support::WaitFor([&] { return display->LastDrawnValue() == value; }));
      auto fresh = MakeLcd(width, height, digits, spacing);
      fresh->SetValue(value);
      ASSERT_EQ(display->grab().toImage(), fresh->grab().toImage())
          << width << " " << value.toStdString();
    }
  }
}

TEST(LcdPainting, AChangeAfterAResizeOrNewDigitCountOrColourDrawsTheNewShapes) {
  auto display = MakeLcd(60, 13, 7, 2);
  display->show();
  // Each value is drawn as the window shows it: a change over the last.
  const auto show = [&](const QString& value) {
    display->SetValue(value);
    return testing_support::WaitFor([&] { return display->LastDrawnValue() == value; });
  };
  const auto same = [&](int width, int height, int digits, controls::TColor on) {
    auto fresh = MakeLcd(width, height, digits, 2);
    fresh->SetOnColor(on);
    fresh->SetValue(display->Value());
    return display->grab().toImage() == fresh->grab().toImage();
  };
  ASSERT_TRUE(show("1200") && show("1209"));
  display->resize(78, 10);
  ASSERT_TRUE(show("1200") && show("1209"));
  EXPECT_TRUE(same(78, 10, 7, kOn));
  display->SetDigitNum(5);
  ASSERT_TRUE(show("1:20") && show("1:09"));
  EXPECT_TRUE(same(78, 10, 5, kOn));
  display->SetOnColor(0xFF0000);
  ASSERT_TRUE(show("1:20") && show("1:09"));
  EXPECT_TRUE(same(78, 10, 5, 0xFF0000));
}

TEST(LcdPainting, AnimatedChangeEndsOnTheSamePicture) {
  auto display = MakeLcd(92, 34, 4, 5);
  display->SetGapX(2);
  display->SetGapY(2);
  display->SetSegmentSize(2);
  display->SetValue("10");
  display->show();
  ASSERT_TRUE(testing_support::WaitFor([&] { return display->LastDrawnValue() == "10"; }));
  display->SetAnimation(controls::anRandom);
  display->SetAnimationDelay(70);
  display->SetValue("-8:A");
  display->SetValue("-8:B");  // arrives while the first change still animates
  ASSERT_TRUE(testing_support::WaitFor([&] { return display->LastDrawnValue() == "-8:B"; }));
  auto fresh = MakeLcd(92, 34, 4, 5);
  fresh->SetGapX(2);
  fresh->SetGapY(2);
  fresh->SetSegmentSize(2);
  fresh->SetValue("-8:B");
  EXPECT_EQ(display->grab().toImage(), fresh->grab().toImage());
}

TEST(LcdProperties, DefaultsAndRejectedDigitCount) {
  TLCD99 display(nullptr);
  EXPECT_EQ(display.size(), QSize(92, 34));
  EXPECT_EQ(display.DigitNum(), 4);
  EXPECT_EQ(display.DigitSpacing(), 5);
  EXPECT_EQ(display.OnColor(), 0x00FF00u);
  EXPECT_EQ(display.Value(), "");
  EXPECT_THROW(display.SetDigitNum(0), std::invalid_argument);
  EXPECT_EQ(display.DigitNum(), 4);
}
