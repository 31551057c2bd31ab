#include "engine/graph/GstGraphImpl.h"

#include "engine/graph/ClipLength.h"

#include "platform/WindowMessages.h"
#include "engine/graph/FailureReason.h"
#include "engine/stages/GainRamp.h"
#include "engine/timing/GroupStart.h"
#include "engine/GstInternal.h"
#include "engine/outputs/OutputSink.h"
#include "engine/timing/SharedClock.h"
#include "engine/stages/Varispeed.h"

#include <glib/gstdio.h>
#include <gst/app/gstappsink.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <utility>

namespace platform::media {

namespace {
// Marks the bins of audio renderers, so an error can be traced to them.
GQuark OutputQuark() {
  static const GQuark quark = g_quark_from_static_string("tastivo-audio-output");
  return quark;
}
}  // namespace

GstMediaGraph::Impl::Impl(GstMediaGraph* owner) : self(owner) {
  EnsureGstInitialized();
  pipeline = gst_pipeline_new("tastivo-graph");
  gst_object_ref_sink(pipeline);
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_bus_set_sync_handler(bus, &Impl::OnBusMessage, this, nullptr);
  gst_object_unref(bus);
  // --- clock: every graph runs on the one shared clock, and its audio
  // outputs never skip or repeat sound to follow it (SharedClock.h).
  GstClock* clock = ObtainSharedClock();
  gst_pipeline_use_clock(GST_PIPELINE(pipeline), clock);
  gst_object_unref(clock);
  g_signal_connect(pipeline, "deep-element-added",
                   G_CALLBACK(+[](GstBin*, GstBin*, GstElement* element, gpointer) {
                     FollowSharedClock(element);
                   }),
                   nullptr);
  // --- end clock
  waveLevel = CurrentWaveLevel();
}

GstMediaGraph::Impl::~Impl() {
  // A clip still loading may hang on its source; a worker stops it.
  CancelLoading();
  gst_element_set_state(pipeline, GST_STATE_NULL);
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
  gst_object_unref(bus);
  delete surface.data();
  filters.clear();
  cache.Reset();
  defaultAudio.reset();
  gst_object_unref(pipeline);
}

// Runs on whatever thread posted the message; must not touch window
// state. Errors and missing plugins are also recorded for a RenderFile
// that is waiting on the window thread.
GstBusSyncReply GstMediaGraph::Impl::OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
  auto* d = static_cast<Impl*>(data);
  const std::uint64_t generation = d->generation.load();
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
      // A clip removed since is stopped by a worker; what it says on the
      // way out is not about the clip the graph holds now.
      if (GST_MESSAGE_SRC(message) != nullptr &&
          !gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(d->pipeline)))
        break;
      GError* error = nullptr;
      gchar* debug = nullptr;
      gst_message_parse_error(message, &error, &debug);
      // A sound server that went away reports like a missing file; who
      // sent the error tells them apart.
      const bool fromOutput = FromOutput(GST_MESSAGE_SRC(message));
      if (fromOutput) {
        d->outputFailed = true;
        ReportOutputLost(error->message ? error->message : "the sound output failed");
      }
      {
        std::lock_guard lock(d->mutex);
        if (!d->busError || d->busErrorGeneration != generation) {
          d->busError = true;
          d->busErrorGeneration = generation;
          d->errorFromOutput = fromOutput;
          d->errorDomain = error->domain;
          d->errorCode = error->code;
          d->errorText = std::string(g_quark_to_string(error->domain)) + " " +
                         std::to_string(error->code) + ": " + error->message +
                         (debug ? std::string(" (") + debug + ")" : std::string());
          d->errorMessage = error->message ? error->message : "";
          d->errorDebug = debug ? debug : "";
          d->errorElement.clear();
          if (GST_IS_ELEMENT(GST_MESSAGE_SRC(message)))
            if (GstElementFactory* factory =
                    gst_element_get_factory(GST_ELEMENT(GST_MESSAGE_SRC(message))))
              d->errorElement = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
        }
      }
      g_clear_error(&error);
      g_free(debug);
      QCoreApplication::postEvent(d->self, new BusEvent(gst_message_ref(message), generation));
      break;
    }
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_SEGMENT_DONE:
    case GST_MESSAGE_DURATION_CHANGED:
      QCoreApplication::postEvent(d->self, new BusEvent(gst_message_ref(message), generation));
      break;
    case GST_MESSAGE_ELEMENT:
      if (gst_is_missing_plugin_message(message)) {
        gchar* description = gst_missing_plugin_message_get_description(message);
        std::lock_guard lock(d->mutex);
        d->missing.push_back(description ? description : "unknown plugin");
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

// Runs on a streaming thread when the decoder exposes a stream: links it
// to a renderer of its type (the first audio and video streams) or to a
// null renderer.
void GstMediaGraph::Impl::OnPadAdded(GstElement* element, GstPad* pad, gpointer data) {
  auto* d = static_cast<Impl*>(data);
  const Guid major = MajorTypeOf(pad);
  std::shared_ptr<GstFilter> renderer;
  // Held until the stream is linked: the window thread gives a decoder up
  // under it, so a renderer is either linked and listed in time to be taken
  // out with the clip, or never added at all.
  std::lock_guard linking(d->linkMutex);
  {
    std::lock_guard lock(d->mutex);
    // A decoder given up a moment ago may still be inside this call, waiting
    // for the lock while the next clip starts; its streams are not that
    // clip's, and a renderer linked to them would hold its cueing forever.
    if (element != d->decoder) return;
    if (!d->rendering) {
      if (major != kMediaTypeAudio && major != kMediaTypeVideo) return;
      const gulong probe = gst_pad_add_probe(
          pad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
          [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }, nullptr, nullptr);
      QCoreApplication::postEvent(d->self, new LatePadEvent(pad, probe));
      return;
    }
    if (major == kMediaTypeAudio && !d->audioTaken && !d->audioCandidates.empty()) {
      renderer = d->audioCandidates.front();
      d->audioCandidates.clear();
      d->audioTaken = true;
    } else if (major == kMediaTypeVideo && !d->videoTaken) {
      renderer = d->MakeVideoRenderer();
      d->videoTaken = renderer != nullptr;
    }
    if (!renderer && (major == kMediaTypeAudio || major == kMediaTypeVideo))
      renderer = d->MakeNullRenderer();
    if (!renderer) return;  // a stream we do not render (subtitles, data)
    d->streamLinked.push_back(renderer);
  }
  gst_bin_add(GST_BIN(d->pipeline), renderer->element);
  GstPad* input = renderer->InputPad();
  Unpark(*renderer, input);
  const GstPadLinkReturn linked = gst_pad_link(pad, input);
  gst_object_unref(input);
  if (linked != GST_PAD_LINK_OK) {
    std::lock_guard lock(d->mutex);
    d->linkFailures.push_back(std::string("a stream could not be linked (") +
                              gst_pad_link_get_name(linked) + ")");
  }
  gst_element_sync_state_with_parent(renderer->element);
}

void GstMediaGraph::Impl::LinkLatePad(GstPad* pad) {
  const Guid major = MajorTypeOf(pad);
  const Role role = major == kMediaTypeAudio ? Role::AudioRenderer : Role::VideoRenderer;
  std::shared_ptr<GstFilter> renderer;
  for (auto& f : filters)
    if (f->role == role && f->InBin() && !f->IsLinked()) renderer = f;
  if (!renderer) {
    renderer = MakeNullRenderer();
    if (!renderer) return;
    gst_bin_add(GST_BIN(pipeline), renderer->element);
    filters.push_back(renderer);
  }
  GstPad* input = renderer->InputPad();
  const GstPadLinkReturn linked = gst_pad_link(pad, input);
  gst_object_unref(input);
  if (linked != GST_PAD_LINK_OK) {
    lastError = std::string("a new stream of the clip could not be linked (") +
                gst_pad_link_get_name(linked) + ")";
    return;
  }
  gst_element_sync_state_with_parent(renderer->element);
  if (role == Role::AudioRenderer) {
    std::lock_guard lock(mutex);
    audioVolume = renderer->volume;
  }
  ApplyVolume();
}

namespace {
std::atomic<int> teardowns{0};
}  // namespace

int GstMediaGraph::Impl::PendingTeardowns() {
  return teardowns.load();
}

void GstMediaGraph::Impl::Abandon(const std::shared_ptr<GstFilter>& f) {
  GstElement* source = GST_ELEMENT(gst_object_ref(f->element));
  {
    std::lock_guard linking(linkMutex);
    std::lock_guard lock(mutex);
    if (decoder == source) decoder = nullptr;
  }
  // Nothing it does from here on may reach this graph.
  g_signal_handlers_disconnect_by_data(source, this);
  gst_element_set_locked_state(source, TRUE);
  GstIterator* it = gst_element_iterate_src_pads(source);
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* pad = GST_PAD(g_value_get_object(&item));
    if (GstPad* peer = gst_pad_get_peer(pad)) {
      gst_pad_unlink(pad, peer);
      gst_object_unref(peer);
    }
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  gst_bin_remove(GST_BIN(pipeline), source);
  f->handedOff = true;
  // A decoder stuck on a damaged file, or a read that hangs, holds its
  // streaming thread; stopping it waits for that thread. The window thread
  // never waits for it: a worker does, and frees the decoder after.
  // A message the decoder posts on its way down may already be passing
  // through the pipeline it was in: the pipeline lives until it has stopped.
  ++teardowns;
  GstElement* formerParent = GST_ELEMENT(gst_object_ref(pipeline));
  std::thread([source, formerParent] {
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);
    gst_object_unref(formerParent);
    --teardowns;
  }).detach();
}

void GstMediaGraph::Impl::RemoveStrays() {
  std::vector<GstElement*> strays;
  GstIterator* it = gst_bin_iterate_elements(GST_BIN(pipeline));
  GValue item = G_VALUE_INIT;
  bool done = false;
  while (!done) {
    switch (gst_iterator_next(it, &item)) {
      case GST_ITERATOR_OK: {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        bool known = defaultAudio && defaultAudio->element == element;
        for (auto& f : filters) known = known || f->element == element;
        if (!known) strays.push_back(GST_ELEMENT(gst_object_ref(element)));
        g_value_reset(&item);
        break;
      }
      case GST_ITERATOR_RESYNC:
        for (GstElement* e : strays) gst_object_unref(e);
        strays.clear();
        gst_iterator_resync(it);
        break;
      default:
        done = true;
    }
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  for (GstElement* e : strays) {
    gst_element_set_state(e, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline), e);
    gst_object_unref(e);
  }
}

std::shared_ptr<GstFilter> GstMediaGraph::Impl::MakeAudioRenderer(GstElement* sink,
                                                                  std::string name) {
  if (sink == nullptr) return nullptr;
  GstElement* volumeElement = gst_element_factory_make("volume", nullptr);
  // The varispeed stage declares the sound at the playback rate; the
  // resampler after it does the conversion, at its best quality so that a
  // changed rate adds no tones of its own.
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  // Its filter table is always interpolated. Left to choose its table
  // anew at each rate (GStreamer 1.22), a change of rate while it resamples
  // reads and writes past the end of a buffer of its own, which corrupts
  // the heap and crashes the program a moment later; a window whose rate
  // changes on an output at a fixed rate met it within seconds.
  if (resample) g_object_set(resample, "quality", 10, "sinc-filter-mode", 0, nullptr);
  // The last converter gives an output with a fixed number of channels (one
  // per port of our JACK output) what it takes: a mono clip is heard on
  // every one.
  GstElement* bin = MakeChainBin(
      nullptr, {gst_element_factory_make("audioconvert", nullptr), MakeVarispeed(), resample,
                volumeElement, gst_element_factory_make("audioconvert", nullptr), sink});
  if (bin == nullptr) return nullptr;
  g_object_set_qdata(G_OBJECT(bin), OutputQuark(), GINT_TO_POINTER(1));
  auto filter = std::make_shared<GstFilter>(Role::AudioRenderer, bin, std::move(name), self);
  filter->volume = GST_ELEMENT(gst_object_ref(volumeElement));
  filter->sink = GST_ELEMENT(gst_object_ref(sink));
  WatchSegments(sink, segments);
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  gst_pad_add_probe(
      pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
      &OnAudioSinkData, new std::shared_ptr<ProbeState>(probe),
      [](gpointer p) { delete static_cast<std::shared_ptr<ProbeState>*>(p); });
  gst_object_unref(pad);
  return filter;
}

bool GstMediaGraph::Impl::FromOutput(GstObject* object) {
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

std::shared_ptr<GstFilter> GstMediaGraph::Impl::OpenDefaultOutput() {
  outputFailed = false;
  outputSilent = false;
  auto output = MakeAudioRenderer(CreateDefaultAudioSink(outputName), "Default Audio Device");
  if (output && HasRealAudioOutput()) {
    if (gst_element_set_state(output->element, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE) {
      ReportOutputWorking();
    } else {
      gst_element_set_state(output->element, GST_STATE_NULL);
      ReportOutputLost(DefaultAudioSinkName() + " could not be opened");
      GstElement* silent = gst_element_factory_make("fakesink", nullptr);
      if (silent) g_object_set(silent, "sync", TRUE, nullptr);
      output = MakeAudioRenderer(silent, "Default Audio Device");
      outputSilent = true;
    }
  }
  if (output) {
    output->cached = true;
    gst_element_set_state(output->element, GST_STATE_READY);
  }
  return output;
}

std::shared_ptr<GstFilter> GstMediaGraph::Impl::MakeVideoRenderer() {
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
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new VideoSinkState{frames, QSize()},
                             [](gpointer p) { delete static_cast<VideoSinkState*>(p); });
  WatchSegments(sink, segments);
  return std::make_shared<GstFilter>(Role::VideoRenderer, bin, "Video Renderer", self);
}

std::shared_ptr<GstFilter> GstMediaGraph::Impl::MakeNullRenderer() {
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  if (sink == nullptr) return nullptr;
  g_object_set(sink, "sync", TRUE, nullptr);
  WatchSegments(sink, segments);
  GstElement* bin = MakeChainBin(nullptr, {sink});
  return std::make_shared<GstFilter>(Role::NullRenderer, bin, "Null Renderer", self);
}

ClipFailure GstMediaGraph::Impl::FailureOfClip() {
  ClipFailure failure;
  GStatBuf info;
  if (!fileName.empty() && g_stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode))
    failure.fileSize = info.st_size;
  gint64 position = -1;
  if (gst_element_query_position(pipeline, GST_FORMAT_TIME, &position) && position >= 0)
    failure.positionNs = position;
  return failure;
}

HRESULT GstMediaGraph::Impl::ErrorResult() {
  ClipFailure failure = FailureOfClip();
  std::lock_guard lock(mutex);
  if (!missing.empty()) {
    lastError.clear();
    for (auto& m : missing) lastError += (lastError.empty() ? "" : ", ") + m;
    failure.missing = missing;
    lastReason = ReasonInWords(failure);
    return VFW_E_UNSUPPORTED_STREAM;
  }
  if (!linkFailures.empty() && (!busError || busErrorGeneration != generation)) {
    lastError = linkFailures.front();
    // A stream no output would take: the formats did not agree.
    failure.domain = GST_CORE_ERROR;
    failure.code = GST_CORE_ERROR_NEGOTIATION;
    lastReason = ReasonInWords(failure);
    return VFW_E_INVALID_FILE_FORMAT;
  }
  if (!busError || busErrorGeneration != generation) {
    lastError = "the media pipeline failed without a message";
    lastReason = ReasonInWords(failure);
    return E_FAIL;
  }
  lastError = errorText;
  failure.domain = errorDomain;
  failure.code = errorCode;
  failure.message = errorMessage;
  failure.debug = errorDebug;
  failure.element = errorElement;
  lastReason = ReasonInWords(failure);
  if (errorFromOutput) {
    lastError = "the sound output failed: " + errorText;
    lastReason = "the sound output failed";
    return VFW_E_NO_AUDIO_HARDWARE;
  }
  if (errorDomain == GST_RESOURCE_ERROR &&
      (errorCode == GST_RESOURCE_ERROR_NOT_FOUND || errorCode == GST_RESOURCE_ERROR_OPEN_READ ||
       errorCode == GST_RESOURCE_ERROR_OPEN_READ_WRITE))
    return E_FILE_NOT_FOUND;
  if ((errorDomain == GST_CORE_ERROR && errorCode == GST_CORE_ERROR_MISSING_PLUGIN) ||
      (errorDomain == GST_STREAM_ERROR && errorCode == GST_STREAM_ERROR_CODEC_NOT_FOUND))
    return VFW_E_UNSUPPORTED_STREAM;
  if (errorDomain == GST_STREAM_ERROR) return VFW_E_INVALID_FILE_FORMAT;
  return E_FAIL;
}

HRESULT GstMediaGraph::Impl::WaitForSettled(std::chrono::milliseconds timeout) {
  // A decoder that has not shown a single stream by then has stalled (this
  // GStreamer's demuxers now and then neither start nor fail on a damaged
  // file); one that has may still be busy, loading a synthesizer's sounds.
  return WaitForSettled(
      QDeadlineTimer(timeout),
      QDeadlineTimer(std::min<std::chrono::milliseconds>(kFirstStreamTimeout, timeout)), timeout);
}

HRESULT GstMediaGraph::Impl::WaitForSettled(const QDeadlineTimer& deadline,
                                            const QDeadlineTimer& firstStream,
                                            std::chrono::milliseconds budget) {
  QDeadlineTimer patience(budget);
  int restarts = 0;
  for (;;) {
    GstState current, pending;
    const auto ret = gst_element_get_state(pipeline, &current, &pending, 10 * GST_MSECOND);
    if (ErrorInThisClip()) return ErrorResult();
    if (ret == GST_STATE_CHANGE_SUCCESS || ret == GST_STATE_CHANGE_NO_PREROLL) return S_OK;
    // A clip given up a moment ago may still post its error on the way out
    // and so end the state change the next clip began, with nothing wrong
    // with that clip: its change is begun again.
    if (ret == GST_STATE_CHANGE_FAILURE && restarts < 2 && NothingWrongWithThisClip()) {
      ++restarts;
      gst_element_set_state(pipeline, GST_STATE_PAUSED);
      continue;
    }
    if (ret == GST_STATE_CHANGE_FAILURE) return ErrorResult();
    bool exposed;
    {
      std::lock_guard lock(mutex);
      exposed = !rendering || !streamLinked.empty();
    }
    if (!exposed && firstStream.hasExpired()) {
      lastError = "the file gave no stream in time";
      lastReason = "no sound or picture came from the file in time";
      return VFW_E_TIMEOUT;
    }
    if (deadline.hasExpired()) {
      lastError = "the media pipeline did not finish a state change in time";
      lastReason = "the media framework did not answer in time";
      return VFW_E_TIMEOUT;
    }
    if (patience.hasExpired()) {
      lastError = "the clip is still being read";
      lastReason = "it is still being read";
      return E_PENDING;
    }
  }
}

std::chrono::milliseconds WindowWait() {
  static const std::chrono::milliseconds wait = [] {
    const char* value = std::getenv("TASTIVO_KEY_WAIT_MS");
    const long ms = value ? std::strtol(value, nullptr, 10) : 0;
    return std::chrono::milliseconds(ms > 0 ? std::clamp(ms, 50L, 20000L) : 200L);
  }();
  return wait;
}

std::vector<std::shared_ptr<GstFilter>> GstMediaGraph::Impl::EndLoading(bool giveUpDecoder) {
  std::vector<std::shared_ptr<GstFilter>> linked;
  std::lock_guard linking(linkMutex);
  std::lock_guard lock(mutex);
  linked.swap(streamLinked);
  audioCandidates.clear();
  rendering = false;
  if (giveUpDecoder) decoder = nullptr;
  return linked;
}

HRESULT GstMediaGraph::Impl::ContinueLoading() {
  Loading& clip = *loading;
  HRESULT hr = WaitForSettled(clip.deadline, clip.firstStream, WindowWait());
  if (hr == E_PENDING) return hr;
  const Loading done = std::move(clip);
  loading.reset();

  const auto linked = EndLoading(/*giveUpDecoder=*/Failed(hr));
  filters = done.before;
  filters.push_back(done.source);
  for (auto& f : linked)
    if (std::find(filters.begin(), filters.end(), f) == filters.end()) filters.push_back(f);
  if (Succeeded(hr) && linked.empty()) {
    std::lock_guard lock(mutex);
    hr = missing.empty() ? VFW_E_INVALID_FILE_FORMAT : VFW_E_UNSUPPORTED_STREAM;
  }
  if (Succeeded(hr) && linked.empty()) {
    lastError = "the file has no stream that can be played";
    ClipFailure failure = FailureOfClip();
    failure.nothingToPlay = true;
    lastReason = ReasonInWords(failure);
  }
  if (Failed(hr)) {
    if (hr == VFW_E_UNSUPPORTED_STREAM) ErrorResult();
    const std::string detail = lastError;
    const std::string reason = lastReason;
    // A decoder that failed may have left the output it fed half way
    // through a buffer; the next clip gets a fresh one.
    if (std::find(linked.begin(), linked.end(), defaultAudio) != linked.end()) outputFailed = true;
    for (auto& f : linked) Detach(f);
    Detach(done.source);
    filters = done.before;
    lastError = detail;
    lastReason = reason;
    return hr;
  }

  loaded = true;
  // A fresh decoder is cued at the start of the whole clip at normal speed,
  // one cued ahead at its key's segment.
  ResetSegments(Segment{done.cuedStartNs, done.cuedStopNs, 1.0});
  // Opened, a clip is at its start, however it was cued: one cued at its
  // key's marks goes there only when they are set.
  if (done.cuedStartNs != 0 || done.cuedStopNs != -1) pendingSeek = Segment{};
  gint64 length = 0;
  // A bare stream's parser knows no length at preroll, or guesses it from
  // the bit rate of the few frames it has read, and a program stream's
  // demuxer from stamps near its ends: the file tells it exactly.
  const auto exact = ExactLengthNs(done.fileName, done.identity);
  lengthCounted = exact.has_value();
  if (exact)
    duration = *exact / 100;
  else if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &length) && length > 0)
    duration = length / 100;
  cache.Loaded(done.source, done.fileName, done.identity, duration,
               OnlyDefaultAudioLinked() || PictureChainKeepable());
  if (auto video = Linked(Role::VideoRenderer)) {
    GstPad* pad = video->InputPad();
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
      GstVideoInfo info;
      if (gst_video_info_from_caps(&info, caps)) {
        videoWidth = GST_VIDEO_INFO_WIDTH(&info);
        videoHeight = GST_VIDEO_INFO_HEIGHT(&info);
      }
      gst_caps_unref(caps);
    }
    gst_object_unref(pad);
    windowRect = QRect(0, 0, videoWidth, videoHeight);
    sourceRect = QRect();
  }
  if (auto audio = Linked(Role::AudioRenderer)) {
    std::lock_guard lock(mutex);
    audioVolume = audio->volume;
  }
  ApplyVolume();
  return S_OK;
}

void GstMediaGraph::Impl::CancelLoading() {
  if (!loading) return;
  const Loading done = std::move(*loading);
  loading.reset();
  const auto linked = EndLoading(/*giveUpDecoder=*/true);
  filters = done.before;
  for (auto& f : linked) Detach(f);
  Detach(done.source);
  filters = done.before;
}

void GstMediaGraph::Impl::Park(const std::shared_ptr<GstFilter>& f) {
  GstPad* input = f->InputPad();
  gst_pad_send_event(input, gst_event_new_flush_start());
  if (GstPad* peer = gst_pad_get_peer(input)) {
    gst_pad_unlink(peer, input);
    gst_object_unref(peer);
  }
  gst_object_unref(input);
  GstState state = GST_STATE_NULL;
  gst_element_get_state(f->element, &state, nullptr, 0);
  gst_object_ref(f->element);
  gst_bin_remove(GST_BIN(pipeline), f->element);
  gst_element_set_state(f->element, state >= GST_STATE_PAUSED ? GST_STATE_PAUSED : GST_STATE_READY);
  gst_object_unref(f->element);
  f->parked = true;
}

void GstMediaGraph::Impl::DropKept() {
  if (auto source = cache.Drop()) {
    if (defaultAudio) Detach(defaultAudio);
    DropKeptVideo();
    Detach(*source);
  }
}

bool GstMediaGraph::Impl::ReuseKept(const std::string& fileName,
                                    const std::optional<FileIdentity>& identity) {
  if (cache.Current() != decltype(cache)::State::Kept) return false;
  for (auto& f : filters)
    if (f->role == Role::AudioRenderer) return false;  // another output was chosen
  const bool audio = defaultAudio && defaultAudio->InBin() && defaultAudio->IsLinked();
  const bool video = keptVideo && keptVideo->InBin() && keptVideo->IsLinked();
  if (!audio && !video) return false;
  const auto source = cache.Reuse(fileName, identity);
  if (!source) return false;
  {
    std::lock_guard lock(mutex);
    missing.clear();
    busError = false;
  }
  const auto before = filters;
  const auto picture = keptVideo;
  if (audio) filters.push_back(defaultAudio);
  if (video) filters.push_back(picture);
  filters.push_back(*source);
  {
    std::lock_guard lock(mutex);
    decoder = (*source)->element;
  }
  loaded = true;
  // lengthCounted is still the kept clip's: a clip loaded since would have
  // dropped it.
  duration = cache.Duration();
  if (audio) {
    std::lock_guard lock(mutex);
    audioVolume = defaultAudio->volume;
  }
  ApplyVolume();
  if (video) {
    videoWidth = keptVideoSize.width();
    videoHeight = keptVideoSize.height();
    windowRect = QRect(0, 0, videoWidth, videoHeight);
    sourceRect = QRect();
    frames->Restore(std::exchange(keptFirstFrame, QImage()));
    keptVideo.reset();
  }
  // Where the kept decoder stopped is unknown: the first run seeks back.
  ResetSegments(std::nullopt);
  if (Succeeded(Seek(0))) return true;
  filters = before;
  cache.Reset();
  if (audio) Detach(defaultAudio);
  if (video) Detach(picture);
  Detach(*source);
  return false;
}

bool GstMediaGraph::Impl::HoldVideoRenderer(const std::shared_ptr<GstFilter>& f) {
  // Renderers go before the source: holding starts here, when no other
  // renderer is left, and the source's removal then keeps the chain.
  if (!f->IsLinked() || cache.Current() != decltype(cache)::State::Live) return false;
  for (auto& other : filters)
    if (other->role != Role::Source && other->InBin()) return false;
  if (!cache.OutputRemoved(true)) return false;
  keptVideo = f;
  keptVideoSize = QSize(videoWidth, videoHeight);
  // A copy: a frame over the decoder's buffer would hold that decoder's
  // memory while it is stopped, and the next clip's preroll then stalls.
  keptFirstFrame = frames->First().copy();
  // The picture goes as it goes with the renderer; the element stays.
  delete surface.data();
  owner = nullptr;
  frames->Clear();
  videoWidth = videoHeight = 0;
  return true;
}

void GstMediaGraph::Impl::DropKeptVideo() {
  keptFirstFrame = QImage();
  const auto f = std::exchange(keptVideo, nullptr);
  if (!f || !f->InBin()) return;
  gst_element_set_state(f->element, GST_STATE_NULL);
  GstPad* input = f->InputPad();
  if (GstPad* peer = gst_pad_get_peer(input)) {
    gst_pad_unlink(peer, input);
    gst_object_unref(peer);
  }
  gst_object_unref(input);
  gst_bin_remove(GST_BIN(pipeline), f->element);
  // A frame it delivered while being stopped is no picture of the next clip.
  frames->Clear();
}

void GstMediaGraph::Impl::Detach(const std::shared_ptr<GstFilter>& f) {
  if (f->cached && f->InBin()) Park(f);
  if (f->role == Role::Source) {
    ++generation;
    events.clear();
    if (f->InBin()) Abandon(f);
    gst_element_set_state(pipeline, GST_STATE_READY);
    loaded = false;
  } else if (f->InBin()) {
    gst_element_set_state(f->element, f->cached ? GST_STATE_READY : GST_STATE_NULL);
    GstPad* input = f->InputPad();
    if (GstPad* peer = gst_pad_get_peer(input)) {
      gst_pad_unlink(peer, input);
      gst_object_unref(peer);
    }
    gst_object_unref(input);
  }
  if (f->InBin()) {
    gst_object_ref(f->element);
    gst_bin_remove(GST_BIN(pipeline), f->element);
    gst_element_set_state(f->element, f->cached ? GST_STATE_READY : GST_STATE_NULL);
    gst_object_unref(f->element);
  }
  if (f->role == Role::Source) RemoveStrays();
  if (f->role == Role::VideoRenderer) {
    delete surface.data();
    owner = nullptr;
    frames->Clear();
    videoWidth = videoHeight = 0;
  }
  if (f->role == Role::AudioRenderer) {
    std::lock_guard lock(mutex);
    if (audioVolume == f->volume) audioVolume = nullptr;
  }
}

void GstMediaGraph::Impl::ApplyVolume() {
  std::lock_guard lock(mutex);
  if (audioVolume == nullptr) return;
  const double linear = volume <= -10000 ? 0.0 : std::pow(10.0, volume / 2000.0);
  g_object_set(audioVolume, "volume", linear * waveLevel.load(), nullptr);
}

void GstMediaGraph::Impl::WaveLevelChanged(double level) {
  waveLevel = level;
  if (audioVolume == nullptr) return;
  const double linear = volume <= -10000 ? 0.0 : std::pow(10.0, volume / 2000.0);
  g_object_set(audioVolume, "volume", linear * level, nullptr);
}

HRESULT GstMediaGraph::Impl::Seek(REFERENCE_TIME start) {
  if (start < 0) start = 0;
  if (duration > 0 && start > duration) start = duration;
  Segment segment;
  segment.startNs = start * 100;
  const bool toEnd = stop < 0 || stop >= kPlayToEnd / 100 || (duration > 0 && stop >= duration);
  segment.stopNs = toEnd ? -1 : stop * 100;
  if (segment.stopNs >= 0 && segment.stopNs < segment.startNs) segment.stopNs = segment.startNs;
  segment.rate = rate;
  lastPosition = start;
  if (target == FilterState::State_Running) return SeekNow(segment, false, !segmentEnded);
  if (cued && *cued == segment)
    pendingSeek.reset();
  else
    pendingSeek = segment;
  return S_OK;
}

HRESULT GstMediaGraph::Impl::FlushPendingSeek(bool wait) {
  if (!pendingSeek) return S_OK;
  const Segment segment = *pendingSeek;
  pendingSeek.reset();
  return SeekNow(segment, wait);
}

bool GstMediaGraph::Impl::OutputFadesItself() const {
  auto audio = Linked(Role::AudioRenderer);
  return audio && audio->sink && IsOwnOutput(audio->sink) && FadesEnabled();
}

bool GstMediaGraph::Impl::FadeOutput() {
  if (!loaded || target != FilterState::State_Running) return false;
  if (OutputFadesItself()) return true;
  auto audio = Linked(Role::AudioRenderer);
  if (!audio || !audio->sink) return false;
  auto fade = FadeOutSink(audio->sink);
  if (!fade) return false;
  AwaitFade(*fade);
  return true;
}

void GstMediaGraph::Impl::SegmentDone() {
  if (target != FilterState::State_Running || segmentEnded) return;
  segmentEnded = true;
  endTold = false;
  // A position that stalls must not keep the end from the window.
  endDeadline.setRemainingTime(std::chrono::seconds(2));
  if (!endTimer) {
    endTimer = std::make_unique<QTimer>();
    endTimer->setTimerType(Qt::PreciseTimer);
    endTimer->setInterval(2);
    QObject::connect(endTimer.get(), &QTimer::timeout, self, [this] { CheckEnd(); });
  }
  endTimer->start();
  CheckEnd();
}

gint64 GstMediaGraph::Impl::TailLeft() {
  const gint64 end = playing.stopNs >= 0 ? playing.stopNs : duration * 100;
  gint64 position = 0;
  if (end <= 0 || !gst_element_query_position(pipeline, GST_FORMAT_TIME, &position)) return 0;
  return std::max<gint64>(0, gint64(double(end - position) / rate));
}

void GstMediaGraph::Impl::CheckEnd() {
  if (!segmentEnded || endTold || target != FilterState::State_Running) {
    ForgetEnd();
    return;
  }
  if (TailLeft() > std::chrono::nanoseconds(kLoopLead).count() && !endDeadline.hasExpired()) return;
  endTimer->stop();
  endTold = true;
  Queue(EC_COMPLETE, 0, 0);
  // Posted after the notice, so it comes once the window has handled it:
  // with no seek made for a loop, the sound held back for a crossfade is
  // played out, ramped down.
  const std::uint64_t now = generation.load();
  QMetaObject::invokeMethod(
      self,
      [this, now] {
        if (generation.load() != now || !segmentEnded) return;
        for (auto& f : filters)
          if (f->role == Role::AudioRenderer && f->InBin()) ReleaseVarispeedTail(f->element);
      },
      Qt::QueuedConnection);
}

void GstMediaGraph::Impl::ForgetEnd() {
  if (endTimer) endTimer->stop();
}

bool GstMediaGraph::Impl::AwaitTail() {
  if (!segmentEnded || !loaded || target != FilterState::State_Running) return false;
  for (auto& f : filters)
    if (f->role == Role::AudioRenderer && f->InBin()) ReleaseVarispeedTail(f->element);
  // The held ramp is still to come after the position reaches the end.
  const QDeadlineTimer deadline(kLoopLead + std::chrono::milliseconds(20));
  while (TailLeft() > 0 && !deadline.hasExpired())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::duration<double>(kRampSeconds * 2));
  return !deadline.hasExpired();
}

bool GstMediaGraph::Impl::RateChangesInPlace() const {
  if (!SeamlessLoops() || !loaded || target != FilterState::State_Running || pendingSeek)
    return false;
  bool audio = false;
  for (auto& f : filters) {
    if (f->role == Role::Source || !f->InBin()) continue;
    if (f->role != Role::AudioRenderer) return false;
    audio = audio || f->IsLinked();
  }
  return audio;
}

HRESULT GstMediaGraph::Impl::SeekNow(const Segment& segment, bool wait, bool flush) {
  pendingSeek.reset();
  if (!SeamlessLoops()) flush = true;
  seam.setRemainingTime(std::chrono::nanoseconds(flush ? 0 : TailLeft()));
  segmentEnded = false;
  ForgetEnd();
  playing = segment;
  events.clear();
  if (flush) {
    FadeOutput();
    probe->sawBuffer = false;
    ++flushingSeeks;
  }
  ++generation;
  // A segment seek ends with a segment-done instead of an end-of-stream:
  // the outputs keep playing what they hold, so a seek that comes in time
  // (a loop) is heard right after it.
  int flags = GST_SEEK_FLAG_ACCURATE;
  if (flush) flags |= GST_SEEK_FLAG_FLUSH;
  if (SeamlessLoops()) flags |= GST_SEEK_FLAG_SEGMENT;
  GstEvent* seek =
      gst_event_new_seek(segment.rate, GST_FORMAT_TIME, GstSeekFlags(flags), GST_SEEK_TYPE_SET,
                         segment.startNs, GST_SEEK_TYPE_SET, segment.stopNs);
  {
    std::lock_guard lock(segments->mutex);
    segments->ends.clear();
  }
  seekSeqnum = gst_event_get_seqnum(seek);
  if (!gst_element_send_event(pipeline, seek)) {
    cued.reset();
    lastError = "the clip refused the seek";
    lastReason = "the clip could not be moved to the place asked for";
    return E_FAIL;
  }
  cued = segment;
  if (wait) return WaitForSettled(kSeekTimeout);
  return S_OK;
}

bool GstMediaGraph::Impl::EndsCurrentSegment(std::uint32_t messageSeqnum) {
  if (seekSeqnum == GST_SEQNUM_INVALID || messageSeqnum == seekSeqnum) return true;
  std::lock_guard lock(segments->mutex);
  const auto it = segments->ends.find(messageSeqnum);
  return it != segments->ends.end() &&
         (it->second.flush == seekSeqnum || it->second.segment == seekSeqnum);
}

void GstMediaGraph::Impl::ResetSegments(std::optional<Segment> cuedAt) {
  cued = cuedAt;
  pendingSeek.reset();
  segmentEnded = false;
  ForgetEnd();
  playing = cuedAt.value_or(Segment{});
  seekSeqnum = GST_SEQNUM_INVALID;
  std::lock_guard lock(segments->mutex);
  segments->ends.clear();
}

void GstMediaGraph::Impl::Queue(long code, std::intptr_t p1, std::intptr_t p2) {
  events.push_back({code, p1, p2});
  if (notifyFlags == 0 && notifyWindow)
    platform::PostMessage(notifyWindow, notifyMsg, 0, notifyParam);
}

// --- group start (GroupStart.h)
void GstMediaGraph::Impl::CueForGroup(std::chrono::nanoseconds wait) {
  // The clip's first buffer must be at the output before the base time is
  // chosen; a failure comes on the bus like any other. One that is not cued
  // within the group's budget starts late rather than hold every key.
  gst_element_get_state(pipeline, nullptr, nullptr, static_cast<GstClockTime>(wait.count()));
}

void GstMediaGraph::Impl::StartHeld(std::uint64_t ticket, std::optional<std::uint64_t> baseNs) {
  if (ticket != holdTicket || target != FilterState::State_Running || !loaded) return;
  heldForGroup = false;
  if (!baseNs && startsCued) {
    // The base time is chosen once the clip is cued: chosen before, it
    // could pass while the decoder still seeks, and the output would drop
    // the clip's beginning as late.
    CueForGroup(GroupStart::kCueBudget);
    baseNs = GroupStart::SoloBase();
  }
  if (!baseNs) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    return;
  }
  // An unset start time keeps the pipeline from choosing a base time of its
  // own when it goes to playing.
  gst_element_set_start_time(pipeline, GST_CLOCK_TIME_NONE);
  gst_element_set_base_time(pipeline, *baseNs);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  gst_element_get_state(pipeline, nullptr, nullptr, 20 * GST_MSECOND);
  // Set again once it plays, so that a pause keeps the running time for the
  // resume and a flushing seek (a loop, a new start mark) gets a fresh base
  // time, as after any other start.
  gst_element_set_start_time(pipeline, 0);
}
// --- end group start

}  // namespace platform::media
