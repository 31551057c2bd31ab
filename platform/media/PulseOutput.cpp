#include "platform/media/PulseOutput.h"

#include "platform/media/GainRamp.h"
#include "platform/media/RingReader.h"

#include <gst/audio/audio.h>
#include <gst/audio/gstaudiobasesink.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace platform::media {

namespace {

// A window plays in stereo (in mono on a mono server); the server maps
// that onto its speakers as it does for any player.
constexpr int kMaxChannels = 2;

// The server asks for sound in pieces of a quarter of what the stream
// keeps (at most 5 ms), and the sink's ring buffer is cut into segments of
// that much.
long RequestUs() {
  return std::clamp(PulseLatencyUs() / 4, 1'000L, 5'000L);
}

// Everything the stream shares with the server's thread (the threaded
// main loop's), which runs every callback below with the loop's lock held.
struct Device {
  std::string clientName;
  GstElement* sink = nullptr;  // the element owning the ring, not owned
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
  pa_sample_spec format{};
  long requestUs = 5'000;
  std::string defaultSink;
  bool open = false;  // set up; a failure from now on is the server going away
  std::atomic<bool> gone{false};
  std::atomic<guint> delayFrames{0};
  RingReader reader;
};

struct PulseRing {
  GstAudioRingBuffer parent;
  Device* device;
};

struct PulseRingClass {
  GstAudioRingBufferClass parent_class;
};

G_DEFINE_TYPE(PulseRing, pulse_ring, GST_TYPE_AUDIO_RING_BUFFER)

struct PulseSink {
  GstAudioBaseSink parent;
  gchar* clientName;
};

struct PulseSinkClass {
  GstAudioBaseSinkClass parent_class;
};

G_DEFINE_TYPE(PulseSink, pulse_sink, GST_TYPE_AUDIO_BASE_SINK)

enum { kPropClientName = 1 };

#define TASTIVO_PULSE_CAPS \
  "audio/x-raw, format=(string)" GST_AUDIO_NE(F32) ", layout=(string)interleaved"

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(TASTIVO_PULSE_CAPS ", rate=(int)[1, MAX], channels=(int)[1, 2]"));

Device& DeviceOf(GstAudioRingBuffer* buf) {
  return *reinterpret_cast<PulseRing*>(buf)->device;
}

// Server thread: the server went away, or dropped our stream. Only flags it
// and tells the pipeline, which gives the output up.
void Lost(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  if (d.gone.exchange(true)) return;
  // A writer waiting for room would wait for ever: the ring stops taking
  // sound, and the writer is woken to find that out.
  if (g_atomic_int_compare_and_exchange(&buf->state, GST_AUDIO_RING_BUFFER_STATE_STARTED,
                                        GST_AUDIO_RING_BUFFER_STATE_ERROR)) {
    GST_OBJECT_LOCK(buf);
    GST_AUDIO_RING_BUFFER_BROADCAST(buf);
    GST_OBJECT_UNLOCK(buf);
  }
  if (d.sink != nullptr)
    GST_ELEMENT_ERROR(d.sink, RESOURCE, WRITE, ("The PulseAudio server went away."), (nullptr));
}

void OnContextState(pa_context* context, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = DeviceOf(buf);
  if (d.open && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) Lost(buf);
  pa_threaded_mainloop_signal(d.loop, 0);
}

void OnStreamState(pa_stream* stream, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = DeviceOf(buf);
  if (d.open && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) Lost(buf);
  pa_threaded_mainloop_signal(d.loop, 0);
}

void TakeFormat(Device& d, const pa_sample_spec& spec) {
  d.format.rate = spec.rate;
  d.format.channels = std::uint8_t(std::clamp<int>(spec.channels, 1, kMaxChannels));
}

void OnServerInfo(pa_context*, const pa_server_info* info, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = DeviceOf(buf);
  if (info != nullptr) {
    TakeFormat(d, info->sample_spec);
    if (info->default_sink_name != nullptr) d.defaultSink = info->default_sink_name;
  }
  pa_threaded_mainloop_signal(d.loop, 0);
}

void OnSinkInfo(pa_context*, const pa_sink_info* info, int, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = DeviceOf(buf);
  if (info != nullptr) TakeFormat(d, info->sample_spec);
  pa_threaded_mainloop_signal(d.loop, 0);
}

// Server thread, when the server has room for `bytes` more: fills it from
// the ring, or with silence, and keeps what the stream holds unheard for
// the sink's clock.
void OnWrite(pa_stream* stream, size_t bytes, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = DeviceOf(buf);
  const std::size_t bpf = pa_frame_size(&d.format);
  for (std::size_t frames = bytes / bpf; frames > 0;) {
    const int n = int(std::min<std::size_t>(frames, std::size_t(d.reader.MaxFrames())));
    const float* io = d.reader.Read(buf, n);
    if (pa_stream_write(stream, io, std::size_t(n) * bpf, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
    frames -= std::size_t(n);
  }
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream, &latency, &negative) == 0)
    d.delayFrames = negative ? 0u : guint(latency * d.format.rate / 1'000'000);
}

// Waits on the loop (its lock held) until `done` says so, or the context
// fails.
template <typename Done>
bool WaitFor(Device& d, Done done) {
  for (;;) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(d.context))) return false;
    if (const int answer = done(); answer != 0) return answer > 0;
    pa_threaded_mainloop_wait(d.loop);
  }
}

void CloseConnection(Device& d) {
  if (d.loop == nullptr) return;
  pa_threaded_mainloop_lock(d.loop);
  d.open = false;
  if (d.stream != nullptr) {
    pa_stream_set_write_callback(d.stream, nullptr, nullptr);
    pa_stream_set_state_callback(d.stream, nullptr, nullptr);
    pa_stream_disconnect(d.stream);
    pa_stream_unref(d.stream);
    d.stream = nullptr;
  }
  if (d.context != nullptr) {
    pa_context_set_state_callback(d.context, nullptr, nullptr);
    pa_context_disconnect(d.context);
    pa_context_unref(d.context);
    d.context = nullptr;
  }
  pa_threaded_mainloop_unlock(d.loop);
  pa_threaded_mainloop_stop(d.loop);
  pa_threaded_mainloop_free(d.loop);
  d.loop = nullptr;
}

// Under the loop's lock: the server's format, then a running stream in it.
bool Connect(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  if (pa_context_connect(d.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  const bool ready = WaitFor(d, [&] {
    const pa_context_state_t state = pa_context_get_state(d.context);
    return state == PA_CONTEXT_READY ? 1 : 0;
  });
  if (!ready) return false;
  // The rate of the sink the stream will play on, so the server has
  // nothing to resample; the server's default rate if it won't say.
  d.format = {PA_SAMPLE_FLOAT32NE, 0, 0};
  auto await = [&](pa_operation* operation) {
    if (operation == nullptr) return;
    WaitFor(d, [&] { return pa_operation_get_state(operation) == PA_OPERATION_RUNNING ? 0 : 1; });
    pa_operation_unref(operation);
  };
  await(pa_context_get_server_info(d.context, &OnServerInfo, buf));
  if (!d.defaultSink.empty())
    await(pa_context_get_sink_info_by_name(d.context, d.defaultSink.c_str(), &OnSinkInfo, buf));
  if (d.format.rate == 0 || d.format.channels == 0) return false;
  d.format.format = PA_SAMPLE_FLOAT32NE;

  pa_channel_map map;
  pa_channel_map_init_auto(&map, d.format.channels, PA_CHANNEL_MAP_DEFAULT);
  d.stream = pa_stream_new(d.context, d.clientName.c_str(), &d.format, &map);
  if (d.stream == nullptr) return false;
  const int ramp = FadesEnabled() ? std::max(1, int(std::lround(kRampSeconds * d.format.rate))) : 0;
  // The server may ask for its whole buffer at once; the reader goes in
  // pieces of this.
  d.reader.Prepare(d.format.channels, ramp, 4096);
  pa_stream_set_state_callback(d.stream, &OnStreamState, buf);
  pa_stream_set_write_callback(d.stream, &OnWrite, buf);
  pa_buffer_attr attr;
  attr.maxlength = std::uint32_t(-1);
  d.requestUs = RequestUs();
  attr.tlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(PulseLatencyUs()), &d.format));
  attr.prebuf = std::uint32_t(-1);
  attr.minreq = std::uint32_t(pa_usec_to_bytes(pa_usec_t(d.requestUs), &d.format));
  attr.fragsize = std::uint32_t(-1);
  // The latency asked for is the whole way to the speakers, so the server
  // keeps its own buffer short to match.
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_INTERPOLATE_TIMING);
  if (pa_stream_connect_playback(d.stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
    return false;
  return WaitFor(d, [&] {
    const pa_stream_state_t state = pa_stream_get_state(d.stream);
    return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
  });
}

gboolean OpenDevice(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  d.gone = false;
  d.loop = pa_threaded_mainloop_new();
  if (d.loop == nullptr) return FALSE;
  d.context = pa_context_new(pa_threaded_mainloop_get_api(d.loop), d.clientName.c_str());
  bool ok = d.context != nullptr;
  if (ok) pa_context_set_state_callback(d.context, &OnContextState, buf);
  pa_threaded_mainloop_lock(d.loop);
  ok = ok && pa_threaded_mainloop_start(d.loop) == 0;
  ok = ok && Connect(buf);
  const bool reached = d.context != nullptr && pa_context_get_state(d.context) == PA_CONTEXT_READY;
  d.open = ok;
  pa_threaded_mainloop_unlock(d.loop);
  if (!ok) {
    if (reached)
      GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE,
                        ("The PulseAudio output could not be set up."), (nullptr));
    else
      GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE, ("No PulseAudio server is running."),
                        (nullptr));
    CloseConnection(d);
    d.reader.Reset();
    return FALSE;
  }
  return TRUE;
}

gboolean CloseDevice(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  CloseConnection(d);
  d.reader.Reset();
  return TRUE;
}

gboolean Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec) {
  Device& d = DeviceOf(buf);
  if (d.stream == nullptr || d.gone) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE, ("The PulseAudio server went away."),
                      (nullptr));
    return FALSE;
  }
  const int channels = GST_AUDIO_INFO_CHANNELS(&spec->info);
  if (GST_AUDIO_INFO_RATE(&spec->info) != int(d.format.rate) || channels != d.format.channels) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, SETTINGS,
                      ("The sound does not suit the PulseAudio output."),
                      ("%d Hz, %d channels for a stream of %u Hz, %u channels",
                       GST_AUDIO_INFO_RATE(&spec->info), channels, d.format.rate,
                       unsigned(d.format.channels)));
    return FALSE;
  }
  const int bpf = GST_AUDIO_INFO_BPF(&spec->info);
  const int segFrames = std::max(1, int(std::lround(double(d.requestUs) * d.format.rate / 1e6)));
  const double segmentUs = double(segFrames) * 1e6 / d.format.rate;
  spec->segsize = segFrames * bpf;
  spec->segtotal = std::max(2, int(std::lround(double(spec->buffer_time) / segmentUs)));
  spec->latency_time = guint64(std::lround(segmentUs));
  spec->buffer_time = guint64(std::lround(segmentUs * spec->segtotal));
  spec->seglatency = spec->segtotal;
  buf->size = spec->segtotal * spec->segsize;
  buf->memory = static_cast<guint8*>(g_malloc0(buf->size));
  // A fresh buffer is new sound.
  d.reader.Refilled();
  d.reader.SetAcquired(true);
  return TRUE;
}

gboolean Release(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  d.reader.SetAcquired(false);
  d.reader.WaitOutOfDevice(d.gone);
  g_free(buf->memory);
  buf->memory = nullptr;
  return TRUE;
}

gboolean StartOrStop(GstAudioRingBuffer*) {
  // The stream runs from open to close; the ring's state decides whether
  // a request is filled from it.
  return TRUE;
}

guint Delay(GstAudioRingBuffer* buf) {
  return DeviceOf(buf).delayFrames.load();
}

void ClearAll(GstAudioRingBuffer* buf) {
  GST_AUDIO_RING_BUFFER_CLASS(pulse_ring_parent_class)->clear_all(buf);
  // Cleared for a flush: what is written next is other sound.
  DeviceOf(buf).reader.Refilled();
}

void RingFinalize(GObject* object) {
  delete reinterpret_cast<PulseRing*>(object)->device;
  G_OBJECT_CLASS(pulse_ring_parent_class)->finalize(object);
}

void pulse_ring_class_init(PulseRingClass* klass) {
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
  G_OBJECT_CLASS(klass)->finalize = RingFinalize;
}

void pulse_ring_init(PulseRing* ring) {
  ring->device = new Device;
}

GstAudioRingBuffer* CreateRing(GstAudioBaseSink* base) {
  auto* sink = reinterpret_cast<PulseSink*>(base);
  auto* ring = static_cast<PulseRing*>(g_object_new(pulse_ring_get_type(), nullptr));
  ring->device->clientName = sink->clientName ? sink->clientName : "tastivo";
  ring->device->sink = GST_ELEMENT(base);
  return GST_AUDIO_RING_BUFFER(ring);
}

// The stream's rate and channels, once it is open.
GstCaps* GetCaps(GstBaseSink* base, GstCaps* filter) {
  GstCaps* caps = gst_pad_get_pad_template_caps(GST_BASE_SINK_PAD(base));
  GST_OBJECT_LOCK(base);
  GstAudioRingBuffer* ring = GST_AUDIO_BASE_SINK(base)->ringbuffer;
  if (ring != nullptr) gst_object_ref(ring);
  GST_OBJECT_UNLOCK(base);
  if (ring != nullptr) {
    const Device& d = DeviceOf(ring);
    if (d.stream != nullptr && d.format.rate != 0) {
      gst_caps_unref(caps);
      caps = gst_caps_from_string(TASTIVO_PULSE_CAPS);
      gst_caps_set_simple(caps, "rate", G_TYPE_INT, int(d.format.rate), "channels", G_TYPE_INT,
                          int(d.format.channels), nullptr);
    }
    gst_object_unref(ring);
  }
  if (filter != nullptr) {
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  auto* sink = reinterpret_cast<PulseSink*>(object);
  if (id == kPropClientName) {
    g_free(sink->clientName);
    sink->clientName = g_value_dup_string(value);
  } else {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  auto* sink = reinterpret_cast<PulseSink*>(object);
  if (id == kPropClientName)
    g_value_set_string(value, sink->clientName);
  else
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

void SinkFinalize(GObject* object) {
  g_free(reinterpret_cast<PulseSink*>(object)->clientName);
  G_OBJECT_CLASS(pulse_sink_parent_class)->finalize(object);
}

void pulse_sink_class_init(PulseSinkClass* klass) {
  auto* object = G_OBJECT_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = SinkFinalize;
  g_object_class_install_property(
      object, kPropClientName,
      g_param_spec_string("client-name", "Client name", "The name of the stream on the server",
                          nullptr, GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &sinkTemplate);
  gst_element_class_set_static_metadata(element, "Tastivo PulseAudio output", "Sink/Audio",
                                        "Plays sound on a PulseAudio server, fading every cut",
                                        "Tastivo");
  GST_BASE_SINK_CLASS(klass)->get_caps = GetCaps;
  GST_AUDIO_BASE_SINK_CLASS(klass)->create_ringbuffer = CreateRing;
}

void pulse_sink_init(PulseSink* sink) {
  sink->clientName = nullptr;
}

}  // namespace

long PulseLatencyUs() {
  const char* text = std::getenv("TASTIVO_PULSE_LATENCY_US");
  const long asked = text ? std::atol(text) : 0;
  return asked > 0 ? std::max(asked, 2'000L) : 20'000L;
}

GstElement* MakePulseOutput(const std::string& clientName) {
  static std::once_flag once;
  std::call_once(once, [] {
    gst_element_register(nullptr, "tastivopulsesink", GST_RANK_NONE, pulse_sink_get_type());
  });
  GstElement* sink = gst_element_factory_make("tastivopulsesink", nullptr);
  if (sink != nullptr && !clientName.empty())
    g_object_set(sink, "client-name", clientName.c_str(), nullptr);
  return sink;
}

bool IsPulseOutput(GstElement* element) {
  return element != nullptr && G_TYPE_CHECK_INSTANCE_TYPE(element, pulse_sink_get_type());
}

}  // namespace platform::media
