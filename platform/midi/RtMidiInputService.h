#pragma once
// The MIDI input service: JACK ports through libjack itself, ALSA sequencer
// ports through RtMidi. Ports opened by number use JACK when a JACK server
// (or PipeWire's JACK layer) offers MIDI sources, else the ALSA sequencer,
// the same rule as MidiInputPorts(); ports opened by id use the API the id
// names.
//
// Messages come in on JACK's process thread or on ALSA's input thread. Those
// threads must never wait, neither for the window thread nor for a lock, nor
// allocate (JACK would miss its cycle and lose the notes of it), so they only
// put the message into a lock-free ring and wake the port's delivery thread
// through an eventfd. The delivery thread calls the port's callback in
// arrival order. A message that finds the ring full is dropped and counted
// (Overflows()).
//
// A JACK port's client hears the server shut down; SourcePresent() then lets
// go of it and looks for the source on whatever server answers now.

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
  MidiStatus OpenPort(MidiInHandle* port, const MidiPortId& id, MidiInCallback callback,
                      void* instance) override;
  void SetTaken(MidiInHandle port, MidiInTaken taken) override;
  MidiStatus Start(MidiInHandle port) override;
  MidiStatus Reset(MidiInHandle port) override;
  MidiStatus Close(MidiInHandle port) override;
  MidiStatus UnprepareHeader(MidiInHandle port, MidiInHeader* header) override;
  MidiStatus SourcePresent(MidiInHandle port, bool* present) override;
  std::uint64_t Overflows(MidiInHandle port) override;
  std::uint64_t Arrived(MidiInHandle port) override;

  // Messages a port's ring holds before it overflows.
  static constexpr std::size_t kRingCapacity = 1 << 15;

  struct Port;

 private:
  Port* Find(MidiInHandle handle);
  // Opens the port of `api` whose id is `id`, or, with no id, number deviceId.
  MidiStatus OpenWith(MidiInHandle* handle, MidiApi api, const MidiPortId* id, int deviceId,
                      MidiInCallback callback, void* instance);
  MidiStatus OpenAlsa(Port& port, const MidiPortId* id, int deviceId);
  MidiStatus OpenJack(Port& port, const MidiPortId* id, int deviceId);

  std::mutex mutex_;  // guards ports_ and next_
  std::map<MidiInHandle, std::unique_ptr<Port>> ports_;
  MidiInHandle next_ = 1;
};

}  // namespace platform
