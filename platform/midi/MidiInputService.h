#pragma once
// The MIDI input service: input ports opened by device number, started,
// reset and closed, each delivering its messages to one callback on a
// delivery thread of its own.
//
// Device numbers are the indexes of MidiInputPorts() (see MidiPorts.h); a
// port can also be opened by its MidiPortId, which stays put while other
// ports come and go. Every failure comes back as a MidiStatus with a code and
// a readable text.

#include "platform/midi/MidiPorts.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// An open port; 0 never names one.
using MidiInHandle = std::uintptr_t;

// Notices a port hands to its callback.
constexpr unsigned kMidiInShortMessage = 0x3C3;         // param1 message, param2 time stamp
constexpr unsigned kMidiInLongData = 0x3C4;             // param1 MidiInHeader*, param2 time stamp
constexpr unsigned kMidiInInvalidShortMessage = 0x3C5;  // param1 message, param2 time stamp
constexpr unsigned kMidiInInvalidLongData = 0x3C6;      // param1 MidiInHeader*, param2 time stamp

// Result codes of the service's operations.
enum class MidiError : unsigned {
  kNone = 0,
  kBadDevice = 1,      // no input device with that number
  kInvalidHandle = 2,  // not an open port of this service
  kNoService = 3,      // no MIDI system can be used on this machine
  kDriver = 4,         // the MIDI system refused the operation
  kNoResources = 5,    // a thread or memory could not be had
  kFromCallback = 6,   // the operation was called from the port's own callback
};

struct MidiStatus {
  MidiError code = MidiError::kNone;
  std::string text;

  bool ok() const { return code == MidiError::kNone; }
  static MidiStatus Success() { return {}; }
  static MidiStatus Failure(MidiError code, std::string text) { return {code, std::move(text)}; }
};

// A buffer for system-exclusive input. Ports are never given one here, so
// long data never arrives; the record exists for receivers that want it.
struct MidiInHeader {
  std::vector<unsigned char> buffer;
  std::size_t bytesRecorded = 0;
  bool prepared = false;
};

// Runs on the port's delivery thread, never on the thread that opened the
// port. It may block (for example, waiting for a window), but the port's
// Reset() and Close() wait for a delivery in progress, so whoever calls those
// must first release anything such a callback is waiting for.
using MidiInCallback = void (*)(MidiInHandle port, unsigned notice, void* instance,
                                std::uintptr_t param1, std::uintptr_t param2);

class MidiInputService {
 public:
  virtual ~MidiInputService() = default;

  // Names of the input devices in device-number order, read anew each call.
  virtual std::vector<std::string> DeviceNames() = 0;

  // Opens device deviceId; nothing is delivered until Start().
  virtual MidiStatus Open(MidiInHandle* port, int deviceId, MidiInCallback callback,
                          void* instance) = 0;
  // Opens exactly the port `id`, of its own API, whatever the order of the
  // ports is now; kBadDevice when no such port is there.
  virtual MidiStatus OpenPort(MidiInHandle* port, const MidiPortId& id, MidiInCallback callback,
                              void* instance) = 0;
  // Starts delivering; time stamps count milliseconds from here.
  // Before Start: `taken` is also called with each short message on the
  // MIDI system's own thread as it arrives, before it is queued for
  // delivery (with the port's instance). It must not block, lock or
  // allocate. A service that can't does nothing.
  using MidiInTaken = void (*)(void* instance, std::uint32_t message);
  virtual void SetTaken(MidiInHandle port, MidiInTaken taken) {
    (void)port;
    (void)taken;
  }
  virtual MidiStatus Start(MidiInHandle port) = 0;
  // Stops delivering and drops what has not been delivered yet. When it
  // returns, no delivery is in progress (unless called from the callback).
  virtual MidiStatus Reset(MidiInHandle port) = 0;
  // Resets and closes the port; afterwards the callback is never called again.
  virtual MidiStatus Close(MidiInHandle port) = 0;
  // Gives back a buffer that the port has filled.
  virtual MidiStatus UnprepareHeader(MidiInHandle port, MidiInHeader* header) = 0;

  // Whether the source the port was opened on is still there now (a USB
  // cable pulled out, a JACK port or server gone make it false). The port
  // stays open either way; opening it again reconnects a returned source.
  virtual MidiStatus SourcePresent(MidiInHandle port, bool* present) = 0;
  // Messages the port had to drop since it was opened because delivery fell
  // behind the MIDI system.
  virtual std::uint64_t Overflows(MidiInHandle port) = 0;
  // Messages the MIDI system handed to the port while it was started, since
  // it was opened, overflowed ones included. What a sender sent beyond this
  // never reached us.
  virtual std::uint64_t Arrived(MidiInHandle port) = 0;
};

// The service over the machine's MIDI system, shared by the whole program.
MidiInputService& DefaultMidiInputService();

// Packs the bytes of one incoming message into the 32-bit form the callback
// gets (status in bits 0-7, data 1 in bits 8-15, data 2 in bits 16-23).
struct PackedMidiMessage {
  enum class Kind { kShort, kInvalid, kSystemExclusive };
  Kind kind;
  std::uint32_t message;  // for kInvalid: the first three bytes, packed alike
};

// A short message is a status byte (0x80-0xEF, or 0xF1-0xF3, 0xF6, 0xF8-0xFF)
// followed by exactly the data bytes that status takes, each below 0x80.
// Anything else that is not system-exclusive (starting with 0xF0) is invalid:
// an empty message, a leading data byte, a missing or surplus data byte, a
// status byte among the data, an undefined status (0xF4, 0xF5) or a lone 0xF7.
PackedMidiMessage PackMidiBytes(const unsigned char* bytes, std::size_t length);

}  // namespace platform
