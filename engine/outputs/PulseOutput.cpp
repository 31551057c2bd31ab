#include "engine/outputs/PulseOutput.h"

#include "engine/stages/GainRamp.h"
#include "engine/outputs/QueueFiller.h"

#include <gst/audio/audio.h>
#include <gst/audio/gstaudiobasesink.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace platform::media {

namespace {

// A window plays in stereo (in mono on a mono server); the server maps
// that onto its speakers as it does for any player.
constexpr int kMaxChannels = 2;

// The server asks for sound in pieces of a quarter of what the stream
// keeps (at most 5 ms), and the sink's ring buffer is cut into segments of
// that much.
long RequestUs(long latencyUs) {
  return std::clamp(latencyUs / 4, 1'000L, 5'000L);
}

// How far ahead of what is heard a start or a cut is written. The server
// may have mixed a little more than its latency says: at 2 ms a re-trigger
// on a busy machine now and then began its fade 2 ms in, with a click.
constexpr double kMarginSeconds = 0.004;

// Everything the stream shares with the server's thread (the threaded
// main loop's), which runs every callback below with the loop's lock held.
struct Device {
  std::string clientName;
  std::string deviceName;      // the server's sink to play on, "" for its default
  GstElement* sink = nullptr;  // the element owning the ring, not owned
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
  pa_sample_spec format{};
  long requestUs = 5'000;
  std::string defaultSink;
  bool rewrites = true;  // the server plays what is written over its queue
  bool open = false;     // set up; a failure from now on is the server going away
  std::atomic<bool> gone{false};
  QueueFiller filler;
  pa_io_event* wakeEvent = nullptr;
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
  gchar* device;
};

struct PulseSinkClass {
  GstAudioBaseSinkClass parent_class;
};

G_DEFINE_TYPE(PulseSink, pulse_sink, GST_TYPE_AUDIO_BASE_SINK)

enum { kPropClientName = 1, kPropDevice };

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(TASTIVO_OUTPUT_CAPS ", rate=(int)[1, MAX], channels=(int)[1, 2]"));

Device& DeviceOf(GstAudioRingBuffer* buf) {
  return *reinterpret_cast<PulseRing*>(buf)->device;
}

// Server thread: the server went away, or dropped our stream. Only flags it
// and tells the pipeline, which gives the output up.
void Lost(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  if (d.gone.exchange(true)) return;
  GiveUpRing(buf);
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
    // PipeWire's PulseAudio server hands what it is given on to the graph
    // as soon as it has it: what it holds can't be written over.
    d.rewrites =
        info->server_name == nullptr || std::strstr(info->server_name, "PipeWire") == nullptr;
  }
  pa_threaded_mainloop_signal(d.loop, 0);
}

void OnSinkInfo(pa_context*, const pa_sink_info* info, int, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = DeviceOf(buf);
  if (info != nullptr) TakeFormat(d, info->sample_spec);
  pa_threaded_mainloop_signal(d.loop, 0);
}

// The stream as a queue written over from just ahead of what is heard:
// the server takes back what it had not played yet.
class StreamQueue : public QueuedDevice {
 public:
  explicit StreamQueue(Device& d) : d_(d) {}

  // What the server holds ahead of its speakers, counted back from its
  // write index (which is ours: every write ends where the stream had got
  // to).
  std::optional<std::uint64_t> Queued() override {
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(d_.stream, &usec, &negative) < 0) return std::nullopt;
    return negative ? 0 : std::uint64_t(usec) * d_.format.rate / 1'000'000u;
  }

  std::uint64_t TakeBack(std::uint64_t frames) override {
    seekBytes_ = -std::int64_t(frames * pa_frame_size(&d_.format));
    return frames;
  }

  bool Write(const float* io, int frames) override {
    const std::int64_t seek = seekBytes_;
    seekBytes_ = 0;
    return pa_stream_write(d_.stream, io, std::size_t(frames) * pa_frame_size(&d_.format), nullptr,
                           seek, PA_SEEK_RELATIVE) >= 0;
  }

 private:
  Device& d_;
  std::int64_t seekBytes_ = 0;
};

// Server thread, when the server has room for `frames` more or an edge is
// coming.
void Fill(GstAudioRingBuffer* buf, std::uint64_t frames) {
  Device& d = DeviceOf(buf);
  StreamQueue queue(d);
  d.filler.Fill(buf, queue, frames);
}

void OnWrite(pa_stream*, size_t bytes, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Fill(buf, bytes / pa_frame_size(&DeviceOf(buf).format));
}

// Server thread, woken by the ring starting, stopping, being cleared or
// given sound: a start or a cut is written at once instead of at the
// server's next request, some milliseconds later.
void OnWake(pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = DeviceOf(buf);
  d.filler.TakeWakes();
  if (!d.open || d.stream == nullptr || pa_stream_get_state(d.stream) != PA_STREAM_READY ||
      d.filler.Reader().EdgeComing(buf) == RingReader::Edge::None)
    return;
  const std::size_t room = pa_stream_writable_size(d.stream);
  Fill(buf, room == std::size_t(-1) ? 0 : room / pa_frame_size(&d.format));
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
  if (d.wakeEvent != nullptr) {
    pa_threaded_mainloop_get_api(d.loop)->io_free(d.wakeEvent);
    d.wakeEvent = nullptr;
  }
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
  d.filler.CloseWake();
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
  const std::string& playOn = d.deviceName.empty() ? d.defaultSink : d.deviceName;
  if (!playOn.empty())
    await(pa_context_get_sink_info_by_name(d.context, playOn.c_str(), &OnSinkInfo, buf));
  if (d.format.rate == 0 || d.format.channels == 0) return false;
  d.format.format = PA_SAMPLE_FLOAT32NE;

  pa_channel_map map;
  pa_channel_map_init_auto(&map, d.format.channels, PA_CHANNEL_MAP_DEFAULT);
  d.stream = pa_stream_new(d.context, d.clientName.c_str(), &d.format, &map);
  if (d.stream == nullptr) return false;
  const int ramp = FadesEnabled() ? std::max(1, int(std::lround(kRampSeconds * d.format.rate))) : 0;
  // The server may ask for its whole buffer at once; the reader goes in
  // pieces of this.
  d.filler.Prepare(d.format.channels, int(d.format.rate), ramp, 4096, d.rewrites, kMarginSeconds);
  pa_stream_set_state_callback(d.stream, &OnStreamState, buf);
  pa_stream_set_write_callback(d.stream, &OnWrite, buf);
  pa_buffer_attr attr;
  attr.maxlength = std::uint32_t(-1);
  const long latencyUs = PulseLatencyUs(d.rewrites);
  d.requestUs = RequestUs(latencyUs);
  attr.tlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(latencyUs), &d.format));
  attr.prebuf = std::uint32_t(-1);
  attr.minreq = std::uint32_t(pa_usec_to_bytes(pa_usec_t(d.requestUs), &d.format));
  attr.fragsize = std::uint32_t(-1);
  // The latency asked for is the whole way to the speakers, so the server
  // keeps its own buffer short to match.
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_INTERPOLATE_TIMING);
  const char* device = d.deviceName.empty() ? nullptr : d.deviceName.c_str();
  if (pa_stream_connect_playback(d.stream, device, &attr, flags, nullptr, nullptr) < 0)
    return false;
  const bool streaming = WaitFor(d, [&] {
    const pa_stream_state_t state = pa_stream_get_state(d.stream);
    return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
  });
  if (!streaming) return false;
  if (d.filler.OpenWake())
    d.wakeEvent = pa_threaded_mainloop_get_api(d.loop)->io_new(
        pa_threaded_mainloop_get_api(d.loop), d.filler.WakeFd(), PA_IO_EVENT_INPUT, &OnWake, buf);
  return true;
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
    d.filler.Reset();
    return FALSE;
  }
  return TRUE;
}

gboolean CloseDevice(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  CloseConnection(d);
  d.filler.Reset();
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
    GST_ELEMENT_ERROR(
        d.sink, RESOURCE, SETTINGS, ("The sound does not suit the PulseAudio output."),
        ("%d Hz, %d channels for a stream of %u Hz, %u channels", GST_AUDIO_INFO_RATE(&spec->info),
         channels, d.format.rate, unsigned(d.format.channels)));
    return FALSE;
  }
  d.filler.Acquire(buf, spec,
                   std::max(1, int(std::lround(double(d.requestUs) * d.format.rate / 1e6))));
  return TRUE;
}

gboolean Release(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  d.filler.Reader().Release(buf, d.gone);
  return TRUE;
}

gboolean StartOrStop(GstAudioRingBuffer* buf) {
  // The stream runs from open to close; the ring's state decides whether
  // it is filled from the ring, and the change is written at once.
  DeviceOf(buf).filler.Wake();
  return TRUE;
}

guint Delay(GstAudioRingBuffer* buf) {
  return DeviceOf(buf).filler.Delay();
}

void ClearAll(GstAudioRingBuffer* buf) {
  GST_AUDIO_RING_BUFFER_CLASS(pulse_ring_parent_class)->clear_all(buf);
  // Cleared for a flush: what is written next is other sound.
  DeviceOf(buf).filler.Cleared();
}

// Streaming thread: keeps how far the ring holds sound, and lets a start
// waiting for it go on.
guint Commit(GstAudioRingBuffer* buf, guint64* sample, guint8* data, gint in, gint out,
             gint* accum) {
  return DeviceOf(buf).filler.Commit(GST_AUDIO_RING_BUFFER_CLASS(pulse_ring_parent_class)->commit,
                                     buf, sample, data, in, out, accum);
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
  ring->commit = Commit;
  G_OBJECT_CLASS(klass)->finalize = RingFinalize;
}

void pulse_ring_init(PulseRing* ring) {
  ring->device = new Device;
}

GstAudioRingBuffer* CreateRing(GstAudioBaseSink* base) {
  auto* sink = reinterpret_cast<PulseSink*>(base);
  auto* ring = static_cast<PulseRing*>(g_object_new(pulse_ring_get_type(), nullptr));
  ring->device->clientName = sink->clientName ? sink->clientName : "tastivo";
  ring->device->deviceName = sink->device ? sink->device : "";
  ring->device->sink = GST_ELEMENT(base);
  return GST_AUDIO_RING_BUFFER(ring);
}

// The stream's rate and channels, once it is open.
GstCaps* GetCaps(GstBaseSink* base, GstCaps* filter) {
  int rate = 0, channels = 0;
  if (GstAudioRingBuffer* ring = RingOf(base)) {
    const Device& d = DeviceOf(ring);
    if (d.stream != nullptr) rate = int(d.format.rate), channels = int(d.format.channels);
    gst_object_unref(ring);
  }
  return OutputCaps(base, filter, rate, channels);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  auto* sink = reinterpret_cast<PulseSink*>(object);
  if (id == kPropClientName) {
    g_free(sink->clientName);
    sink->clientName = g_value_dup_string(value);
  } else if (id == kPropDevice) {
    g_free(sink->device);
    sink->device = g_value_dup_string(value);
  } else {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  auto* sink = reinterpret_cast<PulseSink*>(object);
  if (id == kPropClientName)
    g_value_set_string(value, sink->clientName);
  else if (id == kPropDevice)
    g_value_set_string(value, sink->device);
  else
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

void SinkFinalize(GObject* object) {
  g_free(reinterpret_cast<PulseSink*>(object)->clientName);
  g_free(reinterpret_cast<PulseSink*>(object)->device);
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
  g_object_class_install_property(
      object, kPropDevice,
      g_param_spec_string("device", "Device", "The server's sink to play on (its default if unset)",
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
  sink->device = nullptr;
}

}  // namespace

long PulseLatencyUs(bool serverRewrites) {
  const char* text = std::getenv("TASTIVO_PULSE_LATENCY_US");
  const long asked = text ? std::atol(text) : 0;
  if (asked > 0) return std::max(asked, 2'000L);
  // Where starts and cuts are written over the queue, a long one costs
  // nothing and rides out a busy machine; elsewhere they wait behind it.
  return serverRewrites ? 40'000L : 20'000L;
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
