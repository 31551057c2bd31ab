#include "controls/SlidePanelGeometry.h"

namespace controls::slide {

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
  auto within = [&limits](int size) { return limits.min <= size && size <= limits.max; };
  MoveResult result;
  result.panel = panel;
  const bool full = type == stFull;
  switch (handle) {
    case hpLeft: {
      const int w = panel.left() + panel.width() - p.x() - offset.x();
      if (!within(w) || p.x() <= 0) return std::nullopt;
      result.panel.setLeft(p.x() + offset.x());
      result.panel.setWidth(w);
      result.line = p.x();
      break;
    }
    case hpRight: {
      const int w = full ? p.x() - panel.left() + kHandleThickness
                         : panel.width() + p.x() + offset.x() - panel.left();
      const int margin = full ? kHandleThickness : kHandleThickness + 2;
      if (!within(w) || p.x() >= parent.width() - margin) return std::nullopt;
      result.panel.setWidth(w);
      result.line = p.x();
      break;
    }
    case hpTop: {
      const int h = panel.top() + panel.height() - p.y() - offset.y();
      if (!within(h) || p.y() <= 0) return std::nullopt;
      result.panel.setTop(p.y() + offset.y());
      result.panel.setHeight(h);
      result.line = p.y();
      break;
    }
    case hpBottom: {
      const int h = full ? p.y() - panel.top() + kHandleThickness
                         : panel.height() + p.y() + offset.y() - panel.top();
      const int margin = full ? kHandleThickness : kHandleThickness + 2;
      if (!within(h) || p.y() >= parent.height() - margin) return std::nullopt;
      result.panel.setHeight(h);
      result.line = p.y();
      break;
    }
  }
  return result;
}

QRect ApplyLine(THandlePosition handle, QRect panel, int linePos, QPoint offset) {
  QRect r = panel;
  switch (handle) {
    case hpLeft:
      r.setWidth(panel.left() + panel.width() - linePos - offset.x());
      r.moveLeft(linePos + offset.x());
      break;
    case hpRight:
      r.setWidth(panel.width() + linePos + offset.x() - panel.left());
      break;
    case hpTop:
      r.setHeight(panel.top() + panel.height() - linePos - offset.y());
      r.moveTop(linePos + offset.y());
      break;
    case hpBottom:
      r.setHeight(panel.height() + linePos + offset.y() - panel.top());
      break;
  }
  return r;
}

}  // namespace controls::slide
