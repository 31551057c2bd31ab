#pragma once
// What an output does at the edges of its sound, cycle by cycle, apart from
// any device: the part of our JACK output that decides when to fade. Runs
// on the device's own thread; allocates nothing after construction.
//
// The device reads the output's buffer once a cycle. When a cycle that
// played the buffer is followed by one that can't (the output was paused,
// stopped, flushed or given up), or by one whose buffer holds other sound
// (flushed and started again within the cycle), the first few milliseconds
// of what was about to sound are played instead, ramped down, under
// whatever follows: the cut is heard as a short fade. When the buffer is
// read again after a gap and holds what it held (a resume), its first
// milliseconds are ramped up. A buffer refilled since (a new clip, a seek)
// starts at full gain: its own sound decides how it begins.

#include <vector>

namespace engine {

class OutputEdges {
 public:
  // `rampFrames` frames of `channels` interleaved samples; a ramp of 0
  // frames plays every edge as it comes (hard cuts).
  OutputEdges(int channels, int rampFrames);

  // Where the caller copies, after each cycle that read the buffer, the
  // first frames of what the buffer plays next (at most RampFrames()).
  float* AheadBuffer() { return ahead_.data(); }
  void SetAhead(int frames);

  // One cycle of `frames` interleaved frames in `io`: what the buffer gave
  // when `read`, silence otherwise. `refilled`: the buffer's sound was
  // replaced since the cycle that last read it.
  void Cycle(float* io, int frames, bool read, bool refilled);

  // Sound that the next cycle replaces, whatever it plays (a device that
  // writes over what it had queued): it fades out under the cycle from
  // its first frame. At most RampFrames() frames.
  void FadeUnder(const float* frames, int count);

  int RampFrames() const { return ramp_; }
  // The last cycle played the buffer.
  bool Reading() const { return reading_; }

 private:
  int channels_;
  int ramp_;
  std::vector<float> ahead_, tail_;
  int aheadFrames_ = 0;
  int tailFrames_ = 0, tailDone_ = 0;
  int rampInDone_ = 0;  // frames of a ramp in played; ramp_ when none is under way
  bool reading_ = false;
};

}  // namespace engine
