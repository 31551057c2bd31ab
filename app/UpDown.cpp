#include "app/UpDown.h"

#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setArrowType(Qt::DownArrow);
  for (auto* b : {up_, down_}) {
    b->setAutoRepeat(true);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    b->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(b);
  }
  connect(up_, &QToolButton::clicked, this, [this] { Step(updUp); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(updDown); });
}

void TUpDown::SetPosition(int value) {
  position_ = std::clamp(value, Min, Max);
}

void TUpDown::Step(TUpDownDirection direction) {
  int next = position_ + (direction == updUp ? 1 : direction == updDown ? -1 : 0);
  if (Wrap) {
    if (next > Max) next = Min;
    if (next < Min) next = Max;
  }
  bool allow = true;
  if (OnChangingEx) OnChangingEx(this, allow, next, direction);
  if (allow) SetPosition(next);
}
