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

#include "engine/outputs/OutputEdges.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace engine {

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
  // With `hold`, the ring is left as it is and the Read plays as if it
  // could not be read: a device that must write before the ring has sound
  // fades out what it had, and the ring starts later, whole.
  const float* Read(GstAudioRingBuffer* buf, int frames, bool hold = false);

  // Placing a start on the frame of its moment, for a device that knows
  // when each of its cycles falls (a JACK server). Any thread: the next
  // start sounds at `ns` of the shared clock, a moment agreed with other
  // machines, instead of on the first cycle after its sound is ready; 0
  // takes that back.
  void PlaceStart(std::uint64_t ns) { placedNs_.store(ns); }
  // Device thread: Read for a cycle whose first frame falls at `cycleNs`
  // of the shared clock, `frameNs` a frame. Until the cycle that holds a
  // placed start, the ring is held (Read's `hold`); that cycle plays
  // silence up to the start's frame, and the sound goes on that many
  // frames behind the ring until the next start in silence. A start whose
  // sound is not ready by its cycle is late and plays as any other.
  // `frameNs` 0: the cycle's times are not known, and a placed start waits.
  const float* ReadPlaced(GstAudioRingBuffer* buf, int frames, std::uint64_t cycleNs,
                          double frameNs);

  // Device thread: what the next Read does to the sound: starts it (the
  // ring begins to play, or holds other sound than it did), cuts it (the
  // ring stopped playing), or neither.
  enum class Edge { None, Start, Cut };
  Edge EdgeComing(GstAudioRingBuffer* buf);
  // Device thread: a device that writes the next Read over sound it had
  // queued says here what that sound was from there on. It fades out under
  // whatever the Read gives (a cut fades it instead of what followed the
  // last read), so a fade still under way is never cut short.
  void SetTail(const float* frames, int count);
  int RampFrames() const { return edges_ ? edges_->RampFrames() : 0; }
  // Device thread: the last Read played the ring's sound (not silence).
  bool Played() const { return edges_ && edges_->Reading(); }
  // Device thread: frames of written sound the ring holds from where the
  // next Read starts.
  guint64 WrittenAhead(GstAudioRingBuffer* buf) const;
  // Any thread: the ring was given sound since it was last refilled.
  bool GivenSound() const { return start_.load() != kNoStart; }
  // Device thread: the ring's sample the next Read starts at.
  guint64 Position(GstAudioRingBuffer* buf) const;

  // Before the device's thread runs, for a device that reads the ring a
  // period at a time: a streaming thread the machine keeps waiting may
  // leave the ring short of sound in the middle of a clip. The sound is
  // then faded out where the written sound ends, instead of broken off
  // into silence, and faded back in once the ring is ahead again.
  void FadeWhenStarved() { fadeStarved_ = true; }

  // The ring's acquire: segments of `segFrames` frames at `rate`, as many
  // as the buffer time the sink asked for (at least two), in fresh memory
  // the device may read from now on.
  void Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec, int segFrames, int rate);
  // The ring's release: the device stops reading (waiting for its thread to
  // be out, or gone), and the memory is freed.
  void Release(GstAudioRingBuffer* buf, const std::atomic<bool>& gone);
  // The ring's sound was replaced (a fresh acquire, a flush): the next
  // sound starts whole and the old one fades under it.
  void Refilled();

  // The ring's commit, around the ring class's own (`parent`), for a device
  // that reads the ring a period at a time (a JACK server; a QueueFiller
  // commits through it too). The first sound
  // after the ring was refilled is placed by the sink's clock; a streaming
  // thread that wakes late would find its place already read, and the ring
  // would drop those first frames (a clip's attack, the ramp that starts a
  // sound inside a clip). It goes instead to the first frame the device has
  // not taken, and the device never reads the start's place before its
  // sound is there: the start is late, never cut.
  using CommitFunction = guint (*)(GstAudioRingBuffer*, guint64*, guint8*, gint, gint, gint*);
  //
  // Streaming thread, around the sink's render of each buffer: the
  // buffer's memory (`frames` frames from `begin`), and how many of its
  // first frames lie before the stream's segment. The sink drops the
  // first frames of a start that comes after the moment its clock gave it
  // when that moment falls before the ring began to play (the first start
  // after the ring starts, or after a pause, on a busy machine): Commit
  // takes them back, and the start is heard late, whole.
  void Rendering(const guint8* begin, guint64 frames, guint64 beforeSegment) {
    rendering_ = {begin, frames, beforeSegment};
  }
  void Rendered() { rendering_ = {}; }
  // Before the device's thread runs: `pin` tells, on the streaming thread,
  // the absolute ring sample (counted from the ring's first segment) where
  // the next start is to go, or ~0 to place it as usual. A start pinned to
  // a sample the device has already claimed goes after the claim.
  // The pin is given a way to read the sample the device reads next, as
  // the absolute samples count.
  using StartPin = std::function<guint64(const std::function<guint64()>& nextRead)>;
  void PinStartsTo(StartPin pin) { pin_ = std::move(pin); }
  guint Commit(CommitFunction parent, GstAudioRingBuffer* buf, guint64* sample, guint8* data,
               gint in, gint out, gint* accum);

 private:
  void GatherAhead(GstAudioRingBuffer* buf, int segment, int offset);
  bool Readable(GstAudioRingBuffer* buf) const;
  bool StartUnwritten(GstAudioRingBuffer* buf, int frames);
  int SoundToRead(GstAudioRingBuffer* buf, int frames, bool refilled);
  bool ReadOn(GstAudioRingBuffer* buf, float* io, int& done, int until, bool copy, gint& segment);
  void Written(guint64 sample);
  int SilenceBeforeStart(GstAudioRingBuffer* buf);
  const float* Shifted(const float* io, int frames, int shift);
  static void Advance(GstAudioRingBuffer* buf);

  static constexpr guint64 kNoStart = ~guint64(0);

  std::atomic<bool> acquired_{false};
  std::atomic<bool> inDevice_{false};
  std::atomic<unsigned> refills_{0};
  // The first sound since the ring was refilled begins here (kNoStart until
  // it is committed), and it is written up to `committed_` (0 until then).
  std::atomic<guint64> start_{kNoStart};
  std::atomic<guint64> committed_{0};
  // The device reads the ring up to here, counted from the ring's first
  // segment: a start is never placed before.
  std::atomic<guint64> claimed_{0};
  // The ring holds the sound written since it was refilled up to here,
  // counted as the sink counts, segment by segment as it is written.
  std::atomic<guint64> writtenTo_{0};
  struct RenderedBuffer {
    const guint8* begin = nullptr;
    guint64 frames = 0;
    guint64 beforeSegment = 0;
  };
  RenderedBuffer rendering_;  // streaming thread only
  StartPin pin_;
  // Device thread only, made before it runs.
  std::unique_ptr<OutputEdges> edges_;
  std::vector<float> scratch_;
  int channels_ = 0;
  int maxFrames_ = 0;
  unsigned seenRefills_ = 0;
  int offset_ = 0;  // frames of the current segment already played
  bool fadeStarved_ = false;
  bool starved_ = false;  // cut for want of sound, silent until the ring is ahead
  // A placed start (0: none), and how many frames the sound is played
  // behind the ring since one: the last `shift_` frames read, carried
  // into the next cycle.
  std::atomic<std::uint64_t> placedNs_{0};
  std::vector<float> shifted_, carry_;
  int shift_ = 0;
};

}  // namespace engine
