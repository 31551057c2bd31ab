#pragma once
// The failures of a MIDI input device.

#include "platform/midi/MidiInputService.h"

#include <array>
#include <exception>

namespace midi {

// A MIDI service call failed; what() is the service's own text. The text is
// held in the exception, so copies never allocate.
class CMIDIInException : public std::exception {
 public:
  explicit CMIDIInException(const platform::MidiStatus& status) noexcept;
  const char* what() const noexcept override { return text_.data(); }
  platform::MidiError Code() const noexcept { return code_; }

 private:
  platform::MidiError code_;
  std::array<char, 128> text_;
};

class CMIDIInEventFailure : public std::exception {
 public:
  const char* what() const noexcept override {
    return "Unable to create a signalling event for CMIDIInDevice object.";
  }
};

class CMIDIInThreadFailure : public std::exception {
 public:
  const char* what() const noexcept override {
    return "Unable to create worker thread for CMIDIInDevice object.";
  }
};

}  // namespace midi
