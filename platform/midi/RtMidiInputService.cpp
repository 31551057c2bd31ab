#include "platform/midi/RtMidiInputService.h"

#include "platform/midi/MidiPorts.h"

#include <RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Not "Tastivo": that is the name of the first window's sound output, and
// JACK would rename whichever client came second.
constexpr const char* kClientName = "Tastivo MIDI In";
constexpr const char* kPortName = "Tastivo Midi In";

struct Pending {
  unsigned notice;
  std::uint32_t message;
  std::uint32_t timeStamp;
};

}  // namespace

struct RtMidiInputService::Port {
  MidiInHandle handle = 0;
  MidiInCallback callback = nullptr;
  void* instance = nullptr;
  std::unique_ptr<RtMidiIn> in;

  std::mutex mutex;  // guards everything below
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<Pending> pending;
  bool started = false;
  bool quit = false;
  bool delivering = false;
  Clock::time_point startedAt;
  std::thread delivery;
  std::thread::id deliveryId;
  std::string lastError;
  bool failed = false;

  // RtMidi may call in until its input is gone, so that goes first.
  ~Port() { in.reset(); }

  bool OnDeliveryThread() {
    std::lock_guard lock(mutex);
    return std::this_thread::get_id() == deliveryId;
  }

  void Deliver() {
    std::unique_lock lock(mutex);
    deliveryId = std::this_thread::get_id();
    for (;;) {
      wake.wait(lock, [this] { return quit || !pending.empty(); });
      if (quit) break;
      const Pending next = pending.front();
      pending.pop_front();
      delivering = true;
      lock.unlock();
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
    started = false;
    pending.clear();
    if (andQuit) quit = true;
    wake.notify_all();
    if (!fromCallback) idle.wait(lock, [this] { return !delivering; });
  }
};

namespace {

// Runs on JACK's process thread or ALSA's input thread; must not block, so it
// only queues the message for the port's delivery thread.
void OnRtMidiMessage(double, std::vector<unsigned char>* bytes, void* userData) {
  auto* port = static_cast<RtMidiInputService::Port*>(userData);
  if (bytes == nullptr) return;
  const PackedMidiMessage packed = PackMidiBytes(bytes->data(), bytes->size());
  // Ports are never given buffers for system-exclusive input.
  if (packed.kind == PackedMidiMessage::Kind::kSystemExclusive) return;
  const unsigned notice = packed.kind == PackedMidiMessage::Kind::kShort
                              ? kMidiInShortMessage
                              : kMidiInInvalidShortMessage;
  {
    std::lock_guard lock(port->mutex);
    if (!port->started) return;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - port->startedAt);
    port->pending.push_back({notice, packed.message, static_cast<std::uint32_t>(elapsed.count())});
  }
  port->wake.notify_one();
}

// Runs on whichever thread made RtMidi report: the window thread for
// open and close, RtMidi's own threads for trouble during input.
void OnRtMidiError(RtMidiError::Type type, const std::string& text, void* userData) {
  auto* port = static_cast<RtMidiInputService::Port*>(userData);
  std::lock_guard lock(port->mutex);
  port->lastError = text;
  if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) port->failed = true;
}

// The input of the API that MidiInputPortNames() lists, so device numbers
// mean the same in both. Throws RtMidiError when neither can be used.
std::unique_ptr<RtMidiIn> MakeInput() {
  switch (ChooseMidiInputApi()) {
    case MidiApi::Jack:
      return std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, kClientName);
    case MidiApi::Alsa:
      return std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
    case MidiApi::None:
      break;
  }
  throw RtMidiError("No MIDI input system (JACK or ALSA) can be used on this machine.",
                    RtMidiError::NO_DEVICES_FOUND);
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
  if (handle == nullptr || callback == nullptr)
    return MidiStatus::Failure(MidiError::kInvalidHandle, "No port or callback given.");
  *handle = 0;
  auto port = std::make_unique<Port>();
  port->callback = callback;
  port->instance = instance;
  try {
    port->in = MakeInput();
    port->in->setErrorCallback(&OnRtMidiError, port.get());
    const unsigned count = port->in->getPortCount();
    if (deviceId < 0 || static_cast<unsigned>(deviceId) >= count)
      return MidiStatus::Failure(MidiError::kBadDevice, "There is no MIDI input device number " +
                                                            std::to_string(deviceId) + "; " +
                                                            std::to_string(count) +
                                                            " device(s) are connected.");
    port->in->ignoreTypes(true, true, true);
    port->in->setCallback(&OnRtMidiMessage, port.get());
    port->in->openPort(static_cast<unsigned>(deviceId), kPortName);
  } catch (const RtMidiError& e) {
    const auto code =
        e.getType() == RtMidiError::NO_DEVICES_FOUND ? MidiError::kNoService : MidiError::kDriver;
    return MidiStatus::Failure(code, e.getMessage());
  }
  std::string failure;
  {
    std::lock_guard lock(port->mutex);
    if (port->failed || !port->in->isPortOpen())
      failure = port->lastError.empty()
                    ? "MIDI input device " + std::to_string(deviceId) + " could not be opened."
                    : port->lastError;
  }
  if (!failure.empty()) return MidiStatus::Failure(MidiError::kDriver, std::move(failure));
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

MidiStatus RtMidiInputService::Start(MidiInHandle handle) {
  Port* port = Find(handle);
  if (port == nullptr)
    return MidiStatus::Failure(MidiError::kInvalidHandle, "No such MIDI input port.");
  std::lock_guard lock(port->mutex);
  port->pending.clear();
  port->startedAt = Clock::now();
  port->started = true;
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

}  // namespace platform
