#include "support/VirtualMidiSource.h"

#include "platform/midi/MidiPorts.h"

#include <RtMidi.h>

#include <mutex>
#include <stdexcept>

namespace testing_support {

using platform::MidiApi;
using platform::MidiInputPortNames;
using platform::MidiInputPortsOf;
using platform::MidiPortId;

struct VirtualMidiSource::Impl {
  std::string portName;
  MidiApi api = MidiApi::Jack;
  std::unique_ptr<RtMidiOut> out;
  mutable std::mutex mutex;
  std::string lastError;
  bool failed = false;
};

namespace {

// Runs on the sending thread, inside RtMidiOut's calls.
void OnOutputError(RtMidiError::Type type, const std::string& text, void* userData) {
  auto* impl = static_cast<VirtualMidiSource::Impl*>(userData);
  std::lock_guard lock(impl->mutex);
  impl->lastError = text;
  if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) impl->failed = true;
}

}  // namespace

VirtualMidiSource::VirtualMidiSource(const std::string& portName, MidiApi api)
    : impl_(std::make_unique<Impl>()) {
  impl_->portName = portName;
  impl_->api = api;
  try {
    impl_->out = std::make_unique<RtMidiOut>(
        api == MidiApi::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK, portName);
    impl_->out->setErrorCallback(&OnOutputError, impl_.get());
    impl_->out->openVirtualPort(portName);
  } catch (const RtMidiError& e) {
    throw std::runtime_error(e.getMessage());
  }
  if (impl_->failed) throw std::runtime_error(impl_->lastError);
}

VirtualMidiSource::~VirtualMidiSource() = default;

int VirtualMidiSource::DeviceNumber() const {
  const auto names = MidiInputPortNames();
  const std::string suffix = ":" + impl_->portName;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i].size() >= suffix.size() &&
        names[i].compare(names[i].size() - suffix.size(), suffix.size(), suffix) == 0)
      return static_cast<int>(i);
  return -1;
}

MidiPortId VirtualMidiSource::PortId() const {
  // JACK lists "client:port"; ALSA "client:port 128:0", the address dropped
  // from the id.
  for (const auto& port : MidiInputPortsOf(impl_->api)) {
    const std::string& name = port.id.name;
    const std::string suffix = ":" + impl_->portName;
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      return port.id;
  }
  return {};
}

bool VirtualMidiSource::Send(const std::vector<unsigned char>& bytes) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->failed = false;
  }
  try {
    impl_->out->sendMessage(&bytes);
  } catch (const RtMidiError& e) {
    std::lock_guard lock(impl_->mutex);
    impl_->lastError = e.getMessage();
    return false;
  }
  std::lock_guard lock(impl_->mutex);
  return !impl_->failed;
}

std::string VirtualMidiSource::LastError() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->lastError;
}

}  // namespace testing_support
