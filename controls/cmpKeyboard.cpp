#include "controls/cmpKeyboard.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <stdexcept>

namespace controls {
namespace {

// The label face is not shipped on Linux desktops; the families after it are
// the closest rounded sans faces that usually are.
QFont LabelFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"),
                    QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  font.setPointSize(6);
  return font;
}

// A rectangle (x1, y1, x2, y2) covering x1..x2-1 and y1..y2-1, filled with the
// brush and outlined in the pen.
void DrawFrameRect(QPainter& painter, const QRect& r, const QBrush& brush, const QPen& pen) {
  if (r.width() <= 0 || r.height() <= 0) return;
  painter.fillRect(r, brush);
  if (pen.style() == Qt::NoPen) return;
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(r.adjusted(0, 0, -1, -1));
}

void DrawLabel(QPainter& painter, QPoint at, int index, const QBrush& background) {
  const QString text(QChar::fromLatin1(kKeyLabels[index]));
  const QFontMetrics metrics(painter.font());
  painter.fillRect(QRect(at, QSize(metrics.horizontalAdvance(text), metrics.height())),
                   background.color());
  painter.setPen(Qt::black);
  painter.drawText(at.x(), at.y() + metrics.ascent(), text);
}

// The device pixels under a rectangle of the widget: on a screen scaled
// two times the face is drawn at twice the size, so that it stays sharp.
QRect DeviceRect(const QRect& r, qreal ratio) {
  return QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio)
      .toAlignedRect();
}

// Inverts every colour bit of the pixels in r, so doing it twice restores them.
void InvertPixels(QImage& image, const QRect& r) {
  const QRect area = r.intersected(image.rect());
  for (int y = area.top(); y <= area.bottom(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = area.left(); x <= area.right(); ++x) line[x] ^= 0x00FFFFFFu;
  }
}

// Light enough that the key's label still reads through it.
const QColor kDropHighlight(40, 120, 230, 120);

}  // namespace

TKeys::TKeys(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  resize(200, 50);
}

KeyboardGeometry TKeys::Geometry() const {
  return KeyboardGeometry(orientation_, noteWidth_, baseOctave_, width(), height());
}

void TKeys::SetNoteWidth(int value) {
  if (value < 1) throw std::invalid_argument("NoteWidth must be at least 1 pixel");
  SetFace(noteWidth_, value);
}

void TKeys::SetPen(const QPen& pen) {
  pen_ = pen;
  pen_.setWidth(1);
  pen_.setCosmetic(true);
  FaceChanged();
}

void TKeys::FaceChanged() {
  faceValid_ = false;
  update();
}

void TKeys::resizeEvent(QResizeEvent*) {
  faceValid_ = false;
}

void TKeys::NoteOn(int note, int velocity, bool notify) {
  if (note >= 0 && note <= 127 && !pressed_[note]) {
    InvertNote(note);
    pressed_[note] = true;
  }
  if (notify && OnNoteOn) OnNoteOn(this, note, velocity);
}

void TKeys::NoteOff(int note, int /*velocity*/, bool notify) {
  if (note >= 0 && note <= 127 && pressed_[note]) {
    InvertNote(note);
    pressed_[note] = false;
  }
  if (notify && OnNoteOff) OnNoteOff(this, note, 0);
}

int TKeys::NoteAtPoint(int x, int y, int* velocity) const {
  return Geometry().NoteAtPoint(x, y, velocityMode_, velocity);
}

void TKeys::InvertNote(int note) {
  // The pressed set decides what the next paint inverts; only the key's own
  // rectangles are repainted.
  for (const QRect& r : Geometry().InvertRects(note)) update(r);
}

void TKeys::SetDropNote(int note) {
  if (note < 0 || note > 127) note = -1;
  if (note == dropNote_) return;
  const KeyboardGeometry g = Geometry();
  for (int changed : {dropNote_, note})
    if (changed >= 0)
      for (const QRect& r : g.InvertRects(changed)) update(r);
  dropNote_ = note;
}

void TKeys::RenderFace() {
  const qreal ratio = devicePixelRatioF();
  face_ = QImage(DeviceRect(rect(), ratio).size(), QImage::Format_RGB32);
  face_.setDevicePixelRatio(ratio);
  QPainter painter(&face_);
  const KeyboardGeometry g = Geometry();
  DrawFrameRect(painter, QRect(0, 0, width(), height()), blackBrush_, QPen(Qt::black));
  DrawFrameRect(painter, QRect(1, 1, width() - 2, height() - 2), whiteBrush_, pen_);
  painter.setFont(LabelFont());
  const bool labels = alphaNum_ && orientation_ == kbHorizontal;
  for (const KeyboardGeometry::PaintItem& item : g.PaintItems()) {
    if (labels) DrawLabel(painter, item.whiteLabel, item.whiteLabelIndex, whiteBrush_);
    painter.setPen(pen_);
    painter.drawLine(item.separatorFrom, item.separatorTo);
    if (item.hasBlack) {
      DrawFrameRect(painter, item.black, blackBrush_, pen_);
      if (labels) DrawLabel(painter, item.blackLabel, item.blackLabelIndex, blackBrush_);
    }
  }
  faceValid_ = true;
}

void TKeys::paintEvent(QPaintEvent* event) {
  const qreal ratio = devicePixelRatioF();
  if (!faceValid_ || face_.size() != DeviceRect(rect(), ratio).size()) RenderFace();
  const QRect area = event->rect();
  QImage shown = face_.copy(DeviceRect(area, ratio));
  shown.setDevicePixelRatio(ratio);
  const KeyboardGeometry g = Geometry();
  for (int note = 0; note < 128; ++note) {
    if (!pressed_[note]) continue;
    for (const QRect& r : g.InvertRects(note)) {
      if (r.intersects(area)) InvertPixels(shown, DeviceRect(r.translated(-area.topLeft()), ratio));
    }
  }
  QPainter painter(this);
  painter.drawImage(area.topLeft(), shown);
  if (dropNote_ >= 0)
    for (const QRect& r : g.InvertRects(dropNote_))
      painter.fillRect(r.intersected(area), kDropHighlight);
}

bool TKeys::Inside(QPoint point) const {
  return point.x() >= 0 && point.x() < width() - 1 && point.y() >= 0 && point.y() < height() - 1;
}

void TKeys::mousePressEvent(QMouseEvent* event) {
  // Qt grabs the mouse for the widget while a button is down.
  if (event->button() != Qt::LeftButton) return;
  const QPoint at = event->position().toPoint();
  int velocity = 0;
  const int note = NoteAtPoint(at.x(), at.y(), &velocity);
  if (note >= 0 && note <= 127) {
    mouseNote_ = note;
    NoteOn(note, velocity, true);
  }
}

void TKeys::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if ((event->buttons() & Qt::LeftButton) && Inside(at)) {
    int velocity = 0;
    const int note = NoteAtPoint(at.x(), at.y(), &velocity);
    if (note >= 0 && note <= 127 && note != mouseNote_) {
      NoteOff(mouseNote_, 0, true);
      mouseNote_ = note;
      NoteOn(note, velocity, true);
    }
    return;
  }
  if (!Inside(at)) return;
  const int note = NoteAtPoint(at.x(), at.y(), nullptr);
  if (note >= 0 && note <= 127 && note != hoverNote_) {
    hoverNote_ = note;
    if (OnMouseOn) OnMouseOn(this, note, 0);
  }
}

void TKeys::mouseReleaseEvent(QMouseEvent*) {
  NoteOff(mouseNote_, 0, true);
}

}  // namespace controls
