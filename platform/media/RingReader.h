#pragma once
// How our outputs read a GStreamer audio sink's ring buffer on their
// device's thread (a JACK server's process thread, a PulseAudio stream's
// request for more sound), with every cut faded by OutputEdges. Private to
// the media layer.
//
// The device asks for as many frames as it wants, whatever the ring's
// segment size: a JACK server may change its period while it runs, and a
// sound server asks for what its buffer has room for. The ring goes on
// from where the last request left it, across segments or inside one.

#include "platform/media/OutputEdges.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <memory>
#include <vector>

namespace platform::media {

class RingReader {
 public:
  // Before the device's thread runs: `channels` interleaved float samples
  // a frame, requests of at most `maxFrames`, ramps of `rampFrames`.
  void Prepare(int channels, int rampFrames, int maxFrames);
  void Reset();

  int Channels() const { return channels_; }
  int MaxFrames() const { return maxFrames_; }

  // Device thread: the next `frames` frames (at most MaxFrames), read from
  // the ring while it plays and acquired, silence otherwise, with the
  // edges faded. The result lives until the next call.
  const float* Read(GstAudioRingBuffer* buf, int frames);

  // The ring's memory may be read (from its acquire to its release).
  void SetAcquired(bool acquired) { acquired_.store(acquired); }
  // The ring's sound was replaced (a fresh acquire, a flush): the next
  // sound starts whole and the old one fades under it.
  void Refilled() { ++refills_; }
  // Waits until the device's thread is out of the ring's memory, or the
  // device is gone (its thread then never comes back).
  void WaitOutOfDevice(const std::atomic<bool>& gone) const;

 private:
  void GatherAhead(GstAudioRingBuffer* buf, int segment, int offset);

  std::atomic<bool> acquired_{false};
  std::atomic<bool> inDevice_{false};
  std::atomic<unsigned> refills_{0};
  // Device thread only, made before it runs.
  std::unique_ptr<OutputEdges> edges_;
  std::vector<float> scratch_;
  int channels_ = 0;
  int maxFrames_ = 0;
  unsigned seenRefills_ = 0;
  int offset_ = 0;  // frames of the current segment already played
};

}  // namespace platform::media
