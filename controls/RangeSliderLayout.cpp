#include "controls/RangeSliderLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace controls {
namespace {

struct ShapeDef {
  QPoint hot;
  std::vector<QPoint> vertices;
};

ShapeDef Definition(TmkThumbStyle style) {
  switch (style) {
    case rsTriangle:
      return {{3, 3}, {{3, 0}, {3, 6}, {0, 3}}};
    case rsCorner:
      return {{6, 3}, {{0, 0}, {6, 0}, {6, 6}}};
    case rsArrow:
      return {{7, 4}, {{0, 3}, {3, 3}, {3, 0}, {7, 4}, {3, 8}, {3, 5}, {0, 5}}};
    case rsPosition:
      return {{1, 3}, {{0, 0}, {2, 0}, {2, 3}, {1, 6}, {0, 3}}};
    default:
      return {{3, 3}, {{0, 0}, {3, 0}, {3, 7}, {0, 4}}};
  }
}

QPoint Rotate(QPoint p, int r) {
  switch (r & 3) {
    case 1:
      return {-p.y(), p.x()};
    case 2:
      return {-p.x(), -p.y()};
    case 3:
      return {p.y(), -p.x()};
    default:
      return p;
  }
}

// Rotation and mirrors by orientation and tick style.
struct Transform {
  int rotation;
  bool startMirrored;
  bool othersMirrored;
};

Transform TransformFor(TmkOrientation orientation, TmkTickStyle tickStyle) {
  if (orientation == rsHorizontal)
    return tickStyle == rsBottomRight ? Transform{0, false, true} : Transform{2, true, false};
  return tickStyle == rsBottomRight ? Transform{3, true, false} : Transform{1, false, true};
}

}  // namespace

ThumbShape BuildThumbShape(TmkThumbStyle style, int rotation, bool mirror) {
  ShapeDef def = Definition(style);
  if (mirror) {
    def.hot.setX(-def.hot.x());
    for (QPoint& v : def.vertices) v.setX(-v.x());
    std::reverse(def.vertices.begin(), def.vertices.end());
  }
  def.hot = Rotate(def.hot, rotation);
  for (QPoint& v : def.vertices) v = Rotate(v, rotation);
  int minX = 0, minY = 0;
  for (const QPoint& v : def.vertices) {
    minX = std::min(minX, v.x());
    minY = std::min(minY, v.y());
  }
  const QPoint shift(-minX, -minY);
  ThumbShape shape;
  shape.hotSpot = (def.hot + shift) * kThumbScale;
  int maxX = 0, maxY = 0;
  for (const QPoint& v : def.vertices) {
    const QPoint p = (v + shift) * kThumbScale;
    shape.vertices << p;
    maxX = std::max(maxX, p.x());
    maxY = std::max(maxY, p.y());
  }
  shape.size = QSize(maxX + 1, maxY + 1);
  return shape;
}

RangeSliderLayout::RangeSliderLayout(TmkOrientation orientation, TmkTickStyle tickStyle,
                                     TmkThumbStyle thumbStyle, QSize size, int min, int max,
                                     std::optional<int> rulerLength)
    : orientation_(orientation), min_(min), max_(max) {
  const Transform t = TransformFor(orientation, tickStyle);
  thumbs_[0] = BuildThumbShape(thumbStyle, t.rotation, t.startMirrored);
  thumbs_[1] = BuildThumbShape(thumbStyle, t.rotation, t.othersMirrored);
  thumbs_[2] = BuildThumbShape(rsPosition, t.rotation, t.othersMirrored);
  const ThumbShape& start = thumbs_[0];
  const bool horizontal = orientation == rsHorizontal;
  const int thumbExtent = horizontal ? start.size.width() : start.size.height();
  if (rulerLength) {
    length_ = std::max(30, *rulerLength);
  } else {
    length_ = (horizontal ? size.width() : size.height()) - 2 * thumbExtent - 6;
  }
  const int hot = horizontal ? start.hotSpot.y() : start.hotSpot.x();
  const int across = hot <= kRulerThickness / 2 ? 2 : hot - kRulerThickness / 2 + 2;
  ruler_ = horizontal ? QRect(thumbExtent + 3, across, length_, kRulerThickness)
                      : QRect(across, thumbExtent + 3, kRulerThickness, length_);
  scale_ = max_ != min_ ? double(length_) / double(std::int64_t(max_) - min_) : 0.0;
}

int RangeSliderLayout::RequiredExtent() const {
  const QSize s = thumbs_[0].size;
  return 2 * (Horizontal() ? s.width() : s.height()) + length_ + 6;
}

int RangeSliderLayout::ValueToPixel(int value) const {
  return int(std::nearbyint((double(value) - min_) * scale_));
}

int RangeSliderLayout::PixelToValue(int pixel) const {
  if (scale_ <= 0.0) return min_;
  const double v = std::nearbyint(pixel / scale_) + min_;
  return int(std::clamp(v, -2147483648.0, 2147483647.0));
}

int RangeSliderLayout::TickStep(int frequency) const {
  if (frequency > 0) return frequency;
  const std::int64_t range = std::int64_t(max_) - min_;
  if (length_ <= 0 || range <= 0) return 0;
  static constexpr int kMantissas[3] = {1, 2, 5};
  for (std::int64_t decade = 1;; decade *= 10) {
    for (int m : kMantissas) {
      const std::int64_t f = m * decade;
      if (length_ * f / range >= 5 || f >= range * 5)
        return int(std::min<std::int64_t>(f, INT32_MAX));
    }
  }
}

std::int64_t RangeSliderLayout::FirstValueAt(int pixel) const {
  if (scale_ <= 0.0) return min_;
  const double estimate = std::ceil(min_ + (pixel - 0.5) / scale_);
  std::int64_t v = std::int64_t(std::clamp(estimate, double(INT32_MIN), double(max_)));
  // The estimate is off by a unit or two at most; the rounding of
  // ValueToPixel decides.
  while (v > INT32_MIN && ValueToPixel(int(v - 1)) >= pixel) --v;
  while (v < max_ && ValueToPixel(int(v)) < pixel) ++v;
  return v;
}

namespace {

// The first multiple of step at or above value (step > 0).
std::int64_t MultipleAtOrAbove(std::int64_t value, std::int64_t step) {
  const std::int64_t r = value % step;
  if (r == 0) return value;
  return r > 0 ? value + step - r : value - r;
}

}  // namespace

std::vector<RangeSliderLayout::Tick> RangeSliderLayout::Ticks(int frequency) const {
  std::vector<Tick> ticks;
  if (length_ <= 0 || scale_ <= 0.0) return ticks;
  const std::int64_t f = TickStep(frequency);
  if (f <= 0) return ticks;
  const std::int64_t major = f >= 100 ? 1000 : f >= 10 ? 100 : 10;
  // Ticks fall on the multiples of f from Min - (Min mod f) up to below Max;
  // the long ones on the multiples of both f and the major step.
  const std::int64_t majorTick = std::lcm(f, major);
  const std::int64_t first = std::int64_t(min_) - min_ % f;
  const std::int64_t last = std::int64_t(max_) - 1;
  if (first > last) return ticks;
  // The walk goes pixel by pixel, from the first tick (or the last pixel
  // column left of the ruler that a mark can reach) to the last value, so it
  // costs the ruler's length whatever the number of ticks.
  const double firstPixel = std::nearbyint((double(first) - min_) * scale_);
  const int lastPixel = ValueToPixel(int(last));
  int pixel = int(std::max(-1.0, firstPixel));
  std::int64_t from = std::max(first, FirstValueAt(pixel));
  for (; pixel <= lastPixel; ++pixel) {
    const std::int64_t to = std::min(last, FirstValueAt(pixel + 1) - 1);
    if (from <= to) {
      const std::int64_t tick = MultipleAtOrAbove(from, f);
      if (tick <= to)
        ticks.push_back(Tick{int(tick), pixel, MultipleAtOrAbove(tick, majorTick) <= to});
      from = to + 1;
    }
  }
  return ticks;
}

QRect RangeSliderLayout::ThumbRect(SliderThumb which, int value) const {
  const ThumbShape& shape = thumbs_[int(which)];
  const int p = ValueToPixel(value) - (which == SliderThumb::Stop ? 0 : 1);
  QPoint anchor = Horizontal() ? QPoint(ruler_.left() + p, ruler_.top() + ruler_.height() / 2)
                               : QPoint(ruler_.left() + ruler_.width() / 2, ruler_.top() + p);
  return QRect(anchor - shape.hotSpot, shape.size);
}

}  // namespace controls
