#pragma once
// MidiInputService over RtMidi. Ports use JACK when a JACK server (or
// PipeWire's JACK layer) offers MIDI sources, else the ALSA sequencer, the
// same rule as MidiInputPortNames().
//
// RtMidi calls back on JACK's process thread or on ALSA's input thread. Those
// threads must never wait for the window thread (JACK would lose the notes of
// the cycles it misses), so they only queue the message; a delivery thread
// per port calls the port's callback, in arrival order.

#include "platform/midi/MidiInputService.h"

#include <map>
#include <memory>
#include <mutex>

namespace platform {

class RtMidiInputService : public MidiInputService {
 public:
  RtMidiInputService();
  ~RtMidiInputService() override;  // closes ports still open
  RtMidiInputService(const RtMidiInputService&) = delete;
  RtMidiInputService& operator=(const RtMidiInputService&) = delete;

  std::vector<std::string> DeviceNames() override;
  MidiStatus Open(MidiInHandle* port, int deviceId, MidiInCallback callback,
                  void* instance) override;
  MidiStatus Start(MidiInHandle port) override;
  MidiStatus Reset(MidiInHandle port) override;
  MidiStatus Close(MidiInHandle port) override;
  MidiStatus UnprepareHeader(MidiInHandle port, MidiInHeader* header) override;

  struct Port;

 private:
  Port* Find(MidiInHandle handle);

  std::mutex mutex_;  // guards ports_ and next_
  std::map<MidiInHandle, std::unique_ptr<Port>> ports_;
  MidiInHandle next_ = 1;
};

}  // namespace platform
