#include "engine/outputs/AlsaOutput.h"

#include "engine/stages/GainRamp.h"
#include "engine/outputs/QueueFiller.h"

#include <alsa/asoundlib.h>
#include <gst/audio/audio.h>
#include <gst/audio/gstaudiobasesink.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace platform::media {

namespace {

// A window plays in stereo (in mono on a mono device).
constexpr int kMaxChannels = 2;
// The rate asked for; the device's own nearest is taken, so nothing
// between us and the card resamples.
constexpr unsigned kRate = 48'000;
// The device wakes the filling thread this often, and the sink's ring
// buffer is cut into segments of that much.
constexpr unsigned kPeriodUs = 5'000;
// How far ahead of what the card plays a start or a cut is written: what
// it has already fetched can't be taken back.
constexpr double kMarginSeconds = 0.002;
// A running device that has taken nothing for this long is gone, though
// ALSA did not say so: a device played through a sound server's ALSA plugin
// just stops when the server goes away.
constexpr auto kStalledFor = std::chrono::seconds(2);

// What the ring buffer shares with the filling thread.
struct Device {
  std::string deviceName;      // "" for the default device
  GstElement* sink = nullptr;  // the element owning the ring, not owned
  snd_pcm_t* pcm = nullptr;
  unsigned rate = 0;
  int channels = 0;
  snd_pcm_uframes_t period = 0;
  std::atomic<bool> gone{false};
  std::atomic<bool> stop{false};
  QueueFiller filler;
  std::thread thread;
};

struct AlsaRing {
  GstAudioRingBuffer parent;
  Device* device;
};

struct AlsaRingClass {
  GstAudioRingBufferClass parent_class;
};

G_DEFINE_TYPE(AlsaRing, alsa_ring, GST_TYPE_AUDIO_RING_BUFFER)

struct AlsaSink {
  GstAudioBaseSink parent;
  gchar* device;
};

struct AlsaSinkClass {
  GstAudioBaseSinkClass parent_class;
};

G_DEFINE_TYPE(AlsaSink, alsa_sink, GST_TYPE_AUDIO_BASE_SINK)

enum { kPropDevice = 1 };

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(TASTIVO_OUTPUT_CAPS ", rate=(int)[1, MAX], channels=(int)[1, 2]"));

Device& DeviceOf(GstAudioRingBuffer* buf) {
  return *reinterpret_cast<AlsaRing*>(buf)->device;
}

// Filling thread: the device went away (a USB interface unplugged). Only
// flags it and tells the pipeline, which gives the output up.
void Lost(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  if (d.gone.exchange(true)) return;
  GiveUpRing(buf);
  if (d.sink != nullptr)
    GST_ELEMENT_ERROR(d.sink, RESOURCE, WRITE, ("The ALSA sound device went away."), (nullptr));
}

// The PCM's buffer as a queue written over from just ahead of what is
// heard: ALSA rewinds what the card has not played yet.
class PcmQueue : public QueuedDevice {
 public:
  explicit PcmQueue(Device& d) : d_(d) {}

  std::optional<std::uint64_t> Queued() override {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(d_.pcm, &delay) < 0) return std::nullopt;
    return std::uint64_t(std::max<snd_pcm_sframes_t>(delay, 0));
  }

  std::uint64_t TakeBack(std::uint64_t frames) override {
    const snd_pcm_sframes_t can = snd_pcm_rewindable(d_.pcm);
    if (can <= 0) return 0;
    const snd_pcm_sframes_t got =
        snd_pcm_rewind(d_.pcm, snd_pcm_uframes_t(std::min<std::uint64_t>(frames, can)));
    return got > 0 ? std::uint64_t(got) : 0;
  }

  bool Write(const float* io, int frames) override {
    for (int tries = 0; frames > 0 && tries < 100; ++tries) {
      const snd_pcm_sframes_t n = snd_pcm_writei(d_.pcm, io, snd_pcm_uframes_t(frames));
      if (n == -EAGAIN) {
        snd_pcm_wait(d_.pcm, 10);
        continue;
      }
      if (n < 0) {
        if (!Recover(int(n))) return false;
        continue;
      }
      io += std::size_t(n) * d_.channels;
      frames -= int(n);
    }
    return frames == 0;
  }

  // After a failure: an underrun (the machine stalled) or a suspend is
  // got over; anything else is the device going away.
  bool Recover(int error) {
    if (error == -ESTRPIPE) {
      for (int i = 0; i < 100 && snd_pcm_resume(d_.pcm) == -EAGAIN; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      error = -EPIPE;
    }
    return error == -EPIPE && snd_pcm_prepare(d_.pcm) == 0;
  }

 private:
  Device& d_;
};

// The filling thread: keeps the device's buffer full from the ring, and
// writes a start or a cut over it as soon as the ring starts, stops, is
// cleared or is given sound (each of which wakes it).
void Run(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  PcmQueue queue(d);
  const int count = snd_pcm_poll_descriptors_count(d.pcm);
  std::vector<pollfd> fds(std::size_t(std::max(count, 0)) + 1);
  fds[0] = {d.filler.WakeFd(), POLLIN, 0};
  if (count > 0) snd_pcm_poll_descriptors(d.pcm, &fds[1], unsigned(count));
  bool waiting = false;                           // a start waits for the ring's first sound
  auto heard = std::chrono::steady_clock::now();  // the device last asked for sound
  while (!d.stop.load()) {
    // While a start waits, the device's room is no reason to wake: the
    // ring being given sound is.
    const int polled = waiting ? 1 : int(fds.size());
    if (poll(fds.data(), nfds_t(polled), waiting ? 2 : 200) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) d.filler.TakeWakes();
    if (d.stop.load()) break;
    unsigned short revents = 0;
    if (!waiting && count > 0)
      snd_pcm_poll_descriptors_revents(d.pcm, &fds[1], unsigned(count), &revents);
    if ((revents & (POLLERR | POLLNVAL)) && snd_pcm_state(d.pcm) == SND_PCM_STATE_DISCONNECTED) {
      Lost(buf);
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if ((revents & POLLOUT) || snd_pcm_state(d.pcm) != SND_PCM_STATE_RUNNING) {
      heard = now;
    } else if (now - heard > kStalledFor) {
      Lost(buf);
      break;
    }
    const snd_pcm_sframes_t room = snd_pcm_avail(d.pcm);
    if (room < 0) {
      if (!queue.Recover(int(room))) {
        Lost(buf);
        break;
      }
      continue;
    }
    const bool edge = d.filler.Reader().EdgeComing(buf) != RingReader::Edge::None;
    if (snd_pcm_uframes_t(room) < d.period && !edge) {
      waiting = false;
      continue;
    }
    waiting = !d.filler.Fill(buf, queue, std::uint64_t(room));
  }
}

// The PCM in our format: interleaved floats, stereo or mono, the device's
// rate near 48 kHz, a buffer of AlsaLatencyUs() in periods of kPeriodUs.
bool Configure(Device& d) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  unsigned rate = kRate, channels = kMaxChannels;
  unsigned bufferUs = unsigned(AlsaLatencyUs()), periodUs = std::min(kPeriodUs, bufferUs / 2);
  if (snd_pcm_hw_params_any(d.pcm, hw) < 0) return false;
  // Our own rate where the device has one near it: the stream resamples
  // on its way here, and nothing after it should.
  snd_pcm_hw_params_set_rate_resample(d.pcm, hw, 0);
  if (snd_pcm_hw_params_set_access(d.pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_format(d.pcm, hw, SND_PCM_FORMAT_FLOAT) < 0 ||
      snd_pcm_hw_params_set_channels_near(d.pcm, hw, &channels) < 0 ||
      snd_pcm_hw_params_set_rate_near(d.pcm, hw, &rate, nullptr) < 0)
    return false;
  snd_pcm_hw_params_set_period_time_near(d.pcm, hw, &periodUs, nullptr);
  snd_pcm_hw_params_set_buffer_time_near(d.pcm, hw, &bufferUs, nullptr);
  if (snd_pcm_hw_params(d.pcm, hw) < 0) return false;
  snd_pcm_uframes_t period = 0, buffer = 0;
  snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
  snd_pcm_hw_params_get_buffer_size(hw, &buffer);
  if (channels < 1 || int(channels) > kMaxChannels || period == 0 || buffer == 0) return false;

  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_sw_params_current(d.pcm, sw);
  // Starts once the buffer is full of (silent) sound, and wakes us for
  // every period of room.
  snd_pcm_sw_params_set_start_threshold(d.pcm, sw, buffer);
  snd_pcm_sw_params_set_avail_min(d.pcm, sw, period);
  if (snd_pcm_sw_params(d.pcm, sw) < 0) return false;
  d.rate = rate;
  d.channels = int(channels);
  d.period = period;
  return true;
}

// The device as named, else through ALSA's converter: a card's own device
// ("hw:0,0") may not take floats, or stereo.
bool OpenPcm(Device& d) {
  const std::string name = d.deviceName.empty() ? "default" : d.deviceName;
  for (const std::string& tried : {name, "plug:'" + name + "'"}) {
    if (snd_pcm_open(&d.pcm, tried.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
      d.pcm = nullptr;
      return false;
    }
    if (Configure(d)) return true;
    snd_pcm_close(d.pcm);
    d.pcm = nullptr;
    if (name.rfind("plug", 0) == 0) break;
  }
  return false;
}

void ClosePcm(Device& d) {
  if (d.thread.joinable()) {
    d.stop = true;
    d.filler.Wake();
    d.thread.join();
  }
  if (d.pcm != nullptr) {
    snd_pcm_drop(d.pcm);
    snd_pcm_close(d.pcm);
  }
  d.pcm = nullptr;
  d.filler.CloseWake();
}

gboolean OpenDevice(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  d.gone = false;
  d.stop = false;
  if (!OpenPcm(d)) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE, ("The ALSA sound device could not be opened."),
                      ("device \"%s\"", d.deviceName.empty() ? "default" : d.deviceName.c_str()));
    return FALSE;
  }
  const int ramp = FadesEnabled() ? std::max(1, int(std::lround(kRampSeconds * d.rate))) : 0;
  d.filler.Prepare(d.channels, int(d.rate), ramp, 4096, true, kMarginSeconds);
  if (!d.filler.OpenWake()) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE, ("The ALSA output could not be set up."),
                      (nullptr));
    ClosePcm(d);
    d.filler.Reset();
    return FALSE;
  }
  d.thread = std::thread(Run, buf);
  return TRUE;
}

gboolean CloseDevice(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  ClosePcm(d);
  d.filler.Reset();
  return TRUE;
}

gboolean Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec) {
  Device& d = DeviceOf(buf);
  if (d.pcm == nullptr || d.gone) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE, ("The ALSA sound device went away."),
                      (nullptr));
    return FALSE;
  }
  const int channels = GST_AUDIO_INFO_CHANNELS(&spec->info);
  if (GST_AUDIO_INFO_RATE(&spec->info) != int(d.rate) || channels != d.channels) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, SETTINGS, ("The sound does not suit the ALSA output."),
                      ("%d Hz, %d channels for a device at %u Hz, %d channels",
                       GST_AUDIO_INFO_RATE(&spec->info), channels, d.rate, d.channels));
    return FALSE;
  }
  d.filler.Acquire(buf, spec, int(d.period));
  return TRUE;
}

gboolean Release(GstAudioRingBuffer* buf) {
  Device& d = DeviceOf(buf);
  d.filler.Reader().Release(buf, d.gone);
  return TRUE;
}

gboolean StartOrStop(GstAudioRingBuffer* buf) {
  // The device runs from open to close; the ring's state decides whether
  // it is filled from the ring, and the change is written at once.
  DeviceOf(buf).filler.Wake();
  return TRUE;
}

guint Delay(GstAudioRingBuffer* buf) {
  return DeviceOf(buf).filler.Delay();
}

void ClearAll(GstAudioRingBuffer* buf) {
  GST_AUDIO_RING_BUFFER_CLASS(alsa_ring_parent_class)->clear_all(buf);
  // Cleared for a flush: what is written next is other sound.
  DeviceOf(buf).filler.Cleared();
}

// Streaming thread: keeps how far the ring holds sound, and lets a start
// waiting for it go on.
guint Commit(GstAudioRingBuffer* buf, guint64* sample, guint8* data, gint in, gint out,
             gint* accum) {
  return DeviceOf(buf).filler.Commit(GST_AUDIO_RING_BUFFER_CLASS(alsa_ring_parent_class)->commit,
                                     buf, sample, data, in, out, accum);
}

void RingFinalize(GObject* object) {
  delete reinterpret_cast<AlsaRing*>(object)->device;
  G_OBJECT_CLASS(alsa_ring_parent_class)->finalize(object);
}

void alsa_ring_class_init(AlsaRingClass* klass) {
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

void alsa_ring_init(AlsaRing* ring) {
  ring->device = new Device;
}

GstAudioRingBuffer* CreateRing(GstAudioBaseSink* base) {
  auto* sink = reinterpret_cast<AlsaSink*>(base);
  auto* ring = static_cast<AlsaRing*>(g_object_new(alsa_ring_get_type(), nullptr));
  ring->device->deviceName = sink->device ? sink->device : "";
  ring->device->sink = GST_ELEMENT(base);
  return GST_AUDIO_RING_BUFFER(ring);
}

// The device's rate and channels, once it is open.
GstCaps* GetCaps(GstBaseSink* base, GstCaps* filter) {
  int rate = 0, channels = 0;
  if (GstAudioRingBuffer* ring = RingOf(base)) {
    const Device& d = DeviceOf(ring);
    if (d.pcm != nullptr) rate = int(d.rate), channels = d.channels;
    gst_object_unref(ring);
  }
  return OutputCaps(base, filter, rate, channels);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  auto* sink = reinterpret_cast<AlsaSink*>(object);
  if (id == kPropDevice) {
    g_free(sink->device);
    sink->device = g_value_dup_string(value);
  } else {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  auto* sink = reinterpret_cast<AlsaSink*>(object);
  if (id == kPropDevice)
    g_value_set_string(value, sink->device);
  else
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

void SinkFinalize(GObject* object) {
  g_free(reinterpret_cast<AlsaSink*>(object)->device);
  G_OBJECT_CLASS(alsa_sink_parent_class)->finalize(object);
}

void alsa_sink_class_init(AlsaSinkClass* klass) {
  auto* object = G_OBJECT_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = SinkFinalize;
  g_object_class_install_property(
      object, kPropDevice,
      g_param_spec_string("device", "Device", "The ALSA device to play on (the default if unset)",
                          nullptr, GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &sinkTemplate);
  gst_element_class_set_static_metadata(element, "Tastivo ALSA output", "Sink/Audio",
                                        "Plays sound on an ALSA device, fading every cut",
                                        "Tastivo");
  GST_BASE_SINK_CLASS(klass)->get_caps = GetCaps;
  GST_AUDIO_BASE_SINK_CLASS(klass)->create_ringbuffer = CreateRing;
}

void alsa_sink_init(AlsaSink* sink) {
  sink->device = nullptr;
}

}  // namespace

long AlsaLatencyUs() {
  const char* text = std::getenv("TASTIVO_ALSA_LATENCY_US");
  const long asked = text ? std::atol(text) : 0;
  if (asked > 0) return std::max(asked, 4'000L);
  return 40'000L;
}

GstElement* MakeAlsaOutput(const std::string& device) {
  static std::once_flag once;
  std::call_once(once, [] {
    gst_element_register(nullptr, "tastivoalsasink", GST_RANK_NONE, alsa_sink_get_type());
  });
  GstElement* sink = gst_element_factory_make("tastivoalsasink", nullptr);
  if (sink != nullptr && !device.empty()) g_object_set(sink, "device", device.c_str(), nullptr);
  return sink;
}

bool IsAlsaOutput(GstElement* element) {
  return element != nullptr && G_TYPE_CHECK_INSTANCE_TYPE(element, alsa_sink_get_type());
}

}  // namespace platform::media
