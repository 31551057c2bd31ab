#include "engine/graph/BusWatch.h"

#include "engine/MediaGraph.h"
#include "engine/graph/GraphRenderers.h"
#include "engine/graph/GstFilters.h"

#include <gst/pbutils/pbutils.h>

#include <QCoreApplication>

namespace engine {

BusWatch::BusWatch(GstElement* pipeline, QObject* graph,
                   const std::atomic<std::uint64_t>& generation, std::function<void()> outputLost)
    : pipeline_(pipeline),
      graph_(graph),
      generation_(generation),
      outputLost_(std::move(outputLost)) {
  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_bus_set_sync_handler(bus, &BusWatch::OnBusMessage, this, nullptr);
  gst_object_unref(bus);
}

void BusWatch::Stop() {
  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
  gst_object_unref(bus);
}

// Runs on whatever thread posted the message; must not touch window state.
GstBusSyncReply BusWatch::OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
  auto* w = static_cast<BusWatch*>(data);
  const std::uint64_t generation = w->generation_.load();
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
      // A clip removed since is stopped by a worker; what it says on the
      // way out is not about the clip the graph holds now.
      if (GST_MESSAGE_SRC(message) != nullptr &&
          !gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(w->pipeline_))) {
        // The window's output, open out of the pipeline while no clip holds
        // it, lost its device: it is opened again before the next clip.
        if (GraphRenderers::FromOutput(GST_MESSAGE_SRC(message))) w->outputLost_();
        break;
      }
      w->NoteError(message, generation);
      QCoreApplication::postEvent(w->graph_, new BusEvent(gst_message_ref(message), generation));
      break;
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_SEGMENT_DONE:
    case GST_MESSAGE_DURATION_CHANGED:
      QCoreApplication::postEvent(w->graph_, new BusEvent(gst_message_ref(message), generation));
      break;
    case GST_MESSAGE_ELEMENT:
      if (gst_is_missing_plugin_message(message)) {
        gchar* description = gst_missing_plugin_message_get_description(message);
        std::lock_guard lock(w->mutex_);
        w->missing_.push_back(description ? description : "unknown plugin");
        g_free(description);
      }
      break;
    default:
      break;
  }
  // A sync handler that drops a message owns it: without this unref every
  // message leaked, and with it the element that sent it (the decoder of
  // every clip, the pipeline itself).
  gst_message_unref(message);
  return GST_BUS_DROP;
}

void BusWatch::NoteError(GstMessage* message, std::uint64_t generation) {
  GError* error = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(message, &error, &debug);
  // A sound server that went away reports like a missing file; who sent the
  // error tells them apart.
  const bool fromOutput = GraphRenderers::FromOutput(GST_MESSAGE_SRC(message));
  if (fromOutput) {
    outputLost_();
    ReportOutputLost(error->message ? error->message : "the sound output failed");
  }
  {
    std::lock_guard lock(mutex_);
    if (!error_ || errorGeneration_ != generation) {
      error_ = true;
      errorGeneration_ = generation;
      errorFromOutput_ = fromOutput;
      errorDomain_ = error->domain;
      errorCode_ = error->code;
      errorText_ = std::string(g_quark_to_string(error->domain)) + " " +
                   std::to_string(error->code) + ": " + error->message +
                   (debug ? std::string(" (") + debug + ")" : std::string());
      errorMessage_ = error->message ? error->message : "";
      errorDebug_ = debug ? debug : "";
      errorElement_.clear();
      if (GST_IS_ELEMENT(GST_MESSAGE_SRC(message)))
        if (GstElementFactory* factory =
                gst_element_get_factory(GST_ELEMENT(GST_MESSAGE_SRC(message))))
          errorElement_ = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
    }
  }
  g_clear_error(&error);
  g_free(debug);
}

void BusWatch::Clear() {
  std::lock_guard lock(mutex_);
  missing_.clear();
  error_ = false;
  errorFromOutput_ = false;
}

bool BusWatch::ErrorInThisClipLocked() const {
  return error_ && errorGeneration_ == generation_.load();
}

bool BusWatch::ErrorInThisClip() {
  std::lock_guard lock(mutex_);
  return ErrorInThisClipLocked();
}

bool BusWatch::MissingPlugins() {
  std::lock_guard lock(mutex_);
  return !missing_.empty();
}

HRESULT BusWatch::Result(ClipFailure failure, const std::optional<std::string>& linkFailure,
                         std::string& detail, std::string& reason) {
  std::lock_guard lock(mutex_);
  if (!missing_.empty()) {
    detail.clear();
    for (auto& m : missing_) detail += (detail.empty() ? "" : ", ") + m;
    failure.missing = missing_;
    reason = ReasonInWords(failure);
    return VFW_E_UNSUPPORTED_STREAM;
  }
  if (linkFailure && !ErrorInThisClipLocked()) {
    detail = *linkFailure;
    // A stream no output would take: the formats did not agree.
    failure.domain = GST_CORE_ERROR;
    failure.code = GST_CORE_ERROR_NEGOTIATION;
    reason = ReasonInWords(failure);
    return VFW_E_INVALID_FILE_FORMAT;
  }
  if (!ErrorInThisClipLocked()) {
    detail = "the media pipeline failed without a message";
    reason = ReasonInWords(failure);
    return E_FAIL;
  }
  detail = errorText_;
  failure.domain = errorDomain_;
  failure.code = errorCode_;
  failure.message = errorMessage_;
  failure.debug = errorDebug_;
  failure.element = errorElement_;
  reason = ReasonInWords(failure);
  if (errorFromOutput_) {
    detail = "the sound output failed: " + errorText_;
    reason = "the sound output failed";
    return VFW_E_NO_AUDIO_HARDWARE;
  }
  if (errorDomain_ == GST_RESOURCE_ERROR &&
      (errorCode_ == GST_RESOURCE_ERROR_NOT_FOUND || errorCode_ == GST_RESOURCE_ERROR_OPEN_READ ||
       errorCode_ == GST_RESOURCE_ERROR_OPEN_READ_WRITE))
    return E_FILE_NOT_FOUND;
  if ((errorDomain_ == GST_CORE_ERROR && errorCode_ == GST_CORE_ERROR_MISSING_PLUGIN) ||
      (errorDomain_ == GST_STREAM_ERROR && errorCode_ == GST_STREAM_ERROR_CODEC_NOT_FOUND))
    return VFW_E_UNSUPPORTED_STREAM;
  if (errorDomain_ == GST_STREAM_ERROR) return VFW_E_INVALID_FILE_FORMAT;
  return E_FAIL;
}

}  // namespace engine
