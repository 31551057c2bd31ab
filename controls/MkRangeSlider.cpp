#include "controls/MkRangeSlider.h"

#include <QKeyEvent>
#include <QLineF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace controls {
namespace {

const QColor kTransparentKey(255, 0, 0);  // pure red, 0x0000FF

void DrawPolygon(QPainter& painter, const QPolygon& polygon, const QColor& fill,
                 const QColor& outline) {
  QPen pen(outline);
  pen.setCosmetic(true);
  painter.setPen(pen);
  painter.setBrush(fill);
  painter.drawPolygon(polygon);
}

// A rectangle covering x1..x2-1, y1..y2-1, filled and outlined.
void DrawFrameRect(QPainter& painter, const QRect& r, const QColor& fill, const QColor& outline) {
  if (r.width() <= 0 || r.height() <= 0) return;
  painter.fillRect(r, fill);
  painter.setPen(outline);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(r.adjusted(0, 0, -1, -1));
}

}  // namespace

void TmkThumbBitmap::Render(const ThumbShape& shape, const QColor& fill) {
  HotSpot = shape.hotSpot;
  QImage image(shape.size, QImage::Format_RGB32);
  image.fill(kTransparentKey);
  {
    QPainter painter(&image);
    DrawPolygon(painter, shape.vertices, fill, ToQColor(kColorButtonFace));
  }
  struct Pass {
    QPoint shift;
    TColor color;
  };
  const Pass passes[4] = {{{0, 1}, kColorButtonHighlight},
                          {{1, 0}, kColorButtonHighlight},
                          {{0, -1}, kColorButtonShadow},
                          {{-1, 0}, kColorButtonShadow}};
  const QRgb key = kTransparentKey.rgb();
  for (const Pass& pass : passes) {
    QImage scratch(shape.size, QImage::Format_RGB32);
    scratch.fill(kTransparentKey);
    {
      QPainter painter(&scratch);
      const QColor edge = ToQColor(pass.color);
      DrawPolygon(painter, shape.vertices, edge, edge);
      DrawPolygon(painter, shape.vertices.translated(pass.shift), kTransparentKey, kTransparentKey);
    }
    for (int y = 0; y < image.height(); ++y) {
      const auto* from = reinterpret_cast<const QRgb*>(scratch.constScanLine(y));
      auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        if (from[x] != key) to[x] = from[x];
      }
    }
  }
  Picture = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < Picture.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(Picture.scanLine(y));
    for (int x = 0; x < Picture.width(); ++x) {
      if (line[x] == key) line[x] = 0;
    }
  }
}

void TmkThumbBitmap::Draw(QPainter& painter, const QRect& rect) {
  if (!Slider) throw EmkRangeSlider("Slider not assigned to bitmap");
  painter.drawImage(rect.topLeft(), Picture);
  DrawnRect = rect;
}

TmkRangeSlider::TmkRangeSlider(QWidget* parent)
    : QWidget(parent), layout_(rsHorizontal, rsBottomRight, rsStandard, QSize(200, 32), 0, 100) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(50, 10);
  for (TmkThumbBitmap& thumb : thumbs_) thumb.Slider = this;
  resize(200, 32);
  RebuildThumbs();
  Relayout();
}

TmkRangeSlider::ThumbRects TmkRangeSlider::CurrentRects() const {
  return {{layout_.ThumbRect(SliderThumb::Start, minPosition_),
           layout_.ThumbRect(SliderThumb::Stop, maxPosition_),
           layout_.ThumbRect(SliderThumb::Position, position_)}};
}

void TmkRangeSlider::RepaintMoved(const ThumbRects& before) {
  // Only a thumb that moved by at least a pixel is repainted, where it was
  // and where it is now.
  const ThumbRects after = CurrentRects();
  for (int i = 0; i < 3; ++i) {
    if (before.r[i] != after.r[i]) update(before.r[i] | after.r[i]);
  }
}

void TmkRangeSlider::Relayout() {
  std::optional<int> length;
  if (onGetRullerLength_) {
    int value = layout_.RulerLength();
    onGetRullerLength_(this, value);
    length = value;
  }
  layout_ = RangeSliderLayout(orientation_, tickStyle_, thumbStyle_, size(), min_, max_, length);
  rulerValid_ = false;
  if (length) {
    const int extent = layout_.RequiredExtent();
    if (orientation_ == rsHorizontal && width() != extent) resize(extent, height());
    if (orientation_ == rsVertical && height() != extent) resize(width(), extent);
  }
}

void TmkRangeSlider::RebuildThumbs() {
  const RangeSliderLayout shapes(orientation_, tickStyle_, thumbStyle_, size(), min_, max_);
  thumbs_[0].Render(shapes.Thumb(SliderThumb::Start), ToQColor(colorTag_));
  thumbs_[1].Render(shapes.Thumb(SliderThumb::Stop), ToQColor(colorTag_));
  thumbs_[2].Render(shapes.Thumb(SliderThumb::Position), ToQColor(colorPos_));
}

void TmkRangeSlider::BeforeChange() {
  if (OnBeforeChange) OnBeforeChange(this);
}

void TmkRangeSlider::Changed() {
  if (changeFlag_ && OnChange) OnChange(this);
}

void TmkRangeSlider::Raise(const TmkPositionChangeEvent& event, int value) {
  if (event) event(this, value);
}

// The range's ends are stored before OnBeforeChange; the marks follow them.
void TmkRangeSlider::RangeChanged(const TmkPositionChangeEvent& event, int value) {
  BeforeChange();
  minPosition_ = std::clamp(minPosition_, min_, max_);
  maxPosition_ = std::clamp(maxPosition_, min_, max_);
  Relayout();
  update();
  Raise(event, value);
  Changed();
}

void TmkRangeSlider::SetMin(int value) {
  if (value >= max_) throw EmkRangeSlider("Min >= Max");
  min_ = value;
  RangeChanged(OnMinChange, min_);
}

void TmkRangeSlider::SetMax(int value) {
  if (min_ >= value) throw EmkRangeSlider("Max <= Min");
  max_ = value;
  RangeChanged(OnMaxChange, max_);
}

void TmkRangeSlider::SetMinPosition(int value) {
  if (value == minPosition_) return;
  const ThumbRects before = CurrentRects();
  BeforeChange();
  minPosition_ = value < min_ ? min_ : value > maxPosition_ ? maxPosition_ : value;
  if (position_ < minPosition_) {
    position_ = minPosition_;
    Raise(OnPosChange, position_);
  }
  RepaintMoved(before);
  Raise(OnMinPosChange, minPosition_);
  Changed();
}

void TmkRangeSlider::SetMaxPosition(int value) {
  if (value == maxPosition_) return;
  const ThumbRects before = CurrentRects();
  BeforeChange();
  maxPosition_ = value < minPosition_ ? minPosition_ : value > max_ ? max_ : value;
  if (position_ >= maxPosition_) {
    position_ = maxPosition_;
    Raise(OnPosChange, position_);
    Raise(OnMax, position_);
  }
  RepaintMoved(before);
  Raise(OnMaxPosChange, maxPosition_);
  Changed();
}

void TmkRangeSlider::SetPosition(int value) {
  if (value == position_) return;
  const ThumbRects before = CurrentRects();
  BeforeChange();
  if (value < minPosition_) {
    position_ = minPosition_;
  } else if (value >= maxPosition_) {
    position_ = maxPosition_;
    Raise(OnMax, maxPosition_);
  } else {
    position_ = value;
  }
  RepaintMoved(before);
  Changed();
}

void TmkRangeSlider::SetFrequency(int value) {
  if (value == frequency_ || value < 0) return;
  BeforeChange();
  frequency_ = value;
  rulerValid_ = false;
  update();
}

void TmkRangeSlider::SetOrientation(TmkOrientation value) {
  if (value == orientation_) return;
  BeforeChange();
  orientation_ = value;
  setMinimumSize(value == rsHorizontal ? QSize(50, 10) : QSize(10, 50));
  RebuildThumbs();
  Relayout();
  update();
}

void TmkRangeSlider::SetColorBack(TColor value) {
  colorBack_ = value;
  rulerValid_ = false;
  update();
}

void TmkRangeSlider::Recolor(TColor& field, TColor value) {
  field = value;
  RebuildThumbs();
  update();
}

void TmkRangeSlider::SetOnGetRullerLength(TmkGetRullerLength handler) {
  onGetRullerLength_ = std::move(handler);
  Relayout();
  update();
}

void TmkRangeSlider::resizeEvent(QResizeEvent*) {
  const RangeSliderLayout fresh(
      orientation_, tickStyle_, thumbStyle_, size(), min_, max_,
      onGetRullerLength_ ? std::optional<int>(layout_.RulerLength()) : std::nullopt);
  if (fresh.Ruler() != layout_.Ruler() || fresh.Scale() != layout_.Scale()) {
    layout_ = fresh;
    rulerValid_ = false;
  }
}

void TmkRangeSlider::SetWaveform(std::vector<std::pair<float, float>> envelope) {
  if (envelope == waveform_) return;
  waveform_ = std::move(envelope);
  rulerValid_ = false;
  update();
}

void TmkRangeSlider::RenderRuler() {
  const QRect r = layout_.Ruler();
  // Drawn at the screen's scale, so that it stays sharp on a scaled screen.
  const qreal ratio = devicePixelRatioF();
  ruler_ = QPixmap(r.size().expandedTo(QSize(1, 1)) * ratio);
  ruler_.setDevicePixelRatio(ratio);
  QPainter painter(&ruler_);
  const QColor shadow = ToQColor(kColorButtonShadow);
  const QColor highlight = ToQColor(kColorButtonHighlight);
  const int w = r.width(), h = r.height();
  painter.fillRect(0, 0, w, h, ToQColor(colorBack_));
  painter.setPen(shadow);
  painter.drawLine(0, 0, w - 1, 0);
  painter.drawLine(0, 0, 0, h - 1);
  painter.setPen(highlight);
  painter.drawLine(0, h - 1, w - 1, h - 1);
  painter.drawLine(w - 1, 0, w - 1, h - 1);
  const bool horizontal = layout_.Horizontal();
  if (!waveform_.empty()) DrawWaveform(painter, w, h, horizontal);
  constexpr int kLong = kRulerThickness - 4;
  constexpr int kLongStart = (kRulerThickness - kLong) / 2;
  constexpr int kDotStart = kRulerThickness / 2 - 1;
  for (const RangeSliderLayout::Tick& tick : layout_.Ticks(frequency_)) {
    const int p = tick.pixel - 1;
    const int start = tick.major ? kLongStart : kDotStart;
    const int length = tick.major ? kLong : 2;
    const QRect mark = horizontal ? QRect(p, start, 2, length) : QRect(start, p, length, 2);
    DrawFrameRect(painter, mark, Qt::black, shadow);
  }
  rulerValid_ = true;
}

void TmkRangeSlider::DrawWaveform(QPainter& painter, int w, int h, bool horizontal) {
  // Inside the ruler's frame, faint enough that the ticks read over it.
  const int length = horizontal ? w - 2 : h - 2;
  const int across = (horizontal ? h : w) - 2;
  if (length <= 0 || across <= 0) return;
  const QColor ink(40, 70, 110, 130);
  painter.setPen(ink);
  const qreal mid = 1 + across / 2.0;
  const qreal half = across / 2.0;
  const std::size_t n = waveform_.size();
  for (int p = 0; p < length; ++p) {
    std::size_t first = std::size_t(p) * n / length;
    const std::size_t last = std::max(first + 1, std::size_t(p + 1) * n / length);
    float low = waveform_[first].first, high = waveform_[first].second;
    for (++first; first < last && first < n; ++first) {
      low = std::min(low, waveform_[first].first);
      high = std::max(high, waveform_[first].second);
    }
    // Silence leaves the ruler bare, so its dots stay readable.
    if ((high - low) * half < 1) continue;
    const qreal a = mid - high * half, b = mid - low * half;
    if (horizontal)
      painter.drawLine(QLineF(1 + p + 0.5, a, 1 + p + 0.5, b));
    else
      painter.drawLine(QLineF(a, 1 + p + 0.5, b, 1 + p + 0.5));
  }
}

void TmkRangeSlider::paintEvent(QPaintEvent* event) {
  if (!rulerValid_) RenderRuler();
  QPainter painter(this);
  painter.setClipRect(event->rect());
  painter.fillRect(event->rect(), ToQColor(colorBack_));
  painter.drawPixmap(layout_.Ruler().topLeft(), ruler_);
  const ThumbRects rects = CurrentRects();
  for (int i = 0; i < 3; ++i) thumbs_[i].Draw(painter, rects.r[i]);
}

void TmkRangeSlider::mousePressEvent(QMouseEvent* event) {
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return;
  const QPoint at = event->position().toPoint();
  const ThumbRects rects = CurrentRects();
  const int values[3] = {minPosition_, maxPosition_, position_};
  for (int i = 0; i < 3; ++i) {
    if (!rects.r[i].contains(at)) continue;
    dragThumb_ = SliderThumb(i);
    dragOffset_ = layout_.ValueToPixel(values[i]) - layout_.Along(at);
    dragging_ = true;
    changeFlag_ = false;
    thumbPressed_ = true;
    savedMin_ = minPosition_;
    savedMax_ = maxPosition_;
    savedPos_ = position_;
    return;
  }
}

void TmkRangeSlider::MovePair(int minValue, int maxValue, bool maxFirst) {
  if (minValue < min_ || minValue > max_ || maxValue < min_ || maxValue > max_) return;
  // The leading mark moves first, so the trailing one is never clamped
  // against the old place of the other and the range keeps its length.
  if (maxFirst) {
    SetMaxPosition(maxValue);
    SetMinPosition(minValue);
  } else {
    SetMinPosition(minValue);
    SetMaxPosition(maxValue);
  }
}

void TmkRangeSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  const int v = layout_.PixelToValue(dragOffset_ + layout_.Along(event->position().toPoint()));
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  switch (dragThumb_) {
    case SliderThumb::Start:
      if (!shift) {
        SetMinPosition(v);
      } else {
        MovePair(v, v + maxPosition_ - minPosition_, v > minPosition_);
      }
      break;
    case SliderThumb::Stop:
      if (!shift) {
        SetMaxPosition(v);
      } else {
        MovePair(v - maxPosition_ + minPosition_, v, v > maxPosition_);
      }
      break;
    case SliderThumb::Position:
      SetPosition(v);
      Raise(OnPosChange, position_);
      break;
  }
}

void TmkRangeSlider::mouseReleaseEvent(QMouseEvent*) {
  // Every mouse-up compares with the last thumb press, so a change made by
  // the host while OnChange was held back (the flag is clear from a thumb
  // press on) is still reported by the next click anywhere on the slider.
  dragging_ = false;
  if (!thumbPressed_) return;  // nothing saved to compare with yet
  if (minPosition_ != savedMin_ || maxPosition_ != savedMax_ || position_ != savedPos_) {
    changeFlag_ = true;
    if (OnChange) OnChange(this);
  }
}

void TmkRangeSlider::keyPressEvent(QKeyEvent* event) {
  changeFlag_ = true;
  const int d = orientation_ == rsHorizontal ? 1 : -1;
  int step = 0;
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
      step = -d;
      break;
    case Qt::Key_Right:
    case Qt::Key_Up:
      step = d;
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
  const Qt::KeyboardModifiers mods = event->modifiers();
  if (mods & Qt::ShiftModifier) {
    MovePair(minPosition_ + step, maxPosition_ + step, step > 0);
  } else if (mods & Qt::ControlModifier) {
    SetMaxPosition(maxPosition_ + step);
  } else {
    SetMinPosition(minPosition_ + step);
  }
}

}  // namespace controls
