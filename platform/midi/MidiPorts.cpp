#include "platform/midi/MidiPorts.h"

#include <RtMidi.h>

#include <memory>

namespace platform {

namespace {

// Lists the input ports of one API; empty when it can't be used here.
std::vector<std::string> PortsOf(RtMidi::Api api) {
  std::vector<std::string> names;
  try {
    RtMidiIn in(api, "Tastivo");
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

std::vector<std::string> MidiInputPortNames() {
  switch (ChooseMidiInputApi()) {
    case MidiApi::Jack:
      return PortsOf(RtMidi::UNIX_JACK);
    case MidiApi::Alsa:
      return PortsOf(RtMidi::LINUX_ALSA);
    case MidiApi::None:
      break;
  }
  return {};
}

}  // namespace platform
