#include "engine/outputs/JackOutput.h"

#include "engine/cue/ArmedStart.h"

#include "engine/outputs/OutputSink.h"
#include "engine/outputs/PortMemory.h"
#include "engine/stages/GainRamp.h"
#include "platform/KeyTrace.h"

#include <jack/jack.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace engine {

namespace {

// A window plays in stereo (in mono on a server with one physical output):
// its clips' sound is converted to that, and a studio interface with many
// outputs gets the window on its first two, as a patchbay would connect a
// player, instead of on every one.
constexpr int kMaxChannels = 2;

// A client of the server with two output ports (one on a server with a
// single physical output), connected to the server's first physical
// outputs; the server's process thread reads the ring a period at a time.
class JackDevice : public OutputDevice {
 public:
  explicit JackDevice(const OutputSettings& settings)
      : clientName_(settings.clientName), server_(settings.device) {}
  ~JackDevice() override { StopKeeping(); }

  bool Open() override;
  void Close() override;
  void UsePorts(std::shared_ptr<PortMemory> ports) override { memory_ = std::move(ports); }

  OutputFormat Format() const override {
    if (client_ == nullptr) return {};
    return {int(rate_), int(ports_.size())};
  }

  // One segment is one server period, as it is now: the process thread
  // reads one a cycle.
  int SegmentFrames() override { return int(jack_get_buffer_size(client_)); }

  // The server's own report of how long its ports take to the speakers.
  unsigned Delay() override {
    if (client_ == nullptr || Gone()) return 0;
    unsigned most = 0;
    for (jack_port_t* port : ports_) {
      jack_latency_range_t range{};
      jack_port_get_latency_range(port, JackPlaybackLatency, &range);
      most = std::max(most, unsigned(range.max));
    }
    return most;
  }

 private:
  static int Process(jack_nframes_t frames, void* arg);
  const float* ReadCycle(jack_nframes_t frames);
  static void ServerGone(void* arg);
  static void GraphChanged(void* arg);
  // Connects the ports as remembered, or to the first physical outputs.
  void ConnectFirst(const char** physical);
  // Keeps the remembered connections: looks at the graph whenever it
  // changed, off the server's threads, since a client may not connect
  // ports from inside its callbacks.
  void KeepConnections();
  void LookAtConnections();
  void StopKeeping();

  std::string clientName_;
  std::string server_;  // "" for the default server
  std::shared_ptr<PortMemory> memory_;
  std::thread keeper_;
  std::mutex keeperMutex_;
  std::condition_variable keeperWake_;
  bool graphChanged_ = false, stopKeeping_ = false;
  jack_client_t* client_ = nullptr;
  std::vector<jack_port_t*> ports_;
  // The window's armed starts, found by the client's name when it opens,
  // and where their heads are mixed over the ring's sound.
  std::shared_ptr<ArmedStart> armed_;
  std::vector<float> mixed_;
  jack_nframes_t rate_ = 0;
};

const OutputKind kJack("tastivojacksink", "TastivoJackSink", "Tastivo JACK output",
                       "Plays sound on a JACK server, fading every cut", 0, true, true,
                       "The JACK server went away.", "The sound does not suit the JACK server.",
                       &MakeDevice<JackDevice>, true);

// Runs on the server's process thread; must not block.
int JackDevice::Process(jack_nframes_t frames, void* arg) {
  auto& d = *static_cast<JackDevice*>(arg);
  RingReader& reader = d.Reader();
  const int channels = int(d.ports_.size());
  // A period longer than the reader was made for plays silence.
  if (d.armed_) d.armed_->CycleBegins();
  GstAudioRingBuffer* ring = d.Ring();
  const guint64 at =
      reader.Position(ring) + guint64(ring->segbase) * guint64(std::max(0, ring->samples_per_seg));
  const float* io = int(frames) <= reader.MaxFrames() ? d.ReadCycle(frames) : nullptr;
  if (io != nullptr && d.armed_) {
    const ArmedStart::Output self{&d, reader.RampFrames(), int(d.rate_), channels,
                                  jack_last_frame_time(d.client_)};
    d.armed_->MixFor(self, io, d.mixed_.data(), int(frames), at, reader.Played());
    io = d.mixed_.data();
  }
  for (int c = 0; c < channels; ++c) {
    auto* out = static_cast<float*>(jack_port_get_buffer(d.ports_[c], frames));
    if (io == nullptr) {
      std::fill_n(out, frames, 0.0f);
      continue;
    }
    for (jack_nframes_t f = 0; f < frames; ++f) out[f] = io[f * channels + c];
  }
  if (io != nullptr && reader.Played()) platform::KeyTrace::Stamp(platform::KeyTrace::kRead);
  if (d.armed_) d.armed_->CycleEnds();
  return 0;
}

// Runs on the server's process thread: the ring's next period, with a
// start placed on the shared clock put on its frame. The server's times are
// microseconds of the machine's monotonic clock, which the shared clock is.
// On a loaded machine they are now and then read torn, far off in their
// high bits: they are read again, and a cycle whose times are still off
// places nothing.
const float* JackDevice::ReadCycle(jack_nframes_t frames) {
  const double periodUs = double(frames) * 1e6 / rate_;
  jack_nframes_t cycleFrame = 0;
  jack_time_t cycleUs = 0, nextUs = 0;
  float estimateUs = 0;
  bool known = false;
  for (int tries = 0; tries < 3 && !known && frames > 0; ++tries) {
    const bool read =
        jack_get_cycle_times(client_, &cycleFrame, &cycleUs, &nextUs, &estimateUs) == 0;
    const jack_time_t now = jack_get_time();
    // Torn times are off by years; a loaded machine's by milliseconds.
    const double spanUs = double(nextUs) - double(cycleUs);
    const double sinceUs = double(now) - double(cycleUs);
    known = read && spanUs > periodUs / 2 && spanUs < 2 * periodUs && std::fabs(sinceUs) < 1e6;
  }
  if (!known) return Reader().ReadPlaced(Ring(), int(frames), 0, 0);
  return Reader().ReadPlaced(Ring(), int(frames), std::uint64_t(cycleUs) * 1000,
                             double(nextUs - cycleUs) * 1000.0 / frames);
}

// Runs on a JACK thread when the server goes away; only flags it and tells
// the pipeline, which gives the output up.
void JackDevice::ServerGone(void* arg) {
  static_cast<JackDevice*>(arg)->Lose(GST_RESOURCE_ERROR_READ, "The JACK server went away.");
}

// Runs on a JACK notification thread; only wakes the keeper.
void JackDevice::GraphChanged(void* arg) {
  auto& d = *static_cast<JackDevice*>(arg);
  {
    std::lock_guard lock(d.keeperMutex_);
    d.graphChanged_ = true;
  }
  d.keeperWake_.notify_one();
}

void JackDevice::LookAtConnections() {
  std::vector<PortLink> connected;
  for (jack_port_t* port : ports_) {
    const char** others = jack_port_get_all_connections(client_, port);
    for (int i = 0; others != nullptr && others[i] != nullptr; ++i)
      connected.push_back({jack_port_short_name(port), others[i]});
    if (others != nullptr) jack_free(others);
  }
  // A port's number is used again for the next port registered, so the
  // port is told apart by its client's identifier, which never is.
  const auto make = memory_->Look(connected, [this](const std::string& name) -> std::uint64_t {
    const jack_port_t* port = jack_port_by_name(client_, name.c_str());
    if (port == nullptr) return 0;
    const std::string full = jack_port_name(port);
    char* uuid = jack_get_uuid_for_client_name(client_, full.substr(0, full.find(':')).c_str());
    if (uuid == nullptr) return 0;
    const std::uint64_t id = std::strtoull(uuid, nullptr, 10);
    jack_free(uuid);
    return id == 0 ? 1 : id;
  });
  const std::string self = jack_get_client_name(client_);
  for (const PortLink& link : make)
    if (jack_connect(client_, (self + ":" + link.own).c_str(), link.other.c_str()) != 0)
      memory_->NotMade(link);
}

void JackDevice::KeepConnections() {
  std::unique_lock lock(keeperMutex_);
  while (!stopKeeping_) {
    keeperWake_.wait(lock, [this] { return graphChanged_ || stopKeeping_; });
    if (stopKeeping_ || Gone()) break;
    graphChanged_ = false;
    lock.unlock();
    LookAtConnections();
    lock.lock();
  }
}

void JackDevice::StopKeeping() {
  if (!keeper_.joinable()) return;
  {
    std::lock_guard lock(keeperMutex_);
    stopKeeping_ = true;
  }
  keeperWake_.notify_one();
  keeper_.join();
}

void JackDevice::ConnectFirst(const char** physical) {
  if (memory_ && !memory_->Empty()) {
    memory_->Restart();
    LookAtConnections();
    return;
  }
  for (std::size_t c = 0; physical != nullptr && c < ports_.size() && physical[c] != nullptr; ++c)
    jack_connect(client_, jack_port_name(ports_[c]), physical[c]);
  // What it was connected to becomes what is remembered.
  if (memory_) LookAtConnections();
}

bool JackDevice::Open() {
  gone_ = false;
  jack_status_t status{};
  const auto options = jack_options_t(JackNoStartServer | (server_.empty() ? 0 : JackServerName));
  client_ = jack_client_open(clientName_.c_str(), options, &status, server_.c_str());
  if (client_ == nullptr) {
    char detail[48];
    std::snprintf(detail, sizeof detail, "jack_client_open status 0x%x", unsigned(status));
    Fail(GST_RESOURCE_ERROR_OPEN_WRITE, "No JACK server is running.", detail);
    return false;
  }
  rate_ = jack_get_sample_rate(client_);
  const char** physical = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                         JackPortIsPhysical | JackPortIsInput);
  int count = 0;
  while (physical != nullptr && physical[count] != nullptr) ++count;
  const int channels = std::clamp(count == 0 ? 2 : count, 1, kMaxChannels);
  for (int c = 0; c < channels; ++c) {
    const std::string name = "out_" + std::to_string(c + 1);
    jack_port_t* port =
        jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (port == nullptr) break;
    ports_.push_back(port);
  }
  // Room for the longest period a server is likely to change to while it
  // runs; a longer one plays silence rather than overrun the reader.
  const int ramp = FadesEnabled() ? std::max(1, int(std::lround(kRampSeconds * rate_))) : 0;
  Reader().Prepare(int(ports_.size()), ramp,
                   int(std::max<jack_nframes_t>(jack_get_buffer_size(client_), 8192)));
  Reader().FadeWhenStarved();
  armed_ = ArmedStart::OfOutput(clientName_);
  if (armed_) {
    mixed_.assign(std::size_t(Reader().MaxFrames()) * ports_.size(), 0.0f);
    Reader().PinStartsTo([armed = armed_.get()](const std::function<guint64()>& nextRead) {
      return guint64(armed->PinnedStart([&] { return std::uint64_t(nextRead()); }));
    });
  } else {
    Reader().PinStartsTo(nullptr);
  }
  bool ok = !ports_.empty();
  ok = ok && jack_set_process_callback(client_, &Process, this) == 0;
  if (ok) jack_on_shutdown(client_, &ServerGone, this);
  if (ok && memory_) {
    jack_set_port_registration_callback(
        client_, [](jack_port_id_t, int, void* arg) { GraphChanged(arg); }, this);
    jack_set_port_connect_callback(
        client_, [](jack_port_id_t, jack_port_id_t, int, void* arg) { GraphChanged(arg); }, this);
  }
  ok = ok && jack_activate(client_) == 0;
  if (ok) ConnectFirst(physical);
  if (physical != nullptr) jack_free(physical);
  if (ok && memory_) {
    stopKeeping_ = false;
    graphChanged_ = false;
    keeper_ = std::thread([this] { KeepConnections(); });
  }
  if (!ok) {
    Fail(GST_RESOURCE_ERROR_OPEN_WRITE, "The JACK output could not be set up.");
    jack_client_close(client_);
    client_ = nullptr;
    ports_.clear();
    return false;
  }
  return true;
}

void JackDevice::Close() {
  StopKeeping();
  // A client whose server went away is let go of, not closed: closing it
  // breaks the other clients of the process that shared the connection.
  if (client_ != nullptr && !Gone()) {
    jack_deactivate(client_);
    jack_client_close(client_);
  }
  client_ = nullptr;
  ports_.clear();
  if (armed_) armed_->Release(this);
  Reader().Reset();
}

}  // namespace

GstElement* MakeJackOutput(const std::string& clientName, const std::string& server,
                           std::shared_ptr<PortMemory> ports) {
  GstElement* sink = MakeOutputSink(kJack, {clientName, server});
  if (sink != nullptr && ports) g_object_set(sink, "port-memory", &ports, nullptr);
  return sink;
}

}  // namespace engine
