#pragma once
// One MIDI input port, opened by device number, started and stopped, handing
// every incoming message to a CMIDIReceiver on the service's delivery thread.
//
// All members are called on the window thread. Stop(), Close() and the
// destructor wait for a receiving operation in progress; they call the
// receiver's InputStopping() first, so a receiver that is waiting for the
// window thread lets go before they wait. The worker thread has always ended
// when Stop(), Close() or the destructor returns.

#include "midi/AutoResetEvent.h"
#include "midi/CMIDIInException.h"
#include "midi/CMIDIReceiver.h"
#include "platform/midi/MidiInputService.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace midi {

class CMIDIInDevice {
 public:
  enum State : std::uint8_t { closed = 0, opened = 1, started = 2 };

  // A system-exclusive buffer that the port has filled; destroying it gives
  // the buffer back to the port and frees it.
  class CMIDIInHeader {
   public:
    CMIDIInHeader(platform::MidiInputService& service, platform::MidiInHandle port,
                  std::unique_ptr<platform::MidiInHeader> header);
    ~CMIDIInHeader();
    CMIDIInHeader(const CMIDIInHeader&) = delete;
    CMIDIInHeader& operator=(const CMIDIInHeader&) = delete;

   private:
    platform::MidiInputService& service_;
    platform::MidiInHandle port_;
    std::unique_ptr<platform::MidiInHeader> header_;
  };

  // First-in first-out headers under a lock of their own; every operation
  // holds the lock throughout.
  class CHeaderQueue {
   public:
    CHeaderQueue() = default;
    ~CHeaderQueue();  // RemoveAll()
    CHeaderQueue(const CHeaderQueue&) = delete;
    CHeaderQueue& operator=(const CHeaderQueue&) = delete;

    void Add(std::unique_ptr<CMIDIInHeader> header);
    void RemoveOldest();
    void RemoveAll();
    bool IsEmpty() const;

   private:
    mutable std::mutex lock_;
    std::deque<std::unique_ptr<CMIDIInHeader>> headers_;
  };

  // Throws CMIDIInEventFailure when the signalling event cannot be made.
  explicit CMIDIInDevice(CMIDIReceiver& receiver);
  CMIDIInDevice(CMIDIReceiver& receiver, platform::MidiInputService& service);
  ~CMIDIInDevice();  // Close(), swallowing its failure
  CMIDIInDevice(const CMIDIInDevice&) = delete;
  CMIDIInDevice& operator=(const CMIDIInDevice&) = delete;

  // Closes first, then opens device deviceId (a number of
  // platform::MidiInputPorts()). Throws CMIDIInException and stays closed.
  void Open(int deviceId);
  // Closes first, then opens exactly the port `port`, wherever it stands in
  // the list now. Throws CMIDIInException and stays closed.
  void Open(const platform::MidiPortId& port);
  // Stops first when started. Throws CMIDIInException and stays opened.
  void Close();
  // Only when opened: starts the worker thread and input. Throws
  // CMIDIInThreadFailure or CMIDIInException and stays opened.
  void Start();
  // Only when started: input stops; what has not been delivered is dropped.
  void Stop();

  State GetState() const { return state_.load(); }

  // Whether the source of the open port is still connected (false when
  // closed). A device whose source left stays as it is; Open() again
  // reconnects to a source that came back.
  bool SourcePresent() const;
  // The port last opened by Open(port); empty after Open(deviceId).
  const platform::MidiPortId& PortId() const { return portId_; }
  // Messages dropped since the port was opened because the window could not
  // keep up with the MIDI system.
  std::uint64_t Overflows() const;
  // Messages the MIDI system handed to the port while started, since it was
  // opened; notes a sender sent beyond these were lost before reaching us.
  std::uint64_t MessagesArrived() const;

 private:
  // Runs on the service's delivery thread.
  // Runs on the MIDI system's own thread; must not block.
  static void MidiInTaken(void* instance, std::uint32_t message);
  static void MidiInProc(platform::MidiInHandle port, unsigned notice, void* instance,
                         std::uintptr_t param1, std::uintptr_t param2);
  void Notify(unsigned notice, std::uintptr_t param1, std::uintptr_t param2);
  // Runs on the worker thread.
  void WorkerThread();
  void EndWorker();
  void Opened(platform::MidiInHandle port, const platform::MidiStatus& status);

  platform::MidiInHandle port_ = 0;
  platform::MidiPortId portId_;
  std::unique_ptr<AutoResetEvent> event_;
  CMIDIReceiver* receiver_;
  CHeaderQueue queue_;
  // Written on the window thread only; read by the delivery and worker threads.
  std::atomic<State> state_{closed};
  platform::MidiInputService* service_;
  std::thread worker_;
};

}  // namespace midi
