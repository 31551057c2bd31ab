#pragma once
// TLCD99: a row of seven-segment cells showing a short text. A value change
// redraws only the segments of the cells (and points) that changed, on a
// picture that holds the last drawn value, and repaints only their rectangles.

#include "controls/Colors.h"
#include "controls/LcdGeometry.h"
#include "controls/SetIfChanged.h"

#include <QImage>
#include <QPolygon>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

class QPainter;

namespace controls {

class TLCD99 : public QWidget {
  Q_OBJECT
 public:
  explicit TLCD99(QWidget* parent);

  const QString& Value() const { return value_; }
  // Upper-cases the text; a character outside 0-9, A-Z, "-", ":", "." and
  // space blanks the whole display; a trailing "." is dropped.
  void SetValue(const QString& text);

  int DigitNum() const { return digitNum_; }
  // Throws std::invalid_argument below 1.
  void SetDigitNum(int value);
  int DigitSpacing() const { return digitSpacing_; }
  void SetDigitSpacing(int value) { SetProperty(digitSpacing_, value); }
  int GapX() const { return gapX_; }
  void SetGapX(int value) { SetProperty(gapX_, value); }
  int GapY() const { return gapY_; }
  void SetGapY(int value) { SetProperty(gapY_, value); }
  int SegmentSize() const { return segmentSize_; }
  void SetSegmentSize(int value) { SetProperty(segmentSize_, value); }
  TColor OnColor() const { return onColor_; }
  void SetOnColor(TColor value) { SetProperty(onColor_, value); }
  TColor OffColor() const { return offColor_; }
  void SetOffColor(TColor value) { SetProperty(offColor_, value); }
  TColor Color() const { return color_; }
  void SetColor(TColor value) { SetProperty(color_, value); }
  TLCDAnimation Animation() const { return animation_; }
  void SetAnimation(TLCDAnimation value) { animation_ = value; }
  int AnimationDelay() const { return animationDelay_; }
  void SetAnimationDelay(int value) { animationDelay_ = value; }

  // The value the picture shows now (it lags Value during an animated change).
  const QString& LastDrawnValue() const { return lastDrawn_; }
  LcdGeometry Geometry() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Change {
    lcd::Cells from, to;
    int order = 3;
    int step = 0;  // next step, 0..8
  };
  // What one cell draws, worked out once per size and set of properties:
  // the displays change value every refresh.
  struct CellShapes {
    std::array<QPolygon, 8> segments;  // 1..7; [0] unused
    std::array<QRect, 2> colon;
    QRect point;
    QRect bounds;
    QRect segmentArea;  // what its segments and colon can touch
  };

  // Stores a property of the picture; it is redrawn only on a real change.
  template <typename T>
  void SetProperty(T& field, const T& value) {
    if (SetIfChanged(field, value)) PropertyChanged();
  }
  void PropertyChanged();
  void RenderAll();
  void BringPictureUpToDate();
  const std::vector<CellShapes>& Shapes();
  void DrawStep(QPainter& painter, const Change& change, int step, bool onlyChanged);
  void DrawSegment(QPainter& painter, int cell, QChar c, int segment);
  // opaque: on the display's colour, to be copied in place; else on
  // transparency, to be drawn over.
  const QImage& Glyph(int cell, QChar c, int order, bool opaque = false);
  void DrawChangedCells(QPainter& painter, const Change& change);
  bool CopyChangedCells(const Change& change);
  void DrawPoints(QPainter& painter, const Change& change, bool onlyChanged);
  void NextAnimationStep();
  QRect ChangedBounds(const QString& fromValue, const QString& toValue);
  int ChooseOrder();

  QString value_;
  QString lastDrawn_;
  int digitNum_ = 4;
  int digitSpacing_ = 5;
  int gapX_ = 2;
  int gapY_ = 2;
  int segmentSize_ = 2;
  TColor onColor_ = 0x00FF00;
  TColor offColor_ = 0;
  TColor color_ = 0;
  TLCDAnimation animation_ = anNone;
  int animationDelay_ = 0;

  std::vector<CellShapes> shapes_;
  QSize shapesSize_;
  // No two cells draw on the same pixel, so a changed cell can be drawn
  // whole, from a picture of its character made once.
  bool cellsApart_ = false;
  // Nor does a point touch a cell's segments: a changed cell's pixels are
  // then its picture's alone, copied without a painter.
  bool pointsApart_ = false;
  std::unordered_map<std::uint64_t, QImage> glyphs_;
  QImage picture_;
  bool pictureValid_ = false;
  bool animating_ = false;
  Change change_;
  QString pendingTarget_;  // the value an animated change is drawing
  QTimer stepTimer_;
  std::minstd_rand random_{std::random_device{}()};
};

}  // namespace controls
