#include "waveform/WaveformGeometry.h"

#include <algorithm>
#include <cmath>

namespace waveform {

double WaveformGeometry::ValueAt(double x) const {
  if (width_ <= 0) return window_.from;
  return window_.from + x * window_.Span() / width_;
}

int WaveformGeometry::MarkAt(double x) const {
  const double value = std::nearbyint(ValueAt(x));
  return static_cast<int>(std::clamp(value, 0.0, double(kScale)));
}

double WaveformGeometry::PixelOf(double value) const {
  if (window_.Span() <= 0) return 0;
  return (value - window_.from) * width_ / window_.Span();
}

MarkHandle WaveformGeometry::HandleAt(double x, int start, int stop) const {
  const double toStart = std::abs(x - PixelOf(start));
  const double toStop = std::abs(x - PixelOf(stop));
  const bool startNear = toStart <= kGrab;
  const bool stopNear = toStop <= kGrab;
  if (startNear && stopNear) {
    if (toStart == toStop) return x > PixelOf(stop) ? MarkHandle::kStop : MarkHandle::kStart;
    return toStart < toStop ? MarkHandle::kStart : MarkHandle::kStop;
  }
  if (startNear) return MarkHandle::kStart;
  if (stopNear) return MarkHandle::kStop;
  return MarkHandle::kNone;
}

ViewWindow ZoomAround(const ViewWindow& window, double anchor, double factor) {
  if (factor <= 0 || window.Span() <= 0) return window;
  const double span = std::clamp(window.Span() / factor, kNarrowestSpan, double(kScale));
  const double share = std::clamp((anchor - window.from) / window.Span(), 0.0, 1.0);
  const double from = std::clamp(anchor - share * span, 0.0, kScale - span);
  return {from, from + span};
}

ViewWindow Pan(const ViewWindow& window, double shift) {
  const double from = std::clamp(window.from + shift, 0.0, kScale - window.Span());
  return {from, from + window.Span()};
}

}  // namespace waveform
