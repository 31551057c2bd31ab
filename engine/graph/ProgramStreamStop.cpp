#include "engine/graph/ProgramStreamStop.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>

namespace engine {

namespace {

constexpr const char* kProgramStream = "tastivo-program-stream";

// The stop of the latest seek that reached the demuxer, in stream time;
// shared by its streams.
struct DemuxerSeek {
  explicit DemuxerSeek(GstElement* decoder) : decoder(decoder) {}
  GstElement* const decoder;  // holds the demuxer
  std::mutex mutex;
  // Whether the file's clock starts where its streams do is told by the
  // first segment, whose time is then its start; a demuxer of such a file
  // reads its stops right and is left alone.
  bool told = false, misreadsStops = false;
  std::uint32_t seqnum = GST_SEQNUM_INVALID;
  GstClockTime start = GST_CLOCK_TIME_NONE, stop = GST_CLOCK_TIME_NONE;
};

// An MPEG system stream delivers each packet at most a second before it is
// presented (its target decoder's limit), so the packets that hold the
// frames at a start lie no further than that before it, with the frame in
// progress there. The demuxer goes to the pack whose clock reference is the
// start, after them.
constexpr gint64 kPacketLead = GST_SECOND + GST_SECOND / 10;

// On the seeking thread: the demuxer gets the seek without its stop.
void TakeStop(DemuxerSeek& seek, GstPadProbeInfo* info, GstEvent* event) {
  double rate = 1.0;
  GstFormat format = GST_FORMAT_UNDEFINED;
  GstSeekFlags flags = GST_SEEK_FLAG_NONE;
  GstSeekType startType = GST_SEEK_TYPE_NONE, stopType = GST_SEEK_TYPE_NONE;
  gint64 start = 0, stop = -1;
  gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
  const std::uint32_t seqnum = gst_event_get_seqnum(event);
  bool kept = format == GST_FORMAT_TIME && rate > 0 && stopType == GST_SEEK_TYPE_SET && stop >= 0;
  bool early = format == GST_FORMAT_TIME && rate > 0 && startType == GST_SEEK_TYPE_SET &&
               start > 0 && (flags & GST_SEEK_FLAG_ACCURATE);
  {
    std::lock_guard lock(seek.mutex);
    kept = kept && seek.misreadsStops;
    early = early && seek.misreadsStops;
    seek.seqnum = seqnum;
    seek.start = early ? GstClockTime(start) : GST_CLOCK_TIME_NONE;
    seek.stop = kept ? GstClockTime(stop) : GST_CLOCK_TIME_NONE;
  }
  if (!kept && !early) return;
  GstEvent* open = gst_event_new_seek(rate, format, flags, startType,
                                      early ? std::max<gint64>(0, start - kPacketLead) : start,
                                      kept ? GST_SEEK_TYPE_SET : stopType, kept ? -1 : stop);
  gst_event_set_seqnum(open, seqnum);
  gst_event_unref(event);
  GST_PAD_PROBE_INFO_DATA(info) = open;
}

// On the stream's thread: the segment of a seek that had a stop carries it.
void GiveStop(DemuxerSeek& seek, GstPadProbeInfo* info, GstEvent* event) {
  GstSegment segment;
  gst_event_copy_segment(event, &segment);
  if (segment.format != GST_FORMAT_TIME || segment.rate <= 0) return;
  GstClockTime start = GST_CLOCK_TIME_NONE, stop = GST_CLOCK_TIME_NONE;
  {
    std::lock_guard lock(seek.mutex);
    if (!seek.told) {
      seek.told = true;
      seek.misreadsStops = segment.time != segment.start;
      if (seek.misreadsStops)
        g_object_set_data(G_OBJECT(seek.decoder), kProgramStream, GINT_TO_POINTER(1));
    }
    if (seek.seqnum == gst_event_get_seqnum(event)) {
      start = seek.start;
      stop = seek.stop;
    }
  }
  bool changed = false;
  if (GST_CLOCK_TIME_IS_VALID(start)) {
    const guint64 at = gst_segment_position_from_stream_time(&segment, GST_FORMAT_TIME, start);
    if (GST_CLOCK_TIME_IS_VALID(at) && at > segment.start) {
      segment.start = segment.position = at;
      segment.time = start;
      changed = true;
    }
  }
  if (GST_CLOCK_TIME_IS_VALID(stop)) {
    const guint64 at = gst_segment_position_from_stream_time(&segment, GST_FORMAT_TIME, stop);
    if (GST_CLOCK_TIME_IS_VALID(at) && at >= segment.start &&
        (!GST_CLOCK_TIME_IS_VALID(segment.stop) || at < segment.stop)) {
      segment.stop = at;
      changed = true;
    }
  }
  if (!changed) return;
  GstEvent* stopped = gst_event_new_segment(&segment);
  gst_event_set_seqnum(stopped, gst_event_get_seqnum(event));
  gst_event_unref(event);
  GST_PAD_PROBE_INFO_DATA(info) = stopped;
}

// Runs on the seeking thread (a seek) or on the stream's own thread.
GstPadProbeReturn OnStreamEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto& seek = **static_cast<std::shared_ptr<DemuxerSeek>*>(data);
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event == nullptr) return GST_PAD_PROBE_OK;
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) TakeStop(seek, info, event);
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) GiveStop(seek, info, event);
  return GST_PAD_PROBE_OK;
}

void WatchStream(GstPad* pad, const std::shared_ptr<DemuxerSeek>& seek) {
  if (!GST_PAD_IS_SRC(pad)) return;
  gst_pad_add_probe(pad,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                 GST_PAD_PROBE_TYPE_EVENT_UPSTREAM),
                    &OnStreamEvent, new std::shared_ptr<DemuxerSeek>(seek),
                    [](gpointer p) { delete static_cast<std::shared_ptr<DemuxerSeek>*>(p); });
}

// Runs on a streaming thread: the demuxer shows a stream.
void OnDemuxerPad(GstElement*, GstPad* pad, gpointer data) {
  WatchStream(pad, *static_cast<std::shared_ptr<DemuxerSeek>*>(data));
}

// Runs on whatever thread builds the decoder's chain.
void OnElementAdded(GstBin* decoder, GstBin*, GstElement* element, gpointer) {
  GstElementFactory* factory = gst_element_get_factory(element);
  if (factory == nullptr ||
      std::strcmp(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "mpegpsdemux") != 0)
    return;
  auto* seek =
      new std::shared_ptr<DemuxerSeek>(std::make_shared<DemuxerSeek>(GST_ELEMENT(decoder)));
  GstIterator* pads = gst_element_iterate_src_pads(element);
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
    WatchStream(GST_PAD(g_value_get_object(&item)), *seek);
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(pads);
  g_signal_connect_data(
      element, "pad-added", G_CALLBACK(&OnDemuxerPad), seek,
      [](gpointer p, GClosure*) { delete static_cast<std::shared_ptr<DemuxerSeek>*>(p); },
      GConnectFlags(0));
}

}  // namespace

void KeepProgramStreamStops(GstElement* decoder, const std::string& path) {
  unsigned char head[4] = {};
  std::ifstream file(path, std::ios::binary);
  if (!file.read(reinterpret_cast<char*>(head), sizeof head) || head[0] != 0 || head[1] != 0 ||
      head[2] != 1 || head[3] != 0xBA)
    return;
  g_signal_connect(decoder, "deep-element-added", G_CALLBACK(&OnElementAdded), nullptr);
}

bool IsProgramStream(GstElement* decoder) {
  return g_object_get_data(G_OBJECT(decoder), kProgramStream) != nullptr;
}

}  // namespace engine
