#include "platform/midi/RtMidiInputService.h"

#include "platform/KeyTrace.h"
#include "platform/midi/SpscRing.h"

#include <RtMidi.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>
#include <utility>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Not "Tastivo": that is the name of the first window's sound output, and
// JACK would rename whichever client came second.
constexpr const char* kClientName = "Tastivo MIDI In";
constexpr const char* kPortName = "Tastivo Midi In";

struct Pending {
  unsigned notice = 0;
  std::uint32_t message = 0;
  std::uint32_t timeStamp = 0;
  std::uint32_t run = 0;  // the started run it arrived in
};

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

}  // namespace

struct RtMidiInputService::Port {
  MidiInHandle handle = 0;
  MidiInCallback callback = nullptr;
  void* instance = nullptr;
  std::atomic<MidiInputService::MidiInTaken> taken{nullptr};
  MidiPortId source;
  std::unique_ptr<RtMidiIn> in;  // ALSA ports

  // JACK ports: a client of our own with one MIDI input port. Its process
  // callback reads the events without RtMidi, which would allocate a
  // message for each one on the process thread; and it hears the server
  // shut down, where RtMidi would go on listing the ports of a dead server.
  jack_client_t* jack = nullptr;
  jack_port_t* jackPort = nullptr;
  std::atomic<bool> serverGone{false};

  // Shared with the MIDI system's thread: only atomics and the ring.
  SpscRing<Pending> ring{kRingCapacity};
  std::atomic<bool> started{false};
  std::atomic<std::uint32_t> run{0};
  std::atomic<std::int64_t> startedAtNs{0};
  std::atomic<std::uint64_t> overflows{0};
  std::atomic<std::uint64_t> arrived{0};
  int wakeFd = -1;

  // Between the window thread and the delivery thread.
  std::mutex mutex;  // guards what follows
  std::condition_variable idle;
  bool delivering = false;
  bool quit = false;
  std::thread delivery;
  std::thread::id deliveryId;
  std::string lastError;
  bool failed = false;

  Port() : wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  // The MIDI system may call in until its input is gone, so that goes first.
  ~Port() {
    in.reset();
    CloseJack();
    if (wakeFd >= 0) close(wakeFd);
  }

  // Once deactivated, the process callback is not running and never runs
  // again; a dead server's client can only be closed.
  void CloseJack() {
    if (jack == nullptr) return;
    if (!serverGone.load()) jack_deactivate(jack);
    jack_client_close(std::exchange(jack, nullptr));
    jackPort = nullptr;
  }

  bool OnDeliveryThread() {
    std::lock_guard lock(mutex);
    return std::this_thread::get_id() == deliveryId;
  }

  void Wake() {
    const std::uint64_t one = 1;
    // Only fails when the counter is full, and then a wake-up is pending.
    [[maybe_unused]] const auto written = write(wakeFd, &one, sizeof one);
  }

  void WaitForWake() {
    pollfd fd{wakeFd, POLLIN, 0};
    while (poll(&fd, 1, -1) < 0 && errno == EINTR) {
    }
    std::uint64_t count;
    [[maybe_unused]] const auto got = read(wakeFd, &count, sizeof count);
  }

  void Deliver() {
    {
      std::lock_guard lock(mutex);
      deliveryId = std::this_thread::get_id();
    }
    Pending next;
    for (;;) {
      if (!ring.TryPop(next)) {
        {
          std::lock_guard lock(mutex);
          if (quit) return;
        }
        WaitForWake();
        continue;
      }
      std::unique_lock lock(mutex);
      if (quit) return;
      // Messages of an earlier run, or of no run, were dropped by Reset().
      if (!started.load() || next.run != run.load()) continue;
      delivering = true;
      lock.unlock();
      KeyTrace::Stamp(KeyTrace::kNoteDelivered);
      callback(handle, next.notice, instance, next.message, next.timeStamp);
      lock.lock();
      delivering = false;
      idle.notify_all();
    }
  }

  // Stops delivering; waits for a delivery in progress unless it is ours.
  void Halt(bool andQuit) {
    const bool fromCallback = OnDeliveryThread();
    std::unique_lock lock(mutex);
    started.store(false);
    if (andQuit) quit = true;
    Wake();
    if (!fromCallback) idle.wait(lock, [this] { return !delivering; });
  }
};

namespace {

// Runs on JACK's process thread or ALSA's input thread; must not block,
// lock or allocate: it shows the message to the port's taken callback, if
// any, and puts it into the port's ring.
void Take(RtMidiInputService::Port* port, const unsigned char* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0 || !port->started.load(std::memory_order_acquire)) return;
  // Like the ALSA input: system-exclusive, time code, clock and active
  // sensing are not wanted (ports are never given system-exclusive buffers).
  if (bytes[0] == 0xF0 || bytes[0] == 0xF1 || bytes[0] == 0xF8 || bytes[0] == 0xFE) return;
  port->arrived.fetch_add(1, std::memory_order_relaxed);
  if (KeyTrace::Enabled() && length >= 3 && (bytes[0] & 0xF0) == 0x90 && bytes[2] > 0)
    KeyTrace::Stamp(KeyTrace::kNoteTaken);
  const PackedMidiMessage packed = PackMidiBytes(bytes, length);
  Pending pending;
  pending.notice = packed.kind == PackedMidiMessage::Kind::kShort ? kMidiInShortMessage
                                                                  : kMidiInInvalidShortMessage;
  pending.message = packed.message;
  pending.timeStamp = static_cast<std::uint32_t>(
      (NowNs() - port->startedAtNs.load(std::memory_order_relaxed)) / 1000000);
  pending.run = port->run.load(std::memory_order_acquire);
  if (packed.kind == PackedMidiMessage::Kind::kShort)
    if (const auto taken = port->taken.load(std::memory_order_acquire))
      taken(port->instance, packed.message);
  if (!port->ring.TryPush(pending)) {
    port->overflows.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  port->Wake();
}

// Runs on ALSA's input thread (RtMidi's).
void OnRtMidiMessage(double, std::vector<unsigned char>* bytes, void* userData) {
  if (bytes != nullptr)
    Take(static_cast<RtMidiInputService::Port*>(userData), bytes->data(), bytes->size());
}

// Runs on JACK's process thread; must not block, lock or allocate.
int OnJackProcess(jack_nframes_t frames, void* arg) {
  auto* port = static_cast<RtMidiInputService::Port*>(arg);
  void* buffer = jack_port_get_buffer(port->jackPort, frames);
  const jack_nframes_t count = jack_midi_get_event_count(buffer);
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) == 0) Take(port, event.buffer, event.size);
  }
  return 0;
}

// Runs on whichever thread made RtMidi report: the window thread for
// open and close, RtMidi's own threads for trouble during input.
void OnRtMidiError(RtMidiError::Type type, const std::string& text, void* userData) {
  auto* port = static_cast<RtMidiInputService::Port*>(userData);
  std::lock_guard lock(port->mutex);
  port->lastError = text;
  if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) port->failed = true;
}

// Runs on a JACK thread when the server shuts down or throws us out.
void OnJackShutdown(void* arg) {
  static_cast<std::atomic<bool>*>(arg)->store(true);
}

jack_client_t* OpenJackClient(const char* name) {
  jack_status_t status{};
  return jack_client_open(name, JackNoStartServer, &status);
}

// Whether a JACK port of that name exists; asked through `client`, or, when
// that is gone with its server, through a client to whatever server answers
// now.
bool JackPortListed(jack_client_t* client, bool clientGone, const std::string& name) {
  if (!clientGone) return jack_port_by_name(client, name.c_str()) != nullptr;
  jack_client_t* look = OpenJackClient("Tastivo MIDI look");
  if (look == nullptr) return false;
  const bool listed = jack_port_by_name(look, name.c_str()) != nullptr;
  jack_client_close(look);
  return listed;
}

// The index of port `id` among the ports `in` lists now, or -1.
int IndexOf(RtMidiIn& in, const MidiPortId& id) {
  const unsigned count = in.getPortCount();
  for (unsigned i = 0; i < count; ++i)
    if (MidiPortIdOf(id.api, in.getPortName(i)) == id) return static_cast<int>(i);
  return -1;
}

}  // namespace

RtMidiInputService::RtMidiInputService() = default;

RtMidiInputService::~RtMidiInputService() {
  std::vector<MidiInHandle> open;
  {
    std::lock_guard lock(mutex_);
    for (auto& [handle, port] : ports_) open.push_back(handle);
  }
  for (auto handle : open) Close(handle);
}

std::vector<std::string> RtMidiInputService::DeviceNames() {
  return MidiInputPortNames();
}

RtMidiInputService::Port* RtMidiInputService::Find(MidiInHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = ports_.find(handle);
  return it == ports_.end() ? nullptr : it->second.get();
}

MidiStatus RtMidiInputService::Open(MidiInHandle* handle, int deviceId, MidiInCallback callback,
                                    void* instance) {
  const MidiApi api = ChooseMidiInputApi();
  if (api == MidiApi::None) {
    if (handle) *handle = 0;
    return MidiStatus::Failure(MidiError::kNoService,
                               "No MIDI input system (JACK or ALSA) can be used on this machine.");
  }
  return OpenWith(handle, api, nullptr, deviceId, callback, instance);
}

MidiStatus RtMidiInputService::OpenPort(MidiInHandle* handle, const MidiPortId& id,
                                        MidiInCallback callback, void* instance) {
  if (id.Empty()) {
    if (handle) *handle = 0;
    return MidiStatus::Failure(MidiError::kBadDevice, "No MIDI input device was chosen.");
  }
  return OpenWith(handle, id.api, &id, -1, callback, instance);
}

MidiStatus RtMidiInputService::OpenWith(MidiInHandle* handle, MidiApi api, const MidiPortId* id,
                                        int deviceId, MidiInCallback callback, void* instance) {
  if (handle == nullptr || callback == nullptr)
    return MidiStatus::Failure(MidiError::kInvalidHandle, "No port or callback given.");
  *handle = 0;
  auto port = std::make_unique<Port>();
  if (port->wakeFd < 0)
    return MidiStatus::Failure(MidiError::kNoResources, "No eventfd for MIDI input.");
  port->callback = callback;
  port->instance = instance;
  if (api == MidiApi::Jack) {
    MidiStatus status = OpenJack(*port, id, deviceId);
    if (!status.ok()) return status;
  } else {
    MidiStatus status = OpenAlsa(*port, id, deviceId);
    if (!status.ok()) return status;
  }
  try {
    Port* raw = port.get();
    port->delivery = std::thread([raw] { raw->Deliver(); });
  } catch (const std::system_error& e) {
    return MidiStatus::Failure(MidiError::kNoResources,
                               std::string("No delivery thread for MIDI input: ") + e.what());
  }
  std::lock_guard lock(mutex_);
  port->handle = next_++;
  *handle = port->handle;
  ports_.emplace(port->handle, std::move(port));
  return MidiStatus::Success();
}

MidiStatus RtMidiInputService::OpenAlsa(Port& port, const MidiPortId* id, int deviceId) {
  try {
    port.in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
    port.in->setErrorCallback(&OnRtMidiError, &port);
    const unsigned count = port.in->getPortCount();
    if (id != nullptr) {
      deviceId = IndexOf(*port.in, *id);
      if (deviceId < 0)
        return MidiStatus::Failure(MidiError::kBadDevice,
                                   "The MIDI input device \"" + id->name + "\" is not connected.");
    } else if (deviceId < 0 || static_cast<unsigned>(deviceId) >= count) {
      return MidiStatus::Failure(MidiError::kBadDevice, "There is no MIDI input device number " +
                                                            std::to_string(deviceId) + "; " +
                                                            std::to_string(count) +
                                                            " device(s) are connected.");
    }
    port.source =
        MidiPortIdOf(MidiApi::Alsa, port.in->getPortName(static_cast<unsigned>(deviceId)));
    port.in->ignoreTypes(true, true, true);
    port.in->setCallback(&OnRtMidiMessage, &port);
    port.in->openPort(static_cast<unsigned>(deviceId), kPortName);
  } catch (const RtMidiError& e) {
    const auto code =
        e.getType() == RtMidiError::NO_DEVICES_FOUND ? MidiError::kNoService : MidiError::kDriver;
    return MidiStatus::Failure(code, e.getMessage());
  }
  std::string failure;
  {
    std::lock_guard lock(port.mutex);
    if (port.failed || !port.in->isPortOpen())
      failure = port.lastError.empty()
                    ? "MIDI input device " + std::to_string(deviceId) + " could not be opened."
                    : port.lastError;
  }
  if (!failure.empty()) return MidiStatus::Failure(MidiError::kDriver, std::move(failure));
  return MidiStatus::Success();
}

MidiStatus RtMidiInputService::OpenJack(Port& port, const MidiPortId* id, int deviceId) {
  port.jack = OpenJackClient(kClientName);
  if (port.jack == nullptr)
    return MidiStatus::Failure(MidiError::kNoService, "No JACK server answers.");
  jack_on_shutdown(port.jack, &OnJackShutdown, &port.serverGone);
  // The same list, in the same order, as MidiInputPorts() gives.
  std::string source;
  int count = 0;
  if (const char** names =
          jack_get_ports(port.jack, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
    for (; names[count] != nullptr; ++count) {
      const bool wanted =
          id != nullptr ? MidiPortIdOf(MidiApi::Jack, names[count]) == *id : count == deviceId;
      if (wanted && source.empty()) source = names[count];
    }
    jack_free(names);
  }
  if (source.empty()) {
    port.CloseJack();
    if (id != nullptr)
      return MidiStatus::Failure(MidiError::kBadDevice,
                                 "The MIDI input device \"" + id->name + "\" is not connected.");
    return MidiStatus::Failure(MidiError::kBadDevice,
                               "There is no MIDI input device number " + std::to_string(deviceId) +
                                   "; " + std::to_string(count) + " device(s) are connected.");
  }
  port.source = MidiPortIdOf(MidiApi::Jack, source);
  port.jackPort =
      jack_port_register(port.jack, kPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  std::string failure;
  if (port.jackPort == nullptr)
    failure = "JACK gave no MIDI input port.";
  else if (jack_set_process_callback(port.jack, &OnJackProcess, &port) != 0 ||
           jack_activate(port.jack) != 0)
    failure = "The JACK client for MIDI input could not be started.";
  else if (jack_connect(port.jack, source.c_str(), jack_port_name(port.jackPort)) != 0)
    failure = "The MIDI input device \"" + source + "\" could not be connected.";
  if (!failure.empty()) {
    port.CloseJack();
    return MidiStatus::Failure(MidiError::kDriver, std::move(failure));
  }
  return MidiStatus::Success();
}

void RtMidiInputService::SetTaken(MidiInHandle handle, MidiInTaken taken) {
  if (Port* port = Find(handle)) port->taken.store(taken, std::memory_order_release);
}

MidiStatus RtMidiInputService::Start(MidiInHandle handle) {
  Port* port = Find(handle);
  if (port == nullptr)
    return MidiStatus::Failure(MidiError::kInvalidHandle, "No such MIDI input port.");
  std::lock_guard lock(port->mutex);
  // A new run: whatever the ring still holds from before is not delivered.
  port->run.fetch_add(1);
  port->startedAtNs.store(NowNs());
  port->started.store(true, std::memory_order_release);
  return MidiStatus::Success();
}

MidiStatus RtMidiInputService::Reset(MidiInHandle handle) {
  Port* port = Find(handle);
  if (port == nullptr)
    return MidiStatus::Failure(MidiError::kInvalidHandle, "No such MIDI input port.");
  port->Halt(false);
  return MidiStatus::Success();
}

MidiStatus RtMidiInputService::Close(MidiInHandle handle) {
  std::unique_ptr<Port> port;
  {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(handle);
    if (it == ports_.end())
      return MidiStatus::Failure(MidiError::kInvalidHandle, "No such MIDI input port.");
    if (it->second->OnDeliveryThread())
      return MidiStatus::Failure(MidiError::kFromCallback,
                                 "A MIDI input port cannot be closed from its own callback.");
    port = std::move(it->second);
    ports_.erase(it);
  }
  // RtMidi's threads are gone once its input is destroyed; then the delivery
  // thread, its last user, can end.
  port->in.reset();
  port->CloseJack();
  port->Halt(true);
  port->delivery.join();
  return MidiStatus::Success();
}

MidiStatus RtMidiInputService::UnprepareHeader(MidiInHandle handle, MidiInHeader* header) {
  if (Find(handle) == nullptr)
    return MidiStatus::Failure(MidiError::kInvalidHandle, "No such MIDI input port.");
  if (header != nullptr) header->prepared = false;
  return MidiStatus::Success();
}

MidiStatus RtMidiInputService::SourcePresent(MidiInHandle handle, bool* present) {
  Port* port = Find(handle);
  if (port == nullptr || present == nullptr)
    return MidiStatus::Failure(MidiError::kInvalidHandle, "No such MIDI input port.");
  *present = false;
  try {
    if (port->source.api == MidiApi::Jack) {
      // Every client of a dead server is closed before a new client is
      // opened: libjack frees the old ones when a new one finds the server
      // changed, and closing them afterwards would touch freed memory.
      if (port->serverGone.load()) port->CloseJack();
      *present = JackPortListed(port->jack, port->jack == nullptr, port->source.name);
    } else {
      // ALSA's input thread reads from the port's sequencer handle; a
      // client of its own looks at the list.
      RtMidiIn look(RtMidi::LINUX_ALSA, "Tastivo MIDI ports");
      *present = IndexOf(look, port->source) >= 0;
    }
  } catch (const RtMidiError&) {
    // No MIDI system answers (a JACK server gone): the source is gone too.
    return MidiStatus::Success();
  }
  return MidiStatus::Success();
}

std::uint64_t RtMidiInputService::Overflows(MidiInHandle handle) {
  Port* port = Find(handle);
  return port == nullptr ? 0 : port->overflows.load();
}

std::uint64_t RtMidiInputService::Arrived(MidiInHandle handle) {
  Port* port = Find(handle);
  return port == nullptr ? 0 : port->arrived.load();
}

}  // namespace platform
