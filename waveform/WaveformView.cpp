#include "waveform/WaveformView.h"

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace waveform {

namespace {

const QColor kBack(28, 32, 38);
const QColor kWave(96, 176, 232);
const QColor kOutside(0, 0, 0, 120);
const QColor kStartColor(86, 204, 120);
const QColor kStopColor(232, 96, 84);
const QColor kPositionColor(250, 222, 96);
const QColor kText(170, 176, 186);
// A press that moves less than this is a click.
constexpr double kClickSlop = 3;

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumHeight(24);
}

void WaveformView::Clear() {
  state_ = State::kEmpty;
  peaks_.reset();
  window_ = {};
  DropColumns();
}

void WaveformView::SetReading(int percent) {
  if (state_ == State::kReading && percent == percent_) return;
  if (state_ != State::kReading) {
    peaks_.reset();
    window_ = {};
    columns_.clear();
  }
  state_ = State::kReading;
  percent_ = percent;
  update();
}

void WaveformView::SetPeaks(std::shared_ptr<const Peaks> peaks) {
  if (!peaks || peaks->Empty()) {
    SetNoWaveform();
    return;
  }
  state_ = State::kReady;
  if (peaks != peaks_) window_ = {};
  peaks_ = std::move(peaks);
  DropColumns();
}

void WaveformView::SetNoWaveform() {
  state_ = State::kNoWaveform;
  peaks_.reset();
  window_ = {};
  DropColumns();
}

void WaveformView::SetMarks(int start, int stop) {
  if (start == start_ && stop == stop_) return;
  start_ = start;
  stop_ = stop;
  update();
}

void WaveformView::SetMarksShown(bool shown) {
  if (shown == marksShown_) return;
  marksShown_ = shown;
  dragging_ = MarkHandle::kNone;
  update();
}

void WaveformView::SetPosition(int position) {
  if (position == position_) return;
  position_ = position;
  update();
}

void WaveformView::SetWindow(const ViewWindow& window) {
  window_ = window;
  DropColumns();
}

WaveformGeometry WaveformView::Geometry() const {
  return {window_, width()};
}

void WaveformView::DropColumns() {
  columns_.clear();
  update();
}

void WaveformView::resizeEvent(QResizeEvent*) {
  columns_.clear();
}

void WaveformView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kBack);
  if (state_ == State::kReading || state_ == State::kNoWaveform) {
    p.setPen(kText);
    const QString text = state_ == State::kNoWaveform ? QStringLiteral("No waveform")
                         : percent_ < 0
                             ? QStringLiteral("Reading the waveform…")
                             : QStringLiteral("Reading the waveform… %1 %").arg(percent_);
    p.drawText(rect(), Qt::AlignCenter, text);
  }
  const qreal dpr = devicePixelRatioF();
  if (state_ == State::kReady && peaks_) {
    const int columns = int(std::lround(width() * dpr));
    if (int(columns_.size()) != columns)
      columns_ = Columns(*peaks_, columns, window_.from, window_.to);
    const qreal mid = height() * dpr / 2;
    const qreal amplitude = mid - dpr;
    QVector<QLineF> lines;
    lines.reserve(columns);
    for (int x = 0; x < columns; ++x) {
      const Column& c = columns_[x];
      if (c.Empty()) continue;
      // A silent stretch still shows as a hairline.
      const qreal top = mid - c.high * amplitude;
      const qreal bottom = std::max(top + 1, mid - c.low * amplitude);
      lines.append(QLineF(x + 0.5, top, x + 0.5, bottom));
    }
    p.save();
    p.scale(1 / dpr, 1 / dpr);
    p.setPen(QPen(kWave, 1));
    p.drawLines(lines);
    p.restore();
  }
  const WaveformGeometry g = Geometry();
  if (marksShown_) {
    const double xs = g.PixelOf(std::clamp(start_, 0, kScale));
    const double xe = g.PixelOf(std::clamp(stop_, 0, kScale));
    p.fillRect(QRectF(0, 0, std::max(0.0, xs), height()), kOutside);
    p.fillRect(QRectF(xe, 0, std::max(0.0, width() - xe), height()), kOutside);
    auto mark = [&](double x, const QColor& color, bool pointsRight) {
      p.setPen(QPen(color, 1));
      p.drawLine(QPointF(x, 0), QPointF(x, height()));
      const double d = pointsRight ? 6 : -6;
      const QPointF flag[] = {{x, 0}, {x + d, 0}, {x, 7}};
      p.setBrush(color);
      p.drawPolygon(flag, 3);
    };
    mark(xs, kStartColor, true);
    mark(xe, kStopColor, false);
  }
  if (position_ >= 0 && state_ == State::kReady) {
    const double x = g.PixelOf(position_);
    p.setPen(QPen(kPositionColor, 1));
    p.drawLine(QPointF(x, 0), QPointF(x, height()));
  }
  if (window_.Zoomed()) {
    p.setPen(kText);
    p.drawText(rect().adjusted(0, 1, -4, 0), Qt::AlignRight | Qt::AlignTop,
               QStringLiteral("×%1").arg(kScale / window_.Span(), 0, 'f', 0));
  }
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const double x = event->position().x();
  pressX_ = x;
  dragging_ = marksShown_ ? Geometry().HandleAt(x, start_, stop_) : MarkHandle::kNone;
  clickPending_ = dragging_ == MarkHandle::kNone;
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
  const double x = event->position().x();
  const WaveformGeometry g = Geometry();
  if (dragging_ == MarkHandle::kStart) {
    const int value = std::min(g.MarkAt(x), std::clamp(stop_, 0, kScale));
    if (value != start_) {
      start_ = value;
      update();
      emit StartDragged(value);
    }
  } else if (dragging_ == MarkHandle::kStop) {
    const int value = std::max(g.MarkAt(x), std::clamp(start_, 0, kScale));
    if (value != stop_) {
      stop_ = value;
      update();
      emit StopDragged(value);
    }
  } else if (clickPending_ && std::abs(x - pressX_) > kClickSlop) {
    // Dragging the waveform itself moves along a zoomed clip.
    clickPending_ = false;
  }
  if (!clickPending_ && dragging_ == MarkHandle::kNone && (event->buttons() & Qt::LeftButton) &&
      window_.Zoomed() && width() > 0) {
    SetWindow(Pan(window_, (pressX_ - x) * window_.Span() / width()));
    pressX_ = x;
  }
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (clickPending_ && state_ == State::kReady)
    emit PlayFrom(Geometry().MarkAt(event->position().x()));
  clickPending_ = false;
  dragging_ = MarkHandle::kNone;
}

void WaveformView::ZoomAt(double x, double factor) {
  const WaveformGeometry g = Geometry();
  double anchor = g.ValueAt(x);
  // Zooming on a mark keeps that mark under the pointer, for placing it
  // finely on a short hit.
  if (marksShown_) {
    switch (g.HandleAt(x, start_, stop_)) {
      case MarkHandle::kStart:
        anchor = std::clamp(start_, 0, kScale);
        break;
      case MarkHandle::kStop:
        anchor = std::clamp(stop_, 0, kScale);
        break;
      case MarkHandle::kNone:
        break;
    }
  }
  SetWindow(ZoomAround(window_, anchor, factor));
}

void WaveformView::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  const bool along =
      (event->modifiers() & Qt::ShiftModifier) || std::abs(delta.x()) > std::abs(delta.y());
  if (along) {
    const int steps = std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y();
    SetWindow(Pan(window_, -steps / 120.0 * window_.Span() / 10));
  } else if (delta.y() != 0) {
    ZoomAt(event->position().x(), std::pow(1.25, delta.y() / 120.0));
  }
  event->accept();
}

bool WaveformView::event(QEvent* event) {
  if (event->type() == QEvent::NativeGesture) {
    auto* gesture = static_cast<QNativeGestureEvent*>(event);
    if (gesture->gestureType() == Qt::ZoomNativeGesture) {
      ZoomAt(gesture->position().x(), 1 + gesture->value());
      return true;
    }
  }
  return QWidget::event(event);
}

}  // namespace waveform
