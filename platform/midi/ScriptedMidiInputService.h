#pragma once
// A MidiInputService driven by a test: a list of devices (JACK ports by
// name) that the test can change, scripted failures, a log of calls, and
// messages delivered on whatever thread calls Deliver(). Like the real service, Reset() and Close()
// wait for a delivery in progress on another thread.

#include "platform/midi/MidiInputService.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {

class ScriptedMidiInputService : public MidiInputService {
 public:
  explicit ScriptedMidiInputService(std::vector<std::string> names = {"Scripted MIDI 1"});

  std::vector<std::string> DeviceNames() override;
  MidiStatus Open(MidiInHandle* port, int deviceId, MidiInCallback callback,
                  void* instance) override;
  MidiStatus OpenPort(MidiInHandle* port, const MidiPortId& id, MidiInCallback callback,
                      void* instance) override;
  MidiStatus Start(MidiInHandle port) override;
  MidiStatus Reset(MidiInHandle port) override;
  MidiStatus Close(MidiInHandle port) override;
  MidiStatus UnprepareHeader(MidiInHandle port, MidiInHeader* header) override;
  MidiStatus SourcePresent(MidiInHandle port, bool* present) override;
  std::uint64_t Overflows(MidiInHandle) override { return 0; }
  std::uint64_t Arrived(MidiInHandle) override { return 0; }

  // The devices now connected; open ports whose source left stay open.
  void SetDeviceNames(std::vector<std::string> names);

  // The next call of that kind fails with this status.
  void FailNextOpen(MidiStatus status);
  void FailNextStart(MidiStatus status);
  void FailNextClose(MidiStatus status);

  // Hands a notice to the callback of every started port, on this thread.
  // Returns the number of ports it reached.
  int Deliver(unsigned notice, std::uintptr_t param1, std::uintptr_t param2);

  // "Open 0", "OpenPort name", "Start", "Reset", "Close", "Unprepare", in call order.
  std::vector<std::string> Calls() const;
  int OpenPorts() const;

 private:
  struct Port {
    MidiInCallback callback;
    void* instance;
    std::string source;
    bool started = false;
  };
  // Logs a call on a port; the port, or nullptr when there is none.
  Port* CallOn(const char* call, MidiInHandle port);
  void WaitIdle(std::unique_lock<std::mutex>& lock);
  MidiStatus OpenLocked(MidiInHandle* port, int deviceId, MidiInCallback callback, void* instance);

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<std::string> names_;
  std::map<MidiInHandle, Port> ports_;
  MidiInHandle next_ = 1;
  std::vector<std::string> calls_;
  std::optional<MidiStatus> openFailure_, startFailure_, closeFailure_;
  std::map<std::thread::id, int> delivering_;
};

}  // namespace platform
