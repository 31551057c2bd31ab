#include "controls/LcdGeometry.h"

#include <cmath>

namespace controls {
namespace lcd {
namespace {

constexpr unsigned Bits(std::initializer_list<int> segments) {
  unsigned bits = 0;
  for (int s : segments) bits |= 1u << s;
  return bits;
}

struct Row {
  char c;
  unsigned segments;
};

constexpr Row kTable[38] = {
    {'0', Bits({1, 2, 3, 5, 6, 7})},
    {'1', Bits({3, 6})},
    {'2', Bits({1, 3, 4, 5, 7})},
    {'3', Bits({1, 3, 4, 6, 7})},
    {'4', Bits({2, 3, 4, 6})},
    {'5', Bits({1, 2, 4, 6, 7})},
    {'6', Bits({1, 2, 4, 5, 6, 7})},
    {'7', Bits({1, 3, 6})},
    {'8', Bits({1, 2, 3, 4, 5, 6, 7})},
    {'9', Bits({1, 2, 3, 4, 6, 7})},
    {'-', Bits({4})},
    {':', Bits({8})},
    {'A', Bits({1, 2, 3, 4, 5, 6})},
    {'B', Bits({2, 4, 5, 6, 7})},
    {'C', Bits({1, 2, 5, 7})},
    {'D', Bits({3, 4, 5, 6, 7})},
    {'E', Bits({1, 2, 4, 5, 7})},
    {'F', Bits({1, 2, 4, 5})},
    {'G', Bits({1, 2, 4, 5, 6, 7})},
    {'H', Bits({2, 4, 5, 6})},
    {'I', Bits({3, 6})},
    {'J', Bits({3, 6, 7})},
    {'K', Bits({2, 3, 4, 5, 6})},
    {'L', Bits({2, 5, 7})},
    {'M', Bits({4, 5, 6})},
    {'N', Bits({4, 5, 6})},
    {'O', Bits({4, 5, 6, 7})},
    {'P', Bits({1, 2, 3, 4, 5})},
    {'Q', Bits({1, 2, 3, 4, 6})},
    {'R', Bits({4, 5})},
    {'S', Bits({1, 2, 4, 6, 7})},
    {'T', Bits({2, 4, 5})},
    {'U', Bits({2, 3, 5, 6, 7})},
    {'V', Bits({2, 3, 5, 6, 7})},
    {'W', Bits({2, 3, 5, 6, 7})},
    {'X', Bits({2, 3, 4, 5, 6})},
    {'Y', Bits({2, 3, 4, 6})},
    {'Z', Bits({1, 3, 4, 5, 7})},
};

constexpr std::array<std::array<int, 8>, 5> kOrders = {{
    {8, 4, 2, 1, 3, 6, 7, 5},  // spiral
    {7, 6, 5, 8, 4, 3, 2, 1},  // up
    {1, 2, 3, 8, 4, 5, 6, 7},  // down, and no animation
    {6, 3, 7, 8, 4, 1, 5, 2},  // left
    {2, 5, 1, 8, 4, 7, 3, 6},  // right
}};

bool Allowed(QChar c) {
  const char16_t u = c.unicode();
  return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || u == '-' || u == ' ' || u == '.' ||
         u == ':';
}

}  // namespace

unsigned LitSegments(QChar c) {
  for (const Row& row : kTable) {
    if (c.unicode() == char16_t(row.c)) return row.segments;
  }
  return 0;
}

QString TableCharacters() {
  QString chars;
  for (const Row& row : kTable) chars += QChar::fromLatin1(row.c);
  return chars;
}

QString NormalizeValue(const QString& text) {
  QString value = text;
  for (QChar& c : value) {
    if (c.unicode() >= 'a' && c.unicode() <= 'z') c = QChar(char16_t(c.unicode() - 'a' + 'A'));
  }
  for (QChar c : value) {
    if (!Allowed(c)) return QString();
  }
  if (value.endsWith(QLatin1Char('.'))) value.chop(1);
  return value;
}

Cells SplitCells(const QString& value, int digitNum) {
  Cells cells;
  bool pointWaiting = false;
  for (QChar c : value) {
    if (c == QLatin1Char('.')) {
      cells.marks += QLatin1Char('.');
      if (pointWaiting) {
        cells.chars += QLatin1Char(' ');
      } else {
        pointWaiting = true;
      }
    } else {
      if (pointWaiting) {
        pointWaiting = false;
      } else {
        cells.marks += QLatin1Char(' ');
      }
      cells.chars += c;
    }
  }
  // A point left waiting at the end has no cell yet; give it one so that
  // both strings stay the same length.
  if (pointWaiting) cells.chars += QLatin1Char(' ');
  if (cells.chars.size() < digitNum) {
    const QString pad(digitNum - cells.chars.size(), QLatin1Char(' '));
    cells.chars.prepend(pad);
    cells.marks.prepend(pad);
  }
  return cells;
}

const std::array<int, 8>& SegmentOrder(int order) {
  return kOrders[(order >= 1 && order <= 5) ? order - 1 : 2];
}

int OrderFor(TLCDAnimation animation) {
  switch (animation) {
    case anSpiral:
      return 1;
    case anUp:
      return 2;
    case anLeft:
      return 4;
    case anRight:
      return 5;
    case anRandom:
      return 0;
    default:
      return 3;
  }
}

int RoundHalfEven(double v) {
  return int(std::nearbyint(v));
}

}  // namespace lcd

LcdGeometry::LcdGeometry(int width, int height, int digitNum, int digitSpacing, int gapX, int gapY,
                         int segmentSize)
    : digitNum_(digitNum < 1 ? 1 : digitNum), t_(segmentSize), gapX_(gapX), gapY_(gapY) {
  const int h1 = height - 1;
  const int w1 = width - 1;
  s_ = digitSpacing + 1;
  cw_ = (w1 - digitNum_ * s_) / digitNum_;
  ch_ = h1;
  lh_ = cw_ - 2 * gapX_;
  lv_ = ch_ / 2 - 2 * gapY_;
}

QPolygon LcdGeometry::Segment(int j, int segment) const {
  using lcd::RoundHalfEven;
  const int x0 = CellX(j);
  const int t = t_;
  auto horizontal = [t](int x, int y, int l, int d) {
    const int ym = y + RoundHalfEven(d / 4.0);
    return QPolygon({QPoint(x, ym), QPoint(x + t / 2, y), QPoint(x + l - t / 2, y),
                     QPoint(x + l, ym), QPoint(x + l - t, y + d), QPoint(x + t, y + d)});
  };
  auto middle = [t](int x, int y, int l, int d) {
    const int ym = y + RoundHalfEven(d / 2.0);
    return QPolygon({QPoint(x, ym), QPoint(x + t, y), QPoint(x + l - t, y), QPoint(x + l, ym),
                     QPoint(x + l - t, y + d), QPoint(x + t, y + d)});
  };
  auto vertical = [t](int x, int y, int l, int d) {
    const int xm = x + RoundHalfEven(d / 4.0);
    return QPolygon({QPoint(xm, y), QPoint(x, y + t / 2), QPoint(x, y + l - t / 2),
                     QPoint(xm, y + l), QPoint(x + d, y + l - t), QPoint(x + d, y + t)});
  };
  switch (segment) {
    case 1:
      return horizontal(x0 + gapX_, 0, lh_, t);
    case 7:
      return horizontal(x0 + gapX_, ch_, lh_, -t);
    case 4:
      return middle(x0 + gapX_, ch_ / 2 - t / 2, lh_, t);
    case 2:
      return vertical(x0, gapY_, lv_, t);
    case 5:
      return vertical(x0, ch_ / 2 + gapY_, lv_, t);
    case 3:
      return vertical(x0 + cw_, gapY_, lv_, -t);
    case 6:
      return vertical(x0 + cw_, ch_ / 2 + gapY_, lv_, -t);
    default:
      return QPolygon();
  }
}

std::array<QRect, 2> LcdGeometry::Colon(int j) const {
  const int w = lh_ / 3;
  const int h = lv_ / 3;
  const int x = CellX(j) + (cw_ - w) / 2;
  return {QRect(x, ch_ / 2 - 2 * h, w, h), QRect(x, ch_ / 2 + h, w, h)};
}

QRect LcdGeometry::Point(int j) const {
  const int x = (j - 1) * (cw_ + s_) + 2;
  const int y = ch_ - s_ + 3;
  const int x2 = x + s_ - 3;
  if (x2 <= x || ch_ <= y) return QRect();
  return QRect(x, y, x2 - x, ch_ - y);
}

QRect LcdGeometry::CellBounds(int j) const {
  QRect bounds = QRect(CellX(j), 0, cw_ + 1, ch_ + 1);
  for (int s = 1; s <= 7; ++s) bounds |= Segment(j, s).boundingRect();
  for (const QRect& r : Colon(j)) {
    if (!r.isEmpty()) bounds |= r;
  }
  const QRect point = Point(j);
  if (!point.isEmpty()) bounds |= point;
  return bounds;
}

}  // namespace controls
