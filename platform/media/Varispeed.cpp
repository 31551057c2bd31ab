#include "platform/media/Varispeed.h"

#include "platform/media/GainRamp.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <cmath>

namespace platform::media {

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
};

struct VarispeedClass {
  GstElementClass parent_class;
};

G_DEFINE_TYPE(Varispeed, varispeed, GST_TYPE_ELEMENT)

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(TASTIVO_VARISPEED_CAPS));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                                                           GST_STATIC_CAPS(TASTIVO_VARISPEED_CAPS));

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
  if (!GST_CLOCK_TIME_IS_VALID(t) || v->scale == 1.0 || !v->haveSegment) return t;
  const GstClockTime start = v->segment.start;
  if (t >= start) return start + GstClockTime(std::llround(double(t - start) / v->scale));
  const GstClockTime back = GstClockTime(std::llround(double(start - t) / v->scale));
  return back > start ? 0 : start - back;
}

// Scheduling slack on top of the output's periods for sound that ramps in.
constexpr GstClockTime kRampLead = 4 * GST_MSECOND;

// The period of the audio output downstream, 0 when there is none (or it
// is not open yet).
GstClockTime OutputPeriod(Varispeed* v) {
  GstClockTime period = 0;
  GstPad* pad = GST_PAD(gst_object_ref(v->srcpad));
  for (int hops = 0; hops < 8 && pad != nullptr; ++hops) {
    GstPad* peer = gst_pad_get_peer(pad);
    gst_object_unref(pad);
    pad = nullptr;
    if (peer == nullptr) break;
    GstElement* next = gst_pad_get_parent_element(peer);
    gst_object_unref(peer);
    if (next == nullptr) break;
    if (GST_IS_AUDIO_BASE_SINK(next)) {
      GST_OBJECT_LOCK(next);
      GstAudioRingBuffer* ring = GST_AUDIO_BASE_SINK(next)->ringbuffer;
      if (ring && ring->acquired && GST_AUDIO_INFO_RATE(&ring->spec.info) > 0 &&
          GST_AUDIO_INFO_BPF(&ring->spec.info) > 0)
        period =
            gst_util_uint64_scale_int(ring->spec.segsize / GST_AUDIO_INFO_BPF(&ring->spec.info),
                                      GST_SECOND, GST_AUDIO_INFO_RATE(&ring->spec.info));
      GST_OBJECT_UNLOCK(next);
    } else {
      pad = gst_element_get_static_pad(next, "src");
    }
    gst_object_unref(next);
  }
  if (pad) gst_object_unref(pad);
  return period;
}

bool SendSegment(Varispeed* v, GstEvent* original) {
  // An output that starts again places the first samples at the moment they
  // arrive and drops what falls into the period it is already playing, so a
  // ramp in would lose its beginning and start with a step. The sound that
  // ramps in is therefore scheduled two periods and a little ahead; a start at the
  // beginning of the file has no ramp and keeps its timing.
  const bool rampIn = FadesEnabled() && v->segment.start > 0;
  gst_pad_set_offset(v->srcpad, rampIn ? gint64(2 * OutputPeriod(v) + kRampLead) : 0);
  GstSegment out = v->segment;
  if (v->scale != 1.0) {
    out.applied_rate = v->segment.applied_rate * v->segment.rate;
    out.rate = 1.0;
    if (GST_CLOCK_TIME_IS_VALID(v->segment.stop)) out.stop = MapTime(v, v->segment.stop);
    out.position = out.start;
    if (GST_CLOCK_TIME_IS_VALID(v->segment.duration))
      out.duration = MapTime(v, v->segment.start + v->segment.duration) - out.start;
  }
  GstEvent* event = gst_event_new_segment(&out);
  gst_event_set_seqnum(event, gst_event_get_seqnum(original));
  gst_event_unref(original);
  return gst_pad_push_event(v->srcpad, event);
}

// Ramps the gain in at the segment's start when it lies inside the clip,
// and out at its stop; clip time, so the ramp as heard keeps its length at
// any rate.
void RampEdges(const Varispeed* v, GstBuffer* buffer) {
  if (!v->haveSegment || !FadesEnabled() || v->segment.format != GST_FORMAT_TIME) return;
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  if (!GST_CLOCK_TIME_IS_VALID(pts)) return;
  const int rate = GST_AUDIO_INFO_RATE(&v->in), channels = GST_AUDIO_INFO_CHANNELS(&v->in);
  const gsize frames = gst_buffer_get_size(buffer) / GST_AUDIO_INFO_BPF(&v->in);
  if (frames == 0) return;
  const double ramp = kRampSeconds * GST_SECOND * v->segment.rate;
  const GstClockTime end = pts + gst_util_uint64_scale_int(frames, GST_SECOND, rate);
  const GstClockTime start = v->segment.start, stop = v->segment.stop;
  const bool rampIn = start > 0 && pts < start + GstClockTime(ramp);
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

// Runs on the streaming thread that feeds the renderer.
GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
  Varispeed* v = Self(parent);
  if (!v->haveCaps) return gst_pad_push(v->srcpad, buffer);
  buffer = gst_buffer_make_writable(buffer);
  RampEdges(v, buffer);
  if (v->scale != 1.0) {
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
      const GstClockTime mapped = MapTime(v, pts);
      if (GST_BUFFER_DURATION_IS_VALID(buffer))
        GST_BUFFER_DURATION(buffer) = MapTime(v, pts + GST_BUFFER_DURATION(buffer)) - mapped;
      GST_BUFFER_PTS(buffer) = mapped;
    }
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  }
  return gst_pad_push(v->srcpad, buffer);
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
      v->in = info;
      gst_caps_replace(&v->inCaps, caps);
      v->haveCaps = true;
      v->outRate = 0;
      const double rate = v->haveSegment ? v->segment.rate : 1.0;
      const guint32 seqnum = gst_event_get_seqnum(event);
      gst_event_unref(event);
      return SendCaps(v, rate, seqnum);
    }
    case GST_EVENT_SEGMENT: {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      if (segment->format != GST_FORMAT_TIME || !v->haveCaps || segment->rate <= 0.0) {
        v->haveSegment = false;
        return gst_pad_push_event(v->srcpad, event);
      }
      v->segment = *segment;
      v->haveSegment = true;
      if (!SendCaps(v, segment->rate, gst_event_get_seqnum(event))) {
        gst_event_unref(event);
        return FALSE;
      }
      return SendSegment(v, event);
    }
    case GST_EVENT_FLUSH_STOP:
      v->haveSegment = false;
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
    gst_caps_replace(&v->inCaps, nullptr);
  }
  return ret;
}

void Finalize(GObject* object) {
  Varispeed* v = reinterpret_cast<Varispeed*>(object);
  gst_caps_replace(&v->inCaps, nullptr);
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
}

}  // namespace

GstElement* MakeVarispeed() {
  return GST_ELEMENT(g_object_new(varispeed_get_type(), nullptr));
}

}  // namespace platform::media
