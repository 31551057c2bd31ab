#pragma once
// Where things are in a waveform view: the part of the clip it shows (its
// zoom), pixels to marks and back, and which mark the pointer takes. Both
// the view's painting and its mouse handling go through this.

#include "waveform/Peaks.h"

namespace waveform {

// The part of the clip a view shows, on the marks' scale.
struct ViewWindow {
  double from = 0;
  double to = kScale;
  double Span() const { return to - from; }
  bool Zoomed() const { return Span() < kScale; }
};

// The narrowest window zooming reaches: a few units of the marks' scale,
// below which no mark can be placed more finely.
constexpr double kNarrowestSpan = 20;

enum class MarkHandle { kNone, kStart, kStop };

class WaveformGeometry {
 public:
  // How near (pixels) the pointer must come to a mark to take it.
  static constexpr double kGrab = 5;

  WaveformGeometry(ViewWindow window, int width) : window_(window), width_(width) {}

  // The value on the marks' scale under pixel x, unrounded.
  double ValueAt(double x) const;
  // The mark a pointer at x sets: the nearest unit (halves to even), within
  // 0..10000.
  int MarkAt(double x) const;
  // Where a value is drawn, in pixels from the view's left.
  double PixelOf(double value) const;
  // The mark that a press at x takes, the nearer one when both are in reach;
  // a stop mark on top of the start mark is taken when the press is to its
  // right, so two marks at one place can still be pulled apart.
  MarkHandle HandleAt(double x, int start, int stop) const;

  const ViewWindow& Window() const { return window_; }
  int Width() const { return width_; }

 private:
  ViewWindow window_;
  int width_;
};

// The window `factor` times narrower (below 1: wider), with anchor (a value
// on the scale) staying under the same pixel; kept within the clip and no
// narrower than kNarrowestSpan.
ViewWindow ZoomAround(const ViewWindow& window, double anchor, double factor);
// The window moved by `shift` units, kept within the clip.
ViewWindow Pan(const ViewWindow& window, double shift);

}  // namespace waveform
