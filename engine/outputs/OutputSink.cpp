#include "engine/outputs/OutputSink.h"

#include "engine/outputs/PortMemory.h"
#include "platform/KeyTrace.h"

#include <gst/audio/gstaudiobasesink.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace engine {

namespace {

struct OutputRing {
  GstAudioRingBuffer parent;
  OutputDevice* device;
  const OutputKind* kind;
  GstElement* sink;  // not owned: the sink owns the ring
};

struct OutputRingClass {
  GstAudioRingBufferClass parent_class;
};

G_DEFINE_TYPE(OutputRing, output_ring, GST_TYPE_AUDIO_RING_BUFFER)

struct OutputSink {
  GstAudioBaseSink parent;
  gchar* clientName;
  gchar* device;
  std::shared_ptr<PortMemory>* ports;  // owned; null when none was given
};

struct OutputSinkClass {
  GstAudioBaseSinkClass parent_class;
  const OutputKind* kind;
};

G_DEFINE_ABSTRACT_TYPE(OutputSink, output_sink, GST_TYPE_AUDIO_BASE_SINK)

enum { kPropClientName = 1, kPropDevice, kPropPorts };

// The sound our outputs take, before the rate and channels.
#define TASTIVO_OUTPUT_CAPS \
  "audio/x-raw, format=(string)" GST_AUDIO_NE(F32) ", layout=(string)interleaved"

OutputRing* Ring(GstAudioRingBuffer* buf) {
  return reinterpret_cast<OutputRing*>(buf);
}

OutputDevice& DeviceOf(GstAudioRingBuffer* buf) {
  return *Ring(buf)->device;
}

void PostError(GstElement* sink, GstResourceError code, const char* text,
               const std::string& detail) {
  if (sink == nullptr) return;
  gst_element_message_full(sink, GST_MESSAGE_ERROR, GST_RESOURCE_ERROR, code, g_strdup(text),
                           detail.empty() ? nullptr : g_strdup(detail.c_str()), __FILE__,
                           GST_FUNCTION, __LINE__);
}

// Device thread, when the device went away: the ring stops taking sound,
// and a writer waiting for room (which would wait for ever) is woken to
// find that out.
void GiveUpRing(GstAudioRingBuffer* buf) {
  if (buf != nullptr &&
      g_atomic_int_compare_and_exchange(&buf->state, GST_AUDIO_RING_BUFFER_STATE_STARTED,
                                        GST_AUDIO_RING_BUFFER_STATE_ERROR)) {
    GST_OBJECT_LOCK(buf);
    GST_AUDIO_RING_BUFFER_BROADCAST(buf);
    GST_OBJECT_UNLOCK(buf);
  }
}

// The sink's ring buffer, referenced, or nullptr.
GstAudioRingBuffer* RingOf(GstBaseSink* sink) {
  GST_OBJECT_LOCK(sink);
  GstAudioRingBuffer* ring = GST_AUDIO_BASE_SINK(sink)->ringbuffer;
  if (ring != nullptr) gst_object_ref(ring);
  GST_OBJECT_UNLOCK(sink);
  return ring;
}

gboolean OpenDevice(GstAudioRingBuffer* buf) {
  return DeviceOf(buf).Open();
}

gboolean CloseDevice(GstAudioRingBuffer* buf) {
  DeviceOf(buf).Close();
  return TRUE;
}

gboolean Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec) {
  OutputDevice& d = DeviceOf(buf);
  const OutputKind& kind = *Ring(buf)->kind;
  const OutputFormat format = d.Format();
  if (format.rate == 0 || d.Gone()) {
    PostError(Ring(buf)->sink, GST_RESOURCE_ERROR_OPEN_WRITE, kind.goneText, {});
    return FALSE;
  }
  const int rate = GST_AUDIO_INFO_RATE(&spec->info),
            channels = GST_AUDIO_INFO_CHANNELS(&spec->info);
  if (rate != format.rate || channels != format.channels) {
    PostError(Ring(buf)->sink, GST_RESOURCE_ERROR_SETTINGS, kind.unsuitedText,
              std::to_string(rate) + " Hz, " + std::to_string(channels) +
                  " channels for a device at " + std::to_string(format.rate) + " Hz, " +
                  std::to_string(format.channels) + " channels");
    return FALSE;
  }
  if (QueueFiller* filler = d.Filler())
    filler->Acquire(buf, spec, d.SegmentFrames());
  else
    d.Reader().Acquire(buf, spec, d.SegmentFrames(), format.rate);
  return TRUE;
}

gboolean Release(GstAudioRingBuffer* buf) {
  DeviceOf(buf).ReleaseRing(buf);
  return TRUE;
}

gboolean StartOrStop(GstAudioRingBuffer* buf) {
  // The device runs from open to close; the ring's state decides whether
  // it reads the ring. A device with a queue writes the change at once.
  if (QueueFiller* filler = DeviceOf(buf).Filler()) filler->Wake();
  return TRUE;
}

guint Delay(GstAudioRingBuffer* buf) {
  return DeviceOf(buf).Delay();
}

void ClearAll(GstAudioRingBuffer* buf) {
  GST_AUDIO_RING_BUFFER_CLASS(output_ring_parent_class)->clear_all(buf);
  // Cleared for a flush: what is written next is other sound.
  if (QueueFiller* filler = DeviceOf(buf).Filler())
    filler->Cleared();
  else
    DeviceOf(buf).Reader().Refilled();
}

// Streaming thread.
guint Commit(GstAudioRingBuffer* buf, guint64* sample, guint8* data, gint in, gint out,
             gint* accum) {
  const auto parent = GST_AUDIO_RING_BUFFER_CLASS(output_ring_parent_class)->commit;
  platform::KeyTrace::Stamp(platform::KeyTrace::kCommitted);
  if (QueueFiller* filler = DeviceOf(buf).Filler())
    return filler->Commit(parent, buf, sample, data, in, out, accum);
  return DeviceOf(buf).Reader().Commit(parent, buf, sample, data, in, out, accum);
}

void RingFinalize(GObject* object) {
  delete Ring(GST_AUDIO_RING_BUFFER(object))->device;
  G_OBJECT_CLASS(output_ring_parent_class)->finalize(object);
}

void output_ring_class_init(OutputRingClass* klass) {
  auto* ring = GST_AUDIO_RING_BUFFER_CLASS(klass);
  ring->open_device = OpenDevice;
  ring->close_device = CloseDevice;
  ring->acquire = Acquire;
  ring->release = Release;
  ring->start = StartOrStop;
  ring->pause = StartOrStop;
  ring->resume = StartOrStop;
  ring->stop = StartOrStop;
  ring->delay = Delay;
  ring->clear_all = ClearAll;
  ring->commit = Commit;
  G_OBJECT_CLASS(klass)->finalize = RingFinalize;
}

void output_ring_init(OutputRing* ring) {
  ring->device = nullptr;
  ring->kind = nullptr;
  ring->sink = nullptr;
}

const OutputKind& KindOf(gpointer sink) {
  return *reinterpret_cast<OutputSinkClass*>(G_OBJECT_GET_CLASS(sink))->kind;
}

GstAudioRingBuffer* CreateRing(GstAudioBaseSink* base) {
  auto* sink = reinterpret_cast<OutputSink*>(base);
  const OutputKind& kind = KindOf(base);
  OutputSettings settings;
  settings.clientName = sink->clientName ? sink->clientName : "tastivo";
  settings.device = sink->device ? sink->device : "";
  auto* ring = static_cast<OutputRing*>(g_object_new(output_ring_get_type(), nullptr));
  ring->device = kind.make(settings).release();
  if (sink->ports != nullptr) ring->device->UsePorts(*sink->ports);
  ring->kind = &kind;
  ring->sink = GST_ELEMENT(base);
  ring->device->Attach(GST_ELEMENT(base), GST_AUDIO_RING_BUFFER(ring));
  return GST_AUDIO_RING_BUFFER(ring);
}

// The device's rate and channels once it is open, else the pad template's.
GstCaps* GetCaps(GstBaseSink* base, GstCaps* filter) {
  OutputFormat format;
  if (GstAudioRingBuffer* ring = RingOf(base)) {
    format = DeviceOf(ring).Format();
    gst_object_unref(ring);
  }
  GstCaps* caps = nullptr;
  if (format.rate > 0 && format.channels > 0)
    caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, GST_AUDIO_NE(F32), "layout",
                               G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, format.rate,
                               "channels", G_TYPE_INT, format.channels, nullptr);
  else
    caps = gst_pad_get_pad_template_caps(GST_BASE_SINK_PAD(base));
  if (filter != nullptr) {
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

gchar** Field(GObject* object, guint id) {
  auto* sink = reinterpret_cast<OutputSink*>(object);
  return id == kPropClientName ? &sink->clientName : id == kPropDevice ? &sink->device : nullptr;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  if (id == kPropPorts) {
    auto* sink = reinterpret_cast<OutputSink*>(object);
    delete sink->ports;
    sink->ports = nullptr;
    if (auto* given = static_cast<std::shared_ptr<PortMemory>*>(g_value_get_pointer(value)))
      sink->ports = new std::shared_ptr<PortMemory>(*given);
  } else if (gchar** field = Field(object, id)) {
    g_free(*field);
    *field = g_value_dup_string(value);
  } else {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  if (id == kPropPorts)
    g_value_set_pointer(value, reinterpret_cast<OutputSink*>(object)->ports);
  else if (gchar** field = Field(object, id))
    g_value_set_string(value, *field);
  else
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

void SinkFinalize(GObject* object) {
  g_free(reinterpret_cast<OutputSink*>(object)->clientName);
  g_free(reinterpret_cast<OutputSink*>(object)->device);
  delete reinterpret_cast<OutputSink*>(object)->ports;
  G_OBJECT_CLASS(output_sink_parent_class)->finalize(object);
}

// Streaming thread: the audio sink's own render, with the ring's reader
// told which buffer it renders (RingReader::Rendering).
GstFlowReturn Render(GstBaseSink* base, GstBuffer* buffer) {
  const auto parent = GST_BASE_SINK_CLASS(output_sink_parent_class)->render;
  GstAudioRingBuffer* ring = GST_AUDIO_BASE_SINK(base)->ringbuffer;
  const int rate = ring != nullptr ? GST_AUDIO_INFO_RATE(&ring->spec.info) : 0;
  const int bpf = ring != nullptr ? GST_AUDIO_INFO_BPF(&ring->spec.info) : 0;
  GstMapInfo map;
  // One block of memory maps to the same bytes whenever it is mapped.
  if (rate <= 0 || bpf <= 0 || gst_buffer_n_memory(buffer) != 1 ||
      !gst_buffer_map(buffer, &map, GST_MAP_READ))
    return parent(base, buffer);
  guint64 beforeSegment = 0;
  const GstClockTime time = GST_BUFFER_PTS(buffer);
  if (GST_CLOCK_TIME_IS_VALID(time) && base->segment.format == GST_FORMAT_TIME &&
      time < base->segment.start)
    beforeSegment = gst_util_uint64_scale_int(base->segment.start - time, rate, GST_SECOND);
  RingReader& reader = DeviceOf(ring).Reader();
  reader.Rendering(map.data, map.size / guint(bpf), beforeSegment);
  gst_buffer_unmap(buffer, &map);
  const GstFlowReturn flow = parent(base, buffer);
  reader.Rendered();
  return flow;
}

void output_sink_class_init(OutputSinkClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = SinkFinalize;
  GST_BASE_SINK_CLASS(klass)->get_caps = GetCaps;
  GST_BASE_SINK_CLASS(klass)->render = Render;
  GST_AUDIO_BASE_SINK_CLASS(klass)->create_ringbuffer = CreateRing;
}

void output_sink_init(OutputSink* sink) {
  sink->clientName = nullptr;
  sink->device = nullptr;
  sink->ports = nullptr;
}

// Each kind is a type of its own, so that its element has its factory's
// name and its own properties and pad template.
void KindClassInit(gpointer klass, gpointer data) {
  const auto* kind = static_cast<const OutputKind*>(data);
  reinterpret_cast<OutputSinkClass*>(klass)->kind = kind;
  auto* object = G_OBJECT_CLASS(klass);
  // GObject gives each class its own property handlers.
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  if (kind->hasClientName)
    g_object_class_install_property(
        object, kPropClientName,
        g_param_spec_string("client-name", "Client name", "The name the sound server shows",
                            nullptr, flags));
  if (kind->hasDevice)
    g_object_class_install_property(
        object, kPropDevice,
        g_param_spec_string("device", "Device", "The device to play on (the default if unset)",
                            nullptr, flags));
  // A pointer to a std::shared_ptr<PortMemory>, which the sink copies.
  if (kind->hasPorts)
    g_object_class_install_property(
        object, kPropPorts,
        g_param_spec_pointer("port-memory", "Port memory",
                             "What the output's ports are connected to, by name", flags));
  auto* element = GST_ELEMENT_CLASS(klass);
  const std::string channels =
      kind->maxChannels > 0 ? "[1, " + std::to_string(kind->maxChannels) + "]" : "[1, MAX]";
  GstCaps* caps = gst_caps_from_string(
      (TASTIVO_OUTPUT_CAPS ", rate=(int)[1, MAX], channels=(int)" + channels).c_str());
  gst_element_class_add_pad_template(
      element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
  gst_caps_unref(caps);
  gst_element_class_set_static_metadata(element, kind->longName, "Sink/Audio", kind->description,
                                        "Tastivo");
}

GType KindType(const OutputKind& kind) {
  static std::mutex mutex;
  static std::map<const OutputKind*, GType> types;
  std::lock_guard lock(mutex);
  if (auto it = types.find(&kind); it != types.end()) return it->second;
  GTypeQuery query;
  g_type_query(output_sink_get_type(), &query);
  GTypeInfo info{};
  info.class_size = guint16(query.class_size);
  info.class_init = KindClassInit;
  info.class_data = &kind;
  info.instance_size = guint16(query.instance_size);
  const GType type =
      g_type_register_static(output_sink_get_type(), kind.typeName, &info, GTypeFlags(0));
  gst_element_register(nullptr, kind.factoryName, GST_RANK_NONE, type);
  types.emplace(&kind, type);
  return type;
}

}  // namespace

void OutputDevice::Fail(GstResourceError code, const char* text, const std::string& detail) const {
  PostError(sink_, code, text, detail);
}

void OutputDevice::Lose(GstResourceError code, const char* text) {
  if (gone_.exchange(true)) return;
  GiveUpRing(ring_);
  PostError(sink_, code, text, {});
}

void OutputDevice::RunAheadOfOrdinaryWork() {
  // Below a JACK server's own threads (10 by default) and at a PulseAudio
  // server's (5), so a device thread never delays the server it feeds.
  constexpr int kPriority = 5;
  sched_param param{};
  param.sched_priority = kPriority;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void OutputDevice::ReleaseRing(GstAudioRingBuffer* buf) {
  Reader().Release(buf, gone_);
}

GstElement* MakeOutputSink(const OutputKind& kind, const OutputSettings& settings) {
  KindType(kind);
  GstElement* sink = gst_element_factory_make(kind.factoryName, nullptr);
  if (sink != nullptr && kind.hasClientName && !settings.clientName.empty())
    g_object_set(sink, "client-name", settings.clientName.c_str(), nullptr);
  if (sink != nullptr && kind.hasDevice && !settings.device.empty())
    g_object_set(sink, "device", settings.device.c_str(), nullptr);

  return sink;
}

bool IsOwnOutput(GstElement* element) {
  return element != nullptr && G_TYPE_CHECK_INSTANCE_TYPE(element, output_sink_get_type());
}

OutputQueue OutputQueued(GstElement* sink) {
  OutputQueue queue;
  if (sink == nullptr || !GST_IS_AUDIO_BASE_SINK(sink)) return queue;
  GstAudioRingBuffer* ring = RingOf(GST_BASE_SINK(sink));
  if (ring == nullptr) return queue;
  const int rate = GST_AUDIO_INFO_RATE(&ring->spec.info);
  if (gst_audio_ring_buffer_is_acquired(ring) && rate > 0) {
    const guint64 done = gst_audio_ring_buffer_samples_done(ring);
    const guint64 frames = std::min<guint64>(gst_audio_ring_buffer_delay(ring), done) + 1;
    queue.device = gst_util_uint64_scale_int_ceil(frames, GST_SECOND, rate);
    const guint64 next = GST_AUDIO_BASE_SINK(sink)->next_sample;
    if (next != guint64(-1) && next > done)
      queue.ring = gst_util_uint64_scale_int(next - done, GST_SECOND, rate);
  }
  gst_object_unref(ring);
  return queue;
}

GstElement* OutputAfter(GstPad* pad) {
  // Between a stage and the output lie a resampler, a volume and a
  // converter.
  constexpr int kMostHops = 8;
  pad = GST_PAD(gst_object_ref(pad));
  for (int hops = 0; hops < kMostHops && pad != nullptr; ++hops) {
    GstPad* peer = gst_pad_get_peer(pad);
    gst_object_unref(pad);
    pad = nullptr;
    if (peer == nullptr) break;
    GstElement* next = gst_pad_get_parent_element(peer);
    gst_object_unref(peer);
    if (next == nullptr) break;
    if (GST_IS_AUDIO_BASE_SINK(next)) return next;
    pad = gst_element_get_static_pad(next, "src");
    gst_object_unref(next);
  }
  if (pad) gst_object_unref(pad);
  return nullptr;
}

}  // namespace engine
