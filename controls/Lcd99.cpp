#include "controls/Lcd99.h"

#include <QPaintEvent>
#include <QPainter>

#include <cstring>
#include <stdexcept>

namespace controls {

namespace {

// The device pixels under a rectangle of the widget: on a screen scaled
// two times the face is drawn at twice the size, so that it stays sharp.
QRect DeviceRect(const QRect& r, qreal ratio) {
  return QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio)
      .toAlignedRect();
}

}  // namespace

TLCD99::TLCD99(QWidget* parent) : QWidget(parent) {
  // Painting covers every pixel, so the background is never erased first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(92, 34);
  stepTimer_.setSingleShot(true);
  connect(&stepTimer_, &QTimer::timeout, this, [this] { NextAnimationStep(); });
}

LcdGeometry TLCD99::Geometry() const {
  return LcdGeometry(width(), height(), digitNum_, digitSpacing_, gapX_, gapY_, segmentSize_);
}

void TLCD99::SetValue(const QString& text) {
  if (text == value_) return;
  value_ = lcd::NormalizeValue(text);
  // A running animation repaints what is left when it ends.
  if (animating_) return;
  if (!pictureValid_) {
    update();
    return;
  }
  const QRect changed = ChangedBounds(lastDrawn_, value_);
  if (!changed.isEmpty()) update(changed);
}

QRect TLCD99::ChangedBounds(const QString& fromValue, const QString& toValue) {
  const std::vector<CellShapes>& shapes = Shapes();
  const lcd::Cells from = lcd::SplitCells(fromValue, digitNum_);
  const lcd::Cells to = lcd::SplitCells(toValue, digitNum_);
  QRect bounds;
  for (int i = 0; i < digitNum_; ++i) {
    const QChar fc = i < from.chars.size() ? from.chars[i] : QLatin1Char(' ');
    const QChar tc = i < to.chars.size() ? to.chars[i] : QLatin1Char(' ');
    const QChar fm = i < from.marks.size() ? from.marks[i] : QLatin1Char(' ');
    const QChar tm = i < to.marks.size() ? to.marks[i] : QLatin1Char(' ');
    if (fc != tc || fm != tm) bounds |= shapes[i].bounds;
  }
  // The pens draw one pixel beyond the polygon's vertices at most.
  return bounds.isEmpty() ? bounds : bounds.adjusted(-1, -1, 1, 1) & rect();
}

const std::vector<TLCD99::CellShapes>& TLCD99::Shapes() {
  if (!shapes_.empty() && shapesSize_ == size()) return shapes_;
  const LcdGeometry g = Geometry();
  shapes_.assign(digitNum_, {});
  shapesSize_ = size();
  for (int j = 1; j <= digitNum_; ++j) {
    CellShapes& cell = shapes_[j - 1];
    for (int segment = 1; segment <= 7; ++segment) cell.segments[segment] = g.Segment(j, segment);
    cell.colon = g.Colon(j);
    cell.point = g.Point(j);
    cell.bounds = g.CellBounds(j);
    for (const QPolygon& segment : cell.segments) cell.segmentArea |= segment.boundingRect();
    for (const QRect& r : cell.colon)
      if (!r.isEmpty()) cell.segmentArea |= r;
    // The pens draw one pixel beyond the vertices at most.
    cell.segmentArea.adjust(-1, -1, 1, 1);
  }
  cellsApart_ = true;
  for (int i = 1; i < digitNum_; ++i)
    if (shapes_[i - 1].segmentArea.intersects(shapes_[i].segmentArea)) cellsApart_ = false;
  pointsApart_ = true;
  for (const CellShapes& a : shapes_)
    for (const CellShapes& b : shapes_)
      if (a.point.intersects(b.segmentArea)) pointsApart_ = false;
  glyphs_.clear();
  return shapes_;
}

void TLCD99::SetDigitNum(int value) {
  if (value < 1) throw std::invalid_argument("DigitNum must be at least 1");
  SetProperty(digitNum_, value);
}

void TLCD99::PropertyChanged() {
  pictureValid_ = false;
  shapes_.clear();
  update();
}

void TLCD99::resizeEvent(QResizeEvent*) {
  pictureValid_ = false;
}

int TLCD99::ChooseOrder() {
  const int order = lcd::OrderFor(animation_);
  if (order != 0) return order;
  return std::uniform_int_distribution<int>(1, 5)(random_);
}

void TLCD99::DrawPoints(QPainter& painter, const Change& change, bool onlyChanged) {
  const std::vector<CellShapes>& shapes = Shapes();
  for (int i = 0; i < digitNum_; ++i) {
    const QChar mark = i < change.to.marks.size() ? change.to.marks[i] : QLatin1Char(' ');
    const QChar old = i < change.from.marks.size() ? change.from.marks[i] : QLatin1Char(' ');
    if (onlyChanged && mark == old) continue;
    const QRect& point = shapes[i].point;
    if (point.isEmpty()) continue;
    painter.fillRect(point, ToQColor(mark == QLatin1Char('.') ? onColor_ : offColor_));
  }
}

void TLCD99::DrawSegment(QPainter& painter, int cell, QChar c, int segment) {
  const CellShapes& shapes = Shapes()[cell];
  const QColor color = ToQColor((lcd::LitSegments(c) & (1u << segment)) ? onColor_ : offColor_);
  if (painter.brush().color() != color || painter.brush().style() != Qt::SolidPattern) {
    QPen pen(color);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.setBrush(color);
  }
  if (segment == 8) {
    for (const QRect& r : shapes.colon) {
      if (r.width() <= 0 || r.height() <= 0) continue;
      if (r.width() < 3 || r.height() < 3) {
        painter.fillRect(r, color);
      } else {
        painter.drawEllipse(r.adjusted(0, 0, -1, -1));
      }
    }
  } else {
    painter.drawPolygon(shapes.segments[segment]);
  }
}

void TLCD99::DrawStep(QPainter& painter, const Change& change, int step, bool onlyChanged) {
  const int segment = lcd::SegmentOrder(change.order)[step];
  for (int i = 0; i < digitNum_; ++i) {
    const QChar c = i < change.to.chars.size() ? change.to.chars[i] : QLatin1Char(' ');
    const QChar old = i < change.from.chars.size() ? change.from.chars[i] : QLatin1Char(' ');
    if (onlyChanged && c == old) continue;
    DrawSegment(painter, i, c, segment);
  }
}

const QImage& TLCD99::Glyph(int cell, QChar c, int order, bool opaque) {
  const std::uint64_t key = (std::uint64_t(opaque) << 56) | (std::uint64_t(order) << 48) |
                            (std::uint64_t(cell) << 16) | std::uint64_t(c.unicode());
  if (auto found = glyphs_.find(key); found != glyphs_.end()) return found->second;
  if (glyphs_.size() > 1024) glyphs_.clear();  // a display fed many texts
  const QRect area = Shapes()[cell].segmentArea;
  const qreal ratio = picture_.devicePixelRatio();
  QImage glyph(DeviceRect(area, ratio).size(),
               opaque ? picture_.format() : QImage::Format_ARGB32_Premultiplied);
  glyph.setDevicePixelRatio(ratio);
  if (opaque)
    glyph.fill(ToQColor(color_));
  else
    glyph.fill(Qt::transparent);
  QPainter painter(&glyph);
  painter.translate(-area.topLeft());
  for (int segment : lcd::SegmentOrder(order)) DrawSegment(painter, cell, c, segment);
  return glyphs_[key] = glyph;
}

void TLCD99::DrawChangedCells(QPainter& painter, const Change& change) {
  // A glyph drawn on its own paints the very pixels the segments paint on
  // the picture when it is moved by whole device pixels.
  const std::vector<CellShapes>& shapes = Shapes();
  const qreal ratio = picture_.devicePixelRatio();
  const bool wholePixels = ratio == static_cast<int>(ratio);
  if (!cellsApart_ || !wholePixels) {
    // Cells that share pixels are drawn segment by segment across them.
    for (int step = 0; step < 8; ++step) DrawStep(painter, change, step, true);
    return;
  }
  for (int i = 0; i < digitNum_; ++i) {
    const QChar c = i < change.to.chars.size() ? change.to.chars[i] : QLatin1Char(' ');
    const QChar old = i < change.from.chars.size() ? change.from.chars[i] : QLatin1Char(' ');
    if (c != old) painter.drawImage(shapes[i].segmentArea.topLeft(), Glyph(i, c, change.order));
  }
}

bool TLCD99::CopyChangedCells(const Change& change) {
  // Outside its segments a cell's area shows only the display's colour, on
  // the picture as on the glyph, so the copy paints what the painter would.
  const std::vector<CellShapes>& shapes = Shapes();
  const qreal ratio = picture_.devicePixelRatio();
  if (!cellsApart_ || !pointsApart_ || ratio != static_cast<int>(ratio) ||
      change.from.marks != change.to.marks || picture_.format() != QImage::Format_RGB32)
    return false;
  for (int i = 0; i < digitNum_; ++i) {
    const QChar c = i < change.to.chars.size() ? change.to.chars[i] : QLatin1Char(' ');
    const QChar old = i < change.from.chars.size() ? change.from.chars[i] : QLatin1Char(' ');
    if (c == old) continue;
    const QImage& glyph = Glyph(i, c, change.order, true);
    const QRect to = DeviceRect(shapes[i].segmentArea, ratio);
    const QRect visible = to & picture_.rect();
    const QPoint from = visible.topLeft() - to.topLeft();
    const auto bytes = std::size_t(visible.width()) * sizeof(QRgb);
    for (int y = 0; y < visible.height(); ++y)
      std::memcpy(picture_.scanLine(visible.top() + y) + std::size_t(visible.left()) * sizeof(QRgb),
                  glyph.constScanLine(from.y() + y) + std::size_t(from.x()) * sizeof(QRgb), bytes);
  }
  return true;
}

void TLCD99::RenderAll() {
  const qreal ratio = devicePixelRatioF();
  picture_ = QImage(DeviceRect(rect(), ratio).size(), QImage::Format_RGB32);
  picture_.setDevicePixelRatio(ratio);
  picture_.fill(ToQColor(color_));
  glyphs_.clear();
  Change all;
  all.to = lcd::SplitCells(value_, digitNum_);
  all.order = 3;
  QPainter painter(&picture_);
  DrawPoints(painter, all, false);
  for (int step = 0; step < 8; ++step) DrawStep(painter, all, step, false);
  lastDrawn_ = value_;
  pictureValid_ = true;
  animating_ = false;
  stepTimer_.stop();
}

void TLCD99::BringPictureUpToDate() {
  if (!pictureValid_ || picture_.size() != DeviceRect(rect(), devicePixelRatioF()).size()) {
    RenderAll();
    return;
  }
  if (animating_ || value_ == lastDrawn_) return;
  Change change;
  change.from = lcd::SplitCells(lastDrawn_, digitNum_);
  change.to = lcd::SplitCells(value_, digitNum_);
  change.order = ChooseOrder();
  const bool atOnce = animation_ == anNone || animationDelay_ <= 0;
  if (atOnce && CopyChangedCells(change)) {
    lastDrawn_ = value_;
    return;
  }
  QPainter painter(&picture_);
  DrawPoints(painter, change, true);
  if (atOnce) {
    DrawChangedCells(painter, change);
    lastDrawn_ = value_;
    return;
  }
  // An animated change runs its eight steps from a timer, budget / 7 apart,
  // so that the window thread stays free while the segments appear.
  // Until the last step the picture still counts as showing the old value.
  change_ = change;
  change_.step = 0;
  pendingTarget_ = value_;
  animating_ = true;
  DrawStep(painter, change_, change_.step++, true);
  stepTimer_.start(animationDelay_ / 7);
}

void TLCD99::NextAnimationStep() {
  if (!animating_) return;
  {
    QPainter painter(&picture_);
    DrawStep(painter, change_, change_.step++, true);
  }
  update(ChangedBounds(lastDrawn_, pendingTarget_));
  if (change_.step < 8) {
    stepTimer_.start(animationDelay_ / 7);
    return;
  }
  animating_ = false;
  lastDrawn_ = pendingTarget_;
  if (value_ != lastDrawn_) update(ChangedBounds(lastDrawn_, value_));
}

void TLCD99::paintEvent(QPaintEvent* event) {
  BringPictureUpToDate();
  QPainter painter(this);
  painter.drawImage(event->rect().topLeft(), picture_,
                    DeviceRect(event->rect(), picture_.devicePixelRatio()));
}

}  // namespace controls
