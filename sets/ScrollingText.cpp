#include "sets/ScrollingText.h"

#include <QPainter>

int ScrollingTextGeometry::TextLeft(int widgetWidth, int textWidth, int offset) {
  const int period = std::max(1, widgetWidth + textWidth);
  return widgetWidth - offset % period;
}

ScrollingText::ScrollingText(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
  timer_.setInterval(40);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (ShowsWhole()) return;
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
  return {300, heightForWidth(300)};
}

QSize ScrollingText::minimumSizeHint() const {
  return {100, fontMetrics().height() + 4};
}

int ScrollingText::heightForWidth(int width) const {
  return fontMetrics().boundingRect(QRect(0, 0, width, 1 << 16), Qt::TextWordWrap, text_).height() +
         4;
}

bool ScrollingText::ShowsWhole() const {
  return heightForWidth(width()) <= height();
}

void ScrollingText::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (ShowsWhole()) {
    painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, text_);
    return;
  }
  const int textWidth = fontMetrics().horizontalAdvance(text_);
  const int left = Running() ? ScrollingTextGeometry::TextLeft(width(), textWidth, offset_) : 0;
  painter.drawText(QRect(left, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                   text_);
}
