#include "bench/player/PlaybinBaseline.h"

#include "engine/GstInternal.h"

#include <atomic>
#include <chrono>

namespace bench {

namespace {
using Clock = std::chrono::steady_clock;

struct FirstBuffer {
  std::atomic<bool> seen{false};
  std::atomic<Clock::rep> at{0};
};

// Runs on a streaming thread.
GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* first = static_cast<FirstBuffer*>(data);
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    if (!first->seen.exchange(true)) first->at = Clock::now().time_since_epoch().count();
  } else if (auto* e = GST_PAD_PROBE_INFO_EVENT(info);
             e && GST_EVENT_TYPE(e) == GST_EVENT_FLUSH_STOP) {
    first->seen = false;
  }
  return GST_PAD_PROBE_OK;
}
}  // namespace

double FreshPlaybinKeyToSoundMs(const std::string& fileName, double startSeconds,
                                double stopSeconds) {
  engine::EnsureGstInitialized();
  FirstBuffer first;
  const auto t0 = Clock::now();
  GstElement* playbin = gst_element_factory_make("playbin", nullptr);
  GstElement* sink = engine::CreateDefaultAudioSink("");
  if (!playbin || !sink) return -1;
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  gst_pad_add_probe(
      pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
      &OnBuffer, &first, nullptr);
  gst_object_unref(pad);
  gchar* uri = gst_filename_to_uri(fileName.c_str(), nullptr);
  GstElement* fakeVideo = gst_element_factory_make("fakesink", nullptr);
  g_object_set(playbin, "uri", uri, "audio-sink", sink, "video-sink", fakeVideo, nullptr);
  g_free(uri);
  double result = -1;
  gst_element_set_state(playbin, GST_STATE_PAUSED);
  if (gst_element_get_state(playbin, nullptr, nullptr, 10 * GST_SECOND) !=
          GST_STATE_CHANGE_FAILURE &&
      gst_element_seek(playbin, 1.0, GST_FORMAT_TIME,
                       static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                       GST_SEEK_TYPE_SET, static_cast<gint64>(startSeconds * GST_SECOND),
                       GST_SEEK_TYPE_SET, static_cast<gint64>(stopSeconds * GST_SECOND))) {
    gst_element_get_state(playbin, nullptr, nullptr, 10 * GST_SECOND);
    gst_element_set_state(playbin, GST_STATE_PLAYING);
    gst_element_get_state(playbin, nullptr, nullptr, 10 * GST_SECOND);
    const auto played = Clock::now();
    while (!first.seen && Clock::now() - t0 < std::chrono::seconds(5)) g_usleep(100);
    if (first.seen) {
      const auto at = Clock::time_point(Clock::duration(first.at.load()));
      result = std::chrono::duration<double, std::milli>(std::max(at, played) - t0).count();
    }
  }
  gst_element_set_state(playbin, GST_STATE_NULL);
  gst_object_unref(playbin);
  return result;
}

}  // namespace bench
