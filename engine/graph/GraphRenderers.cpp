#include "engine/graph/GraphRenderers.h"

#include "engine/stages/Varispeed.h"

#include <gst/app/gstappsink.h>

namespace engine {

namespace {
// Marks the bins of audio renderers, so an error can be traced to them.
GQuark OutputQuark() {
  static const GQuark quark = g_quark_from_static_string("tastivo-audio-output");
  return quark;
}
}  // namespace

std::shared_ptr<GstFilter> GraphRenderers::MakeAudioRenderer(GstElement* sink,
                                                             std::string name) const {
  if (sink == nullptr) return nullptr;
  GstElement* volumeElement = gst_element_factory_make("volume", nullptr);
  GstElement* resample = MakeVarispeedResampler();
  // The last converter gives an output with a fixed number of channels (one
  // per port of our JACK output) what it takes: a mono clip is heard on
  // every one.
  GstElement* bin = MakeChainBin(
      nullptr, {gst_element_factory_make("audioconvert", nullptr), MakeVarispeed(), resample,
                volumeElement, gst_element_factory_make("audioconvert", nullptr), sink});
  if (bin == nullptr) return nullptr;
  g_object_set_qdata(G_OBJECT(bin), OutputQuark(), GINT_TO_POINTER(1));
  auto filter = std::make_shared<GstFilter>(Role::AudioRenderer, bin, std::move(name), graph_);
  filter->volume = GST_ELEMENT(gst_object_ref(volumeElement));
  filter->sink = GST_ELEMENT(gst_object_ref(sink));
  WatchSegments(sink, segments_);
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  gst_pad_add_probe(
      pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
      &OnAudioSinkData, new std::shared_ptr<ProbeState>(probe_),
      [](gpointer p) { delete static_cast<std::shared_ptr<ProbeState>*>(p); });
  gst_object_unref(pad);
  return filter;
}

bool GraphRenderers::FromOutput(GstObject* object) {
  if (object == nullptr) return false;
  GstObject* o = GST_OBJECT(gst_object_ref(object));
  while (o != nullptr) {
    if (g_object_get_qdata(G_OBJECT(o), OutputQuark()) != nullptr) {
      gst_object_unref(o);
      return true;
    }
    GstObject* parent = gst_object_get_parent(o);
    gst_object_unref(o);
    o = parent;
  }
  return false;
}

std::shared_ptr<GstFilter> GraphRenderers::MakeVideoRenderer() const {
  // The picture is scaled to the size it is painted at while still YUV, then
  // converted: cheaper than converting the full frame and scaling it on the
  // window thread. Nearest neighbour costs least and looks like the scaling
  // painting did.
  GstElement* scale = gst_element_factory_make("videoscale", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  GstElement* bin =
      MakeChainBin(nullptr, {scale, gst_element_factory_make("videoconvert", nullptr), sink});
  if (bin == nullptr) return nullptr;
  gst_util_set_object_arg(G_OBJECT(scale), "method", "nearest-neighbour");
  GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
  // A frame too late to be shown in time is dropped, and the decoder told
  // to catch up, rather than painted late.
  g_object_set(sink, "caps", caps, "sync", TRUE, "max-buffers", 1, "drop", TRUE,
               "enable-last-sample", FALSE, "qos", TRUE, "max-lateness", 20 * GST_MSECOND, nullptr);
  gst_caps_unref(caps);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_preroll = [](GstAppSink* s, gpointer p) { return OnVideoSample(s, p, true); };
  callbacks.new_sample = [](GstAppSink* s, gpointer p) { return OnVideoSample(s, p, false); };
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new VideoSinkState{frames_, QSize()},
                             [](gpointer p) { delete static_cast<VideoSinkState*>(p); });
  WatchSegments(sink, segments_);
  return std::make_shared<GstFilter>(Role::VideoRenderer, bin, "Video Renderer", graph_);
}

std::shared_ptr<GstFilter> GraphRenderers::MakeNullRenderer() const {
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  if (sink == nullptr) return nullptr;
  g_object_set(sink, "sync", TRUE, nullptr);
  WatchSegments(sink, segments_);
  GstElement* bin = MakeChainBin(nullptr, {sink});
  return std::make_shared<GstFilter>(Role::NullRenderer, bin, "Null Renderer", graph_);
}

}  // namespace engine
