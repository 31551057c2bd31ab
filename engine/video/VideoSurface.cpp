#include "engine/video/VideoSurface.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QWindow>

namespace engine {

void FrameSlot::Deliver(QImage frame) {
  std::lock_guard lock(mutex_);
  if (first_.isNull()) first_ = frame;
  frame_ = std::move(frame);
  ++number_;
  if (target_ == nullptr || repaintPending_.exchange(true)) return;
  // A queued call to a widget that is deleted meanwhile is discarded by Qt;
  // target_ is cleared under this lock before the widget goes.
  QWidget* target = target_;
  QMetaObject::invokeMethod(
      target,
      [this, target] {
        repaintPending_ = false;
        target->update();
      },
      Qt::QueuedConnection);
}

QImage FrameSlot::Latest() const {
  std::lock_guard lock(mutex_);
  return frame_;
}

QImage FrameSlot::Latest(std::uint64_t& number) const {
  std::lock_guard lock(mutex_);
  number = frame_.isNull() ? 0 : number_;
  return frame_;
}

std::uint64_t FrameSlot::Delivered() const {
  std::lock_guard lock(mutex_);
  return number_;
}

void FrameSlot::Clear() {
  std::lock_guard lock(mutex_);
  frame_ = QImage();
  first_ = QImage();
}

QImage FrameSlot::First() const {
  std::lock_guard lock(mutex_);
  return first_;
}

void FrameSlot::Restore(QImage first) {
  std::lock_guard lock(mutex_);
  first_ = first;
  frame_ = std::move(first);
  if (!frame_.isNull()) ++number_;
}

void FrameSlot::SetPaintSize(QSize size) {
  std::lock_guard lock(mutex_);
  paintSize_ = size;
}

QSize FrameSlot::PaintSize() const {
  std::lock_guard lock(mutex_);
  return paintSize_;
}

void FrameSlot::SetTarget(QWidget* target) {
  std::lock_guard lock(mutex_);
  target_ = target;
  repaintPending_ = false;
}

VideoSurface::VideoSurface(QWidget* owner, std::shared_ptr<FrameSlot> frames)
    : QWidget(owner), frames_(std::move(frames)) {
  // Every pixel is painted, by the frame or black: nothing beneath needs
  // drawing first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
  frames_->SetTarget(this);
}

VideoSurface::~VideoSurface() {
  frames_->SetTarget(nullptr);
  frames_->SetPaintSize(QSize());
}

void VideoSurface::SetSourceRect(const QRect& source) {
  if (source_ == source) return;
  source_ = source;
  UpdatePaintSize();
  update();
}

void VideoSurface::PaintWaitingFrame() {
  if (!isVisible() || window()->windowHandle() == nullptr || !window()->windowHandle()->isExposed())
    return;
  std::uint64_t number = 0;
  frames_->Latest(number);
  if (number > lastPainted_) repaint();
}

void VideoSurface::UpdatePaintSize() {
  frames_->SetPaintSize(source_.isEmpty() ? size() : QSize());
}

void VideoSurface::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdatePaintSize();
}

void VideoSurface::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  std::uint64_t number = 0;
  const QImage frame = frames_->Latest(number);
  if (frame.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  if (number > lastPainted_) {
    // A clip opened anew numbers on from the last one; only gaps within a
    // run of frames count as skipped.
    if (lastPainted_ != 0) skipped_ += number - lastPainted_ - 1;
    lastPainted_ = number;
    ++painted_;
    lastPaintTime_ = std::chrono::steady_clock::now();
  }
  // A frame decoded at the current size is copied as it is; one made before
  // a resize, or a part of a frame, is scaled here.
  if (frame.size() == size() && source_.isEmpty()) {
    painter.drawImage(0, 0, frame);
    return;
  }
  const QRect source = source_.isEmpty() ? frame.rect() : source_;
  painter.drawImage(rect(), frame, source);
  ++scaledPaints_;
}

bool VideoSurface::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ContextMenu:
      if (Forward(event)) return true;
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

bool VideoSurface::Forward(QEvent* event) {
  QObject* drain = drain_.data();
  if (drain == nullptr) return false;
  auto* drainWidget = qobject_cast<QWidget*>(drain);
  auto mapped = [&](QPointF local) {
    const QPointF global = mapToGlobal(local);
    return drainWidget ? drainWidget->mapFromGlobal(global) : global;
  };
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
      auto* m = static_cast<QMouseEvent*>(event);
      QMouseEvent copy(m->type(), mapped(m->position()), m->globalPosition(), m->button(),
                       m->buttons(), m->modifiers());
      QCoreApplication::sendEvent(drain, &copy);
      return true;
    }
    case QEvent::Wheel: {
      auto* w = static_cast<QWheelEvent*>(event);
      QWheelEvent copy(mapped(w->position()), w->globalPosition(), w->pixelDelta(), w->angleDelta(),
                       w->buttons(), w->modifiers(), w->phase(), w->inverted());
      QCoreApplication::sendEvent(drain, &copy);
      return true;
    }
    case QEvent::ContextMenu: {
      auto* c = static_cast<QContextMenuEvent*>(event);
      QContextMenuEvent copy(c->reason(), mapped(c->pos()).toPoint(), c->globalPos(),
                             c->modifiers());
      QCoreApplication::sendEvent(drain, &copy);
      return true;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      std::unique_ptr<QEvent> copy(event->clone());
      QCoreApplication::sendEvent(drain, copy.get());
      return true;
    }
    default:
      return false;
  }
}

}  // namespace engine
