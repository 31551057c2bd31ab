#include "engine/outputs/JackOutput.h"

#include "engine/stages/GainRamp.h"
#include "engine/outputs/RingReader.h"

#include <gst/audio/audio.h>
#include <gst/audio/gstaudiobasesink.h>
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

namespace platform::media {

namespace {

// A window plays in stereo (in mono on a server with one physical output):
// its clips' sound is converted to that, and a studio interface with many
// outputs gets the window on its first two, as a patchbay would connect a
// player, instead of on every one.
constexpr int kMaxChannels = 2;

// What the ring buffer shares with the server's process thread.
struct Device {
  std::string clientName;
  GstElement* sink = nullptr;  // the element owning the ring, not owned
  jack_client_t* client = nullptr;
  std::vector<jack_port_t*> ports;
  jack_nframes_t rate = 0;
  jack_nframes_t period = 0;
  std::atomic<bool> gone{false};
  RingReader reader;
};

struct JackRing {
  GstAudioRingBuffer parent;
  Device* device;
};

struct JackRingClass {
  GstAudioRingBufferClass parent_class;
};

G_DEFINE_TYPE(JackRing, jack_ring, GST_TYPE_AUDIO_RING_BUFFER)

struct JackSink {
  GstAudioBaseSink parent;
  gchar* clientName;
};

struct JackSinkClass {
  GstAudioBaseSinkClass parent_class;
};

G_DEFINE_TYPE(JackSink, jack_sink, GST_TYPE_AUDIO_BASE_SINK)

enum { kPropClientName = 1 };

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(TASTIVO_OUTPUT_CAPS ", rate=(int)[1, MAX], channels=(int)[1, MAX]"));

JackRing* Ring(GstAudioRingBuffer* buf) {
  return reinterpret_cast<JackRing*>(buf);
}

// Runs on the server's process thread; must not block.
int Process(jack_nframes_t frames, void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = *Ring(buf)->device;
  const int channels = int(d.ports.size());
  // A period longer than the reader was made for plays silence.
  const float* io = int(frames) <= d.reader.MaxFrames() ? d.reader.Read(buf, int(frames)) : nullptr;
  for (int c = 0; c < channels; ++c) {
    auto* out = static_cast<float*>(jack_port_get_buffer(d.ports[c], frames));
    if (io == nullptr) {
      std::fill_n(out, frames, 0.0f);
      continue;
    }
    for (jack_nframes_t f = 0; f < frames; ++f) out[f] = io[f * channels + c];
  }
  return 0;
}

// Runs on a JACK thread when the server goes away; only flags it and tells
// the pipeline, which gives the output up.
void ServerGone(void* arg) {
  auto* buf = static_cast<GstAudioRingBuffer*>(arg);
  Device& d = *Ring(buf)->device;
  d.gone = true;
  GiveUpRing(buf);
  if (d.sink != nullptr)
    GST_ELEMENT_ERROR(d.sink, RESOURCE, READ, ("The JACK server went away."), (nullptr));
}

gboolean OpenDevice(GstAudioRingBuffer* buf) {
  Device& d = *Ring(buf)->device;
  jack_status_t status{};
  d.client = jack_client_open(d.clientName.c_str(), JackNoStartServer, &status);
  if (d.client == nullptr) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE, ("No JACK server is running."),
                      ("jack_client_open status 0x%x", unsigned(status)));
    return FALSE;
  }
  d.rate = jack_get_sample_rate(d.client);
  d.period = jack_get_buffer_size(d.client);
  const char** physical = jack_get_ports(d.client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                         JackPortIsPhysical | JackPortIsInput);
  int count = 0;
  while (physical != nullptr && physical[count] != nullptr) ++count;
  const int channels = std::clamp(count == 0 ? 2 : count, 1, kMaxChannels);
  for (int c = 0; c < channels; ++c) {
    const std::string name = "out_" + std::to_string(c + 1);
    jack_port_t* port =
        jack_port_register(d.client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (port == nullptr) break;
    d.ports.push_back(port);
  }
  // Room for the longest period a server is likely to change to while it
  // runs.
  const int ramp = FadesEnabled() ? std::max(1, int(std::lround(kRampSeconds * d.rate))) : 0;
  d.reader.Prepare(int(d.ports.size()), ramp, int(std::max<jack_nframes_t>(d.period, 8192)));
  bool ok = !d.ports.empty();
  ok = ok && jack_set_process_callback(d.client, &Process, buf) == 0;
  if (ok) jack_on_shutdown(d.client, &ServerGone, buf);
  ok = ok && jack_activate(d.client) == 0;
  if (ok && physical != nullptr)
    for (std::size_t c = 0; c < d.ports.size() && physical[c] != nullptr; ++c)
      jack_connect(d.client, jack_port_name(d.ports[c]), physical[c]);
  if (physical != nullptr) jack_free(physical);
  if (!ok) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE, ("The JACK output could not be set up."),
                      (nullptr));
    jack_client_close(d.client);
    d.client = nullptr;
    d.ports.clear();
    return FALSE;
  }
  return TRUE;
}

gboolean CloseDevice(GstAudioRingBuffer* buf) {
  Device& d = *Ring(buf)->device;
  // A client whose server went away is let go of, not closed: closing it
  // breaks the other clients of the process that shared the connection.
  if (d.client != nullptr && !d.gone) {
    jack_deactivate(d.client);
    jack_client_close(d.client);
  }
  d.client = nullptr;
  d.ports.clear();
  d.reader.Reset();
  return TRUE;
}

gboolean Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec) {
  Device& d = *Ring(buf)->device;
  if (d.client == nullptr || d.gone) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, OPEN_WRITE, ("The JACK server went away."), (nullptr));
    return FALSE;
  }
  const int channels = GST_AUDIO_INFO_CHANNELS(&spec->info);
  if (GST_AUDIO_INFO_RATE(&spec->info) != int(d.rate) || channels != int(d.ports.size())) {
    GST_ELEMENT_ERROR(d.sink, RESOURCE, SETTINGS, ("The sound does not suit the JACK server."),
                      ("%d Hz, %d channels for a server at %u Hz with %zu outputs",
                       GST_AUDIO_INFO_RATE(&spec->info), channels, d.rate, d.ports.size()));
    return FALSE;
  }
  // One segment is one server period, as it is now: the process thread
  // reads one a cycle.
  d.period = jack_get_buffer_size(d.client);
  d.reader.Acquire(buf, spec, int(d.period), int(d.rate));
  return TRUE;
}

gboolean Release(GstAudioRingBuffer* buf) {
  Device& d = *Ring(buf)->device;
  d.reader.Release(buf, d.gone);
  return TRUE;
}

gboolean StartOrStop(GstAudioRingBuffer*) {
  // The client runs from open to close; the ring's state decides whether
  // the process thread reads it.
  return TRUE;
}

guint Delay(GstAudioRingBuffer* buf) {
  Device& d = *Ring(buf)->device;
  guint most = 0;
  if (d.client == nullptr || d.gone) return 0;
  for (jack_port_t* port : d.ports) {
    jack_latency_range_t range{};
    jack_port_get_latency_range(port, JackPlaybackLatency, &range);
    most = std::max(most, guint(range.max));
  }
  return most;
}

void ClearAll(GstAudioRingBuffer* buf) {
  GST_AUDIO_RING_BUFFER_CLASS(jack_ring_parent_class)->clear_all(buf);
  // Cleared for a flush: what is written next is other sound.
  Ring(buf)->device->reader.Refilled();
}

void RingFinalize(GObject* object) {
  delete Ring(GST_AUDIO_RING_BUFFER(object))->device;
  G_OBJECT_CLASS(jack_ring_parent_class)->finalize(object);
}

void jack_ring_class_init(JackRingClass* klass) {
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

void jack_ring_init(JackRing* ring) {
  ring->device = new Device;
}

GstAudioRingBuffer* CreateRing(GstAudioBaseSink* base) {
  auto* sink = reinterpret_cast<JackSink*>(base);
  auto* ring = static_cast<JackRing*>(g_object_new(jack_ring_get_type(), nullptr));
  ring->device->clientName = sink->clientName ? sink->clientName : "tastivo";
  ring->device->sink = GST_ELEMENT(base);
  return GST_AUDIO_RING_BUFFER(ring);
}

// The server's rate and our port count, once the client is open.
GstCaps* GetCaps(GstBaseSink* base, GstCaps* filter) {
  int rate = 0, channels = 0;
  if (GstAudioRingBuffer* ring = RingOf(base)) {
    const Device& d = *Ring(ring)->device;
    if (d.client != nullptr) rate = int(d.rate), channels = int(d.ports.size());
    gst_object_unref(ring);
  }
  return OutputCaps(base, filter, rate, channels);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  auto* sink = reinterpret_cast<JackSink*>(object);
  if (id == kPropClientName) {
    g_free(sink->clientName);
    sink->clientName = g_value_dup_string(value);
  } else {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  auto* sink = reinterpret_cast<JackSink*>(object);
  if (id == kPropClientName)
    g_value_set_string(value, sink->clientName);
  else
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

void SinkFinalize(GObject* object) {
  g_free(reinterpret_cast<JackSink*>(object)->clientName);
  G_OBJECT_CLASS(jack_sink_parent_class)->finalize(object);
}

void jack_sink_class_init(JackSinkClass* klass) {
  auto* object = G_OBJECT_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = SinkFinalize;
  g_object_class_install_property(
      object, kPropClientName,
      g_param_spec_string("client-name", "Client name", "The name of the client on the server",
                          nullptr, GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &sinkTemplate);
  gst_element_class_set_static_metadata(element, "Tastivo JACK output", "Sink/Audio",
                                        "Plays sound on a JACK server, fading every cut",
                                        "Tastivo");
  GST_BASE_SINK_CLASS(klass)->get_caps = GetCaps;
  GST_AUDIO_BASE_SINK_CLASS(klass)->create_ringbuffer = CreateRing;
}

void jack_sink_init(JackSink* sink) {
  sink->clientName = nullptr;
}

}  // namespace

GstElement* MakeJackOutput(const std::string& clientName) {
  static std::once_flag once;
  std::call_once(once, [] {
    gst_element_register(nullptr, "tastivojacksink", GST_RANK_NONE, jack_sink_get_type());
  });
  GstElement* sink = gst_element_factory_make("tastivojacksink", nullptr);
  if (sink != nullptr && !clientName.empty())
    g_object_set(sink, "client-name", clientName.c_str(), nullptr);
  return sink;
}

bool IsJackOutput(GstElement* element) {
  return element != nullptr && G_TYPE_CHECK_INSTANCE_TYPE(element, jack_sink_get_type());
}

}  // namespace platform::media
