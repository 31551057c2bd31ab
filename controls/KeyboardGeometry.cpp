#include "controls/KeyboardGeometry.h"

#include <algorithm>

namespace controls {
namespace {

// Division and remainder rounding toward minus infinity, so that notes below
// the lowest key and points left of it split into a valid white index instead
// of a negative one.
int FloorDiv(int a, int b) {
  int q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}
int FloorMod(int a, int b) {
  return a - FloorDiv(a, b) * b;
}

}  // namespace

KeyboardGeometry::KeyboardGeometry(TKeyboardOrientation orientation, int noteWidth, int baseOctave,
                                   int width, int height)
    : orientation_(orientation),
      noteWidth_(std::max(1, noteWidth)),
      baseOctave_(baseOctave),
      width_(width),
      height_(height),
      length_(orientation == kbHorizontal ? width : height),
      depth_(orientation == kbHorizontal ? height : width) {}

int KeyboardGeometry::BlackWidth() const {
  int bw = noteWidth_ * 3 / 5;
  if (bw % 2 == 0) ++bw;
  return bw;
}

int KeyboardGeometry::Offset(int white) {
  static constexpr int kOffsets[7] = {-1, +1, 0, -1, 0, +1, 0};
  return kOffsets[FloorMod(white, 7)];
}

bool KeyboardGeometry::HasBlackAbove(int white) {
  const int w = FloorMod(white, 7);
  return w != 2 && w != 6;
}

KeyboardGeometry::NoteSplit KeyboardGeometry::Split(int note) const {
  const int r = note - 12 * baseOctave_;
  const int octave = FloorDiv(r, 12);
  int s = FloorMod(r, 12);
  if (s >= 5) ++s;
  return NoteSplit{octave, s / 2, s % 2 == 1};
}

int KeyboardGeometry::NoteAtPoint(int x, int y, bool velocityMode, int* velocity) const {
  const int along = orientation_ == kbHorizontal ? x : height_ - y - 1;
  const int across = orientation_ == kbHorizontal ? y : x;
  const int k = FloorDiv(along, noteWidth_);
  const int offset = FloorMod(along, noteWidth_);
  const int octave = FloorDiv(k, 7);
  int w = FloorMod(k, 7);
  const int p = w == 0 ? 6 : w - 1;
  const int bl = BlackLength();
  const int bw = BlackWidth();
  const int h = HalfWidth();
  bool black = false;
  if (across < bl) {
    if (offset >= noteWidth_ - h + Offset(w)) {
      black = HasBlackAbove(w);
    } else if (offset < bw - h + Offset(p)) {
      // D, E, G, A and B have a black key below them.
      if (w != 0 && w != 3) {
        black = true;
        w = p;
      }
    }
  }
  int s = 2 * w;
  if (s >= 6) --s;
  if (black) ++s;
  if (velocity) {
    if (velocityMode) {
      const int kDepth = black ? bl : depth_;
      *velocity = kDepth > 0 ? across * 127 / kDepth : 127;
    } else {
      *velocity = 127;
    }
  }
  return s + 12 * (baseOctave_ + octave);
}

std::vector<QRect> KeyboardGeometry::InvertRects(int note) const {
  const NoteSplit n = Split(note);
  const int nw = noteWidth_;
  const int bl = BlackLength();
  const int bw = BlackWidth();
  const int h = HalfWidth();
  const int d = depth_;
  const int w = n.white;
  const int p = w == 0 ? 6 : w - 1;
  const int kx = (7 * n.octave + w) * nw;
  std::vector<QRect> rects;
  if (orientation_ == kbHorizontal) {
    const int rb = kx + nw - h + Offset(w);
    const int lb = kx - h + Offset(p);
    if (n.black) {
      rects.emplace_back(rb + 1, 1, bw - 2, bl - 2);
      return rects;
    }
    rects.emplace_back(kx + 2, bl + 1, nw - 3, d - bl - 3);
    switch (w) {
      case 0:
      case 3:
        rects.emplace_back(kx + 2, 2, rb - kx - 3, bl - 1);
        break;
      case 2:
      case 6:
        rects.emplace_back(lb + bw + 1, 2, kx + nw - lb - bw - 2, bl - 1);
        break;
      default:
        rects.emplace_back(lb + bw + 1, 2, rb - lb - bw - 2, bl - 1);
        break;
    }
    return rects;
  }
  const int ky = height_ - kx - nw;
  const int rby = ky + h - Offset(w) - bw;
  const int lby = ky + nw + h - Offset(p) - bw;
  if (n.black) {
    rects.emplace_back(1, rby + 1, bl - 2, bw - 2);
    return rects;
  }
  rects.emplace_back(bl + 1, ky + 1, d - bl - 3, nw - 3);
  switch (w) {
    case 0:
    case 3:
      rects.emplace_back(2, rby + bw + 1, bl - 1, nw - h - 4);
      break;
    case 2:
    case 6:
      rects.emplace_back(2, ky + 1, bl - 1, lby - ky - 2);
      break;
    default:
      rects.emplace_back(2, rby + bw + 1, bl - 1, lby - rby - bw - 2);
      break;
  }
  return rects;
}

std::vector<KeyboardGeometry::PaintItem> KeyboardGeometry::PaintItems() const {
  std::vector<PaintItem> items;
  const int nw = noteWidth_;
  const int bl = BlackLength();
  const int bw = BlackWidth();
  const int h = HalfWidth();
  const int d = depth_;
  int w = 0;
  if (orientation_ == kbHorizontal) {
    int c = 0;
    for (int x = nw; x < length_; x += nw, w = (w + 1) % 7) {
      PaintItem item{};
      item.whiteLabel = QPoint(x - nw / 2, d - 20);
      item.whiteLabelIndex = c;
      c = (c + 1) % kKeyLabelCount;
      item.separatorFrom = QPoint(x, 0);
      item.separatorTo = QPoint(x, d - 1);
      item.hasBlack = HasBlackAbove(w);
      item.blackLabelIndex = -1;
      if (item.hasBlack) {
        const int bx = x - h + Offset(w);
        item.black = QRect(bx, 0, bw, bl);
        item.blackLabel = QPoint(bx + h / 2, bl - 20);
        item.blackLabelIndex = c;
        c = (c + 1) % kKeyLabelCount;
      }
      items.push_back(item);
    }
    return items;
  }
  for (int y = length_ - nw - 1; y > 0; y -= nw, w = (w + 1) % 7) {
    PaintItem item{};
    item.whiteLabelIndex = item.blackLabelIndex = -1;
    item.separatorFrom = QPoint(0, y);
    item.separatorTo = QPoint(d - 1, y);
    item.hasBlack = HasBlackAbove(w);
    if (item.hasBlack) item.black = QRect(0, y - h - Offset(w), bl, bw);
    items.push_back(item);
  }
  return items;
}

}  // namespace controls
