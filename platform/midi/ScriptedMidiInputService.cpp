#include "platform/midi/ScriptedMidiInputService.h"

#include <utility>

namespace platform {

namespace {

MidiStatus NoSuchPort() {
  return MidiStatus::Failure(MidiError::kInvalidHandle, "No such MIDI input port.");
}

}  // namespace

ScriptedMidiInputService::ScriptedMidiInputService(std::vector<std::string> names)
    : names_(std::move(names)) {}

std::vector<std::string> ScriptedMidiInputService::DeviceNames() {
  std::lock_guard lock(mutex_);
  return names_;
}

MidiStatus ScriptedMidiInputService::Open(MidiInHandle* port, int deviceId, MidiInCallback callback,
                                          void* instance) {
  std::lock_guard lock(mutex_);
  calls_.push_back("Open " + std::to_string(deviceId));
  return OpenLocked(port, deviceId, callback, instance);
}

MidiStatus ScriptedMidiInputService::OpenPort(MidiInHandle* port, const MidiPortId& id,
                                              MidiInCallback callback, void* instance) {
  std::lock_guard lock(mutex_);
  calls_.push_back("OpenPort " + id.name);
  int deviceId = -1;
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (id.api == MidiApi::Jack && names_[i] == id.name) deviceId = static_cast<int>(i);
  return OpenLocked(port, deviceId, callback, instance);
}

MidiStatus ScriptedMidiInputService::OpenLocked(MidiInHandle* port, int deviceId,
                                                MidiInCallback callback, void* instance) {
  if (port) *port = 0;
  if (auto failure = std::exchange(openFailure_, std::nullopt)) return *failure;
  if (deviceId < 0 || static_cast<std::size_t>(deviceId) >= names_.size())
    return MidiStatus::Failure(MidiError::kBadDevice, "There is no MIDI input device number " +
                                                          std::to_string(deviceId) + ".");
  const MidiInHandle handle = next_++;
  ports_[handle] = Port{callback, instance, names_[static_cast<std::size_t>(deviceId)]};
  *port = handle;
  return MidiStatus::Success();
}

MidiStatus ScriptedMidiInputService::Start(MidiInHandle port) {
  std::lock_guard lock(mutex_);
  Port* found = CallOn("Start", port);
  if (!found) return NoSuchPort();
  if (auto failure = std::exchange(startFailure_, std::nullopt)) return *failure;
  found->started = true;
  return MidiStatus::Success();
}

ScriptedMidiInputService::Port* ScriptedMidiInputService::CallOn(const char* call,
                                                                 MidiInHandle port) {
  calls_.push_back(call);
  auto it = ports_.find(port);
  return it == ports_.end() ? nullptr : &it->second;
}

void ScriptedMidiInputService::WaitIdle(std::unique_lock<std::mutex>& lock) {
  const auto self = std::this_thread::get_id();
  idle_.wait(lock, [&] {
    for (auto& [id, count] : delivering_)
      if (id != self && count > 0) return false;
    return true;
  });
}

MidiStatus ScriptedMidiInputService::Reset(MidiInHandle port) {
  std::unique_lock lock(mutex_);
  Port* found = CallOn("Reset", port);
  if (!found) return NoSuchPort();
  found->started = false;
  WaitIdle(lock);
  return MidiStatus::Success();
}

MidiStatus ScriptedMidiInputService::Close(MidiInHandle port) {
  std::unique_lock lock(mutex_);
  Port* found = CallOn("Close", port);
  if (!found) return NoSuchPort();
  if (auto failure = std::exchange(closeFailure_, std::nullopt)) return *failure;
  ports_.erase(port);
  WaitIdle(lock);
  return MidiStatus::Success();
}

MidiStatus ScriptedMidiInputService::UnprepareHeader(MidiInHandle port, MidiInHeader* header) {
  std::lock_guard lock(mutex_);
  if (!CallOn("Unprepare", port)) return NoSuchPort();
  if (header) header->prepared = false;
  return MidiStatus::Success();
}

MidiStatus ScriptedMidiInputService::SourcePresent(MidiInHandle port, bool* present) {
  std::lock_guard lock(mutex_);
  auto it = ports_.find(port);
  if (it == ports_.end() || present == nullptr) return NoSuchPort();
  *present = false;
  for (const auto& name : names_)
    if (name == it->second.source) *present = true;
  return MidiStatus::Success();
}

void ScriptedMidiInputService::SetDeviceNames(std::vector<std::string> names) {
  std::lock_guard lock(mutex_);
  names_ = std::move(names);
}

void ScriptedMidiInputService::FailNextOpen(MidiStatus status) {
  std::lock_guard lock(mutex_);
  openFailure_ = std::move(status);
}

void ScriptedMidiInputService::FailNextStart(MidiStatus status) {
  std::lock_guard lock(mutex_);
  startFailure_ = std::move(status);
}

void ScriptedMidiInputService::FailNextClose(MidiStatus status) {
  std::lock_guard lock(mutex_);
  closeFailure_ = std::move(status);
}

int ScriptedMidiInputService::Deliver(unsigned notice, std::uintptr_t param1,
                                      std::uintptr_t param2) {
  std::vector<std::pair<MidiInHandle, Port>> targets;
  {
    std::lock_guard lock(mutex_);
    for (auto& [handle, port] : ports_)
      if (port.started) targets.emplace_back(handle, port);
    ++delivering_[std::this_thread::get_id()];
  }
  for (auto& [handle, port] : targets) port.callback(handle, notice, port.instance, param1, param2);
  {
    std::lock_guard lock(mutex_);
    --delivering_[std::this_thread::get_id()];
  }
  idle_.notify_all();
  return static_cast<int>(targets.size());
}

std::vector<std::string> ScriptedMidiInputService::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

int ScriptedMidiInputService::OpenPorts() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(ports_.size());
}

}  // namespace platform
