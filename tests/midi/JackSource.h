#pragma once
// A note source on the JACK server and a device that listens to it through
// the window's receiver, for the tests that play real MIDI.

#include "midi/CMIDIInDevice.h"
#include "midi/KeyRecorder.h"
#include "midi/MyReceiver.h"
#include "support/TestSupport.h"
#include "support/VirtualMidiSource.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>

namespace midi_test {

// A port name no other test process uses.
inline std::string UniquePortName(const std::string& what) {
  static std::atomic<int> next{0};
  return "tastivo-" + what + "-" + std::to_string(getpid()) + "-" + std::to_string(next++);
}

class JackInput : public ::testing::Test {
 protected:
  void SetUp() override {
    source = std::make_unique<testing_support::VirtualMidiSource>(UniquePortName("source"));
    ASSERT_TRUE(testing_support::WaitFor([&] { return source->DeviceNumber() >= 0; }))
        << "the source never showed up among the MIDI input devices";
    receiver.SetWindow(&window);
    device.Open(source->DeviceNumber());
    device.Start();
    // JACK may route a fresh connection only from a later cycle: knock until
    // a note gets through, then send a marker so that every knock has landed
    // before the test begins.
    ASSERT_TRUE(testing_support::WaitFor([&] {
      source->Send(0x80, 35, 0);
      return testing_support::WaitFor([&] { return !window.keys.empty(); },
                                      std::chrono::milliseconds(200));
    })) << "no note ever came through JACK";
    source->Send(0x80, 34, 0);
    ASSERT_TRUE(testing_support::WaitFor(
        [&] { return !window.keys.empty() && window.keys.back() == Up(34); }));
    window.keys.clear();
  }

  void Play(std::vector<unsigned char> bytes) {
    ASSERT_TRUE(source->Send(bytes)) << source->LastError();
  }

  bool WaitForKeys(std::size_t count) {
    return testing_support::WaitFor([&] { return window.keys.size() >= count; });
  }

  std::unique_ptr<testing_support::VirtualMidiSource> source;
  KeyRecorder window;
  midi::MyReceiver receiver;
  midi::CMIDIInDevice device{receiver};
};

}  // namespace midi_test
