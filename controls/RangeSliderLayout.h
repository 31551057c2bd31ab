#pragma once
// Thumb shapes, ruler layout, value/pixel conversion and ticks of the range
// slider: one place that both painting and hit-testing read.

#include <QPoint>
#include <QPolygon>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <optional>
#include <vector>

namespace controls {

enum TmkOrientation { rsHorizontal, rsVertical };
enum TmkTickStyle { rsBottomRight, rsTopLeft };
enum TmkThumbStyle { rsStandard, rsTriangle, rsCorner, rsArrow, rsPosition };

inline constexpr int kRulerThickness = 11;
inline constexpr int kThumbScale = 3;

// A thumb after mirror, rotation, shift and scaling.
struct ThumbShape {
  QPoint hotSpot;
  QPolygon vertices;
  QSize size;  // (largest x + 1) x (largest y + 1)
};

// mirror: x becomes -x (vertex order reversed); rotation: quarter turns 0..3.
ThumbShape BuildThumbShape(TmkThumbStyle style, int rotation, bool mirror);

enum class SliderThumb { Start = 0, Stop = 1, Position = 2 };

class RangeSliderLayout {
 public:
  // rulerLength, when given, is the host's choice of L (at least 30); the
  // control must then be RequiredExtent() long.
  RangeSliderLayout(TmkOrientation orientation, TmkTickStyle tickStyle, TmkThumbStyle thumbStyle,
                    QSize size, int min, int max, std::optional<int> rulerLength = std::nullopt);

  const ThumbShape& Thumb(SliderThumb which) const { return thumbs_[int(which)]; }
  int RulerLength() const { return length_; }  // L
  QRect Ruler() const { return ruler_; }
  double Scale() const { return scale_; }  // K, pixels per unit
  int RequiredExtent() const;
  bool Horizontal() const { return orientation_ == rsHorizontal; }

  int ValueToPixel(int value) const;
  int PixelToValue(int pixel) const;
  // The smallest value that ValueToPixel puts at pixel or beyond.
  std::int64_t FirstValueAt(int pixel) const;

  // The step between ticks: frequency, or the automatic one when it is 0.
  int TickStep(int frequency) const;
  // The marks along the ruler, one per pixel that holds at least one tick
  // value: value is the first tick there, major when any tick there is a
  // multiple of the major step. However dense the ticks, there are never
  // more marks than pixels, so painting costs the same for any range.
  struct Tick {
    int value;
    int pixel;
    bool major;
  };
  std::vector<Tick> Ticks(int frequency) const;

  // Where a thumb for value sits (its hit area).
  QRect ThumbRect(SliderThumb which, int value) const;
  // The pointer's coordinate along the ruler axis (x or y of the control).
  int Along(QPoint point) const { return Horizontal() ? point.x() : point.y(); }

 private:
  TmkOrientation orientation_;
  int min_, max_;
  ThumbShape thumbs_[3];
  int length_;
  QRect ruler_;
  double scale_;
};

}  // namespace controls
