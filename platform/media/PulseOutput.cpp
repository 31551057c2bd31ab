#include "platform/media/PulseOutput.h"

#include "platform/media/GainRamp.h"
#include "platform/media/RingReader.h"

#include <gst/audio/audio.h>
#include <gst/audio/gstaudiobasesink.h>
#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

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

// How far ahead of what is heard a start or a cut is written: the server
// can no longer take back the last moment of what it has mixed.
constexpr double kMarginSeconds = 0.002;

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
  std::atomic<guint> delayFrames{0};
  std::atomic<guint64> committed{0};  // the ring holds sound up to this sample
  std::atomic<bool> fresh{true};      // nothing committed since the ring was cleared
  RingReader reader;
  // Server thread only, made before the stream connects.
  std::uint64_t written = 0;   // frames written, as the stream counts them
  std::uint64_t ringEnd = 0;   // where the last of the ring's sound written ends
  std::vector<float> history;  // the last second written, by frame modulo its size
  std::vector<float> tail;     // one ramp of it, for a cut's fade
  int marginFrames = 0;
  // Wakes the server's thread (Wake).
  int wakeFd = -1;
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

// Frames written but not heard yet: what the server holds ahead of its
// speakers, counted back from its write index (which is ours: every write
// ends where the stream had got to).
std::optional<std::uint64_t> QueuedFrames(const Device& d) {
  pa_usec_t usec = 0;
  int negative = 0;
  if (pa_stream_get_latency(d.stream, &usec, &negative) < 0) return std::nullopt;
  return negative ? 0 : std::uint64_t(usec) * d.format.rate / 1'000'000u;
}

// Server thread, when the server has room for `bytes` more: fills it from
// the ring, or with silence, and keeps what the stream holds unheard for
// the sink's clock.
//
// The stream keeps tens of milliseconds queued, so that a busy machine
// never lets it run dry. A start or a cut is not put behind that: it is
// written over what is queued, from just ahead of what is being heard
// (the server takes back what it had not played yet), and the sound it
// writes over fades out under it, from a copy of what was written.
//
// `frames` more are written than were queued. A start waits (writes
// nothing) until the ring holds the sound it writes over the queue, which
// the streaming thread commits a moment after the ring starts; the queue
// is long enough to wait.
void Fill(GstAudioRingBuffer* buf, std::uint64_t frames) {
  Device& d = DeviceOf(buf);
  pa_stream* stream = d.stream;
  const int channels = d.format.channels;
  const std::size_t bpf = pa_frame_size(&d.format);
  const std::uint64_t kept = d.history.size() / std::size_t(channels);
  std::uint64_t at = d.written;
  bool hold = false;
  const RingReader::Edge edge = d.rewrites ? d.reader.EdgeComing(buf) : RingReader::Edge::None;
  if (edge != RingReader::Edge::None) {
    if (const auto queued = QueuedFrames(d)) {
      const std::uint64_t back = std::min(
          {*queued > std::uint64_t(d.marginFrames) ? *queued - d.marginFrames : 0, at, kept - 1});
      const std::uint64_t from = at - back;
      // The sound written over the queue must be in the ring already: a
      // start is written once the ring holds all of it, or once the queue
      // runs short of the time that waiting takes. Read before the
      // streaming thread has given any, the ring would be passed over as
      // silence and the clip's first frames dropped as late: then the old
      // sound is faded out instead, and the start written when it comes.
      const guint64 position = d.reader.Position(buf), committed = d.committed.load();
      const std::uint64_t ready = committed > position ? committed - position : 0;
      const bool queueShort = *queued <= std::uint64_t(2 * d.marginFrames);
      if (edge == RingReader::Edge::Start && ready < (at - from) + frames && !queueShort) return;
      hold = edge == RingReader::Edge::Start && ready == 0;
      if (from < at) {
        const int n = int(std::min<std::uint64_t>(at - from, std::uint64_t(d.reader.RampFrames())));
        for (int f = 0; f < n; ++f)
          std::copy_n(&d.history[((from + f) % kept) * channels], channels,
                      &d.tail[std::size_t(f) * channels]);
        d.reader.SetTail(d.tail.data(), n);
        frames += at - from;
        at = from;
        // What the ring gave past here is never heard.
        d.ringEnd = std::min(d.ringEnd, from);
      }
    }
  }
  bool first = true;
  while (frames > 0) {
    const int n = int(std::min<std::uint64_t>(frames, std::uint64_t(d.reader.MaxFrames())));
    const float* io = d.reader.Read(buf, n, hold);
    // Back from the write index to where the sound is written over.
    const std::int64_t seek = first ? -std::int64_t((d.written - at) * bpf) : 0;
    if (pa_stream_write(stream, io, std::size_t(n) * bpf, nullptr, seek, PA_SEEK_RELATIVE) < 0)
      break;
    for (int f = 0; f < n; ++f)
      std::copy_n(io + std::size_t(f) * channels, channels,
                  &d.history[((at + f) % kept) * channels]);
    at += std::uint64_t(n);
    if (d.reader.Played()) d.ringEnd = at;
    frames -= std::uint64_t(n);
    first = false;
  }
  d.written = std::max(at, d.written);
  // The sink's clock and the place of a start's first frame go by how much
  // of the ring's sound is still to be heard. Silence queued after a cut
  // is not: the next start is written over it.
  if (const auto queued = QueuedFrames(d)) {
    const std::uint64_t heard = d.written > *queued ? d.written - *queued : 0;
    d.delayFrames = guint(d.ringEnd > heard ? d.ringEnd - heard : 0);
  }
}

void OnWrite(pa_stream*, size_t bytes, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Fill(buf, bytes / pa_frame_size(&DeviceOf(buf).format));
}

// Server thread, woken by the ring starting, stopping, being cleared or
// given sound: a start or a cut is written at once instead of at the
// server's next request, some milliseconds later.
void OnWake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = DeviceOf(buf);
  std::uint64_t count = 0;
  while (read(fd, &count, sizeof count) > 0) {
  }
  if (!d.open || d.stream == nullptr || pa_stream_get_state(d.stream) != PA_STREAM_READY ||
      d.reader.EdgeComing(buf) == RingReader::Edge::None)
    return;
  const std::size_t room = pa_stream_writable_size(d.stream);
  Fill(buf, room == std::size_t(-1) ? 0 : room / pa_frame_size(&d.format));
}

// Any thread, under the ring's lock: never blocks.
void Wake(GstAudioRingBuffer* buf) {
  const Device& d = DeviceOf(buf);
  if (d.wakeFd < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto ignored = write(d.wakeFd, &one, sizeof one);
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
  if (d.wakeFd >= 0) close(d.wakeFd);
  d.wakeFd = -1;
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
  d.reader.Prepare(d.format.channels, ramp, 4096);
  d.written = 0;
  d.ringEnd = 0;
  d.history.assign(std::size_t(d.format.rate) * d.format.channels, 0.0f);
  d.tail.assign(std::size_t(std::max(ramp, 1)) * d.format.channels, 0.0f);
  d.marginFrames = int(std::lround(kMarginSeconds * d.format.rate));
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
  d.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (d.wakeFd >= 0)
    d.wakeEvent = pa_threaded_mainloop_get_api(d.loop)->io_new(
        pa_threaded_mainloop_get_api(d.loop), d.wakeFd, PA_IO_EVENT_INPUT, &OnWake, buf);
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
    GST_ELEMENT_ERROR(
        d.sink, RESOURCE, SETTINGS, ("The sound does not suit the PulseAudio output."),
        ("%d Hz, %d channels for a stream of %u Hz, %u channels", GST_AUDIO_INFO_RATE(&spec->info),
         channels, d.format.rate, unsigned(d.format.channels)));
    return FALSE;
  }
  d.committed.store(0);
  d.fresh.store(true);
  d.reader.Acquire(buf, spec,
                   std::max(1, int(std::lround(double(d.requestUs) * d.format.rate / 1e6))),
                   int(d.format.rate));
  return TRUE;
}

gboolean Release(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  d.reader.Release(buf, d.gone);
  return TRUE;
}

gboolean StartOrStop(GstAudioRingBuffer* buf) {
  // The stream runs from open to close; the ring's state decides whether
  // it is filled from the ring, and the change is written at once.
  Wake(buf);
  return TRUE;
}

guint Delay(GstAudioRingBuffer* buf) {
  return DeviceOf(buf).delayFrames.load();
}

void ClearAll(GstAudioRingBuffer* buf) {
  GST_AUDIO_RING_BUFFER_CLASS(pulse_ring_parent_class)->clear_all(buf);
  // Cleared for a flush: what is written next is other sound.
  DeviceOf(buf).committed.store(0);
  DeviceOf(buf).fresh.store(true);
  DeviceOf(buf).reader.Refilled();
  Wake(buf);
}

// Streaming thread: keeps how far the ring holds sound, and lets a start
// waiting for it go on.
//
// The first sound after the ring was cleared is placed by the sink's clock,
// which may put it a little behind what the stream has already taken from
// the ring; the ring would drop those first frames as late, and with them
// the clip's attack (or the ramp that starts a sound inside a clip). It
// starts instead at the first frame still to be taken, as any start does.
guint Commit(GstAudioRingBuffer* buf, guint64* sample, guint8* data, gint in, gint out,
             gint* accum) {
  Device& d = DeviceOf(buf);
  if (d.fresh.exchange(false)) {
    const guint64 next =
        guint64(g_atomic_int_get(&buf->segdone) - buf->segbase) * guint64(buf->samples_per_seg);
    if (*sample < next) *sample = next;
  }
  const guint64 before = *sample;
  const guint n = GST_AUDIO_RING_BUFFER_CLASS(pulse_ring_parent_class)
                      ->commit(buf, sample, data, in, out, accum);
  d.committed.store(std::max(*sample, before + n));
  Wake(buf);
  return n;
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
