#include "engine/outputs/OutputEdges.h"

#include "engine/stages/GainRamp.h"

#include <algorithm>

namespace engine {

OutputEdges::OutputEdges(int channels, int rampFrames)
    : channels_(std::max(1, channels)),
      ramp_(std::max(0, rampFrames)),
      ahead_(std::size_t(ramp_) * channels_),
      tail_(std::size_t(ramp_) * channels_),
      rampInDone_(ramp_) {}

void OutputEdges::SetAhead(int frames) {
  aheadFrames_ = std::clamp(frames, 0, ramp_);
}

void OutputEdges::FadeUnder(const float* frames, int count) {
  count = std::clamp(count, 0, ramp_);
  std::copy_n(frames, std::size_t(count) * channels_, ahead_.begin());
  aheadFrames_ = count;
  std::copy_n(frames, std::size_t(count) * channels_, tail_.begin());
  tailFrames_ = count;
  tailDone_ = 0;
}

void OutputEdges::Cycle(float* io, int frames, bool read, bool refilled) {
  if (reading_ && (!read || refilled)) {
    // Cut: what was about to sound fades out under what follows.
    std::copy_n(ahead_.begin(), std::size_t(aheadFrames_) * channels_, tail_.begin());
    tailFrames_ = aheadFrames_;
    tailDone_ = 0;
    rampInDone_ = ramp_;
  } else if (read && !reading_ && !refilled) {
    // Resumed where it was cut.
    rampInDone_ = 0;
  }
  if (read) aheadFrames_ = 0;
  reading_ = read;
  for (int f = 0; f < frames && rampInDone_ < ramp_; ++f, ++rampInDone_) {
    const float gain = float(RampGain(double(rampInDone_) / ramp_));
    for (int c = 0; c < channels_; ++c) io[f * channels_ + c] *= gain;
  }
  for (int f = 0; f < frames && tailDone_ < tailFrames_; ++f, ++tailDone_) {
    const float gain = float(RampGain(1.0 - double(tailDone_) / ramp_));
    for (int c = 0; c < channels_; ++c)
      io[f * channels_ + c] += tail_[std::size_t(tailDone_) * channels_ + c] * gain;
  }
}

}  // namespace engine
