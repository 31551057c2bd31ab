#include "platform/midi/MidiPorts.h"

#include <RtMidi.h>

#include <future>
#include <memory>
#include <mutex>

namespace platform {

namespace {

// Lists the input ports of one API; empty when it can't be used here.
std::vector<std::string> PortsOf(RtMidi::Api api) {
  std::vector<std::string> names;
  try {
    RtMidiIn in(api, "Tastivo MIDI ports");
    const unsigned count = in.getPortCount();
    for (unsigned i = 0; i < count; ++i) names.push_back(in.getPortName(i));
  } catch (const RtMidiError&) {
    names.clear();
  }
  return names;
}

bool Compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  for (auto a : apis)
    if (a == api) return true;
  return false;
}

}  // namespace

MidiApi ChooseMidiInputApi() {
  if (Compiled(RtMidi::UNIX_JACK) && !PortsOf(RtMidi::UNIX_JACK).empty()) return MidiApi::Jack;
  if (Compiled(RtMidi::LINUX_ALSA)) return MidiApi::Alsa;
  return MidiApi::None;
}

namespace {

std::vector<std::string> ListPortNames() {
  // The same choice as ChooseMidiInputApi, asking JACK only once: each
  // question opens and closes a client of the server.
  if (Compiled(RtMidi::UNIX_JACK)) {
    std::vector<std::string> jack = PortsOf(RtMidi::UNIX_JACK);
    if (!jack.empty()) return jack;
  }
  if (Compiled(RtMidi::LINUX_ALSA)) return PortsOf(RtMidi::LINUX_ALSA);
  return {};
}

std::mutex& PrefetchMutex() {
  static std::mutex m;
  return m;
}
std::future<std::vector<std::string>>& Prefetched() {
  static std::future<std::vector<std::string>> f;
  return f;
}

}  // namespace

void PrefetchMidiInputPortNames() {
  std::lock_guard lock(PrefetchMutex());
  if (!Prefetched().valid()) Prefetched() = std::async(std::launch::async, ListPortNames);
}

std::vector<std::string> MidiInputPortNames() {
  std::future<std::vector<std::string>> prefetched;
  {
    std::lock_guard lock(PrefetchMutex());
    prefetched = std::move(Prefetched());
  }
  if (prefetched.valid()) return prefetched.get();
  return ListPortNames();
}

}  // namespace platform
