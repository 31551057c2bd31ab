#pragma once
// The MIDI input ports of this machine, in device-number order.
//
// Device numbers follow RtMidi's input port order of one API: JACK when a
// JACK server (or PipeWire's JACK layer) runs and offers input ports, else
// the ALSA sequencer. The list is read anew at every call, so a cable plugged
// in later shows up the next time it is asked for.
//
// A number only says where a port stood when the list was read. What names a
// port for good is its MidiPortId: the API it belongs to and its stable name.

#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class MidiApi { Jack, Alsa, None };

struct MidiPortId {
  MidiApi api = MidiApi::None;
  // JACK: the full port name ("client:port"). ALSA: the client and port
  // names without the trailing "client:port" address, which the sequencer
  // hands out anew each time a device is plugged in.
  std::string name;

  bool operator==(const MidiPortId&) const = default;
  bool Empty() const { return api == MidiApi::None || name.empty(); }
};

struct MidiInputPort {
  MidiPortId id;
  std::string label;  // the name as RtMidi lists it; shown to the user
};

// The API whose ports are listed and opened by number.
MidiApi ChooseMidiInputApi();
// The ports of that API, in device-number order.
std::vector<MidiInputPort> MidiInputPorts();
// The ports of one API, whatever the choice; empty when it can't be used.
std::vector<MidiInputPort> MidiInputPortsOf(MidiApi api);
// Their labels, in the same order.
std::vector<std::string> MidiInputPortNames();
// Starts reading the port list on a thread of its own, so that the first
// MidiInputPorts() call (the first set editor, at start-up) finds it ready
// instead of waiting for the MIDI system. Later calls read anew.
void PrefetchMidiInputPortNames();

// The id of a port as RtMidi lists it under `api`.
MidiPortId MidiPortIdOf(MidiApi api, const std::string& listedName);

// "jack:<name>" or "alsa:<name>", the form a choice is stored in; empty for
// an empty id. ParseMidiPortKey() gives back the id, or nothing for a text
// that names no port.
std::string MidiPortKey(const MidiPortId& id);
std::optional<MidiPortId> ParseMidiPortKey(const std::string& key);

// A port that only passes on what other programs send to it ("Midi Through"
// of the ALSA sequencer, and its bridges into JACK and PipeWire).
bool IsThroughPort(const std::string& name);

// The port to choose when the user has chosen none: the first one that is not
// a through port, else the first; -1 for an empty list.
int DefaultMidiPortIndex(const std::vector<MidiInputPort>& ports);

// The index of `id` in `ports`, or -1.
int FindMidiPort(const std::vector<MidiInputPort>& ports, const MidiPortId& id);

}  // namespace platform
