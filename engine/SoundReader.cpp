#include "engine/SoundReader.h"

#include "engine/GstInternal.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>

#include <chrono>
#include <cstring>

namespace engine {

namespace {

// What the decoder's streaming threads tell the reading thread.
struct Pads {
  GstElement* pipeline = nullptr;
  GstElement* convert = nullptr;
  std::atomic<bool> audioLinked{false};
  std::atomic<bool> allExposed{false};
};

bool IsAudio(GstPad* pad) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
  bool audio = false;
  if (caps != nullptr && gst_caps_get_size(caps) > 0) {
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    audio = std::strncmp(name, "audio/", 6) == 0;
  }
  if (caps != nullptr) gst_caps_unref(caps);
  return audio;
}

// Runs on a decoder streaming thread.
void PadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* pads = static_cast<Pads*>(data);
  if (IsAudio(pad) && !pads->audioLinked.load()) {
    GstPad* sink = gst_element_get_static_pad(pads->convert, "sink");
    if (gst_pad_link(pad, sink) == GST_PAD_LINK_OK) pads->audioLinked = true;
    gst_object_unref(sink);
    return;
  }
  // Pictures and further sound tracks run into a sink that takes them as
  // fast as they come, so they never hold the sound back.
  GstElement* drain = gst_element_factory_make("fakesink", nullptr);
  g_object_set(drain, "sync", FALSE, "async", FALSE, nullptr);
  gst_bin_add(GST_BIN(pads->pipeline), drain);
  gst_element_sync_state_with_parent(drain);
  GstPad* sink = gst_element_get_static_pad(drain, "sink");
  gst_pad_link(pad, sink);
  gst_object_unref(sink);
}

// Runs on a decoder streaming thread.
void NoMorePads(GstElement*, gpointer data) {
  static_cast<Pads*>(data)->allExposed = true;
}

}  // namespace

SoundReadResult ReadSound(const std::string& path, const SoundFormatSink& onFormat,
                          const SoundBlockSink& onBlock, const std::atomic<bool>& cancel,
                          std::int64_t stallTimeoutMs) {
  EnsureGstInitialized();
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  if (uri == nullptr) return SoundReadResult::kNoSound;

  GstElement* pipeline = gst_pipeline_new("sound-reader");
  GstElement* decode = gst_element_factory_make("uridecodebin", nullptr);
  GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  g_object_set(decode, "uri", uri, nullptr);
  g_free(uri);
  GstCaps* caps =
      gst_caps_from_string("audio/x-raw,format=F32LE,layout=interleaved,channels=[1,2]");
  g_object_set(filter, "caps", caps, nullptr);
  gst_caps_unref(caps);
  g_object_set(sink, "sync", FALSE, "max-buffers", 16, "emit-signals", FALSE, nullptr);
  gst_bin_add_many(GST_BIN(pipeline), decode, convert, filter, sink, nullptr);
  gst_element_link_many(convert, filter, sink, nullptr);

  Pads pads;
  pads.pipeline = pipeline;
  pads.convert = convert;
  g_signal_connect(decode, "pad-added", G_CALLBACK(PadAdded), &pads);
  g_signal_connect(decode, "no-more-pads", G_CALLBACK(NoMorePads), &pads);

  SoundReadResult result = SoundReadResult::kNoSound;
  GstBus* bus = gst_element_get_bus(pipeline);
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
    using Clock = std::chrono::steady_clock;
    auto lastData = Clock::now();
    bool formatKnown = false;
    int channels = 0;
    for (;;) {
      if (cancel.load()) {
        result = SoundReadResult::kCancelled;
        break;
      }
      GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 100 * GST_MSECOND);
      if (sample != nullptr) {
        lastData = Clock::now();
        if (!formatKnown) {
          GstAudioInfo info;
          if (!gst_audio_info_from_caps(&info, gst_sample_get_caps(sample))) {
            gst_sample_unref(sample);
            break;
          }
          SoundFormat format;
          format.rate = GST_AUDIO_INFO_RATE(&info);
          format.channels = channels = GST_AUDIO_INFO_CHANNELS(&info);
          gint64 duration = 0;
          if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
            format.frames = gst_util_uint64_scale(duration, format.rate, GST_SECOND);
          onFormat(format);
          formatKnown = true;
        }
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
          const auto frames = static_cast<std::int64_t>(map.size / (sizeof(float) * channels));
          if (frames > 0) onBlock(reinterpret_cast<const float*>(map.data), frames);
          gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        continue;
      }
      if (gst_app_sink_is_eos(GST_APP_SINK(sink))) {
        result = formatKnown ? SoundReadResult::kDone : SoundReadResult::kNoSound;
        break;
      }
      GstMessage* message =
          gst_bus_pop_filtered(bus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
      if (message != nullptr) {
        const bool eos = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        gst_message_unref(message);
        result = eos && formatKnown ? SoundReadResult::kDone : SoundReadResult::kNoSound;
        break;
      }
      // A file with pictures only, or a decoder that hangs, says nothing more.
      if (pads.allExposed.load() && !pads.audioLinked.load()) break;
      const auto quiet =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastData);
      if (quiet.count() > stallTimeoutMs) break;
    }
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
  return result;
}

}  // namespace engine
