#include "engine/outputs/RingReader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace engine {

void RingReader::Prepare(int channels, int rampFrames, int maxFrames) {
  channels_ = std::max(1, channels);
  maxFrames_ = std::max(1, maxFrames);
  scratch_.assign(std::size_t(maxFrames_) * channels_, 0.0f);
  shifted_.assign(scratch_.size(), 0.0f);
  carry_.assign(scratch_.size(), 0.0f);
  shift_ = 0;
  edges_ = std::make_unique<OutputEdges>(channels_, rampFrames);
  seenRefills_ = refills_.load();
  offset_ = 0;
  starved_ = false;
}

void RingReader::Reset() {
  edges_.reset();
  scratch_.clear();
  shifted_.clear();
  carry_.clear();
  shift_ = 0;
  placedNs_.store(0);
}

// Copies the first frames the ring plays next, from `offset` frames into
// its segment `segment` on, into the edges' look-ahead, across as many
// segments as the ramp needs.
void RingReader::GatherAhead(GstAudioRingBuffer* buf, int segment, int offset) {
  const int bpf = channels_ * int(sizeof(float));
  const int segFrames = buf->spec.segsize / bpf;
  const int want = edges_->RampFrames();
  float* to = edges_->AheadBuffer();
  int have = 0;
  for (int k = 0; have < want && k < buf->spec.segtotal; ++k, offset = 0) {
    const int s = (segment + k) % buf->spec.segtotal;
    const guint8* from =
        buf->memory + std::size_t(s) * buf->spec.segsize + std::size_t(offset) * bpf;
    const int n = std::min(segFrames - offset, want - have);
    std::memcpy(to + std::size_t(have) * channels_, from, std::size_t(n) * bpf);
    have += n;
  }
  edges_->SetAhead(have);
}

bool RingReader::Readable(GstAudioRingBuffer* buf) const {
  if (!acquired_.load()) return false;
  gint segment = 0, len = 0;
  guint8* data = nullptr;
  return gst_audio_ring_buffer_prepare_read(buf, &segment, &data, &len) &&
         len >= channels_ * int(sizeof(float));
}

RingReader::Edge RingReader::EdgeComing(GstAudioRingBuffer* buf) {
  inDevice_.store(true);
  const bool readable = Readable(buf);
  inDevice_.store(false);
  const bool refilled = refills_.load() != seenRefills_;
  if (readable && (refilled || !edges_->Reading())) return Edge::Start;
  return !readable && edges_->Reading() ? Edge::Cut : Edge::None;
}

guint64 RingReader::Position(GstAudioRingBuffer* buf) const {
  const guint64 segment = guint64(g_atomic_int_get(&buf->segdone)) - buf->segbase;
  const bool restarts = refills_.load() != seenRefills_;
  return segment * guint64(buf->samples_per_seg) + (restarts ? 0 : guint64(offset_));
}

void RingReader::SetTail(const float* frames, int count) {
  edges_->FadeUnder(frames, count);
}

// The ring's own advance wakes a writer waiting for room under the ring's
// lock, which a thread the machine keeps waiting may hold: the device's
// thread would wait with it, and the device run dry. The lock is only
// tried; a writer not woken now is woken at the next segment, a few
// milliseconds on, with the ring still far from empty.
void RingReader::Advance(GstAudioRingBuffer* buf) {
  g_atomic_int_add(&buf->segdone, 1);
  if (g_atomic_int_get(&buf->waiting) == 0 || !GST_OBJECT_TRYLOCK(buf)) return;
  if (g_atomic_int_compare_and_exchange(&buf->waiting, 1, 0)) GST_AUDIO_RING_BUFFER_SIGNAL(buf);
  GST_OBJECT_UNLOCK(buf);
}

void RingReader::Refilled() {
  start_.store(kNoStart);
  committed_.store(0);
  writtenTo_.store(0);
  ++refills_;
}

// The device claims the frames it is about to read before it looks for a
// start, and a commit announces its start before it looks at the claim:
// one of the two sees the other. A start whose place the device claimed
// first goes after it; one announced first and not written yet keeps the
// device waiting (silence, the ring left where it is) until it is.
bool RingReader::StartUnwritten(GstAudioRingBuffer* buf, int frames) {
  if (!Readable(buf)) return false;
  const bool refilled = refills_.load() != seenRefills_;
  const guint64 sps = guint64(buf->samples_per_seg);
  const guint64 done = guint64(g_atomic_int_get(&buf->segdone)) * sps;
  const guint64 at = done + (refilled ? 0 : guint64(offset_));
  claimed_.store(at + guint64(frames));
  const guint64 start = start_.load(), base = guint64(buf->segbase) * sps;
  if (start == kNoStart || start + base >= at + guint64(frames) || committed_.load() > start)
    return false;
  claimed_.store(at);
  return true;
}

void RingReader::Written(guint64 sample) {
  guint64 was = writtenTo_.load();
  while (sample > was && !writtenTo_.compare_exchange_weak(was, sample)) {
  }
}

guint RingReader::Commit(CommitFunction parent, GstAudioRingBuffer* buf, guint64* sample,
                         guint8* data, gint in, gint out, gint* accum) {
  guint taken = 0;  // frames of the buffer taken back from before `data`
  if (start_.load() == kNoStart) {
    const gint bpf = gint(buf->spec.info.bpf);
    const guint8* begin = rendering_.begin;
    if (begin != nullptr && in == out && bpf > 0 && data > begin &&
        data < begin + rendering_.frames * guint64(bpf)) {
      const guint64 skipped = guint64(data - begin) / guint64(bpf);
      if (skipped > rendering_.beforeSegment) {
        taken = guint(skipped - rendering_.beforeSegment);
        data -= std::size_t(taken) * bpf;
        in += gint(taken);
        out += gint(taken);
      }
    }
    start_.store(*sample);
    // The claim counts from the ring's first segment, the sink's samples
    // from its base. A ring that has not played since it was acquired has
    // no claim: its read pointer is the place.
    const guint64 sps = guint64(buf->samples_per_seg), base = guint64(buf->segbase) * sps;
    const auto nextRead = [&] {
      return std::max(claimed_.load(), guint64(g_atomic_int_get(&buf->segdone)) * sps);
    };
    if (pin_)
      if (const guint64 pinned = pin_(nextRead); pinned != kNoStart && pinned >= base) {
        *sample = pinned - base;
        start_.store(*sample);
      }
    const guint64 claimed =
        std::max(claimed_.load(), guint64(g_atomic_int_get(&buf->segdone)) * sps);
    if (*sample + base < claimed) {
      *sample = claimed - base;
      start_.store(*sample);
    }
  }
  // A stream that goes on (a loop's next pass, a resume) follows the sound
  // the ring holds. On a busy machine the sink may place it a few frames
  // early, as it takes its place from the clock again, over sound not yet
  // heard: the end of the pass before would break off mid-swing.
  if (start_.load() != kNoStart && in == out) *sample = std::max(*sample, writtenTo_.load());
  const guint64 before = *sample;
  guint n = 0;
  if (in != out) {
    // Played at another rate by the sink itself (not by us): written whole.
    n = parent(buf, sample, data, in, out, accum);
    if (n > 0) Written(std::max(*sample, before + n));
  } else {
    // A segment at a time, so that the device knows how far the ring holds
    // sound while the rest of a long buffer waits for room.
    const gint sps = buf->samples_per_seg, bpf = gint(buf->spec.info.bpf);
    while (n < guint(in)) {
      const gint chunk = std::min(in - gint(n), sps - gint(*sample % guint64(sps)));
      const guint64 at = *sample;
      const guint wrote = parent(buf, sample, data + std::size_t(n) * bpf, chunk, chunk, accum);
      if (wrote > 0) Written(std::max(*sample, at + wrote));
      n += wrote;
      if (wrote < guint(chunk)) break;
    }
  }
  if (n > 0) committed_.store(std::max(*sample, before + n));
  // The sink counts what it gave, not what was taken back.
  return n > taken ? n - taken : 0;
}

guint64 RingReader::WrittenAhead(GstAudioRingBuffer* buf) const {
  const guint64 sps = guint64(buf->samples_per_seg);
  const guint64 at = guint64(g_atomic_int_get(&buf->segdone)) * sps + guint64(offset_);
  const guint64 written = writtenTo_.load() + guint64(buf->segbase) * sps;
  return written > at ? written - at : 0;
}

// Frames of this cycle's `frames` that the ring holds written sound for,
// with a ramp's worth after them to fade out should the next cycle find
// none. All of them while a clip plays on well fed; fewer when the
// streaming thread fell behind, and none while the sound is cut for want
// of it and the ring is not ahead again.
int RingReader::SoundToRead(GstAudioRingBuffer* buf, int frames, bool refilled) {
  if (!fadeStarved_ || refilled || !(edges_->Reading() || starved_)) return frames;
  const guint64 ahead = WrittenAhead(buf);
  const guint64 ramp = guint64(edges_->RampFrames());
  if (ahead >= guint64(frames) + ramp) {
    starved_ = false;
    return frames;
  }
  starved_ = true;
  if (!edges_->Reading()) return 0;
  return int(std::min<guint64>(ahead > ramp ? ahead - ramp : 0, guint64(frames)));
}

// Reads the ring on from where it was up to `until` frames of this cycle,
// copying into `io` (or passing the ring's sound over when not `copy`).
// Returns false once the ring can't be read.
bool RingReader::ReadOn(GstAudioRingBuffer* buf, float* io, int& done, int until, bool copy,
                        gint& segment) {
  const int bpf = channels_ * int(sizeof(float));
  while (done < until && acquired_.load()) {
    guint8* data = nullptr;
    gint len = 0;
    if (!gst_audio_ring_buffer_prepare_read(buf, &segment, &data, &len) || len < bpf) return false;
    const int segFrames = len / bpf;
    const int n = std::min(segFrames - offset_, until - done);
    if (copy)
      std::memcpy(io + std::size_t(done) * channels_, data + std::size_t(offset_) * bpf,
                  std::size_t(n) * bpf);
    done += n;
    offset_ += n;
    if (offset_ >= segFrames) {
      gst_audio_ring_buffer_clear(buf, segment);
      Advance(buf);
      segment = (segment + 1) % buf->spec.segtotal;
      offset_ = 0;
    }
  }
  return done >= until;
}

const float* RingReader::Read(GstAudioRingBuffer* buf, int frames, bool hold) {
  inDevice_.store(true);
  frames = std::clamp(frames, 0, maxFrames_);
  float* io = scratch_.data();
  std::fill_n(io, std::size_t(frames) * channels_, 0.0f);
  hold = hold || StartUnwritten(buf, frames);
  const bool read = !hold && frames > 0 && Readable(buf);
  bool refilled = false;
  if (!read) {
    edges_->Cycle(io, frames, false, false);
    inDevice_.store(false);
    return io;
  }
  const unsigned refills = refills_.load();
  refilled = refills != seenRefills_;
  seenRefills_ = refills;
  // Other sound begins at a segment's start.
  if (refilled) offset_ = 0;
  const int sound = SoundToRead(buf, frames, refilled);
  int done = 0;
  gint segment = 0;
  ReadOn(buf, io, done, sound, true, segment);
  if (sound == frames) {
    edges_->Cycle(io, frames, true, refilled);
    GatherAhead(buf, segment, offset_);
  } else {
    // Starved: what the ring holds fades out from here, and the ring is
    // passed over, silent, until the streaming thread is ahead again.
    if (sound > 0) {
      edges_->Cycle(io, sound, true, false);
      GatherAhead(buf, segment, offset_);
    }
    ReadOn(buf, io, done, frames, false, segment);
    edges_->Cycle(io + std::size_t(sound) * channels_, frames - sound, false, false);
  }
  inDevice_.store(false);
  return io;
}

// Frames of silence the ring holds before the sound the next Read starts
// (the start's place may lie past where the ring is read), or -1 while that
// sound is not written.
int RingReader::SilenceBeforeStart(GstAudioRingBuffer* buf) {
  inDevice_.store(true);
  const bool readable = Readable(buf);
  inDevice_.store(false);
  const guint64 start = start_.load();
  if (!readable || start == kNoStart || committed_.load() <= start) return -1;
  const guint64 sps = guint64(buf->samples_per_seg);
  const bool refilled = refills_.load() != seenRefills_;
  const guint64 at =
      guint64(g_atomic_int_get(&buf->segdone)) * sps + (refilled ? 0 : guint64(offset_));
  const guint64 begins = start + guint64(buf->segbase) * sps;
  return begins > at ? int(std::min<guint64>(begins - at, guint64(maxFrames_))) : 0;
}

// The ring's reads stay whole periods: the sound is moved on its way out
// instead, so that every other start and cut keeps its place on the ring.
const float* RingReader::Shifted(const float* io, int frames, int shift) {
  shift = std::clamp(shift, 0, frames);
  if (shift == 0 && shift_ == 0) return io;
  const std::size_t ch = std::size_t(channels_);
  float* out = shifted_.data();
  std::fill_n(out, std::size_t(frames) * ch, 0.0f);
  const std::size_t carried = std::size_t(std::min(shift_, frames)) * ch;
  for (std::size_t i = 0; i < carried; ++i) out[i] += carry_[i];
  const std::size_t kept = std::size_t(frames - shift) * ch;
  for (std::size_t i = 0; i < kept; ++i) out[std::size_t(shift) * ch + i] += io[i];
  std::copy_n(io + kept, std::size_t(shift) * ch, carry_.data());
  shift_ = shift;
  return out;
}

const float* RingReader::ReadPlaced(GstAudioRingBuffer* buf, int frames, std::uint64_t cycleNs,
                                    double frameNs) {
  frames = std::clamp(frames, 0, maxFrames_);
  int shift = shift_;
  // A start that follows silence plays where the ring holds it again; one
  // that cuts into sound still heard keeps the shift, so that what is
  // heard never jumps.
  if (refills_.load() != seenRefills_ &&
      std::all_of(carry_.begin(), carry_.begin() + std::size_t(shift_) * channels_,
                  [](float x) { return std::fabs(x) < 1e-6f; }))
    shift = 0;
  bool hold = false;
  std::uint64_t placed = placedNs_.load();
  if (placed != 0) {
    // A cycle whose times are not known waits for one whose are.
    const long at = frameNs > 0
                        ? std::lround(double(static_cast<std::int64_t>(placed - cycleNs)) / frameNs)
                        : long(frames);
    if (at >= frames) {
      hold = true;
    } else {
      placedNs_.compare_exchange_strong(placed, 0);
      const int silence = SilenceBeforeStart(buf);
      if (at >= 0 && silence >= 0) shift = std::max(0, int(at) - silence);
    }
  }
  return Shifted(Read(buf, frames, hold), frames, shift);
}

void RingReader::Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec, int segFrames,
                         int rate) {
  const double segmentUs = double(segFrames) * 1e6 / rate;
  spec->segsize = segFrames * GST_AUDIO_INFO_BPF(&spec->info);
  spec->segtotal = std::max(2, int(std::lround(double(spec->buffer_time) / segmentUs)));
  spec->latency_time = guint64(std::lround(segmentUs));
  spec->buffer_time = guint64(std::lround(segmentUs * spec->segtotal));
  spec->seglatency = spec->segtotal;
  buf->size = spec->segtotal * spec->segsize;
  buf->memory = static_cast<guint8*>(g_malloc0(buf->size));
  // A fresh buffer is new sound.
  Refilled();
  acquired_.store(true);
}

void RingReader::Release(GstAudioRingBuffer* buf, const std::atomic<bool>& gone) {
  acquired_.store(false);
  // The device's thread is out within one Read, microseconds on any
  // machine; this only paces the wait.
  while (inDevice_.load() && !gone.load())
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  g_free(buf->memory);
  buf->memory = nullptr;
}

}  // namespace engine
