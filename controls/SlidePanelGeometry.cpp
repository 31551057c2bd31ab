#include "controls/SlidePanelGeometry.h"

namespace controls::slide {
namespace {

// The panel along the axis its handle moves it: x and width for a handle on
// the left or right, y and height for one on the top or bottom.
struct Axis {
  bool horizontal;
  int Of(QPoint p) const { return horizontal ? p.x() : p.y(); }
  int Of(QSize s) const { return horizontal ? s.width() : s.height(); }
  int Start(const QRect& r) const { return horizontal ? r.left() : r.top(); }
  int Length(const QRect& r) const { return horizontal ? r.width() : r.height(); }
  // Moves the near edge; the far edge stays.
  void SetStart(QRect& r, int v) const { horizontal ? r.setLeft(v) : r.setTop(v); }
  // Moves the far edge; the near edge stays.
  void SetLength(QRect& r, int v) const { horizontal ? r.setWidth(v) : r.setHeight(v); }
  // Moves the whole rectangle.
  void MoveStart(QRect& r, int v) const { horizontal ? r.moveLeft(v) : r.moveTop(v); }
};

// A handle on the left or top edge: dragging it moves the panel's start.
bool NearEdge(THandlePosition handle) {
  return handle == hpLeft || handle == hpTop;
}

}  // namespace

int FrameSize(int borderWidth, bool outerBevel, bool innerBevel, int bevelWidth) {
  return kHandleThickness + 2 * borderWidth + (outerBevel ? 2 * bevelWidth : 0) +
         (innerBevel ? 2 * bevelWidth : 0);
}

bool Horizontal(THandlePosition handle) {
  return handle == hpLeft || handle == hpRight;
}

Limits DragLimits(THandlePosition handle, int frameSize, int minSize, int maxSize, QSize parent) {
  const int parentSize = Horizontal(handle) ? parent.width() : parent.height();
  Limits limits{frameSize > minSize ? frameSize : minSize, parentSize};
  if (maxSize > 0 && maxSize >= minSize && maxSize < parentSize) limits.max = maxSize;
  return limits;
}

QRect HandleRect(THandlePosition handle, QSize panel, int inset) {
  const int w = panel.width() - 2 * inset;
  const int h = panel.height() - 2 * inset;
  switch (handle) {
    case hpLeft:
      return QRect(inset, inset, kHandleThickness, h);
    case hpRight:
      return QRect(panel.width() - inset - kHandleThickness, inset, kHandleThickness, h);
    case hpTop:
      return QRect(inset, inset, w, kHandleThickness);
    default:
      return QRect(inset, panel.height() - inset - kHandleThickness, w, kHandleThickness);
  }
}

std::optional<MoveResult> Move(THandlePosition handle, TSlideType type, QPoint p, QRect panel,
                               QPoint offset, QSize parent, Limits limits) {
  const Axis axis{Horizontal(handle)};
  const int at = axis.Of(p), shift = axis.Of(offset);
  const int start = axis.Start(panel), length = axis.Length(panel);
  MoveResult result{panel, at};
  int size;
  if (NearEdge(handle)) {
    size = start + length - at - shift;
    if (at <= 0) return std::nullopt;
    axis.SetStart(result.panel, at + shift);
  } else {
    const bool full = type == stFull;
    size = full ? at - start + kHandleThickness : length + at + shift - start;
    const int margin = full ? kHandleThickness : kHandleThickness + 2;
    if (at >= axis.Of(parent) - margin) return std::nullopt;
  }
  if (size < limits.min || size > limits.max) return std::nullopt;
  axis.SetLength(result.panel, size);
  return result;
}

QRect ApplyLine(THandlePosition handle, QRect panel, int linePos, QPoint offset) {
  const Axis axis{Horizontal(handle)};
  const int shift = axis.Of(offset);
  const int start = axis.Start(panel), length = axis.Length(panel);
  QRect r = panel;
  if (NearEdge(handle)) {
    axis.SetLength(r, start + length - linePos - shift);
    axis.MoveStart(r, linePos + shift);
  } else {
    axis.SetLength(r, length + linePos + shift - start);
  }
  return r;
}

}  // namespace controls::slide
