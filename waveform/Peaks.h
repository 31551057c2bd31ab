#pragma once
// A clip's sound reduced to the lowest and highest sample of each short
// stretch ("bucket"), the picture the key editor draws behind a clip's marks.
// Pure: no Qt widgets, no GStreamer.

#include <cstdint>
#include <vector>

namespace waveform {

// The marks' scale: a clip runs from 0 to 10000.
constexpr int kScale = 10000;

struct Peaks {
  int rate = 0;
  int channels = 0;  // 1 or 2
  std::int64_t framesPerBucket = 1;
  std::int64_t frames = 0;  // the clip's length in frames
  // For each bucket, for each channel: lowest, highest, in 1/32767.
  std::vector<std::int16_t> values;

  std::int64_t BucketCount() const {
    return channels > 0 ? std::int64_t(values.size()) / (2 * channels) : 0;
  }
  bool Empty() const { return BucketCount() == 0; }
};

// Folds decoded frames into buckets. Buckets start one frame long, which
// zooms to single samples on a short hit; whenever their number would pass
// maxBuckets, neighbours merge and buckets double in length, so a long clip
// keeps at most maxBuckets (2^19 by default: 4 MB in stereo; ten minutes of
// CD sound in buckets of 64 frames, 1.5 ms; an hour in buckets of 512).
class PeakFolder {
 public:
  static constexpr std::int64_t kMaxBuckets = std::int64_t(1) << 19;

  PeakFolder(int rate, int channels, std::int64_t maxBuckets = kMaxBuckets);
  void Add(const float* interleaved, std::int64_t frames);
  // The peaks so far, the last bucket included even when it is short.
  Peaks Finish();

 private:
  void CloseBucket();
  void Halve();

  Peaks peaks_;
  std::int64_t maxBuckets_;
  std::int64_t inBucket_ = 0;
  float low_[2] = {0, 0};
  float high_[2] = {0, 0};
};

// One pixel column: the lowest and highest sample it covers, -1 to 1. A
// column with nothing under it has low > high.
struct Column {
  float low = 1;
  float high = -1;
  bool Empty() const { return low > high; }
};

// The columns of a view `width` pixels wide showing the stretch [from, to)
// of the clip on the marks' scale; channel 0 or 1, or -1 for both folded.
std::vector<Column> Columns(const Peaks& peaks, int width, double from, double to,
                            int channel = -1);

}  // namespace waveform
