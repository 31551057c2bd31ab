#pragma once
// The MIDI input ports of this machine, in device-number order.
//
// Device numbers follow RtMidi's input port order of one API: JACK when a
// JACK server (or PipeWire's JACK layer) runs and offers input ports, else
// the ALSA sequencer. The list is read anew at every call, so a cable plugged
// in later shows up the next time it is asked for.

#include <string>
#include <vector>

namespace platform {

enum class MidiApi { Jack, Alsa, None };

// The API whose ports are listed and opened.
MidiApi ChooseMidiInputApi();
std::vector<std::string> MidiInputPortNames();
// Starts reading the port list on a thread of its own, so that the first
// MidiInputPortNames() call (the first set editor, at start-up) finds it
// ready instead of waiting for the MIDI system. Later calls read anew.
void PrefetchMidiInputPortNames();

}  // namespace platform
