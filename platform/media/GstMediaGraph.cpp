#include "platform/media/GstMediaGraph.h"

#include "platform/WindowMessages.h"
#include "platform/media/GstInternal.h"
#include "platform/media/MediaInternal.h"
#include "platform/media/VideoSurface.h"

#include <gst/app/gstappsink.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <filesystem>
#include <mutex>

namespace platform::media {

namespace {

using namespace std::chrono_literals;

// Decoders for some formats (a MIDI synthesizer loading its sound font, say)
// take a while to cue the first buffer; a hung one must still come back.
constexpr auto kPrerollTimeout = 20s;
constexpr auto kSeekTimeout = 5s;

enum class Role { Source, AudioRenderer, VideoRenderer, NullRenderer };

class BusEvent : public QEvent {
 public:
  BusEvent(GstMessage* message, std::uint64_t generation)
      : QEvent(Type()), Message(message), Generation(generation) {}
  ~BusEvent() override { gst_message_unref(Message); }
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  GstMessage* Message;
  std::uint64_t Generation;
};

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

class GstPinRef : public IPin {
 public:
  explicit GstPinRef(GstPad* pad) : pad_(GST_PAD(gst_object_ref(pad))) {}
  ~GstPinRef() override { gst_object_unref(pad_); }

  HRESULT QueryDirection(PinDirection& direction) override {
    direction = GST_PAD_IS_SRC(pad_) ? PinDirection::PINDIR_OUTPUT : PinDirection::PINDIR_INPUT;
    return S_OK;
  }
  HRESULT ConnectionMediaType(Guid& majorType) override {
    GstPad* peer = gst_pad_get_peer(pad_);
    if (peer == nullptr) return VFW_E_NOT_CONNECTED;
    gst_object_unref(peer);
    majorType = MajorTypeOf(pad_);
    return S_OK;
  }
  HRESULT ConnectedTo(std::shared_ptr<IPin>& pin) override {
    GstPad* peer = gst_pad_get_peer(pad_);
    if (peer == nullptr) {
      pin.reset();
      return VFW_E_NOT_CONNECTED;
    }
    pin = std::make_shared<GstPinRef>(peer);
    gst_object_unref(peer);
    return S_OK;
  }
  GstPad* Pad() const { return pad_; }

 private:
  GstPad* pad_;
};

// What the audio sink's pad probe reports to, shared with the probe so it
// stays valid as long as the element can stream.
struct ProbeState {
  std::mutex mutex;
  std::function<void()> observer;
  std::atomic<bool> sawBuffer{false};
};

class GstFilter : public IBaseFilter {
 public:
  GstFilter(Role role, GstElement* element, std::string name, const void* graph)
      : role(role),
        element(GST_ELEMENT(gst_object_ref_sink(element))),
        name(std::move(name)),
        graph(graph) {}
  ~GstFilter() override {
    if (GST_OBJECT_PARENT(element) == nullptr) gst_element_set_state(element, GST_STATE_NULL);
    if (volume) gst_object_unref(volume);
    gst_object_unref(element);
  }

  HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>& pins) override {
    pins.clear();
    GstIterator* it = role == Role::Source ? gst_element_iterate_src_pads(element)
                                           : gst_element_iterate_sink_pads(element);
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
      switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK:
          pins.push_back(std::make_shared<GstPinRef>(GST_PAD(g_value_get_object(&item))));
          g_value_reset(&item);
          break;
        case GST_ITERATOR_RESYNC:
          pins.clear();
          gst_iterator_resync(it);
          break;
        default:
          done = true;
      }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return S_OK;
  }

  HRESULT QueryFilterInfo(std::string& out) override {
    out = name;
    return S_OK;
  }

  GstPad* InputPad() const { return gst_element_get_static_pad(element, "sink"); }
  bool IsLinked() const {
    if (role == Role::Source) return true;
    GstPad* pad = InputPad();
    if (pad == nullptr) return false;
    const bool linked = gst_pad_is_linked(pad);
    gst_object_unref(pad);
    return linked;
  }
  bool InBin() const { return GST_OBJECT_PARENT(element) != nullptr; }

  const Role role;
  GstElement* const element;
  std::string name;
  const void* const graph;
  GstElement* volume = nullptr;  // audio renderers: the level stage
  bool cached = false;           // the graph's default output, kept open between clips
  // Out of the pipeline but still holding its device, flushing until the
  // next clip links it. Read on the streaming thread that links it.
  std::atomic<bool> parked{false};
};

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

QImage ImageFromSample(GstSample* sample) {
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample))) return {};
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return {};
  const int width = GST_VIDEO_FRAME_WIDTH(&frame), height = GST_VIDEO_FRAME_HEIGHT(&frame);
  QImage image(width, height, QImage::Format_RGB32);
  const auto* src = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  for (int y = 0; y < height; ++y) memcpy(image.scanLine(y), src + y * stride, width * 4);
  gst_video_frame_unmap(&frame);
  return image;
}

// Runs on a streaming thread: hands the frame to the window thread.
GstFlowReturn OnVideoSample(GstAppSink* sink, gpointer data, bool preroll) {
  GstSample* sample = preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink);
  if (sample == nullptr) return GST_FLOW_OK;
  QImage image = ImageFromSample(sample);
  gst_sample_unref(sample);
  if (!image.isNull()) (*static_cast<std::shared_ptr<FrameSlot>*>(data))->Deliver(std::move(image));
  return GST_FLOW_OK;
}

// Runs on a streaming thread; only touches the shared probe state.
GstPadProbeReturn OnAudioSinkData(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* state = static_cast<std::shared_ptr<ProbeState>*>(data)->get();
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
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

}  // namespace

struct GstMediaGraph::Impl : WaveOutListener {
  explicit Impl(GstMediaGraph* owner) : self(owner) {
    EnsureGstInitialized();
    pipeline = gst_pipeline_new("tastivo-graph");
    gst_object_ref_sink(pipeline);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, &Impl::OnBusMessage, this, nullptr);
    gst_object_unref(bus);
    // The sound server's clock answers only once per server cycle, which
    // would stall every start and position reading by up to a period; the
    // output follows the system clock instead.
    GstClock* clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(pipeline), clock);
    gst_object_unref(clock);
    waveLevel = CurrentWaveLevel();
  }

  ~Impl() override {
    gst_element_set_state(pipeline, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    delete surface.data();
    filters.clear();
    keptSource.reset();
    defaultAudio.reset();
    gst_object_unref(pipeline);
  }

  // Runs on whatever thread posted the message; must not touch window
  // state. Errors and missing plugins are also recorded for a RenderFile
  // that is waiting on the window thread.
  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* d = static_cast<Impl*>(data);
    const std::uint64_t generation = d->generation.load();
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        {
          std::lock_guard lock(d->mutex);
          if (!d->busError || d->busErrorGeneration != generation) {
            d->busError = true;
            d->busErrorGeneration = generation;
            d->errorDomain = error->domain;
            d->errorCode = error->code;
            d->errorText = std::string(g_quark_to_string(error->domain)) + " " +
                           std::to_string(error->code) + ": " + error->message +
                           (debug ? std::string(" (") + debug + ")" : std::string());
          }
        }
        g_clear_error(&error);
        g_free(debug);
        QCoreApplication::postEvent(d->self, new BusEvent(gst_message_ref(message), generation));
        break;
      }
      case GST_MESSAGE_EOS:
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
    return GST_BUS_DROP;
  }

  // Runs on a streaming thread when the decoder exposes a stream: links it
  // to a renderer of its type (the first audio and video streams) or to a
  // null renderer.
  static void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* d = static_cast<Impl*>(data);
    const Guid major = MajorTypeOf(pad);
    std::shared_ptr<GstFilter> renderer;
    {
      std::lock_guard lock(d->mutex);
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
    gst_pad_link(pad, input);
    gst_object_unref(input);
    gst_element_sync_state_with_parent(renderer->element);
  }

  std::shared_ptr<GstFilter> MakeAudioRenderer(GstElement* sink, std::string name) {
    if (sink == nullptr) return nullptr;
    GstElement* volumeElement = gst_element_factory_make("volume", nullptr);
    GstElement* bin = MakeChainBin(
        nullptr, {gst_element_factory_make("audioconvert", nullptr),
                  gst_element_factory_make("audioresample", nullptr), volumeElement, sink});
    if (bin == nullptr) return nullptr;
    auto filter = std::make_shared<GstFilter>(Role::AudioRenderer, bin, std::move(name), self);
    filter->volume = GST_ELEMENT(gst_object_ref(volumeElement));
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
        &OnAudioSinkData, new std::shared_ptr<ProbeState>(probe),
        [](gpointer p) { delete static_cast<std::shared_ptr<ProbeState>*>(p); });
    gst_object_unref(pad);
    return filter;
  }

  std::shared_ptr<GstFilter> MakeVideoRenderer() {
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    GstElement* bin =
        MakeChainBin(nullptr, {gst_element_factory_make("videoconvert", nullptr), sink});
    if (bin == nullptr) return nullptr;
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
    g_object_set(sink, "caps", caps, "sync", TRUE, "max-buffers", 1, "drop", TRUE,
                 "enable-last-sample", FALSE, nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = [](GstAppSink* s, gpointer p) { return OnVideoSample(s, p, true); };
    callbacks.new_sample = [](GstAppSink* s, gpointer p) { return OnVideoSample(s, p, false); };
    gst_app_sink_set_callbacks(
        GST_APP_SINK(sink), &callbacks, new std::shared_ptr<FrameSlot>(frames),
        [](gpointer p) { delete static_cast<std::shared_ptr<FrameSlot>*>(p); });
    return std::make_shared<GstFilter>(Role::VideoRenderer, bin, "Video Renderer", self);
  }

  std::shared_ptr<GstFilter> MakeNullRenderer() {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink == nullptr) return nullptr;
    g_object_set(sink, "sync", TRUE, nullptr);
    GstElement* bin = MakeChainBin(nullptr, {sink});
    return std::make_shared<GstFilter>(Role::NullRenderer, bin, "Null Renderer", self);
  }

  std::shared_ptr<GstFilter> Source() const {
    for (auto& f : filters)
      if (f->role == Role::Source) return f;
    return nullptr;
  }
  std::shared_ptr<GstFilter> Linked(Role role) const {
    for (auto& f : filters)
      if (f->role == role && f->InBin() && f->IsLinked()) return f;
    return nullptr;
  }

  HRESULT ErrorResult() {
    std::lock_guard lock(mutex);
    if (!missing.empty()) {
      lastError.clear();
      for (auto& m : missing) lastError += (lastError.empty() ? "" : ", ") + m;
      return VFW_E_UNSUPPORTED_STREAM;
    }
    if (!busError || busErrorGeneration != generation) {
      lastError = "the media pipeline failed without a message";
      return E_FAIL;
    }
    lastError = errorText;
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

  bool ErrorInThisClip() {
    std::lock_guard lock(mutex);
    return busError && busErrorGeneration == generation;
  }

  // Waits until the pipeline has finished its state change (a preroll).
  HRESULT WaitForSettled(std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    for (;;) {
      GstState current, pending;
      const auto ret = gst_element_get_state(pipeline, &current, &pending, 10 * GST_MSECOND);
      if (ErrorInThisClip()) return ErrorResult();
      if (ret == GST_STATE_CHANGE_SUCCESS || ret == GST_STATE_CHANGE_NO_PREROLL) return S_OK;
      if (ret == GST_STATE_CHANGE_FAILURE) return ErrorResult();
      if (deadline.hasExpired()) {
        lastError = "the media pipeline did not finish a state change in time";
        return VFW_E_TIMEOUT;
      }
    }
  }

  // Takes the default output out of the pipeline without giving up its
  // device: reconnecting to the sound server for every clip costs several
  // milliseconds and trims the attack. It is flushed first, so a decoder
  // waiting on it is released, and held at PAUSED until a clip links it.
  void Park(const std::shared_ptr<GstFilter>& f) {
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
    gst_element_set_state(f->element,
                          state >= GST_STATE_PAUSED ? GST_STATE_PAUSED : GST_STATE_READY);
    gst_object_unref(f->element);
    f->parked = true;
  }

  // A parked output takes data again; it prerolls on the next clip's first
  // buffer like a fresh one.
  static void Unpark(GstFilter& f, GstPad* input) {
    if (f.parked.exchange(false)) gst_pad_send_event(input, gst_event_new_flush_stop(TRUE));
  }

  // True when the clip plays through the default output alone, the only
  // chain that is kept whole for the same file coming again.
  bool OnlyDefaultAudioLinked() const {
    if (!defaultAudio || !defaultAudio->InBin() || !defaultAudio->IsLinked()) return false;
    for (auto& f : filters)
      if (f->role != Role::Source && f != defaultAudio && f->InBin()) return false;
    return true;
  }

  // A removal of the default output that was held back, in case the source
  // follows it and the chain can be kept; anything else finishes it.
  void SettlePending() {
    if (!audioRemovalPending) return;
    audioRemovalPending = false;
    Detach(defaultAudio);
  }

  void DropKept() {
    if (!keptSource) return;
    auto source = std::move(keptSource);
    keptSource.reset();
    Detach(defaultAudio);
    Detach(source);
  }

  static bool SameFile(const std::string& fileName, const std::string& keptName,
                       std::filesystem::file_time_type keptTime, std::uintmax_t keptSize) {
    std::error_code error;
    const auto time = std::filesystem::last_write_time(fileName, error);
    if (error) return false;
    const auto size = std::filesystem::file_size(fileName, error);
    return !error && fileName == keptName && time == keptTime && size == keptSize;
  }

  // The same clip again: the kept decoder is flushed back to its start
  // instead of being built anew.
  bool ReuseKept() {
    for (auto& f : filters)
      if (f->role == Role::AudioRenderer) return false;  // another output was chosen
    if (!defaultAudio->InBin() || !defaultAudio->IsLinked()) return false;
    auto source = keptSource;
    keptSource.reset();
    {
      std::lock_guard lock(mutex);
      missing.clear();
      busError = false;
    }
    filters.push_back(defaultAudio);
    filters.push_back(source);
    loaded = true;
    duration = keptDuration;
    {
      std::lock_guard lock(mutex);
      audioVolume = defaultAudio->volume;
    }
    ApplyVolume();
    if (Succeeded(Seek(0))) return true;
    filters.pop_back();
    filters.pop_back();
    keptSource = source;
    DropKept();
    return false;
  }

  void Detach(const std::shared_ptr<GstFilter>& f) {
    if (f->cached && f->InBin()) Park(f);
    if (f->role == Role::Source) {
      ++generation;
      events.clear();
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

  void ApplyVolume() {
    std::lock_guard lock(mutex);
    if (audioVolume == nullptr) return;
    const double linear = volume <= -10000 ? 0.0 : std::pow(10.0, volume / 2000.0);
    g_object_set(audioVolume, "volume", linear * waveLevel.load(), nullptr);
  }

  void WaveLevelChanged(double level) override {
    waveLevel = level;
    if (audioVolume == nullptr) return;
    const double linear = volume <= -10000 ? 0.0 : std::pow(10.0, volume / 2000.0);
    g_object_set(audioVolume, "volume", linear * level, nullptr);
  }

  HRESULT Seek(REFERENCE_TIME start) {
    if (start < 0) start = 0;
    if (duration > 0 && start > duration) start = duration;
    gint64 startNs = start * 100;
    gint64 stopNs = (stop < 0 || (duration > 0 && stop >= duration)) ? -1 : stop * 100;
    if (stopNs >= 0 && stopNs < startNs) stopNs = startNs;
    ++generation;
    events.clear();
    probe->sawBuffer = false;
    lastPosition = start;
    if (!gst_element_seek(pipeline, rate, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          GST_SEEK_TYPE_SET, startNs, GST_SEEK_TYPE_SET, stopNs)) {
      lastError = "the clip refused the seek";
      return E_FAIL;
    }
    if (target != FilterState::State_Running) return WaitForSettled(kSeekTimeout);
    return S_OK;
  }

  void Queue(long code, std::intptr_t p1, std::intptr_t p2) {
    events.push_back({code, p1, p2});
    if (notifyFlags == 0 && notifyWindow)
      platform::PostMessage(notifyWindow, notifyMsg, 0, notifyParam);
  }

  GstMediaGraph* self;
  GstElement* pipeline = nullptr;
  std::atomic<std::uint64_t> generation{1};

  // Window thread only.
  std::vector<std::shared_ptr<GstFilter>> filters;
  std::shared_ptr<GstFilter> defaultAudio;
  // The last audio-only clip's decoder, still linked to the default output
  // and cued, while the graph holds no clip.
  std::shared_ptr<GstFilter> keptSource;
  std::string keptName;
  std::filesystem::file_time_type keptTime;
  std::uintmax_t keptSize = 0;
  REFERENCE_TIME keptDuration = 0;
  bool audioRemovalPending = false;
  FilterState target = FilterState::State_Stopped;
  bool loaded = false;
  double rate = 1.0;
  REFERENCE_TIME stop = -1, duration = 0, lastPosition = 0;
  long volume = 0;
  long videoWidth = 0, videoHeight = 0;
  QPointer<QWidget> owner;
  QPointer<VideoSurface> surface;
  QPointer<QObject> drain;
  bool visible = false;
  QRect windowRect, sourceRect;
  std::shared_ptr<FrameSlot> frames = std::make_shared<FrameSlot>();
  struct QueuedEvent {
    long code;
    std::intptr_t p1, p2;
  };
  std::deque<QueuedEvent> events;
  QPointer<QObject> notifyWindow;
  int notifyMsg = 0;
  std::intptr_t notifyParam = 0;
  long notifyFlags = 0;
  std::string lastError;
  std::shared_ptr<ProbeState> probe = std::make_shared<ProbeState>();

  // Shared with streaming threads, guarded by mutex.
  std::mutex mutex;
  std::vector<std::shared_ptr<GstFilter>> streamLinked;
  std::vector<std::shared_ptr<GstFilter>> audioCandidates;
  bool audioTaken = false, videoTaken = false;
  std::vector<std::string> missing;
  bool busError = false;
  std::uint64_t busErrorGeneration = 0;
  GQuark errorDomain = 0;
  int errorCode = 0;
  std::string errorText;
  GstElement* audioVolume = nullptr;
  std::atomic<double> waveLevel{1.0};
};

GstMediaGraph::GstMediaGraph() : d_(std::make_unique<Impl>(this)) {}

GstMediaGraph::~GstMediaGraph() = default;

std::string GstMediaGraph::DefaultAudioSinkName() {
  return platform::media::DefaultAudioSinkName();
}

HRESULT GstMediaGraph::RenderFile(const std::string& fileName) {
  d_->SettlePending();
  if (d_->Source()) {
    d_->lastError = "the graph already holds a clip";
    return E_UNEXPECTED;
  }
  if (!g_file_test(fileName.c_str(), G_FILE_TEST_IS_REGULAR)) {
    d_->lastError = "no such file: " + fileName;
    return E_FILE_NOT_FOUND;
  }
  GError* error = nullptr;
  gchar* uri = gst_filename_to_uri(fileName.c_str(), &error);
  if (uri == nullptr) {
    d_->lastError = error ? error->message : "bad file name";
    g_clear_error(&error);
    return E_FILE_NOT_FOUND;
  }
  GstElement* decoder = gst_element_factory_make("uridecodebin", nullptr);
  if (decoder == nullptr) {
    g_free(uri);
    d_->lastError = "GStreamer element uridecodebin (gstreamer1.0-plugins-base)";
    return VFW_E_UNSUPPORTED_STREAM;
  }
  g_object_set(decoder, "uri", uri, nullptr);
  g_free(uri);

  ++d_->generation;
  d_->events.clear();
  d_->lastError.clear();
  d_->rate = 1.0;
  d_->stop = -1;
  d_->duration = 0;
  d_->lastPosition = 0;
  d_->volume = 0;
  d_->videoWidth = d_->videoHeight = 0;
  d_->target = FilterState::State_Stopped;
  d_->probe->sawBuffer = false;
  d_->frames->Clear();
  if (d_->keptSource) {
    if (Impl::SameFile(fileName, d_->keptName, d_->keptTime, d_->keptSize) && d_->ReuseKept())
      return S_OK;
    d_->DropKept();
  }

  // The default output is opened once and kept, so a new clip does not
  // reconnect to the sound server.
  if (!d_->defaultAudio) {
    d_->defaultAudio = d_->MakeAudioRenderer(CreateDefaultAudioSink(), "Default Audio Device");
    if (d_->defaultAudio) {
      d_->defaultAudio->cached = true;
      gst_element_set_state(d_->defaultAudio->element, GST_STATE_READY);
    }
  }
  {
    std::lock_guard lock(d_->mutex);
    d_->missing.clear();
    d_->busError = false;
    d_->streamLinked.clear();
    d_->audioCandidates.clear();
    d_->audioTaken = d_->videoTaken = false;
    for (auto& f : d_->filters)
      if (f->role == Role::AudioRenderer && !f->InBin()) d_->audioCandidates.push_back(f);
    if (d_->defaultAudio && !d_->defaultAudio->InBin() &&
        std::find(d_->filters.begin(), d_->filters.end(), d_->defaultAudio) == d_->filters.end())
      d_->audioCandidates.push_back(d_->defaultAudio);
  }

  const auto before = d_->filters;
  auto source = std::make_shared<GstFilter>(Role::Source, decoder, fileName, this);
  g_signal_connect(decoder, "pad-added", G_CALLBACK(&Impl::OnPadAdded), d_.get());
  gst_bin_add(GST_BIN(d_->pipeline), decoder);
  d_->filters.push_back(source);
  gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
  HRESULT hr = d_->WaitForSettled(kPrerollTimeout);

  std::vector<std::shared_ptr<GstFilter>> linked;
  {
    std::lock_guard lock(d_->mutex);
    linked.swap(d_->streamLinked);
    d_->audioCandidates.clear();
  }
  for (auto& f : linked)
    if (std::find(d_->filters.begin(), d_->filters.end(), f) == d_->filters.end())
      d_->filters.push_back(f);
  if (Succeeded(hr) && linked.empty()) {
    std::lock_guard lock(d_->mutex);
    hr = d_->missing.empty() ? VFW_E_INVALID_FILE_FORMAT : VFW_E_UNSUPPORTED_STREAM;
  }
  if (Succeeded(hr) && linked.empty()) d_->lastError = "the file has no stream that can be played";
  if (Failed(hr)) {
    if (hr == VFW_E_UNSUPPORTED_STREAM) d_->ErrorResult();
    const std::string detail = d_->lastError;
    for (auto& f : linked) d_->Detach(f);
    d_->Detach(source);
    d_->filters = before;
    d_->lastError = detail;
    return hr;
  }

  d_->loaded = true;
  gint64 duration = 0;
  if (gst_element_query_duration(d_->pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
    d_->duration = duration / 100;
  if (auto video = d_->Linked(Role::VideoRenderer)) {
    GstPad* pad = video->InputPad();
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
      GstVideoInfo info;
      if (gst_video_info_from_caps(&info, caps)) {
        d_->videoWidth = GST_VIDEO_INFO_WIDTH(&info);
        d_->videoHeight = GST_VIDEO_INFO_HEIGHT(&info);
      }
      gst_caps_unref(caps);
    }
    gst_object_unref(pad);
    d_->windowRect = QRect(0, 0, d_->videoWidth, d_->videoHeight);
    d_->sourceRect = QRect();
  }
  if (auto audio = d_->Linked(Role::AudioRenderer)) {
    std::lock_guard lock(d_->mutex);
    d_->audioVolume = audio->volume;
  }
  d_->ApplyVolume();
  return S_OK;
}

HRESULT GstMediaGraph::AddFilter(const std::shared_ptr<IBaseFilter>& filter,
                                 const std::string* name) {
  auto f = std::dynamic_pointer_cast<GstFilter>(filter);
  if (!f || f->graph != this) return E_INVALIDARG;
  if (std::find(d_->filters.begin(), d_->filters.end(), f) != d_->filters.end()) return S_FALSE;
  if (name) f->name = *name;
  d_->filters.push_back(f);
  return S_OK;
}

HRESULT GstMediaGraph::RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) {
  auto f = std::dynamic_pointer_cast<GstFilter>(filter);
  auto it = std::find(d_->filters.begin(), d_->filters.end(), f);
  if (!f || it == d_->filters.end()) return E_INVALIDARG;
  if (d_->loaded) {
    gint64 position;
    if (gst_element_query_position(d_->pipeline, GST_FORMAT_TIME, &position))
      d_->lastPosition = position / 100;
  }
  d_->filters.erase(it);
  if (f == d_->defaultAudio && d_->loaded && !d_->audioRemovalPending &&
      d_->OnlyDefaultAudioLinked()) {
    // Held back: when the source follows, the whole chain is kept for the
    // same file coming again.
    d_->audioRemovalPending = true;
    std::lock_guard lock(d_->mutex);
    if (d_->audioVolume == f->volume) d_->audioVolume = nullptr;
    return S_OK;
  }
  if (f->role == Role::Source && d_->audioRemovalPending) {
    d_->audioRemovalPending = false;
    ++d_->generation;
    d_->events.clear();
    if (d_->target == FilterState::State_Running)
      gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
    d_->loaded = false;
    d_->keptSource = f;
    d_->keptName = f->name;
    d_->keptDuration = d_->duration;
    std::error_code error;
    d_->keptTime = std::filesystem::last_write_time(f->name, error);
    d_->keptSize = error ? 0 : std::filesystem::file_size(f->name, error);
    if (error) d_->DropKept();
    return S_OK;
  }
  d_->SettlePending();
  d_->Detach(f);
  return S_OK;
}

HRESULT GstMediaGraph::EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>& filters) {
  filters.clear();
  for (Role role : {Role::AudioRenderer, Role::VideoRenderer, Role::NullRenderer, Role::Source})
    for (auto& f : d_->filters)
      if (f->role == role) filters.push_back(f);
  return S_OK;
}

HRESULT GstMediaGraph::Connect(const std::shared_ptr<IPin>& output,
                               const std::shared_ptr<IPin>& input) {
  auto out = std::dynamic_pointer_cast<GstPinRef>(output);
  auto in = std::dynamic_pointer_cast<GstPinRef>(input);
  if (!out || !in || !GST_PAD_IS_SRC(out->Pad()) || !GST_PAD_IS_SINK(in->Pad()))
    return E_INVALIDARG;
  d_->SettlePending();
  std::shared_ptr<GstFilter> target;
  GstObject* parent = gst_pad_get_parent(in->Pad());
  for (auto& f : d_->filters)
    if (GST_OBJECT(f->element) == parent) target = f;
  if (parent) gst_object_unref(parent);
  if (!target) return E_INVALIDARG;
  if (!target->InBin()) {
    gst_bin_add(GST_BIN(d_->pipeline), target->element);
    Impl::Unpark(*target, in->Pad());
  }
  if (gst_pad_link(out->Pad(), in->Pad()) != GST_PAD_LINK_OK) {
    d_->lastError = "the two pins do not fit together";
    return MakeResult(0x80040217);
  }
  gst_element_sync_state_with_parent(target->element);
  if (target->role == Role::AudioRenderer) {
    std::lock_guard lock(d_->mutex);
    d_->audioVolume = target->volume;
  }
  d_->ApplyVolume();
  // The stream stopped when its old renderer went; restart it where it was.
  if (d_->loaded) return d_->Seek(d_->lastPosition);
  return S_OK;
}

HRESULT GstMediaGraph::CreateFilter(const Guid& classId, std::shared_ptr<IBaseFilter>& filter) {
  filter.reset();
  if (classId == kClassNullRenderer) {
    filter = d_->MakeNullRenderer();
  } else if (GstElement* sink = CreateAudioDeviceSink(classId.ToString())) {
    filter = d_->MakeAudioRenderer(sink, "Audio Renderer");
  } else {
    return REGDB_E_CLASSNOTREG;
  }
  return filter ? S_OK : E_OUTOFMEMORY;
}

std::string GstMediaGraph::LastErrorDetail() const {
  return d_->lastError;
}

HRESULT GstMediaGraph::Run() {
  d_->SettlePending();
  d_->target = FilterState::State_Running;
  if (!d_->loaded) return S_OK;
  // A refused change is reported on the bus, and GetState answers with it.
  gst_element_set_state(d_->pipeline, GST_STATE_PLAYING);
  return S_OK;
}

HRESULT GstMediaGraph::Pause() {
  d_->SettlePending();
  d_->target = FilterState::State_Paused;
  if (d_->loaded) gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
  return S_OK;
}

HRESULT GstMediaGraph::Stop() {
  // Stopped keeps the clip cued, so the next Run starts at once.
  d_->target = FilterState::State_Stopped;
  if (d_->loaded) gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
  return S_OK;
}

HRESULT GstMediaGraph::GetState(long timeoutMs, FilterState& state) {
  if (!d_->loaded || d_->target == FilterState::State_Stopped) {
    state = d_->target;
    return S_OK;
  }
  GstState current = GST_STATE_NULL, pending;
  const auto ret = gst_element_get_state(d_->pipeline, &current, &pending,
                                         std::max(0L, timeoutMs) * GST_MSECOND);
  state = current == GST_STATE_PLAYING  ? FilterState::State_Running
          : current == GST_STATE_PAUSED ? FilterState::State_Paused
                                        : FilterState::State_Stopped;
  if (d_->ErrorInThisClip() || ret == GST_STATE_CHANGE_FAILURE) {
    d_->ErrorResult();
    return E_FAIL;
  }
  return ret == GST_STATE_CHANGE_ASYNC ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT GstMediaGraph::GetDuration(REFERENCE_TIME& duration) {
  if (!d_->loaded) return E_NOTIMPL;
  if (d_->duration == 0) {
    gint64 ns = 0;
    if (gst_element_query_duration(d_->pipeline, GST_FORMAT_TIME, &ns) && ns > 0)
      d_->duration = ns / 100;
  }
  duration = d_->duration;
  return S_OK;
}

HRESULT GstMediaGraph::GetCurrentPosition(REFERENCE_TIME& position) {
  if (!d_->loaded) return E_NOTIMPL;
  gint64 ns = 0;
  if (gst_element_query_position(d_->pipeline, GST_FORMAT_TIME, &ns) && ns >= 0)
    d_->lastPosition = ns / 100;
  position = d_->lastPosition;
  return S_OK;
}

HRESULT GstMediaGraph::SetPositions(const REFERENCE_TIME* current, unsigned currentFlags,
                                    const REFERENCE_TIME* stop, unsigned stopFlags) {
  if (!d_->loaded) return E_NOTIMPL;
  const bool setCurrent = currentFlags & AM_SEEKING_AbsolutePositioning;
  const bool setStop = stopFlags & AM_SEEKING_AbsolutePositioning;
  if ((setCurrent && current == nullptr) || (setStop && stop == nullptr)) return E_POINTER;
  d_->SettlePending();
  REFERENCE_TIME start;
  if (setCurrent)
    start = *current;
  else
    GetCurrentPosition(start);
  if (setStop) d_->stop = *stop;
  return d_->Seek(start);
}

HRESULT GstMediaGraph::GetRate(double& rate) {
  rate = d_->rate;
  return S_OK;
}

HRESULT GstMediaGraph::SetRate(double rate) {
  if (!(rate > 0.0) || !std::isfinite(rate)) return E_INVALIDARG;
  d_->rate = rate;
  if (!d_->loaded) return S_OK;
  d_->SettlePending();
  REFERENCE_TIME position;
  GetCurrentPosition(position);
  return d_->Seek(position);
}

HRESULT GstMediaGraph::IsFormatSupported(const Guid& format) {
  return format == kTimeFormatMediaTime ? S_OK : S_FALSE;
}

HRESULT GstMediaGraph::IsUsingTimeFormat(const Guid& format) {
  return format == kTimeFormatMediaTime ? S_OK : S_FALSE;
}

HRESULT GstMediaGraph::GetTimeFormat(Guid& format) {
  format = kTimeFormatMediaTime;
  return S_OK;
}

HRESULT GstMediaGraph::SetTimeFormat(const Guid& format) {
  return format == kTimeFormatMediaTime ? S_OK : E_INVALIDARG;
}

HRESULT GstMediaGraph::get_Volume(long& volume) {
  if (!d_->Linked(Role::AudioRenderer)) return E_NOTIMPL;
  volume = d_->volume;
  return S_OK;
}

HRESULT GstMediaGraph::put_Volume(long volume) {
  if (volume > 0 || volume < -10000) return E_INVALIDARG;
  if (!d_->Linked(Role::AudioRenderer)) return E_NOTIMPL;
  d_->volume = volume;
  d_->ApplyVolume();
  return S_OK;
}

HRESULT GstMediaGraph::put_Owner(QWidget* owner) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  if (owner == nullptr) {
    delete d_->surface.data();
    d_->owner = nullptr;
    return S_OK;
  }
  d_->owner = owner;
  if (!d_->surface) {
    d_->surface = new VideoSurface(owner, d_->frames);
  } else if (d_->surface->parentWidget() != owner) {
    d_->surface->setParent(owner);
  }
  d_->surface->setGeometry(d_->windowRect);
  d_->surface->SetDrain(d_->drain);
  d_->surface->SetSourceRect(d_->sourceRect);
  d_->surface->setVisible(d_->visible);
  return S_OK;
}

HRESULT GstMediaGraph::get_Owner(QWidget*& owner) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  owner = d_->owner;
  return S_OK;
}

HRESULT GstMediaGraph::put_WindowStyle(long) {
  // The picture is always a child of its owner, clipped to it.
  return d_->Linked(Role::VideoRenderer) ? S_OK : E_NOINTERFACE;
}

HRESULT GstMediaGraph::put_Visible(long visible) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  d_->visible = visible != 0;
  if (d_->surface && d_->surface->parentWidget()) d_->surface->setVisible(d_->visible);
  return S_OK;
}

HRESULT GstMediaGraph::put_MessageDrain(QObject* drain) {
  d_->drain = drain;
  if (d_->surface) d_->surface->SetDrain(drain);
  return d_->Linked(Role::VideoRenderer) ? S_OK : E_NOINTERFACE;
}

HRESULT GstMediaGraph::put_FullScreenMode(long mode) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  if (!d_->surface) return VFW_E_WRONG_STATE;
  if (mode != 0) {
    d_->surface->setParent(nullptr);
    d_->surface->showFullScreen();
  } else {
    d_->surface->setParent(d_->owner);
    d_->surface->setGeometry(d_->windowRect);
    d_->surface->setVisible(d_->visible);
  }
  return S_OK;
}

HRESULT GstMediaGraph::SetWindowPosition(long left, long top, long width, long height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  if (width < 0 || height < 0) return E_INVALIDARG;
  d_->windowRect = QRect(left, top, width, height);
  if (d_->surface && d_->surface->parentWidget()) d_->surface->setGeometry(d_->windowRect);
  return S_OK;
}

HRESULT GstMediaGraph::GetWindowPosition(long& left, long& top, long& width, long& height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  left = d_->windowRect.left();
  top = d_->windowRect.top();
  width = d_->windowRect.width();
  height = d_->windowRect.height();
  return S_OK;
}

HRESULT GstMediaGraph::GetVideoSize(long& width, long& height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  width = d_->videoWidth;
  height = d_->videoHeight;
  return S_OK;
}

HRESULT GstMediaGraph::SetSourcePosition(long left, long top, long width, long height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  const QRect source(left, top, width, height);
  if (width <= 0 || height <= 0 || !QRect(0, 0, d_->videoWidth, d_->videoHeight).contains(source))
    return E_INVALIDARG;
  d_->sourceRect = source;
  if (d_->surface) d_->surface->SetSourceRect(source);
  return S_OK;
}

HRESULT GstMediaGraph::SetNotifyWindow(QObject* window, int msg, std::intptr_t instance) {
  d_->notifyWindow = window;
  d_->notifyMsg = msg;
  d_->notifyParam = instance;
  return S_OK;
}

HRESULT GstMediaGraph::SetNotifyFlags(long flags) {
  if (flags != 0 && flags != 1) return E_INVALIDARG;
  d_->notifyFlags = flags;
  return S_OK;
}

HRESULT GstMediaGraph::GetEvent(long& code, std::intptr_t& param1, std::intptr_t& param2, long) {
  if (d_->events.empty()) return E_ABORT;
  const auto e = d_->events.front();
  d_->events.pop_front();
  code = e.code;
  param1 = e.p1;
  param2 = e.p2;
  return S_OK;
}

HRESULT GstMediaGraph::FreeEventParams(long, std::intptr_t, std::intptr_t) {
  return S_OK;
}

void GstMediaGraph::SetAudioBufferObserver(std::function<void()> observer) {
  std::lock_guard lock(d_->probe->mutex);
  d_->probe->observer = std::move(observer);
}

REFERENCE_TIME GstMediaGraph::RunningTime() const {
  GstClock* clock = gst_element_get_clock(d_->pipeline);
  if (clock == nullptr) return 0;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(d_->pipeline);
  return now > base ? static_cast<REFERENCE_TIME>((now - base) / 100) : 0;
}

bool GstMediaGraph::event(QEvent* event) {
  if (event->type() != BusEvent::Type()) return QObject::event(event);
  auto* bus = static_cast<BusEvent*>(event);
  if (bus->Generation != d_->generation.load()) return true;  // from an earlier clip or segment
  switch (GST_MESSAGE_TYPE(bus->Message)) {
    case GST_MESSAGE_EOS:
      d_->Queue(EC_COMPLETE, 0, 0);
      break;
    case GST_MESSAGE_ERROR:
      d_->ErrorResult();
      d_->Queue(EC_ERRORABORT, E_FAIL, 0);
      break;
    default:
      break;
  }
  return true;
}

}  // namespace platform::media
