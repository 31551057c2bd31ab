#include "engine/stages/Varispeed.h"

#include "engine/outputs/OutputSink.h"
#include "engine/stages/GainRamp.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

namespace engine {

namespace {

#define TASTIVO_VARISPEED_CAPS                 \
  "audio/x-raw, format=(string)" GST_AUDIO_NE( \
      F32) ", layout=(string)interleaved, rate=(int)[1, MAX], channels=(int)[1, MAX]"

struct Varispeed {
  GstElement parent;
  GstPad* sinkpad;
  GstPad* srcpad;
  // Streaming thread only (set up and torn down in state changes).
  GstAudioInfo in;
  bool haveCaps;
  GstCaps* inCaps;
  int outRate;         // the rate declared downstream; 0 before the first caps
  GstSegment segment;  // as the decoder sent it, in clip time
  bool haveSegment;
  double scale;  // the rate applied here: declared rate / sample rate
  // Clip time anchorIn is sent downstream as anchorOut; later times follow
  // at 1 / scale.
  GstClockTime anchorIn, anchorOut;
  GstSegment out;  // the segment sent downstream
  // End, downstream, of the latest buffer pushed since the last flush.
  GstClockTime outEnd;
  // The sound of the segment's last ramp, ramped down, held back; and, once
  // a loop's segment has come, how much of it is already mixed in.
  std::vector<float>* held;
  std::size_t heldMixed;
  bool crossfade;  // the held sound is being mixed into the new segment
  bool sawEnd;     // the decoder ended the segment (segment-done)
  bool rampIn;     // the segment's start is a cut to ramp in
  // A direct rate change ducks the sound: ramped out before it, in after
  // it; frames of the ramp in done so far (-1: none under way).
  bool duckedOut;
  long duckIn;
  // Set from any thread.
  std::atomic<double> wantedRate;  // 0: the segment's own
  std::atomic<bool> releaseTail;
  // The next segment goes on from sound already heard: no ramp in.
  std::atomic<bool> continuesHeard;
  // Counts segments and flushes: a release timed for one segment's end
  // does nothing in another.
  std::atomic<unsigned> epoch;
};

struct VarispeedClass {
  GstElementClass parent_class;
};

G_DEFINE_TYPE(Varispeed, varispeed, GST_TYPE_ELEMENT)

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(TASTIVO_VARISPEED_CAPS));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                                                           GST_STATIC_CAPS(TASTIVO_VARISPEED_CAPS));

constexpr const char* kReleaseTail = "tastivo-release-tail";

Varispeed* Self(GstObject* parent) {
  return reinterpret_cast<Varispeed*>(parent);
}

// Declares the sound downstream at `rate` times its sample rate.
bool SendCaps(Varispeed* v, double rate, guint32 seqnum) {
  const int inRate = GST_AUDIO_INFO_RATE(&v->in);
  const int outRate = std::max(1, int(std::lround(inRate * rate)));
  if (outRate == v->outRate) return true;
  GstCaps* caps = gst_caps_copy(v->inCaps);
  gst_caps_set_simple(caps, "rate", G_TYPE_INT, outRate, nullptr);
  GstEvent* event = gst_event_new_caps(caps);
  gst_caps_unref(caps);
  if (seqnum != GST_SEQNUM_INVALID) gst_event_set_seqnum(event, seqnum);
  v->outRate = outRate;
  v->scale = double(outRate) / inRate;
  return gst_pad_push_event(v->srcpad, event);
}

// Clip time to the time downstream sees.
GstClockTime MapTime(const Varispeed* v, GstClockTime t) {
  if (!GST_CLOCK_TIME_IS_VALID(t) || !v->haveSegment) return t;
  const GstClockTime a = v->anchorIn, b = v->anchorOut;
  if (v->scale == 1.0) return t >= a ? b + (t - a) : (a - t > b ? 0 : b - (a - t));
  if (t >= a) return b + GstClockTime(std::llround(double(t - a) / v->scale));
  const GstClockTime back = GstClockTime(std::llround(double(a - t) / v->scale));
  return back > b ? 0 : b - back;
}

// Running time downstream at the end of what was pushed last.
GstClockTime RunningEnd(const Varispeed* v) {
  if (!GST_CLOCK_TIME_IS_VALID(v->outEnd)) return GST_CLOCK_TIME_NONE;
  return gst_segment_to_running_time(&v->out, GST_FORMAT_TIME,
                                     std::max<GstClockTime>(v->outEnd, v->out.start));
}

// How far ahead of the device's read position the output places the sound
// due now, in ns. So much is lost of every start but the device's very
// first, when it has read less than it queues: a sound server's latency
// (two periods on a JACK server with two periods), the attack of every
// clip.
GstClockTime OutputQueue(Varispeed* v) {
  GstElement* sink = OutputAfter(v->srcpad);
  const GstClockTime queued = OutputQueued(sink).device;
  if (sink) gst_object_unref(sink);
  return queued;
}

// Sends the segment downstream that maps clip time from anchorIn on; base
// is its running time at anchorOut.
bool PushSegment(Varispeed* v, GstClockTime base, guint32 seqnum) {
  GstSegment out = v->segment;
  out.rate = 1.0;
  out.applied_rate = v->segment.applied_rate * v->scale;
  out.start = v->anchorOut;
  out.time = gst_segment_to_stream_time(&v->segment, GST_FORMAT_TIME, v->anchorIn);
  if (!GST_CLOCK_TIME_IS_VALID(out.time)) out.time = v->segment.time;
  out.stop = MapTime(v, v->segment.stop);
  out.position = out.start;
  out.base = base;
  if (GST_CLOCK_TIME_IS_VALID(v->segment.duration))
    out.duration =
        MapTime(v, v->segment.start + v->segment.duration) - MapTime(v, v->segment.start);
  v->out = out;
  GstEvent* event = gst_event_new_segment(&out);
  if (seqnum != GST_SEQNUM_INVALID) gst_event_set_seqnum(event, seqnum);
  return gst_pad_push_event(v->srcpad, event);
}

bool SendSegment(Varispeed* v, GstEvent* original, bool continues) {
  if (!continues) {
    // The sound of a start is scheduled past what the device still queues,
    // so that it lands whole where the device reads next: the attack of a
    // clip from its beginning, the whole ramp in after a start inside it.
    // A segment that continues the stream keeps the offset it has: it is
    // heard right after what came before.
    gst_pad_set_offset(v->srcpad, gint64(OutputQueue(v)));
  }
  v->anchorIn = v->anchorOut = v->segment.start;
  GstClockTime base = v->segment.base;
  if (continues) {
    // The decoder counts running time at the rate it was asked for; what
    // was played here may have run at another since. The held sound is
    // mixed into the new segment's start, which so follows the last sound
    // pushed.
    base = RunningEnd(v);
  }
  const guint32 seqnum = gst_event_get_seqnum(original);
  gst_event_unref(original);
  return PushSegment(v, base, seqnum);
}

// The length of every ramp in clip time, so that it keeps its length as
// heard at any rate.
double RampClipTime(const Varispeed* v) {
  return kRampSeconds * GST_SECOND * v->scale;
}

// Ramps the gain in at the segment's start when it lies inside the clip,
// and out at its stop.
void RampEdges(const Varispeed* v, GstBuffer* buffer, bool rampIn) {
  if (!v->haveSegment || !FadesEnabled() || v->segment.format != GST_FORMAT_TIME) return;
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  if (!GST_CLOCK_TIME_IS_VALID(pts)) return;
  const int rate = GST_AUDIO_INFO_RATE(&v->in), channels = GST_AUDIO_INFO_CHANNELS(&v->in);
  const gsize frames = gst_buffer_get_size(buffer) / GST_AUDIO_INFO_BPF(&v->in);
  if (frames == 0) return;
  const double ramp = RampClipTime(v);
  const GstClockTime end = pts + gst_util_uint64_scale_int(frames, GST_SECOND, rate);
  const GstClockTime start = v->segment.start, stop = v->segment.stop;
  rampIn = rampIn && start > 0 && pts < start + GstClockTime(ramp);
  const bool rampOut = GST_CLOCK_TIME_IS_VALID(stop) && end + GstClockTime(ramp) > stop;
  if (!rampIn && !rampOut) return;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) return;
  auto* samples = reinterpret_cast<float*>(map.data);
  for (gsize f = 0; f < frames; ++f) {
    const double t = double(pts) + double(f) * GST_SECOND / rate;
    double gain = 1.0;
    if (rampIn) gain *= RampGain((t - double(start)) / ramp);
    if (rampOut) gain *= RampGain((double(stop) - t) / ramp);
    if (gain == 1.0) continue;
    for (int c = 0; c < channels; ++c) samples[f * channels + c] *= float(gain);
  }
  gst_buffer_unmap(buffer, &map);
}

// Pushes a buffer on, its times mapped.
GstFlowReturn PushMapped(Varispeed* v, GstBuffer* buffer) {
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  if (GST_CLOCK_TIME_IS_VALID(pts) && v->haveSegment) {
    const GstClockTime mapped = MapTime(v, pts);
    const gsize frames = gst_buffer_get_size(buffer) / GST_AUDIO_INFO_BPF(&v->in);
    const GstClockTime end = MapTime(
        v, pts + gst_util_uint64_scale_int(frames, GST_SECOND, GST_AUDIO_INFO_RATE(&v->in)));
    GST_BUFFER_PTS(buffer) = mapped;
    GST_BUFFER_DURATION(buffer) = end - mapped;
    v->outEnd = end;
  }
  GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  return gst_pad_push(v->srcpad, buffer);
}

// Plays the held sound out as it is (it is ramped down already).
GstFlowReturn PushHeld(Varispeed* v) {
  if (v->held->empty() || v->crossfade) {
    v->held->clear();
    return GST_FLOW_OK;
  }
  const gsize bytes = v->held->size() * sizeof(float);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  gst_buffer_fill(buffer, 0, v->held->data(), bytes);
  const gsize frames = v->held->size() / GST_AUDIO_INFO_CHANNELS(&v->in);
  v->held->clear();
  if (GST_CLOCK_TIME_IS_VALID(v->outEnd)) {
    GST_BUFFER_PTS(buffer) = v->outEnd;
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(frames, GST_SECOND, v->outRate);
    v->outEnd += GST_BUFFER_DURATION(buffer);
  }
  return gst_pad_push(v->srcpad, buffer);
}

// Keeps back the part of the buffer that ramps down to the segment's stop,
// so a loop can crossfade with it; what lies past the stop goes. Returns
// what is to be pushed now, or nullptr.
GstBuffer* HoldTail(Varispeed* v, GstBuffer* buffer) {
  if (!SeamlessLoops() || !FadesEnabled() || !v->haveSegment ||
      !GST_CLOCK_TIME_IS_VALID(v->segment.stop))
    return buffer;
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  if (!GST_CLOCK_TIME_IS_VALID(pts)) return buffer;
  const int rate = GST_AUDIO_INFO_RATE(&v->in), channels = GST_AUDIO_INFO_CHANNELS(&v->in);
  const gsize frames = gst_buffer_get_size(buffer) / GST_AUDIO_INFO_BPF(&v->in);
  const double tailStart = double(v->segment.stop) - RampClipTime(v);
  auto frameAt = [&](double t) {
    const double f = std::ceil((t - double(pts)) * rate / GST_SECOND);
    return gsize(std::clamp(f, 0.0, double(frames)));
  };
  const gsize from = frameAt(tailStart), to = frameAt(double(v->segment.stop));
  if (from >= frames) return buffer;
  GstMapInfo map;
  if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    const auto* samples = reinterpret_cast<const float*>(map.data);
    v->held->insert(v->held->end(), samples + from * channels, samples + to * channels);
    gst_buffer_unmap(buffer, &map);
  }
  if (from == 0) {
    gst_buffer_unref(buffer);
    return nullptr;
  }
  GstBuffer* head =
      gst_buffer_copy_region(buffer, GST_BUFFER_COPY_ALL, 0, from * GST_AUDIO_INFO_BPF(&v->in));
  GST_BUFFER_PTS(head) = pts;
  gst_buffer_unref(buffer);
  return head;
}

// Mixes the held sound, ramped down, into a loop's start, ramped up over
// the same length: a crossfade with no gap.
void Crossfade(Varispeed* v, GstBuffer* buffer) {
  const int channels = GST_AUDIO_INFO_CHANNELS(&v->in);
  const gsize heldFrames = v->held->size() / channels;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) return;
  auto* samples = reinterpret_cast<float*>(map.data);
  const gsize frames = map.size / GST_AUDIO_INFO_BPF(&v->in);
  // What lies before the segment's start is clipped downstream; the
  // crossfade begins where the segment does.
  gsize first = 0;
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  if (GST_CLOCK_TIME_IS_VALID(pts) && pts < v->segment.start)
    first = gsize(std::min<guint64>(
        frames, gst_util_uint64_scale_int_ceil(v->segment.start - pts, GST_AUDIO_INFO_RATE(&v->in),
                                               GST_SECOND)));
  for (gsize f = first; f < frames && v->heldMixed < heldFrames; ++f, ++v->heldMixed) {
    const float gain = float(RampGain(double(v->heldMixed) / double(heldFrames)));
    for (int c = 0; c < channels; ++c)
      samples[f * channels + c] =
          samples[f * channels + c] * gain + (*v->held)[v->heldMixed * channels + c];
  }
  gst_buffer_unmap(buffer, &map);
  if (v->heldMixed >= heldFrames) {
    v->held->clear();
    v->crossfade = false;
  }
}

// Starts playing at the rate asked for directly, from clip time `at`: the
// mapping stays continuous there, so nothing downstream jumps.
bool ChangeRate(Varispeed* v, double rate, GstClockTime at) {
  const GstClockTime anchorOut = MapTime(v, at);
  const GstClockTime base = gst_segment_to_running_time(&v->out, GST_FORMAT_TIME, anchorOut);
  if (!SendCaps(v, rate, GST_SEQNUM_INVALID)) return false;
  v->anchorIn = at;
  v->anchorOut = anchorOut;
  return PushSegment(v, GST_CLOCK_TIME_IS_VALID(base) ? base : v->out.base, GST_SEQNUM_INVALID);
}

// Ramps a direct rate change: the resampler after this stage takes up the
// new rate at once, and a tone that runs through that change rings for a
// few samples; ducked to a quarter under it, that ringing stays below the
// tone's own steps, and the sound never stops. Down at the end of the
// buffer before the change, up from the start of the one after it.
constexpr double kDuckFloor = 0.25;

void Duck(Varispeed* v, GstBuffer* buffer, bool out) {
  const int channels = GST_AUDIO_INFO_CHANNELS(&v->in);
  const long ramp =
      std::max(1L, std::lround(kRampSeconds * GST_AUDIO_INFO_RATE(&v->in) * v->scale));
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) return;
  auto* samples = reinterpret_cast<float*>(map.data);
  const long frames = long(map.size / GST_AUDIO_INFO_BPF(&v->in));
  for (long f = out ? std::max(0L, frames - ramp) : 0; f < frames; ++f) {
    double gain;
    if (out) {
      gain = RampGain(double(frames - 1 - f) / double(std::min(ramp, frames)));
    } else {
      if (v->duckIn >= ramp) break;
      gain = RampGain(double(v->duckIn++) / double(ramp));
    }
    gain = kDuckFloor + (1.0 - kDuckFloor) * gain;
    for (int c = 0; c < channels; ++c) samples[f * channels + c] *= float(gain);
  }
  gst_buffer_unmap(buffer, &map);
  if (!out && v->duckIn >= ramp) v->duckIn = -1;
}

// Runs on the streaming thread that feeds the renderer.
GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
  Varispeed* v = Self(parent);
  if (!v->haveCaps) return gst_pad_push(v->srcpad, buffer);
  buffer = gst_buffer_make_writable(buffer);
  const double wanted = v->wantedRate.load();
  const bool change = wanted > 0.0 && v->haveSegment &&
                      GST_CLOCK_TIME_IS_VALID(GST_BUFFER_PTS(buffer)) &&
                      std::lround(GST_AUDIO_INFO_RATE(&v->in) * wanted) != v->outRate;
  if (change && FadesEnabled() && !v->duckedOut) {
    Duck(v, buffer, true);
    v->duckedOut = true;
  } else if (v->duckedOut || change) {
    if (change && !ChangeRate(v, wanted, GST_BUFFER_PTS(buffer))) {
      gst_buffer_unref(buffer);
      return GST_FLOW_NOT_NEGOTIATED;
    }
    if (v->duckedOut) v->duckIn = 0;
    v->duckedOut = false;
  }
  if (v->duckIn >= 0) Duck(v, buffer, false);
  RampEdges(v, buffer, v->rampIn && !v->crossfade);
  if (v->crossfade) Crossfade(v, buffer);
  buffer = HoldTail(v, buffer);
  if (buffer == nullptr) return GST_FLOW_OK;
  return PushMapped(v, buffer);
}

void SendRelease(Varispeed* v) {
  gst_pad_send_event(v->sinkpad, gst_event_new_custom(GST_EVENT_CUSTOM_DOWNSTREAM,
                                                      gst_structure_new_empty(kReleaseTail)));
}

// How long before the held sound is due it is played out when no loop has
// come for it, on top of what the output reads ahead of its speakers: the
// output's own latency, and the way to the output on a busy machine (the
// release goes through a worker thread and the stages after this one).
constexpr GstClockTime kReleaseMargin = 50 * GST_MSECOND;

struct TimedRelease {
  Varispeed* v;  // owned reference
  unsigned epoch;
};

// The held sound must not wait for the window: a busy window thread would
// leave the output to run dry before it and cut the tone mid-swing. It is
// played out shortly before it is due unless a loop came first.
void ReleaseInTime(Varispeed* v) {
  if (v->held->empty()) return;
  const GstClockTime running = RunningEnd(v);
  GstClock* clock = gst_element_get_clock(GST_ELEMENT(v));
  if (clock == nullptr || !GST_CLOCK_TIME_IS_VALID(running)) {
    if (clock) gst_object_unref(clock);
    PushHeld(v);
    return;
  }
  const GstClockTime due = gst_element_get_base_time(GST_ELEMENT(v)) + running +
                           std::max<gint64>(0, gst_pad_get_offset(v->srcpad));
  // An output that keeps tens of milliseconds queued (ours on PulseAudio
  // or ALSA) reads the ring that far ahead: released later, the held sound
  // would find its place in the ring already read, as silence.
  const GstClockTime margin = kReleaseMargin + OutputQueue(v);
  GstClockID id = gst_clock_new_single_shot_id(clock, due > margin ? due - margin : 0);
  gst_object_unref(clock);
  auto* timed = new TimedRelease{reinterpret_cast<Varispeed*>(gst_object_ref(v)), v->epoch.load()};
  // Runs on the clock's thread, which must never block: the release, which
  // may wait for the stream, goes to a worker.
  const GstClockReturn ret = gst_clock_id_wait_async(
      id,
      [](GstClock*, GstClockTime, GstClockID, gpointer data) -> gboolean {
        auto* t = static_cast<TimedRelease*>(data);
        if (t->v->epoch.load() == t->epoch)
          gst_element_call_async(
              GST_ELEMENT(t->v),
              [](GstElement* e, gpointer) { SendRelease(reinterpret_cast<Varispeed*>(e)); },
              nullptr, nullptr);
        return TRUE;
      },
      timed,
      [](gpointer data) {
        auto* t = static_cast<TimedRelease*>(data);
        gst_object_unref(t->v);
        delete t;
      });
  gst_clock_id_unref(id);
  if (ret != GST_CLOCK_OK) PushHeld(v);
}

// Forgets what the flow through the stage held: the sound kept for a
// crossfade, the end seen, a rate change under way.
void ResetFlow(Varispeed* v) {
  v->held->clear();
  v->crossfade = false;
  v->sawEnd = false;
  v->releaseTail = false;
  v->outEnd = GST_CLOCK_TIME_NONE;
  v->wantedRate = 0.0;
  v->duckedOut = false;
  v->duckIn = -1;
}

// Runs on the streaming thread (serialized events) or any thread (flushes).
gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  Varispeed* v = Self(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      GstAudioInfo info;
      if (!gst_audio_info_from_caps(&info, caps)) {
        gst_event_unref(event);
        return FALSE;
      }
      // The held sound is in the old format; it is played out first.
      if (v->haveCaps) PushHeld(v);
      v->held->clear();
      v->crossfade = false;
      v->in = info;
      gst_caps_replace(&v->inCaps, caps);
      v->haveCaps = true;
      v->outRate = 0;
      const double rate = v->haveSegment ? v->scale : 1.0;
      const guint32 seqnum = gst_event_get_seqnum(event);
      gst_event_unref(event);
      return SendCaps(v, rate, seqnum);
    }
    case GST_EVENT_SEGMENT: {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      if (segment->format != GST_FORMAT_TIME || !v->haveCaps || segment->rate <= 0.0) {
        PushHeld(v);
        v->haveSegment = false;
        return gst_pad_push_event(v->srcpad, event);
      }
      // A segment without a flush before it continues the stream: a loop,
      // or a clip that plays on after its end.
      const bool continues =
          SeamlessLoops() && v->haveSegment && GST_CLOCK_TIME_IS_VALID(v->outEnd);
      v->crossfade = continues && !v->held->empty();
      v->heldMixed = 0;
      // A loop from the file's end, or one crossfaded, has no edge of its
      // own to ramp.
      v->rampIn = !continues || (!v->crossfade && GST_CLOCK_TIME_IS_VALID(v->segment.stop));
      if (v->continuesHeard.exchange(false)) v->rampIn = false;
      if (!continues) PushHeld(v);
      v->sawEnd = false;
      v->releaseTail = false;
      ++v->epoch;
      v->segment = *segment;
      v->haveSegment = true;
      const double wanted = v->wantedRate.load();
      if (!SendCaps(v, wanted > 0.0 ? wanted : segment->rate, gst_event_get_seqnum(event))) {
        gst_event_unref(event);
        return FALSE;
      }
      return SendSegment(v, event, continues);
    }
    case GST_EVENT_SEGMENT_DONE:
      v->sawEnd = true;
      if (v->releaseTail.exchange(false))
        PushHeld(v);
      else
        ReleaseInTime(v);
      return gst_pad_push_event(v->srcpad, event);
    case GST_EVENT_EOS:
      PushHeld(v);
      return gst_pad_push_event(v->srcpad, event);
    case GST_EVENT_CUSTOM_DOWNSTREAM:
      if (gst_event_has_name(event, kReleaseTail)) {
        gst_event_unref(event);
        if (v->sawEnd)
          PushHeld(v);
        else
          v->releaseTail = true;
        return TRUE;
      }
      return gst_pad_event_default(pad, parent, event);
    case GST_EVENT_FLUSH_STOP:
      ++v->epoch;
      v->haveSegment = false;
      ResetFlow(v);
      return gst_pad_push_event(v->srcpad, event);
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

gboolean Query(GstPad* pad, GstObject* parent, GstQuery* query) {
  switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_CAPS: {
      // Any sample rate goes in and any comes out: the rate is what this
      // stage changes.
      GstCaps* filter = nullptr;
      gst_query_parse_caps(query, &filter);
      GstCaps* caps = gst_pad_get_pad_template_caps(pad);
      if (filter) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
      }
      gst_query_set_caps_result(query, caps);
      gst_caps_unref(caps);
      return TRUE;
    }
    case GST_QUERY_ACCEPT_CAPS: {
      GstCaps* caps = nullptr;
      gst_query_parse_accept_caps(query, &caps);
      GstCaps* templ = gst_pad_get_pad_template_caps(pad);
      gst_query_set_accept_caps_result(query, gst_caps_can_intersect(caps, templ));
      gst_caps_unref(templ);
      return TRUE;
    }
    default:
      return gst_pad_query_default(pad, parent, query);
  }
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
  Varispeed* v = reinterpret_cast<Varispeed*>(element);
  const GstStateChangeReturn ret =
      GST_ELEMENT_CLASS(varispeed_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    v->haveCaps = false;
    v->haveSegment = false;
    v->outRate = 0;
    v->scale = 1.0;
    ResetFlow(v);
    gst_caps_replace(&v->inCaps, nullptr);
  }
  return ret;
}

void Finalize(GObject* object) {
  Varispeed* v = reinterpret_cast<Varispeed*>(object);
  gst_caps_replace(&v->inCaps, nullptr);
  delete v->held;
  G_OBJECT_CLASS(varispeed_parent_class)->finalize(object);
}

void varispeed_class_init(VarispeedClass* klass) {
  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &sinkTemplate);
  gst_element_class_add_static_pad_template(element, &srcTemplate);
  gst_element_class_set_static_metadata(element, "Tastivo varispeed", "Filter/Effect/Audio",
                                        "Plays a clip's sound at the segment's rate by resampling",
                                        "Tastivo");
  element->change_state = ChangeState;
  G_OBJECT_CLASS(klass)->finalize = Finalize;
}

void varispeed_init(Varispeed* v) {
  v->sinkpad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
  gst_pad_set_chain_function(v->sinkpad, Chain);
  gst_pad_set_event_function(v->sinkpad, SinkEvent);
  gst_pad_set_query_function(v->sinkpad, Query);
  GST_PAD_SET_PROXY_ALLOCATION(v->sinkpad);
  gst_element_add_pad(GST_ELEMENT(v), v->sinkpad);
  v->srcpad = gst_pad_new_from_static_template(&srcTemplate, "src");
  gst_pad_set_query_function(v->srcpad, Query);
  gst_element_add_pad(GST_ELEMENT(v), v->srcpad);
  v->haveCaps = false;
  v->inCaps = nullptr;
  v->outRate = 0;
  v->haveSegment = false;
  v->scale = 1.0;
  gst_segment_init(&v->segment, GST_FORMAT_TIME);
  gst_segment_init(&v->out, GST_FORMAT_TIME);
  v->anchorIn = v->anchorOut = 0;
  v->outEnd = GST_CLOCK_TIME_NONE;
  v->held = new std::vector<float>;
  v->heldMixed = 0;
  v->crossfade = false;
  v->sawEnd = false;
  v->rampIn = true;
  v->duckedOut = false;
  v->duckIn = -1;
  new (&v->wantedRate) std::atomic<double>(0.0);
  new (&v->releaseTail) std::atomic<bool>(false);
  new (&v->continuesHeard) std::atomic<bool>(false);
  new (&v->epoch) std::atomic<unsigned>(0);
}

}  // namespace

GstElement* MakeVarispeed() {
  return GST_ELEMENT(g_object_new(varispeed_get_type(), nullptr));
}

GstElement* MakeVarispeedResampler() {
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  // Its filter table is always interpolated. Left to choose its table
  // anew at each rate (GStreamer 1.22), a change of rate while it resamples
  // reads and writes past the end of a buffer of its own, which corrupts
  // the heap and crashes the program a moment later; a window whose rate
  // changes on an output at a fixed rate met it within seconds.
  if (resample) g_object_set(resample, "quality", 10, "sinc-filter-mode", 0, nullptr);
  return resample;
}

bool SeamlessLoops() {
  static const bool seamless = std::getenv("TASTIVO_FLUSHING_LOOPS") == nullptr;
  return seamless;
}

namespace {
// Calls `each` with every varispeed stage inside `bin`, or `bin` itself.
template <typename F>
void ForEachStage(GstElement* bin, F each) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(bin, varispeed_get_type())) {
    each(reinterpret_cast<Varispeed*>(bin));
    return;
  }
  if (!GST_IS_BIN(bin)) return;
  GstIterator* it = gst_bin_iterate_recurse(GST_BIN(bin));
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* element = GST_ELEMENT(g_value_get_object(&item));
    if (G_TYPE_CHECK_INSTANCE_TYPE(element, varispeed_get_type()))
      each(reinterpret_cast<Varispeed*>(element));
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
}
}  // namespace

void SetVarispeedRate(GstElement* bin, double rate) {
  ForEachStage(bin, [&](Varispeed* v) { v->wantedRate = rate; });
}

void ContinueVarispeedStart(GstElement* bin) {
  ForEachStage(bin, [](Varispeed* v) { v->continuesHeard = true; });
}

void ReleaseVarispeedTail(GstElement* bin) {
  ForEachStage(bin, [](Varispeed* v) {
    // The stream may be busy pushing into a full output; the event waits
    // for it on a worker instead of the window thread.
    gst_element_call_async(
        GST_ELEMENT(v),
        [](GstElement* element, gpointer) { SendRelease(reinterpret_cast<Varispeed*>(element)); },
        nullptr, nullptr);
  });
}

}  // namespace engine
