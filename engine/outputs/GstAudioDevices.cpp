// Audio outputs: the default sink and the machine's devices.

#include "engine/GstInternal.h"
#include "engine/MediaGraph.h"
#include "engine/MediaInternal.h"
#include "engine/outputs/AlsaOutput.h"
#include "engine/outputs/AudioOutputChoice.h"
#include "engine/outputs/JackOutput.h"
#include "engine/outputs/PortMemory.h"
#include "engine/outputs/PulseOutput.h"
#include "engine/outputs/SoundOutputList.h"

#include <gst/audio/gstaudiobasesink.h>
#include <jack/jack.h>
#include <unistd.h>

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace engine {

void EnsureGstInitialized() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Never let a probe start a sound server of its own.
    setenv("JACK_NO_START_SERVER", "1", 0);
    gst_init(nullptr, nullptr);
    // GStreamer's AIFF parser starts pushing from its own thread while the
    // decoder is still linking it, and about one load in ten stops there
    // for good; libav's AIFF reader shows its stream the safe way.
    // (Both are looked up in the registry: nothing is loaded before a clip
    // needs it.)
    GstElementFactory* libav = gst_element_factory_find("avdemux_aiff");
    GstElementFactory* parser = gst_element_factory_find("aiffparse");
    if (libav && parser) gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(parser), GST_RANK_NONE);
    if (libav) gst_object_unref(libav);
    if (parser) gst_object_unref(parser);
  });
}

namespace {

constexpr const char* kDefaultOutputName = "tastivo";

// True when the element can open its device.
bool Opens(GstElement* sink) {
  const bool ok = gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS;
  gst_element_set_state(sink, GST_STATE_NULL);
  return ok;
}

bool SinkOpens(const std::string& name) {
  GstElement* probe = gst_element_factory_make(name.c_str(), nullptr);
  if (probe == nullptr) return false;
  gst_object_ref_sink(probe);
  const bool ok = Opens(probe);
  gst_object_unref(probe);
  return ok;
}

// How much sound an output holds ahead of what its device plays, in µs
// ($TASTIVO_OUTPUT_BUFFER_US, for the bench that weighs it). The first
// sample of a start goes to the device's next period whatever this is;
// what it sets is how long the decoder may be kept from running on a loaded
// machine before the device runs dry, against how late a change made in
// the stream (a volume, a rate changed while a clip plays) is heard. A
// start costs the same at any size (bench_output), so the size that rides
// out the longest stall is kept: 200 ms, the outputs' own default.
gint64 OutputBufferUs() {
  if (const char* us = std::getenv("TASTIVO_OUTPUT_BUFFER_US"); us && std::atoll(us) > 0)
    return std::atoll(us);
  return 200'000;
}

// A JACK or PulseAudio server, or an ALSA device, gets our own output, which
// fades every cut it makes ($TASTIVO_STOCK_JACK_OUTPUT,
// $TASTIVO_STOCK_PULSE_OUTPUT and $TASTIVO_STOCK_ALSA_OUTPUT keep
// GStreamer's, to compare against).
GstElement* MakeSinkElement(const std::string& factory) {
  if (factory == "jackaudiosink" && std::getenv("TASTIVO_STOCK_JACK_OUTPUT") == nullptr)
    if (GstElement* ours = MakeJackOutput(std::string())) return ours;
  if (factory == "pulsesink" && std::getenv("TASTIVO_STOCK_PULSE_OUTPUT") == nullptr)
    if (GstElement* ours = MakePulseOutput(std::string())) return ours;
  if (factory == "alsasink" && std::getenv("TASTIVO_STOCK_ALSA_OUTPUT") == nullptr)
    if (GstElement* ours = MakeAlsaOutput(std::string())) return ours;
  return gst_element_factory_make(factory.c_str(), nullptr);
}

GstElement* Configure(GstElement* sink, const std::string& clientName);

GstElement* MakeSink(const std::string& factory, const std::string& clientName) {
  GstElement* sink = MakeSinkElement(factory);
  if (sink == nullptr) sink = gst_element_factory_make("fakesink", nullptr);
  return Configure(sink, clientName);
}

GstElement* Configure(GstElement* sink, const std::string& clientName) {
  if (sink == nullptr) return nullptr;
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "sync"))
    g_object_set(sink, "sync", TRUE, nullptr);
  if (GST_IS_AUDIO_BASE_SINK(sink)) {
    // A JACK output writes in the server's periods whatever latency-time
    // says; the others write in pieces of it.
    const gint64 buffer = OutputBufferUs();
    g_object_set(sink, "buffer-time", buffer, "latency-time", std::min<gint64>(10'000, buffer / 2),
                 nullptr);
  }
  // The name a sound server shows for this output (a JACK client's name).
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "client-name"))
    g_object_set(sink, "client-name", clientName.empty() ? kDefaultOutputName : clientName.c_str(),
                 nullptr);
  return sink;
}

// A PulseAudio or ALSA device chosen from the list plays through our output
// too, on that device, so its cuts fade as the default output's do.
GstElement* OwnOutputFor(GstElement* sink, const std::string& clientName) {
  GstElementFactory* factory = sink ? gst_element_get_factory(sink) : nullptr;
  const char* kind = factory ? GST_OBJECT_NAME(factory) : "";
  const bool pulse =
      g_strcmp0(kind, "pulsesink") == 0 && std::getenv("TASTIVO_STOCK_PULSE_OUTPUT") == nullptr;
  const bool alsa =
      g_strcmp0(kind, "alsasink") == 0 && std::getenv("TASTIVO_STOCK_ALSA_OUTPUT") == nullptr;
  if (!pulse && !alsa) return sink;
  gchar* device = nullptr;
  g_object_get(sink, "device", &device, nullptr);
  GstElement* ours = pulse ? MakePulseOutput(clientName.empty() ? kDefaultOutputName : clientName)
                           : MakeAlsaOutput(device ? device : "");
  if (ours != nullptr) {
    if (pulse) g_object_set(ours, "device", device, nullptr);
    gst_object_unref(gst_object_ref_sink(sink));
    sink = ours;
  }
  g_free(device);
  return sink;
}

struct Device {
  GstDevice* device;
  AudioDeviceMoniker moniker;
};

std::mutex& DevicesMutex() {
  static std::mutex m;
  return m;
}
std::vector<Device>& Devices() {
  static std::vector<Device> d;
  return d;
}

// A stable identifier from the device's name and properties, so the same
// device keeps its identifier from run to run.
std::string IdentifierFor(GstDevice* device) {
  std::string key;
  if (gchar* name = gst_device_get_display_name(device)) {
    key += name;
    g_free(name);
  }
  if (GstStructure* props = gst_device_get_properties(device)) {
    if (gchar* text = gst_structure_to_string(props)) {
      key += text;
      g_free(text);
    }
    gst_structure_free(props);
  }
  std::uint64_t h1 = 1469598103934665603ull, h2 = 1099511628211ull;
  for (unsigned char c : key) {
    h1 = (h1 ^ c) * 1099511628211ull;
    h2 = (h2 + c) * 6364136223846793005ull + 1442695040888963407ull;
  }
  Guid g;
  g.Data1 = static_cast<std::uint32_t>(h1 >> 32);
  g.Data2 = static_cast<std::uint16_t>(h1 >> 16);
  g.Data3 = static_cast<std::uint16_t>(h1);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(h2 >> (8 * i));
  return g.ToString();
}

}  // namespace

const AudioOutputChoice& DefaultAudioOutput() {
  static const AudioOutputChoice choice = [] {
    EnsureGstInitialized();
    const char* requested = std::getenv("TASTIVO_AUDIO_SINK");
    return ChooseAudioOutput(requested ? requested : "", &SinkOpens);
  }();
  return choice;
}

std::string DefaultAudioSinkName() {
  return DefaultAudioOutput().Sink;
}
bool HasRealAudioOutput() {
  return DefaultAudioOutput().Real;
}
GstElement* CreateDefaultAudioSink(const std::string& clientName) {
  return MakeSink(DefaultAudioOutput().Sink, clientName);
}

GstElement* CreateChosenAudioSink(const std::string& key, const std::string& clientName,
                                  const std::shared_ptr<PortMemory>& ports) {
  EnsureGstInitialized();
  const std::string device = DeviceOfSoundOutput(key);
  const std::string name = clientName.empty() ? kDefaultOutputName : clientName;
  switch (KindOfSoundOutput(key)) {
    case SoundOutputKind::Jack:
      return Configure(MakeJackOutput(name, device, ports), clientName);
    case SoundOutputKind::Pulse: {
      GstElement* sink = MakePulseOutput(name);
      if (sink != nullptr) g_object_set(sink, "device", device.c_str(), nullptr);
      return Configure(sink, clientName);
    }
    case SoundOutputKind::Alsa:
      return Configure(MakeAlsaOutput(device), clientName);
    case SoundOutputKind::Default:
      break;
  }
  GstElement* sink = CreateDefaultAudioSink(clientName);
  if (sink != nullptr && ports &&
      g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "port-memory"))
    g_object_set(sink, "port-memory", &ports, nullptr);
  return sink;
}

namespace {

// The JACK servers this user runs, by the sockets they keep in /dev/shm,
// each checked by a client that comes and goes.
std::vector<SoundOutput> JackServers() {
  std::vector<SoundOutput> servers;
  const QRegularExpression socket(
      QStringLiteral("^jack_(.+)_%1_0$").arg(QString::number(getuid())));
  const QStringList names = QDir(QStringLiteral("/dev/shm")).entryList(QDir::System | QDir::Files);
  for (const QString& entry : names) {
    const auto match = socket.match(entry);
    if (!match.hasMatch()) continue;
    const std::string server = match.captured(1).toStdString();
    jack_status_t status{};
    jack_client_t* probe =
        jack_client_open("tastivo-probe", jack_options_t(JackNoStartServer | JackServerName),
                         &status, server.c_str());
    if (probe == nullptr) continue;
    jack_client_close(probe);
    servers.push_back({SoundOutputKey(SoundOutputKind::Jack, server), "JACK: " + server});
  }
  return servers;
}

}  // namespace

std::vector<SoundOutput> ListSoundOutputs() {
  EnsureGstInitialized();
  std::vector<SoundOutput> outputs = JackServers();
  GstDeviceMonitor* monitor = gst_device_monitor_new();
  gst_device_monitor_add_filter(monitor, "Audio/Sink", nullptr);
  // The ALSA devices too, which a sound server's list otherwise hides.
  gst_device_monitor_set_show_all_devices(monitor, TRUE);
  std::vector<SoundOutput> alsa;
  if (gst_device_monitor_start(monitor)) {
    GList* list = gst_device_monitor_get_devices(monitor);
    for (GList* l = list; l != nullptr; l = l->next) {
      auto* device = GST_DEVICE(l->data);
      GstElement* element = gst_device_create_element(device, nullptr);
      if (element == nullptr) continue;
      GstElementFactory* factory = gst_element_get_factory(element);
      const char* kind = factory ? GST_OBJECT_NAME(factory) : "";
      gchar* name = nullptr;
      if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "device"))
        g_object_get(element, "device", &name, nullptr);
      gchar* label = gst_device_get_display_name(device);
      const std::string shown = label ? label : "";
      if (name != nullptr && *name != 0) {
        if (g_strcmp0(kind, "pulsesink") == 0)
          outputs.push_back(
              {SoundOutputKey(SoundOutputKind::Pulse, name), "PulseAudio/PipeWire: " + shown});
        else if (g_strcmp0(kind, "alsasink") == 0)
          alsa.push_back(
              {SoundOutputKey(SoundOutputKind::Alsa, name), "ALSA: " + shown + " (" + name + ")"});
      }
      g_free(label);
      g_free(name);
      gst_object_unref(gst_object_ref_sink(element));
    }
    g_list_free_full(list, gst_object_unref);
    gst_device_monitor_stop(monitor);
  }
  gst_object_unref(monitor);
  outputs.insert(outputs.end(), alsa.begin(), alsa.end());
  return outputs;
}

std::vector<AudioDeviceMoniker> EnumerateAudioRenderers() {
  EnsureGstInitialized();
  std::lock_guard lock(DevicesMutex());
  auto& devices = Devices();
  for (auto& d : devices) gst_object_unref(d.device);
  devices.clear();

  std::vector<AudioDeviceMoniker> result;
  if (HasRealAudioOutput()) {
    AudioDeviceMoniker def;
    def.ClassId = kClassDefaultAudioRenderer.ToString();
    def.FriendlyName = "Default Audio Device";
    result.push_back(def);
  }
  GstDeviceMonitor* monitor = gst_device_monitor_new();
  gst_device_monitor_add_filter(monitor, "Audio/Sink", nullptr);
  if (gst_device_monitor_start(monitor)) {
    GList* list = gst_device_monitor_get_devices(monitor);
    for (GList* l = list; l != nullptr; l = l->next) {
      auto* device = GST_DEVICE(l->data);
      AudioDeviceMoniker m;
      m.ClassId = IdentifierFor(device);
      if (gchar* name = gst_device_get_display_name(device)) {
        if (*name) m.FriendlyName = std::string(name);
        g_free(name);
      }
      devices.push_back({GST_DEVICE(gst_object_ref(device)), m});
      result.push_back(m);
    }
    g_list_free_full(list, gst_object_unref);
    gst_device_monitor_stop(monitor);
  }
  gst_object_unref(monitor);
  return result;
}

GstElement* CreateAudioDeviceSink(const std::string& classId, const std::string& clientName) {
  if (classId == kClassDefaultAudioRenderer.ToString()) return CreateDefaultAudioSink(clientName);
  std::lock_guard lock(DevicesMutex());
  for (auto& d : Devices())
    if (d.moniker.ClassId == classId)
      return OwnOutputFor(gst_device_create_element(d.device, nullptr), clientName);
  return nullptr;
}

}  // namespace engine
