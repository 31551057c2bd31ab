#include "sets/ScrollingText.h"

#include <QPainter>

int ScrollingTextGeometry::TextLeft(int widgetWidth, int textWidth, int offset) {
  const int period = std::max(1, widgetWidth + textWidth);
  return widgetWidth - offset % period;
}

ScrollingText::ScrollingText(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
  timer_.setInterval(40);
  connect(&timer_, &QTimer::timeout, this, [this] {
    const int period = std::max(1, width() + fontMetrics().horizontalAdvance(text_));
    offset_ = (offset_ + 2) % period;
    update();
  });
}

void ScrollingText::Start() {
  timer_.start();
}

void ScrollingText::Stop() {
  timer_.stop();
}

QSize ScrollingText::sizeHint() const {
  return {300, fontMetrics().height() + 4};
}

void ScrollingText::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int textWidth = fontMetrics().horizontalAdvance(text_);
  const int left = Running() ? ScrollingTextGeometry::TextLeft(width(), textWidth, offset_) : 0;
  painter.drawText(QRect(left, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                   text_);
}
