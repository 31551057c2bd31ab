#pragma once
// The receiving side of a MIDI input device.

#include <cstdint>

namespace midi {

// What a CMIDIInDevice hands its incoming messages to. The four receiving
// operations run on the MIDI service's delivery thread, never on the window
// thread. The device never owns its receiver.
class CMIDIReceiver {
 public:
  virtual ~CMIDIReceiver() = default;

  // message: status in bits 0-7, data 1 in bits 8-15, data 2 in bits 16-23;
  // timeStamp: milliseconds since input started.
  virtual void ReceiveShortMsg(std::uint32_t message, std::uint32_t timeStamp) = 0;
  virtual void ReceiveLongMsg(const unsigned char* data, std::uint32_t length,
                              std::uint32_t timeStamp) = 0;
  virtual void OnInvalidShortMsg(std::uint32_t message, std::uint32_t timeStamp) = 0;
  virtual void OnInvalidLongMsg(const unsigned char* data, std::uint32_t length,
                                std::uint32_t timeStamp) = 0;
  // Runs on the MIDI system's own thread as each short message arrives,
  // before it is queued for the delivery thread; must not block, lock or
  // allocate.
  virtual void NoteTaken(std::uint32_t message) { (void)message; }

  // Called by the device on the thread that starts or stops it: just before
  // input starts, and first thing when it stops (also on a failed start). A
  // receiver that waits for that thread inside a receiving operation must
  // stop waiting from InputStopping(), because the device then waits for the
  // receiving operation in progress to return.
  virtual void InputStarting() {}
  virtual void InputStopping() {}
  // Called on the same thread once input has started: time stamps count
  // from about now.
  virtual void InputStarted() {}
};

}  // namespace midi
