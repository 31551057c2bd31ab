#include "waveform/Peaks.h"

#include <algorithm>
#include <cmath>

namespace waveform {

namespace {

std::int16_t ToShort(float v) {
  return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.f, 1.f) * 32767.f));
}

}  // namespace

PeakFolder::PeakFolder(int rate, int channels, std::int64_t maxBuckets)
    : maxBuckets_(std::max<std::int64_t>(2, maxBuckets & ~std::int64_t(1))) {
  peaks_.rate = rate;
  peaks_.channels = std::clamp(channels, 1, 2);
}

void PeakFolder::Add(const float* interleaved, std::int64_t frames) {
  const int channels = peaks_.channels;
  for (std::int64_t f = 0; f < frames; ++f, interleaved += channels) {
    for (int c = 0; c < channels; ++c) {
      const float v = interleaved[c];
      if (inBucket_ == 0) {
        low_[c] = high_[c] = v;
      } else {
        low_[c] = std::min(low_[c], v);
        high_[c] = std::max(high_[c], v);
      }
    }
    ++peaks_.frames;
    if (++inBucket_ == peaks_.framesPerBucket) CloseBucket();
  }
}

void PeakFolder::CloseBucket() {
  for (int c = 0; c < peaks_.channels; ++c) {
    peaks_.values.push_back(ToShort(low_[c]));
    peaks_.values.push_back(ToShort(high_[c]));
  }
  inBucket_ = 0;
  if (peaks_.BucketCount() >= maxBuckets_) Halve();
}

void PeakFolder::Halve() {
  const int stride = 2 * peaks_.channels;
  const std::int64_t pairs = peaks_.BucketCount() / 2;
  std::vector<std::int16_t>& v = peaks_.values;
  for (std::int64_t b = 0; b < pairs; ++b) {
    const std::int16_t* a = &v[2 * b * stride];
    const std::int16_t* n = a + stride;
    std::int16_t* out = &v[b * stride];
    for (int c = 0; c < peaks_.channels; ++c) {
      const std::int16_t low = std::min(a[2 * c], n[2 * c]);
      const std::int16_t high = std::max(a[2 * c + 1], n[2 * c + 1]);
      out[2 * c] = low;
      out[2 * c + 1] = high;
    }
  }
  v.resize(pairs * stride);
  peaks_.framesPerBucket *= 2;
}

Peaks PeakFolder::Finish() {
  if (inBucket_ > 0) {
    // The short last bucket must not trigger a merge that would misplace it.
    for (int c = 0; c < peaks_.channels; ++c) {
      peaks_.values.push_back(ToShort(low_[c]));
      peaks_.values.push_back(ToShort(high_[c]));
    }
    inBucket_ = 0;
  }
  Peaks done = std::move(peaks_);
  peaks_ = Peaks{};
  return done;
}

std::vector<Column> Columns(const Peaks& peaks, int width, double from, double to, int channel) {
  std::vector<Column> columns(std::max(0, width));
  const std::int64_t count = peaks.BucketCount();
  if (width <= 0 || count == 0 || peaks.frames <= 0 || to <= from) return columns;
  const double framesPerUnit = double(peaks.frames) / kScale;
  const double unitsPerColumn = (to - from) / width;
  const double fpb = double(peaks.framesPerBucket);
  const int firstChannel = channel < 0 ? 0 : std::min(channel, peaks.channels - 1);
  const int lastChannel = channel < 0 ? peaks.channels - 1 : firstChannel;
  for (int x = 0; x < width; ++x) {
    const double f0 = (from + x * unitsPerColumn) * framesPerUnit;
    const double f1 = (from + (x + 1) * unitsPerColumn) * framesPerUnit;
    std::int64_t b0 = static_cast<std::int64_t>(std::floor(f0 / fpb));
    std::int64_t b1 = static_cast<std::int64_t>(std::ceil(f1 / fpb));
    b0 = std::max<std::int64_t>(b0, 0);
    b1 = std::min(std::max(b1, b0 + 1), count);
    if (b0 >= count) continue;
    std::int16_t low = 32767, high = -32767;
    for (std::int64_t b = b0; b < b1; ++b) {
      const std::int16_t* bucket = &peaks.values[b * 2 * peaks.channels];
      for (int c = firstChannel; c <= lastChannel; ++c) {
        low = std::min(low, bucket[2 * c]);
        high = std::max(high, bucket[2 * c + 1]);
      }
    }
    columns[x] = {low / 32767.f, high / 32767.f};
  }
  return columns;
}

}  // namespace waveform
