#pragma once
// The text rules and cell geometry of the seven-segment display, shared by
// its painting and its repaint bookkeeping.

#include <QPolygon>
#include <QRect>
#include <QString>

#include <array>

namespace controls {

enum TLCDAnimation { anNone, anSpiral, anUp, anDown, anLeft, anRight, anRandom };

// Segments: 1 top, 2 upper left, 3 upper right, 4 middle, 5 lower left,
// 6 lower right, 7 bottom, 8 colon.
namespace lcd {

// Bit s set when segment s is lit; 0 for a space or an unknown character.
unsigned LitSegments(QChar c);

// The characters of the 38-row table, in row order.
QString TableCharacters();

// Applies the Value rules: upper case, any character outside the set blanks
// the whole text, one trailing "." is dropped.
QString NormalizeValue(const QString& text);

// Cells and their decimal-point marks ("." or space), right-aligned to
// digitNum cells (a longer text is kept whole).
struct Cells {
  QString chars;
  QString marks;
};
Cells SplitCells(const QString& value, int digitNum);

// Segment order (1..5) and its eight steps.
const std::array<int, 8>& SegmentOrder(int order);
// The fixed order of each animation; anRandom has none (0).
int OrderFor(TLCDAnimation animation);

// round() with halves to the even neighbour.
int RoundHalfEven(double v);

}  // namespace lcd

class LcdGeometry {
 public:
  LcdGeometry(int width, int height, int digitNum, int digitSpacing, int gapX, int gapY,
              int segmentSize);

  int S() const { return s_; }
  int CW() const { return cw_; }
  int CH() const { return ch_; }
  int LH() const { return lh_; }
  int LV() const { return lv_; }
  int DigitNum() const { return digitNum_; }

  // Left edge of cell j (1-based).
  int CellX(int j) const { return (j - 1) * cw_ + j * s_; }
  // Segment 1..7 of cell j as a closed polygon (the last vertex is not repeated).
  QPolygon Segment(int j, int segment) const;
  // The colon's two ellipses, each as its bounding rectangle (left, top, width, height).
  std::array<QRect, 2> Colon(int j) const;
  // The decimal point in the gap left of cell j; empty when the gap is too small.
  QRect Point(int j) const;
  // Everything cell j draws, its point included.
  QRect CellBounds(int j) const;

 private:
  int digitNum_;
  int t_, gapX_, gapY_;
  int s_, cw_, ch_, lh_, lv_;
};

}  // namespace controls
