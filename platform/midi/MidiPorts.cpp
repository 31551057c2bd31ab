#include "platform/midi/MidiPorts.h"

#include <RtMidi.h>

#include <algorithm>
#include <cctype>
#include <future>
#include <memory>
#include <mutex>

namespace platform {

namespace {

RtMidi::Api RtApiOf(MidiApi api) {
  return api == MidiApi::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
}

// Lists the input ports of one API; empty when it can't be used here.
std::vector<MidiInputPort> PortsOf(MidiApi api) {
  std::vector<MidiInputPort> ports;
  try {
    RtMidiIn in(RtApiOf(api), "Tastivo MIDI ports");
    const unsigned count = in.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
      const std::string name = in.getPortName(i);
      ports.push_back({MidiPortIdOf(api, name), name});
    }
  } catch (const RtMidiError&) {
    ports.clear();
  }
  return ports;
}

bool Compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

std::vector<MidiInputPort> ListPorts() {
  // The same choice as ChooseMidiInputApi, asking JACK only once: each
  // question opens and closes a client of the server.
  if (Compiled(RtMidi::UNIX_JACK)) {
    std::vector<MidiInputPort> jack = PortsOf(MidiApi::Jack);
    if (!jack.empty()) return jack;
  }
  if (Compiled(RtMidi::LINUX_ALSA)) return PortsOf(MidiApi::Alsa);
  return {};
}

std::mutex& PrefetchMutex() {
  static std::mutex m;
  return m;
}
std::future<std::vector<MidiInputPort>>& Prefetched() {
  static std::future<std::vector<MidiInputPort>> f;
  return f;
}

bool IsDigits(const std::string& s, std::size_t from, std::size_t to) {
  if (from >= to) return false;
  for (std::size_t i = from; i < to; ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

}  // namespace

MidiApi ChooseMidiInputApi() {
  if (Compiled(RtMidi::UNIX_JACK) && !PortsOf(MidiApi::Jack).empty()) return MidiApi::Jack;
  if (Compiled(RtMidi::LINUX_ALSA)) return MidiApi::Alsa;
  return MidiApi::None;
}

void PrefetchMidiInputPortNames() {
  std::lock_guard lock(PrefetchMutex());
  if (!Prefetched().valid()) Prefetched() = std::async(std::launch::async, ListPorts);
}

std::vector<MidiInputPort> MidiInputPorts() {
  std::future<std::vector<MidiInputPort>> prefetched;
  {
    std::lock_guard lock(PrefetchMutex());
    prefetched = std::move(Prefetched());
  }
  if (prefetched.valid()) return prefetched.get();
  return ListPorts();
}

std::vector<MidiInputPort> MidiInputPortsOf(MidiApi api) {
  if (api == MidiApi::None || !Compiled(RtApiOf(api))) return {};
  return PortsOf(api);
}

std::vector<std::string> MidiInputPortNames() {
  std::vector<std::string> names;
  for (auto& port : MidiInputPorts()) names.push_back(std::move(port.label));
  return names;
}

MidiPortId MidiPortIdOf(MidiApi api, const std::string& listedName) {
  std::string name = listedName;
  if (api == MidiApi::Alsa) {
    // "USB Keyboard:USB Keyboard MIDI 1 24:0" -> "USB Keyboard:USB Keyboard MIDI 1"
    const std::size_t space = name.rfind(' ');
    const std::size_t colon = name.rfind(':');
    if (space != std::string::npos && colon != std::string::npos && colon > space &&
        IsDigits(name, space + 1, colon) && IsDigits(name, colon + 1, name.size()))
      name.erase(space);
  }
  return {api, name};
}

std::string MidiPortKey(const MidiPortId& id) {
  switch (id.api) {
    case MidiApi::Jack:
      return "jack:" + id.name;
    case MidiApi::Alsa:
      return "alsa:" + id.name;
    case MidiApi::None:
      break;
  }
  return {};
}

std::optional<MidiPortId> ParseMidiPortKey(const std::string& key) {
  const auto take = [&](const char* prefix, MidiApi api) -> std::optional<MidiPortId> {
    const std::string p(prefix);
    if (key.size() > p.size() && key.compare(0, p.size(), p) == 0)
      return MidiPortId{api, key.substr(p.size())};
    return std::nullopt;
  };
  if (auto id = take("jack:", MidiApi::Jack)) return id;
  return take("alsa:", MidiApi::Alsa);
}

bool IsThroughPort(const std::string& name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("midi through") != std::string::npos;
}

int DefaultMidiPortIndex(const std::vector<MidiInputPort>& ports) {
  for (std::size_t i = 0; i < ports.size(); ++i)
    if (!IsThroughPort(ports[i].label)) return static_cast<int>(i);
  return ports.empty() ? -1 : 0;
}

int FindMidiPort(const std::vector<MidiInputPort>& ports, const MidiPortId& id) {
  for (std::size_t i = 0; i < ports.size(); ++i)
    if (ports[i].id == id) return static_cast<int>(i);
  return -1;
}

}  // namespace platform
