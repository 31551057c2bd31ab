#include "engine/outputs/QueueFiller.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace engine {

void QueueFiller::Prepare(int channels, int rate, int rampFrames, int maxFrames, bool rewrites,
                          double marginSeconds, bool waitsForSound) {
  reader_.Prepare(channels, rampFrames, maxFrames);
  rewrites_ = rewrites;
  waitsForSound_ = waitsForSound;
  short_ = false;
  // Once the queue runs short all the same, the sound fades out where the
  // ring's sound ends, and back in when it comes.
  if (waitsForSound) reader_.FadeWhenStarved();
  rate_ = rate;
  written_ = 0;
  ringEnd_ = 0;
  delayFrames_ = 0;
  history_.assign(std::size_t(rate) * channels, 0.0f);
  tail_.assign(std::size_t(std::max(rampFrames, 1)) * channels, 0.0f);
  marginFrames_ = int(std::lround(marginSeconds * rate));
}

// `frames` more are written than were queued. A start waits (writes
// nothing) until the ring holds the sound it writes over the queue, which
// the streaming thread commits a moment after the ring starts; the queue
// is long enough to wait.
bool QueueFiller::Fill(GstAudioRingBuffer* buf, QueuedDevice& device, std::uint64_t frames) {
  const int channels = reader_.Channels();
  const std::uint64_t kept = history_.size() / std::size_t(channels);
  std::uint64_t at = written_;
  bool hold = false;
  // A device that can't take sound back gets its edges at the end of the
  // queue; they still end any wait for the ring's sound.
  const RingReader::Edge coming = reader_.EdgeComing(buf);
  const RingReader::Edge edge = rewrites_ ? coming : RingReader::Edge::None;
  const auto queuedBefore = device.Queued();
  if (edge != RingReader::Edge::None) {
    if (const auto& queued = queuedBefore) {
      const std::uint64_t back = std::min(
          {*queued > std::uint64_t(marginFrames_) ? *queued - marginFrames_ : 0, at, kept - 1});
      // The sound written over the queue must be in the ring already: a
      // start is written once the ring holds all of it. Read before the
      // streaming thread has given it, the ring would be passed over as
      // silence and the start's first frames heard only in part.
      const guint64 position = reader_.Position(buf), committed = committed_.load();
      const std::uint64_t ready = committed > position ? committed - position : 0;
      const bool queueShort = *queued <= std::uint64_t(2 * marginFrames_);
      const bool waits = edge == RingReader::Edge::Start && ready < back + frames;
      if (waits && !queueShort) return false;
      // Still waiting when the queue runs short: it is kept from running dry
      // with silence, and the start is written whole once the ring holds it.
      hold = waits;
      const std::uint64_t from = at - (back > 0 && !hold ? device.TakeBack(back) : 0);
      if (from < at) {
        const int n = int(std::min<std::uint64_t>(at - from, std::uint64_t(reader_.RampFrames())));
        for (int f = 0; f < n; ++f)
          std::copy_n(&history_[((from + f) % kept) * channels], channels,
                      &tail_[std::size_t(f) * channels]);
        reader_.SetTail(tail_.data(), n);
        frames += at - from;
        at = from;
        // What the ring gave past here is never heard.
        ringEnd_ = std::min(ringEnd_, from);
      }
    }
  }
  // Sound under way waits for the ring while the device holds enough. A
  // cut, a start, or a ring flushed and not given its next sound yet never
  // waits: the ring holds no sound ahead, and may not for a while (a seek
  // takes its time), so the device would be left to run dry.
  const bool mayWait = waitsForSound_ && coming == RingReader::Edge::None && reader_.Played() &&
                       reader_.GivenSound() && queuedBefore.has_value();
  short_ = false;
  while (frames > 0) {
    int n = int(std::min<std::uint64_t>(frames, std::uint64_t(reader_.MaxFrames())));
    if (mayWait && *queuedBefore + (at - written_) >= std::uint64_t(2 * marginFrames_)) {
      // A ramp's worth is kept back, to fade out should the queue run short.
      const guint64 ahead = reader_.WrittenAhead(buf), ramp = guint64(reader_.RampFrames());
      const guint64 usable = ahead > ramp ? ahead - ramp : 0;
      if (usable < guint64(n)) {
        n = int(usable);
        short_ = true;
        if (n == 0) break;
      }
    }
    const float* io = reader_.Read(buf, n, hold);
    if (!device.Write(io, n)) break;
    for (int f = 0; f < n; ++f)
      std::copy_n(io + std::size_t(f) * channels, channels,
                  &history_[((at + f) % kept) * channels]);
    at += std::uint64_t(n);
    if (reader_.Played()) ringEnd_ = at;
    frames -= std::uint64_t(n);
    if (short_) break;
  }
  written_ = std::max(at, written_);
  // The sink's clock and the place of a start's first frame go by how much
  // of the ring's sound is still to be heard. Silence queued after a cut
  // is not: the next start is written over it.
  if (const auto queued = device.Queued()) {
    const std::uint64_t heard = written_ > *queued ? written_ - *queued : 0;
    delayFrames_ = guint(ringEnd_ > heard ? ringEnd_ - heard : 0);
  }
  return true;
}

bool QueueFiller::OpenWake() {
  CloseWake();
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return wakeFd_ >= 0;
}

void QueueFiller::CloseWake() {
  if (wakeFd_ >= 0) close(wakeFd_);
  wakeFd_ = -1;
}

void QueueFiller::Wake() const {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto ignored = write(wakeFd_, &one, sizeof one);
}

void QueueFiller::TakeWakes() const {
  std::uint64_t count = 0;
  while (wakeFd_ >= 0 && read(wakeFd_, &count, sizeof count) > 0) {
  }
}

void QueueFiller::Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec, int segFrames) {
  committed_.store(0);
  reader_.Acquire(buf, spec, segFrames, rate_);
}

void QueueFiller::Cleared() {
  committed_.store(0);
  reader_.Refilled();
  Wake();
}

guint QueueFiller::Commit(CommitFunction parent, GstAudioRingBuffer* buf, guint64* sample,
                          guint8* data, gint in, gint out, gint* accum) {
  const guint64 before = *sample;
  const guint n = reader_.Commit(parent, buf, sample, data, in, out, accum);
  committed_.store(std::max(*sample, before + n));
  Wake();
  return n;
}

}  // namespace engine
