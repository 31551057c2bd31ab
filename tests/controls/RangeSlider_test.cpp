#include "controls/MkRangeSlider.h"

#include "ControlsTestSupport.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPainter>
#include <QTest>

#include <memory>

using controls::BuildThumbShape;
using controls::EmkRangeSlider;
using controls::RangeSliderLayout;
using controls::SliderThumb;
using controls::TmkRangeSlider;
using controls_test::EventLog;
using namespace controls;

namespace {

constexpr TColor kBack = 13161937, kTag = 16695386, kPos = 3322351;

// The keyboard window's slider.
std::unique_ptr<TmkRangeSlider> MakeSlider1() {
  auto slider = std::make_unique<TmkRangeSlider>(nullptr);
  slider->resize(556, 22);
  slider->SetColorBack(kBack);
  slider->SetColorTag(kTag);
  slider->SetColorPos(kPos);
  slider->SetMax(10000);
  slider->SetMaxPosition(10000);
  slider->SetFrequency(100);
  slider->SetThumbStyle(rsTriangle);
  return slider;
}

RangeSliderLayout Slider1Layout() {
  return RangeSliderLayout(rsHorizontal, rsBottomRight, rsTriangle, QSize(556, 22), 0, 10000);
}

void Record(TmkRangeSlider& s, EventLog& log) {
  auto value = [&log](const char* name) {
    return [&log, name](QObject*, int v) { log.Add(QStringLiteral("%1 %2").arg(name).arg(v)); };
  };
  s.OnBeforeChange = [&log](QObject*) { log.Add("before"); };
  s.OnMinChange = value("min");
  s.OnMaxChange = value("max");
  s.OnMinPosChange = value("minpos");
  s.OnMaxPosChange = value("maxpos");
  s.OnPosChange = value("pos");
  s.OnMax = value("onmax");
  s.OnChange = [&log](QObject*) { log.Add("change"); };
}

QPoint Center(const QRect& r) {
  return r.center();
}

void Key(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent event(QEvent::KeyPress, key, mods);
  QApplication::sendEvent(w, &event);
}

}  // namespace

TEST(RangeSliderLayout, KeyboardWindowValues) {
  const RangeSliderLayout layout = Slider1Layout();
  const auto& start = layout.Thumb(SliderThumb::Start);
  EXPECT_EQ(start.size, QSize(10, 19));
  EXPECT_EQ(start.hotSpot, QPoint(9, 9));
  EXPECT_EQ(layout.RulerLength(), 530);
  EXPECT_EQ(layout.Ruler(), QRect(13, 6, 530, 11));
  EXPECT_EQ(layout.TickStep(100), 100);
  EXPECT_EQ(layout.TickStep(0), 100);  // 50 would give 2 pixels
  EXPECT_EQ(layout.ValueToPixel(5000), 265);
  EXPECT_EQ(layout.PixelToValue(265), 5000);
  const auto ticks = layout.Ticks(100);
  ASSERT_EQ(ticks.size(), 100u);  // 0 to 9900; none at Max itself
  EXPECT_TRUE(ticks[0].major);
  EXPECT_FALSE(ticks[1].major);
  EXPECT_TRUE(ticks[10].major);
  EXPECT_EQ(ticks[10].pixel, 53);
}

TEST(RangeSliderLayout, MajorStepFollowsTheTickStep) {
  const RangeSliderLayout small(rsHorizontal, rsBottomRight, rsStandard, QSize(200, 32), 0, 100);
  EXPECT_EQ(small.RulerLength(), 200 - 2 * 10 - 6);
  EXPECT_EQ(small.TickStep(0), 5);  // 174 * 2 / 100 = 3, 174 * 5 / 100 = 8
  auto ticks = small.Ticks(0);
  EXPECT_TRUE(ticks[2].major);  // 10
  EXPECT_FALSE(ticks[1].major);
  ticks = small.Ticks(10);
  EXPECT_EQ(ticks.size(), 10u);
  EXPECT_TRUE(ticks[0].major);
  EXPECT_FALSE(ticks[1].major);  // 10 is not a multiple of 100
  // Ticks start at Min - (Min mod f); one that falls left of the ruler's
  // first pixel column has nothing to show.
  const RangeSliderLayout shifted(rsHorizontal, rsBottomRight, rsStandard, QSize(200, 32), 7, 107);
  EXPECT_EQ(shifted.Ticks(10).front().value, 10);
  const RangeSliderLayout near(rsHorizontal, rsBottomRight, rsStandard, QSize(200, 32), 1, 1000);
  EXPECT_EQ(near.Ticks(10).front().value, 0);  // at pixel 0, half a mark on the ruler
}

TEST(RangeSliderLayout, DenseTicksGiveOneMarkPerPixelAndKeepTheirStep) {
  const RangeSliderLayout layout = Slider1Layout();  // L = 530 over 0 to 10000
  // A step of 1 is 19 ticks to a pixel: every pixel from 0 holds some, and
  // all but the last (9991 to 9999) a multiple of 10, the major step for
  // steps below 10.
  auto ticks = layout.Ticks(1);
  ASSERT_EQ(ticks.size(), 531u);
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_EQ(ticks[i].pixel, int(i));
    EXPECT_EQ(ticks[i].major, i < 530) << i;
    EXPECT_EQ(layout.ValueToPixel(ticks[i].value), ticks[i].pixel);
  }
  // A step of 20 (about one pixel apart) keeps its own major step of 100:
  // long marks only where a multiple of 100 lands.
  ticks = layout.Ticks(20);
  int majors = 0;
  for (const auto& tick : ticks) {
    EXPECT_EQ(tick.value % 20, 0);
    if (tick.major) {
      ++majors;
      EXPECT_EQ(tick.value % 100, 0) << tick.value;
    }
  }
  EXPECT_EQ(majors, 100);
  EXPECT_GT(ticks.size(), 450u);
  // Hostile ranges cost no more than the ruler's length in marks.
  const RangeSliderLayout huge(rsHorizontal, rsBottomRight, rsStandard, QSize(200, 32), 0,
                               2000000000);
  EXPECT_LE(huge.Ticks(1).size(), std::size_t(huge.RulerLength()) + 1);
  const RangeSliderLayout full(rsHorizontal, rsBottomRight, rsStandard, QSize(200, 32), -2147483647,
                               2147483647);
  EXPECT_LE(full.Ticks(3).size(), std::size_t(full.RulerLength()) + 1);
  EXPECT_LE(full.Ticks(0).size(), std::size_t(full.RulerLength()) + 1);
  // A step larger than the range: its one tick, Min - (Min mod f), lies far
  // left of the ruler.
  const RangeSliderLayout wide(rsHorizontal, rsBottomRight, rsStandard, QSize(200, 32), 5, 105);
  EXPECT_TRUE(wide.Ticks(2000000000).empty());
  EXPECT_EQ(wide.Ticks(5).front().value, 5);
}

TEST(RangeSliderLayout, ThumbsAreMirroredAndRotatedByOrientation) {
  const auto stop = Slider1Layout().Thumb(SliderThumb::Stop);
  EXPECT_EQ(stop.hotSpot, QPoint(0, 9));
  EXPECT_EQ(stop.vertices, QPolygon({QPoint(9, 9), QPoint(0, 18), QPoint(0, 0)}));  // reversed
  const auto position = Slider1Layout().Thumb(SliderThumb::Position);
  EXPECT_EQ(position.size, QSize(7, 19));
  EXPECT_EQ(position.hotSpot, QPoint(3, 9));
  const auto vertical = BuildThumbShape(rsTriangle, 3, true);
  EXPECT_EQ(vertical.hotSpot, QPoint(9, 9));
  EXPECT_EQ(vertical.size, QSize(19, 10));
  const RangeSliderLayout v(rsVertical, rsBottomRight, rsTriangle, QSize(22, 556), 0, 10000);
  EXPECT_EQ(v.Ruler(), QRect(6, 13, 11, 530));
  EXPECT_EQ(BuildThumbShape(rsArrow, 0, false).size, QSize(22, 25));
}

TEST(RangeSliderSetters, MarksClampAndPushThePosition) {
  auto s = MakeSlider1();
  s->SetMinPosition(100);
  s->SetMaxPosition(500);
  s->SetPosition(300);
  EventLog log;
  Record(*s, log);
  s->SetMinPosition(505);  // beyond the stop mark
  EXPECT_EQ(s->MinPosition(), 500);
  EXPECT_EQ(log.Joined(), "before, pos 500, minpos 500, change");
  s->SetMinPosition(100);
  log.entries.clear();
  s->SetMaxPosition(95);  // below the start mark: pushes the position down with it
  EXPECT_EQ(s->MaxPosition(), 100);
  EXPECT_EQ(s->Position(), 100);
  EXPECT_EQ(log.Joined(), "before, pos 100, onmax 100, maxpos 100, change");
}

TEST(RangeSliderSetters, StopMarkMeetingThePositionStillRaisesOnMax) {
  auto s = MakeSlider1();
  s->SetPosition(400);
  EventLog log;
  Record(*s, log);
  s->SetMaxPosition(400);
  EXPECT_EQ(log.Joined(), "before, pos 400, onmax 400, maxpos 400, change");
  log.entries.clear();
  s->SetMaxPosition(400);  // the same value raises nothing
  s->SetMinPosition(0);
  s->SetPosition(400);
  EXPECT_EQ(log.Joined(), "");
}

TEST(RangeSliderSetters, PositionBeyondTheStopMarkRaisesOnMaxOnly) {
  auto s = MakeSlider1();
  s->SetMaxPosition(8000);
  EventLog log;
  Record(*s, log);
  s->SetPosition(8001);
  EXPECT_EQ(s->Position(), 8000);
  EXPECT_EQ(log.Joined(), "before, onmax 8000, change");
  log.entries.clear();
  s->SetPosition(-5);
  EXPECT_EQ(s->Position(), 0);
  EXPECT_EQ(log.Joined(), "before, change");
}

TEST(RangeSliderSetters, RangeChangesClampOnlyTheMarks) {
  auto s = MakeSlider1();
  s->SetMinPosition(100);
  s->SetMaxPosition(9000);
  s->SetPosition(8500);
  EventLog log;
  Record(*s, log);
  s->SetMax(5000);
  EXPECT_EQ(s->MaxPosition(), 5000);
  EXPECT_EQ(s->Position(), 8500);
  EXPECT_EQ(log.Joined(), "before, max 5000, change");
  log.entries.clear();
  s->SetMin(200);
  EXPECT_EQ(s->MinPosition(), 200);
  EXPECT_EQ(log.Joined(), "before, min 200, change");
  try {
    s->SetMin(5000);
    FAIL();
  } catch (const EmkRangeSlider& e) {
    EXPECT_STREQ(e.what(), "Min >= Max");
  }
  try {
    s->SetMax(200);
    FAIL();
  } catch (const EmkRangeSlider& e) {
    EXPECT_STREQ(e.what(), "Max <= Min");
  }
  EXPECT_EQ(s->Min(), 200);
  EXPECT_EQ(s->Max(), 5000);
  log.entries.clear();
  s->SetFrequency(-1);
  s->SetFrequency(100);
  EXPECT_EQ(log.Joined(), "");
}

TEST(RangeSliderThumbs, DrawingAThumbWithoutASliderFails) {
  controls::TmkThumbBitmap thumb;
  thumb.Render(BuildThumbShape(rsTriangle, 0, false), Qt::blue);
  QImage target(20, 20, QImage::Format_RGB32);
  QPainter painter(&target);
  try {
    thumb.Draw(painter, QRect(0, 0, 10, 19));
    FAIL();
  } catch (const EmkRangeSlider& e) {
    EXPECT_STREQ(e.what(), "Slider not assigned to bitmap");
  }
  // The corner outside the triangle is transparent.
  EXPECT_EQ(qAlpha(thumb.Picture.pixel(0, 0)), 0);
  EXPECT_EQ(thumb.Picture.pixel(6, 9), QColor(Qt::blue).rgb());
}

TEST(RangeSliderPainting, ThumbsSitWhereValueToPixelSays) {
  auto s = MakeSlider1();
  s->SetMinPosition(2000);
  s->SetMaxPosition(8000);
  s->SetPosition(5000);
  const QImage image = s->grab().toImage();
  const QRgb tag = ToQColor(kTag).rgb(), pos = ToQColor(kPos).rgb();
  const int left = s->Layout().Ruler().left();
  const int startX = left + s->ValueToPixel(2000) - 1 - 9;
  EXPECT_EQ(s->Thumb(SliderThumb::Start).DrawnRect, QRect(startX, 2, 10, 19));
  EXPECT_EQ(image.pixel(startX + 6, 11), tag);
  EXPECT_NE(image.pixel(startX - 1, 11), tag);
  const int stopX = left + s->ValueToPixel(8000);
  EXPECT_EQ(image.pixel(stopX + 3, 11), tag);
  EXPECT_NE(image.pixel(stopX - 1, 11), tag);
  const int posX = left + s->ValueToPixel(5000) - 1 - 3;
  EXPECT_EQ(image.pixel(posX + 3, 6), pos);
  EXPECT_EQ(image.pixel(1, 1), ToQColor(kBack).rgb());
}

// The pixel columns of the ruler's inside whose colour is not the slider's
// background, at row y of the control.
QString MarkedColumns(const QImage& image, const RangeSliderLayout& layout, int y) {
  QString columns;
  const QRect ruler = layout.Ruler();
  for (int x = ruler.left() + 1; x < ruler.right(); ++x)
    columns += image.pixel(x, y) == ToQColor(kBack).rgb() ? '.' : '|';
  return columns;
}

TEST(RangeSliderPainting, AnExplicitFrequencyDrawsEveryTickItAsksFor) {
  auto s = MakeSlider1();
  s->SetMinPosition(0);
  s->SetPosition(0);
  const RangeSliderLayout& layout = s->Layout();
  const int longRow = layout.Ruler().top() + 3;  // crossed by long marks only
  const int dotRow = layout.Ruler().top() + kRulerThickness / 2;
  // Frequency 1 on 0 to 10000: the ticks are closer than a pixel, so the
  // whole ruler is filled with long marks (multiples of 10), not the sparse
  // marks of an automatic step.
  s->SetFrequency(1);
  QImage image = s->grab().toImage();
  // The thumbs cover the ruler's ends; look between them.
  QString row = MarkedColumns(image, layout, longRow).mid(20, 480);
  EXPECT_EQ(row, QString(480, '|'));
  // Frequency 20: a dot about every pixel, a long mark every 100 units
  // (5.3 pixels).
  s->SetFrequency(20);
  image = s->grab().toImage();
  row = MarkedColumns(image, layout, dotRow).mid(20, 480);
  EXPECT_EQ(row, QString(480, '|'));
  const QString longMarks = MarkedColumns(image, layout, longRow);
  int marks = 0;
  for (int x = 1; x < longMarks.size(); ++x)
    if (longMarks[x] == '|' && longMarks[x - 1] == '.') ++marks;
  EXPECT_GE(marks, 95);
  EXPECT_LE(marks, 100);
  EXPECT_GT(longMarks.count('.'), 300);
}

TEST(RangeSliderMouse, DraggingTheStartThumbMovesTheStartMark) {
  auto s = MakeSlider1();
  EventLog log;
  Record(*s, log);
  const QPoint grab = Center(s->Layout().ThumbRect(SliderThumb::Start, 0));
  controls_test::Press(s.get(), grab);
  EXPECT_FALSE(s->ChangeFlag());
  controls_test::Drag(s.get(), grab + QPoint(53, 0));
  controls_test::Release(s.get(), grab + QPoint(53, 0));
  EXPECT_EQ(s->MinPosition(), 1000);
  EXPECT_EQ(log.Joined(), "before, pos 1000, minpos 1000, change");
  EXPECT_TRUE(s->ChangeFlag());
}

TEST(RangeSliderMouse, DraggingThePositionThumbRaisesOnPosChange) {
  auto s = MakeSlider1();
  s->SetPosition(5000);
  EventLog log;
  Record(*s, log);
  const QPoint grab = Center(s->Layout().ThumbRect(SliderThumb::Position, 5000));
  controls_test::Press(s.get(), grab);
  controls_test::Drag(s.get(), grab + QPoint(53, 0));
  controls_test::Release(s.get(), grab + QPoint(53, 0));
  EXPECT_EQ(s->Position(), 6000);
  EXPECT_EQ(log.Joined(), "before, pos 6000, change");
}

TEST(RangeSliderMouse, ShiftDragMovesThePairOrNothing) {
  auto s = MakeSlider1();
  s->SetMinPosition(1000);
  s->SetMaxPosition(3000);
  const QPoint grab = Center(s->Layout().ThumbRect(SliderThumb::Start, 1000));
  controls_test::Press(s.get(), grab);
  // 8000 pixels' worth to the right would push the stop mark beyond Max.
  controls_test::Drag(s.get(), grab + QPoint(424, 0), Qt::ShiftModifier);
  EXPECT_EQ(s->MinPosition(), 1000);
  EXPECT_EQ(s->MaxPosition(), 3000);
  // A jump further than the gap between the marks keeps the range's length.
  controls_test::Drag(s.get(), grab + QPoint(159, 0), Qt::ShiftModifier);
  EXPECT_EQ(s->MinPosition(), 4000);
  EXPECT_EQ(s->MaxPosition(), 6000);
  controls_test::Drag(s.get(), grab, Qt::ShiftModifier);
  EXPECT_EQ(s->MinPosition(), 1000);
  EXPECT_EQ(s->MaxPosition(), 3000);
  controls_test::Release(s.get(), grab);
}

TEST(RangeSliderMouse, RightPressTakesFocusButStartsNoDrag) {
  auto s = MakeSlider1();
  s->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(s.get()));
  s->activateWindow();
  EventLog log;
  Record(*s, log);
  const QPoint grab = Center(s->Layout().ThumbRect(SliderThumb::Start, 0));
  controls_test::Press(s.get(), grab, Qt::RightButton);
  controls_test::Drag(s.get(), grab + QPoint(53, 0));
  controls_test::Release(s.get(), grab + QPoint(53, 0), Qt::RightButton);
  EXPECT_EQ(s->MinPosition(), 0);
  EXPECT_EQ(log.Joined(), "");
  EXPECT_TRUE(s->ChangeFlag());
  EXPECT_TRUE(s->hasFocus());
}

TEST(RangeSliderMouse, AnyMouseUpReportsChangesSinceTheLastThumbPress) {
  auto s = MakeSlider1();
  s->SetMaxPosition(8000);
  s->SetPosition(1000);
  EventLog log;
  Record(*s, log);
  // A click on the stop thumb that moves nothing: no OnChange, flag clear.
  const QPoint stop = Center(s->Layout().ThumbRect(SliderThumb::Stop, 8000));
  controls_test::Press(s.get(), stop);
  controls_test::Release(s.get(), stop);
  EXPECT_FALSE(s->ChangeFlag());
  // The host moves the position meanwhile; the clear flag holds OnChange back.
  s->SetPosition(3000);
  EXPECT_EQ(log.Joined(), "before");
  // A click on the ruler beside the thumbs reports it.
  const QPoint beside(s->Layout().Ruler().left() + s->ValueToPixel(6000), 11);
  ASSERT_FALSE(s->Layout().ThumbRect(SliderThumb::Stop, 8000).contains(beside));
  ASSERT_FALSE(s->Layout().ThumbRect(SliderThumb::Position, 3000).contains(beside));
  controls_test::Press(s.get(), beside);
  controls_test::Release(s.get(), beside);
  EXPECT_EQ(log.Joined(), "before, change");
  EXPECT_TRUE(s->ChangeFlag());
  // The saved values stay those of the last thumb press: a further click
  // beside the thumbs reports again, as nothing was pressed since.
  controls_test::Press(s.get(), beside);
  controls_test::Release(s.get(), beside);
  EXPECT_EQ(log.Joined(), "before, change, change");
  // After a thumb press that restores the values, a click beside reports nothing.
  s->SetPosition(1000);
  log.entries.clear();
  const QPoint position = Center(s->Layout().ThumbRect(SliderThumb::Position, 1000));
  controls_test::Press(s.get(), position);
  controls_test::Release(s.get(), position);
  controls_test::Press(s.get(), beside, Qt::RightButton);
  controls_test::Release(s.get(), beside, Qt::RightButton);
  EXPECT_EQ(log.Joined(), "");
}

TEST(RangeSliderKeys, ArrowsMoveTheMarks) {
  auto s = MakeSlider1();
  s->SetMinPosition(100);
  s->SetMaxPosition(200);
  Key(s.get(), Qt::Key_Right);
  EXPECT_EQ(s->MinPosition(), 101);
  Key(s.get(), Qt::Key_Down);
  EXPECT_EQ(s->MinPosition(), 100);
  Key(s.get(), Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(s->MaxPosition(), 201);
  Key(s.get(), Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(s->MinPosition(), 99);
  EXPECT_EQ(s->MaxPosition(), 200);
  s->SetMaxPosition(10000);
  Key(s.get(), Qt::Key_Right, Qt::ShiftModifier);  // the stop mark cannot pass Max
  EXPECT_EQ(s->MinPosition(), 99);
  EXPECT_EQ(s->MaxPosition(), 10000);
  // Equal marks move right together.
  s->SetMaxPosition(99);
  Key(s.get(), Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(s->MinPosition(), 100);
  EXPECT_EQ(s->MaxPosition(), 100);
  // Vertical sliders grow downward, so Down moves toward higher values.
  s->SetOrientation(rsVertical);
  Key(s.get(), Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(s->MaxPosition(), 101);
}

TEST(RangeSliderKeys, AKeyPressSetsTheChangeFlagAgain) {
  auto s = MakeSlider1();
  EventLog log;
  Record(*s, log);
  const QPoint grab = Center(s->Layout().ThumbRect(SliderThumb::Start, 0));
  controls_test::Press(s.get(), grab);
  controls_test::Release(s.get(), grab);  // nothing moved: the flag stays clear
  EXPECT_FALSE(s->ChangeFlag());
  s->SetPosition(50);
  EXPECT_EQ(log.Joined(), "before");
  Key(s.get(), Qt::Key_Right);
  EXPECT_TRUE(s->ChangeFlag());
  EXPECT_EQ(log.entries.last(), "change");
}
