#include "engine/graph/GstFilters.h"

#include "engine/video/VideoSurface.h"

#include <gst/video/video.h>

#include <cstring>

namespace engine {

Guid MajorTypeOf(GstPad* pad) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
  Guid major;
  if (caps != nullptr && gst_caps_get_size(caps) > 0) {
    const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    if (g_str_has_prefix(name, "audio/")) major = kMediaTypeAudio;
    if (g_str_has_prefix(name, "video/")) major = kMediaTypeVideo;
  }
  if (caps != nullptr) gst_caps_unref(caps);
  return major;
}

// Builds a bin from a chain of elements with a ghost "sink" pad on the first.
GstElement* MakeChainBin(const char* name, std::initializer_list<GstElement*> chain) {
  for (GstElement* e : chain)
    if (e == nullptr) {
      for (GstElement* other : chain)
        if (other) gst_object_unref(gst_object_ref_sink(other));
      return nullptr;
    }
  GstElement* bin = gst_bin_new(name);
  GstElement* previous = nullptr;
  for (GstElement* e : chain) {
    gst_bin_add(GST_BIN(bin), e);
    if (previous) gst_element_link(previous, e);
    previous = e;
  }
  GstPad* target = gst_element_get_static_pad(*chain.begin(), "sink");
  gst_element_add_pad(bin, gst_ghost_pad_new("sink", target));
  gst_object_unref(target);
  return bin;
}

namespace {

// A mapped frame and the sample that owns its buffer, alive as long as an
// image points into it.
struct HeldFrame {
  GstVideoFrame frame;
  GstSample* sample;
};

}  // namespace

QImage ImageFromSample(GstSample* sample) {
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
      GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx) {
    gst_sample_unref(sample);
    return {};
  }
  auto* held = new HeldFrame{{}, sample};
  if (!gst_video_frame_map(&held->frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
    gst_sample_unref(sample);
    delete held;
    return {};
  }
  // No copy: a 1080p frame is 8 MB, and the window thread paints straight
  // from the decoder's buffer. A read-only image never writes into it.
  return QImage(
      static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&held->frame, 0)),
      GST_VIDEO_FRAME_WIDTH(&held->frame), GST_VIDEO_FRAME_HEIGHT(&held->frame),
      GST_VIDEO_FRAME_PLANE_STRIDE(&held->frame, 0), QImage::Format_RGB32,
      [](void* p) {
        auto* h = static_cast<HeldFrame*>(p);
        gst_video_frame_unmap(&h->frame);
        gst_sample_unref(h->sample);
        delete h;
      },
      held);
}

void VideoSinkState::FollowPaintSize(GstAppSink* sink) {
  const QSize wanted = frames->PaintSize();
  if (wanted == requested) return;
  requested = wanted;
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr);
  if (!wanted.isEmpty())
    gst_caps_set_simple(caps, "width", G_TYPE_INT, wanted.width(), "height", G_TYPE_INT,
                        wanted.height(), nullptr);
  gst_app_sink_set_caps(sink, caps);
  gst_caps_unref(caps);
  // The scaler upstream picks the new size up with its next frame.
  GstPad* pad = gst_element_get_static_pad(GST_ELEMENT(sink), "sink");
  gst_pad_push_event(pad, gst_event_new_reconfigure());
  gst_object_unref(pad);
}

// Runs on a streaming thread: hands the frame to the window thread.
GstFlowReturn OnVideoSample(GstAppSink* sink, gpointer data, bool preroll) {
  auto* state = static_cast<VideoSinkState*>(data);
  GstSample* sample = preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink);
  if (sample == nullptr) return GST_FLOW_OK;
  QImage image = ImageFromSample(sample);
  if (!image.isNull()) state->frames->Deliver(std::move(image));
  state->FollowPaintSize(sink);
  return GST_FLOW_OK;
}

// Runs on a streaming thread; only touches the shared probe state.
GstPadProbeReturn OnAudioSinkData(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* state = static_cast<std::shared_ptr<ProbeState>*>(data)->get();
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        buffer && GST_BUFFER_DURATION_IS_VALID(buffer))
      state->playedNs += GST_BUFFER_DURATION(buffer);
    if (!state->sawBuffer.exchange(true)) {
      std::lock_guard lock(state->mutex);
      if (state->observer) state->observer();
    }
  } else if (auto* event = GST_PAD_PROBE_INFO_EVENT(info);
             event && GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
    state->sawBuffer = false;
  }
  return GST_PAD_PROBE_OK;
}

namespace {

struct SegmentWatch {
  std::shared_ptr<SegmentTracker> tracker;
  // Only touched on the streaming thread that feeds the sink.
  SegmentTracker::Origin current;
};

// Runs on the streaming thread that feeds the sink, in stream order.
GstPadProbeReturn OnSinkEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* watch = static_cast<SegmentWatch*>(data);
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event == nullptr) return GST_PAD_PROBE_OK;
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_STOP:
      watch->current.flush = gst_event_get_seqnum(event);
      break;
    case GST_EVENT_SEGMENT:
      watch->current.segment = gst_event_get_seqnum(event);
      break;
    case GST_EVENT_EOS: {
      std::lock_guard lock(watch->tracker->mutex);
      auto& ends = watch->tracker->ends;
      if (ends.size() > 64) ends.clear();  // only the latest segments matter
      ends[gst_event_get_seqnum(event)] = watch->current;
      break;
    }
    default:
      break;
  }
  return GST_PAD_PROBE_OK;
}

}  // namespace

void WatchSegments(GstElement* sink, const std::shared_ptr<SegmentTracker>& tracker) {
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  if (pad == nullptr) return;
  auto* watch = new SegmentWatch;
  watch->tracker = tracker;
  gst_pad_add_probe(pad,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                 GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                    &OnSinkEvent, watch, [](gpointer p) { delete static_cast<SegmentWatch*>(p); });
  gst_object_unref(pad);
}

}  // namespace engine
