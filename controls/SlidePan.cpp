#include "controls/SlidePan.h"

#include "controls/Colors.h"

#include <QLayout>
#include <QMouseEvent>
#include <QPainter>

namespace controls {

TSlide::TSlide(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(kDragLineThickness, 1);
  hide();
}

void TSlide::paintEvent(QPaintEvent*) {
  QImage pattern(8, 8, QImage::Format_RGB32);
  const QColor face = ToQColor(kColorButtonFace);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) pattern.setPixelColor(x, y, y % 2 == 1 ? QColor(Qt::black) : face);
  }
  QPainter painter(this);
  painter.fillRect(rect(), QBrush(pattern));
}

TSlidePanel::TSlidePanel(QWidget* parent) : QFrame(parent) {
  minSize_ = FrameSize();
  handle_ = new QFrame(this);
  handle_->setLineWidth(1);
  handle_->installEventFilter(this);
  line_ = new TSlide(parent ? parent : this);
  LayOutHandle();
}

TSlidePanel::~TSlidePanel() {
  delete line_.data();
}

int TSlidePanel::FrameSize() const {
  return slide::FrameSize(borderWidth_, bevelOuter_, bevelInner_, bevelWidth_);
}

void TSlidePanel::LayOutHandle() {
  const int inset = (FrameSize() - kHandleThickness) / 2;
  handle_->setGeometry(slide::HandleRect(handlePosition_, size(), inset));
  handle_->setFrameStyle(handleVisible_ ? (QFrame::Panel | QFrame::Raised) : QFrame::NoFrame);
  handle_->setCursor(slide::Horizontal(handlePosition_) ? Qt::SizeHorCursor : Qt::SizeVerCursor);
  // Children laid out by the host keep clear of the handle.
  const int beside = inset + kHandleThickness;
  const QMargins margins(
      handlePosition_ == hpLeft ? beside : inset, handlePosition_ == hpTop ? beside : inset,
      handlePosition_ == hpRight ? beside : inset, handlePosition_ == hpBottom ? beside : inset);
  setContentsMargins(margins);
  update();
}

void TSlidePanel::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  LayOutHandle();
}

void TSlidePanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  const QColor light = ToQColor(kColorButtonHighlight), dark = ToQColor(kColorButtonShadow);
  auto bevel = [&painter, &light, &dark](QRect r, int width) {
    for (int i = 0; i < width; ++i, r.adjust(1, 1, -1, -1)) {
      painter.setPen(light);
      painter.drawLine(r.topLeft(), r.topRight());
      painter.drawLine(r.topLeft(), r.bottomLeft());
      painter.setPen(dark);
      painter.drawLine(r.bottomLeft(), r.bottomRight());
      painter.drawLine(r.topRight(), r.bottomRight());
    }
  };
  QRect r = rect();
  if (bevelOuter_) {
    bevel(r, bevelWidth_);
    r.adjust(bevelWidth_, bevelWidth_, -bevelWidth_, -bevelWidth_);
  }
  r.adjust(borderWidth_, borderWidth_, -borderWidth_, -borderWidth_);
  if (bevelInner_) bevel(r, bevelWidth_);
}

void TSlidePanel::ApplyGeometry(const QRect& r) {
  // Inside a layout the size is the panel's fixed extent along the handle's
  // axis; free-standing, it is its geometry.
  QWidget* parent = parentWidget();
  if (parent && parent->layout() && parent->layout()->indexOf(this) >= 0) {
    if (slide::Horizontal(handlePosition_)) {
      setFixedWidth(r.width());
    } else {
      setFixedHeight(r.height());
    }
    return;
  }
  setGeometry(r);
  // A hidden panel gets its resize event only when shown; the handle must
  // follow now.
  LayOutHandle();
}

QPoint TSlidePanel::PointerInParent(QPoint onHandle) const {
  const QPoint p = onHandle - QPoint(2, 2);
  QWidget* parent = parentWidget();
  return parent ? handle_->mapTo(parent, p) : handle_->mapTo(this, p) + pos();
}

bool TSlidePanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched != handle_) return QFrame::eventFilter(watched, event);
  const QSize parentSize = parentWidget() ? parentWidget()->size() : size();
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() != Qt::LeftButton) return false;
      const QPoint p = PointerInParent(e->position().toPoint());
      grab_ = p;
      offset_ = QPoint(x() - p.x(), y() - p.y());
      limits_ = slide::DragLimits(handlePosition_, FrameSize(), minSize_, maxSize_, parentSize);
      dragging_ = true;
      if (slideType_ == stLine && line_) {
        const QRect h = handle_->geometry();
        if (slide::Horizontal(handlePosition_)) {
          line_->setGeometry(p.x(), h.top() + y(), kDragLineThickness, h.height());
        } else {
          line_->setGeometry(h.left() + x(), p.y(), h.width(), kDragLineThickness);
        }
        line_->raise();
        line_->show();
      }
      return true;
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (!dragging_ || !(e->buttons() & Qt::LeftButton)) return false;
      const QPoint p = PointerInParent(e->position().toPoint());
      const auto moved =
          slide::Move(handlePosition_, slideType_, p, geometry(), offset_, parentSize, limits_);
      if (!moved) return true;
      if (slideType_ == stFull) {
        ApplyGeometry(moved->panel);
      } else if (slide::Horizontal(handlePosition_)) {
        line_->move(moved->line, line_->y());
      } else {
        line_->move(line_->x(), moved->line);
      }
      if (parentWidget()) parentWidget()->update();
      return true;
    }
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() != Qt::LeftButton) return false;
      dragging_ = false;
      if (slideType_ == stLine && line_ && !line_->isHidden()) {
        const int linePos = slide::Horizontal(handlePosition_) ? line_->x() : line_->y();
        ApplyGeometry(slide::ApplyLine(handlePosition_, geometry(), linePos, offset_));
        line_->hide();
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace controls
