#pragma once
// TmkRangeSlider: a ruler with a start mark, a stop mark and a position thumb
// kept between them (Min <= MinPosition <= Position <= MaxPosition <= Max).
// The host sets all three; the user drags them or moves the marks with the
// arrow keys. Every change is reported through the events below.

#include "controls/Colors.h"
#include "controls/RangeSliderLayout.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace controls {

class TmkRangeSlider;

// The slider's failures ("Min >= Max", "Max <= Min", "Slider not assigned to bitmap").
class EmkRangeSlider : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TNotifyEvent = std::function<void(QObject* Sender)>;
// (Sender, Value)
using TmkPositionChangeEvent = std::function<void(QObject* Sender, int Value)>;
// (Sender, Value in and out): the host may choose the ruler length.
using TmkGetRullerLength = std::function<void(QObject* Sender, int& Value)>;

// A rendered thumb: its picture (transparent where pure red was), the hot
// spot that sits on the value, and where it was drawn last.
class TmkThumbBitmap {
 public:
  TmkRangeSlider* Slider = nullptr;
  QImage Picture;
  QPoint HotSpot;
  QRect DrawnRect;

  // Renders the polygon filled with fill, outlined in the button face colour,
  // with light top/left and dark bottom/right edges.
  void Render(const ThumbShape& shape, const QColor& fill);
  // Draws the picture into rect and remembers rect. Throws EmkRangeSlider
  // when the thumb belongs to no slider.
  void Draw(QPainter& painter, const QRect& rect);
};

class TmkRangeSlider : public QWidget {
  Q_OBJECT
 public:
  explicit TmkRangeSlider(QWidget* parent);

  int Min() const { return min_; }
  void SetMin(int value);
  int Max() const { return max_; }
  void SetMax(int value);
  int MinPosition() const { return minPosition_; }
  void SetMinPosition(int value);
  int MaxPosition() const { return maxPosition_; }
  void SetMaxPosition(int value);
  int Position() const { return position_; }
  void SetPosition(int value);
  int Frequency() const { return frequency_; }
  void SetFrequency(int value);
  TmkOrientation Orientation() const { return orientation_; }
  void SetOrientation(TmkOrientation value);
  TmkTickStyle TickStyle() const { return tickStyle_; }
  void SetTickStyle(TmkTickStyle value) { Restyle(tickStyle_, value); }
  TmkThumbStyle ThumbStyle() const { return thumbStyle_; }
  void SetThumbStyle(TmkThumbStyle value) { Restyle(thumbStyle_, value); }
  TColor ColorBack() const { return colorBack_; }
  void SetColorBack(TColor value);
  TColor ColorTag() const { return colorTag_; }
  void SetColorTag(TColor value) { Recolor(colorTag_, value); }
  TColor ColorPos() const { return colorPos_; }
  void SetColorPos(TColor value) { Recolor(colorPos_, value); }

  // A faint picture of the clip's sound in the ruler, behind the ticks: the
  // lowest and highest sample (-1 to 1) of each of equal stretches from Min
  // to Max, in order. Empty: none, and nothing is drawn.
  void SetWaveform(std::vector<std::pair<float, float>> envelope);
  bool HasWaveform() const { return !waveform_.empty(); }

  // Assigning the handler redoes the layout with the host's ruler length.
  void SetOnGetRullerLength(TmkGetRullerLength handler);

  int ValueToPixel(int value) const { return layout_.ValueToPixel(value); }
  int PixelToValue(int pixel) const { return layout_.PixelToValue(pixel); }
  const RangeSliderLayout& Layout() const { return layout_; }
  const TmkThumbBitmap& Thumb(SliderThumb which) const { return thumbs_[int(which)]; }
  bool ChangeFlag() const { return changeFlag_; }

  // Handlers run on the window thread, inside the setter or input handler.
  TNotifyEvent OnBeforeChange;
  TmkPositionChangeEvent OnMinChange;
  TmkPositionChangeEvent OnMaxChange;
  TmkPositionChangeEvent OnMinPosChange;
  TmkPositionChangeEvent OnMaxPosChange;
  TmkPositionChangeEvent OnPosChange;
  TmkPositionChangeEvent OnMax;
  TNotifyEvent OnChange;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct ThumbRects {
    QRect r[3];
  };
  ThumbRects CurrentRects() const;
  void RepaintMoved(const ThumbRects& before);
  void Relayout();
  void RebuildThumbs();
  // Stores a setting of the thumbs' look; they and the layout are redone
  // only on a real change, after OnBeforeChange.
  template <typename T>
  void Restyle(T& field, const T& value) {
    if (field == value) return;
    BeforeChange();
    field = value;
    RebuildThumbs();
    Relayout();
    update();
  }
  // Stores a colour of the thumbs, which are redrawn.
  void Recolor(TColor& field, TColor value);
  void RenderRuler();
  void DrawWaveform(QPainter& painter, int w, int h, bool horizontal);
  void BeforeChange();
  void Changed();
  void Raise(const TmkPositionChangeEvent& event, int value);
  void RangeChanged(const TmkPositionChangeEvent& event, int value);
  void MovePair(int minValue, int maxValue, bool maxFirst);

  int min_ = 0, max_ = 100;
  int minPosition_ = 0, maxPosition_ = 100, position_ = 20;
  int frequency_ = 0;
  TmkOrientation orientation_ = rsHorizontal;
  TmkTickStyle tickStyle_ = rsBottomRight;
  TmkThumbStyle thumbStyle_ = rsStandard;
  TColor colorBack_ = kColorButtonFace;
  TColor colorTag_ = kColorButtonShadow;
  TColor colorPos_ = kColorButtonShadow;
  TmkGetRullerLength onGetRullerLength_;

  bool changeFlag_ = true;
  bool dragging_ = false;
  SliderThumb dragThumb_ = SliderThumb::Start;
  int dragOffset_ = 0;
  // The three values at the last thumb press, which every mouse-up compares with.
  bool thumbPressed_ = false;
  int savedMin_ = 0, savedMax_ = 100, savedPos_ = 20;

  RangeSliderLayout layout_;
  TmkThumbBitmap thumbs_[3];
  QPixmap ruler_;
  bool rulerValid_ = false;
  std::vector<std::pair<float, float>> waveform_;
};

}  // namespace controls
