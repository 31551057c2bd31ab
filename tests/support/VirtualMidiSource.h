#pragma once
// A MIDI source of our own on the JACK server (or the ALSA sequencer): a
// virtual output port that other programs (and our own input ports) see as a
// MIDI input device. Tests and benchmarks play notes through it.

#include "platform/midi/MidiPorts.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class VirtualMidiSource {
 public:
  // Opens an output port named portName; throws std::runtime_error with
  // RtMidi's text when the MIDI system cannot be reached.
  explicit VirtualMidiSource(const std::string& portName,
                             platform::MidiApi api = platform::MidiApi::Jack);
  ~VirtualMidiSource();
  VirtualMidiSource(const VirtualMidiSource&) = delete;
  VirtualMidiSource& operator=(const VirtualMidiSource&) = delete;

  // This port's device number in MidiInputPortNames() now, or -1.
  int DeviceNumber() const;
  // This port's id as its API lists it now; empty while it is not listed.
  platform::MidiPortId PortId() const;

  // Sends the bytes as one message; false (with the reason in LastError())
  // when RtMidi could not queue it.
  bool Send(const std::vector<unsigned char>& bytes);
  bool Send(unsigned char status, unsigned char data1, unsigned char data2) {
    return Send(std::vector<unsigned char>{status, data1, data2});
  }
  std::string LastError() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing_support
