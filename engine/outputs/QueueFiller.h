#pragma once
// How our outputs to a device that keeps a queue of sound ahead of its
// speakers (a PulseAudio stream, an ALSA device) fill that queue from the
// sink's ring buffer. Private to the media layer.
//
// The queue is tens of milliseconds long, so that a busy machine never
// lets the device run dry. A start or a cut is not put behind it: it is
// written over what is queued, from just ahead of what is being heard (the
// device takes back what it has not played yet), and the sound written
// over fades out under it, from a copy of what was written. A device that
// can't take sound back gets its starts and cuts at the end of the queue,
// faded all the same.

#include "engine/outputs/RingReader.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace engine {

// The device side of a queue, called on the device's own thread.
class QueuedDevice {
 public:
  virtual ~QueuedDevice() = default;
  // Frames written and not heard yet, or nothing when the device can't say.
  virtual std::optional<std::uint64_t> Queued() = 0;
  // Takes back up to `frames` of the last frames written, none of them
  // heard yet; the next Write goes where they were. Returns how many.
  virtual std::uint64_t TakeBack(std::uint64_t frames) = 0;
  // Writes `frames` interleaved frames; false when the device took none.
  virtual bool Write(const float* io, int frames) = 0;
};

class QueueFiller {
 public:
  // Before the device's thread runs: `channels` interleaved float samples
  // a frame at `rate`, cuts faded over `rampFrames`, writes of at most
  // `maxFrames` at a time. `rewrites`: the device can take back sound it
  // has not played, so starts and cuts go over its queue, `marginSeconds`
  // ahead of what is heard: the device can no longer take back the last
  // moment of what it has mixed.
  //
  // `waitsForSound`: while sound plays and the device still holds twice
  // the margin queued, a ring short of sound (its streaming thread kept
  // waiting on a busy machine) is written only as far as it holds sound,
  // and the rest when it comes (Short() says so meanwhile). Read past its
  // sound, the ring would give silence in the middle of the clip, and the
  // late sound for that place would be lost. Should the queue run short all
  // the same, the sound fades out and back in. For a device that asks again
  // (a sound server); one that keeps asking at once (an ALSA device polled
  // for room) fills as before.
  void Prepare(int channels, int rate, int rampFrames, int maxFrames, bool rewrites,
               double marginSeconds, bool waitsForSound = false);
  void Reset() { reader_.Reset(); }

  RingReader& Reader() { return reader_; }

  // Device thread, when the device has room for `frames` more, or an edge
  // is coming: fills the room (and whatever was taken back to write a
  // start or a cut over) from the ring, or with silence. Returns false
  // when a start waits for the ring's sound and nothing was written: the
  // caller comes back once the ring is given sound (Commit).
  bool Fill(GstAudioRingBuffer* buf, QueuedDevice& device, std::uint64_t frames);

  // Device thread: the last Fill wrote less than asked, waiting for the
  // ring's sound; the device comes back once the ring is given sound.
  bool Short() const { return short_; }

  // Any thread: frames of the ring's sound written and not heard yet, for
  // the sink's clock and the place of a start's first frame.
  guint Delay() const { return delayFrames_.load(); }

  // The device thread's wake-up: a descriptor it polls, readable once the
  // ring has started, stopped, been cleared or been given sound, so that a
  // start or a cut is written at once, not at the device's next request.
  bool OpenWake();
  void CloseWake();
  int WakeFd() const { return wakeFd_; }
  // Any thread, under the ring's lock: never blocks.
  void Wake() const;
  // Device thread, woken: takes the wake-ups that came.
  void TakeWakes() const;

  // The ring's acquire: segments of `segFrames` frames, fresh memory.
  void Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec, int segFrames);
  // The ring's clear_all (a flush): what is committed next is other sound.
  // Wakes the device thread, as Commit does.
  void Cleared();
  // The ring's commit, through the reader's (RingReader::Commit, which never
  // lets a start be dropped as late): keeps how far the ring holds sound.
  using CommitFunction = RingReader::CommitFunction;
  guint Commit(CommitFunction parent, GstAudioRingBuffer* buf, guint64* sample, guint8* data,
               gint in, gint out, gint* accum);

 private:
  RingReader reader_;
  int wakeFd_ = -1;
  bool rewrites_ = true;
  std::atomic<guint> delayFrames_{0};
  std::atomic<guint64> committed_{0};  // the ring holds sound up to this sample
  int rate_ = 0;
  // Device thread only, made before it runs.
  std::uint64_t written_ = 0;  // frames written, as the device counts them
  std::uint64_t ringEnd_ = 0;  // where the last of the ring's sound written ends
  // The last second written, by frame modulo its size: far more than any
  // device queues.
  std::vector<float> history_;
  std::vector<float> tail_;  // one ramp of it, for a cut's fade
  int marginFrames_ = 0;
  bool waitsForSound_ = false;
  bool short_ = false;
};

}  // namespace engine
