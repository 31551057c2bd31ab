// Notes through the ALSA sequencer, on machines that have one: a port opened
// by its id plays, is seen to leave and return, and the default passes over
// "Midi Through". Machines without /dev/snd/seq (containers, CI) skip these
// and say so.

#include "midi/CMIDIInDevice.h"
#include "midi/KeyRecorder.h"
#include "midi/MyReceiver.h"
#include "platform/midi/MidiPorts.h"
#include "support/TestSupport.h"
#include "support/VirtualMidiSource.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

using platform::MidiApi;
using platform::MidiPortId;
using testing_support::VirtualMidiSource;

namespace {

std::string AlsaPortName(const std::string& what) {
  return "tastivo-alsa-" + what + "-" + std::to_string(getpid());
}

class AlsaInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
      GTEST_SKIP() << "no ALSA sequencer on this machine (/dev/snd/seq)";
    receiver.SetWindow(&window);
  }

  // Sends note-on `note` until its key comes down.
  bool PlayUntilHeard(VirtualMidiSource& source, unsigned char note) {
    const midi_test::KeyEvent wanted = midi_test::Down(note % 36);
    return testing_support::WaitFor([&] {
      source.Send(0x90, note, 100);
      return testing_support::WaitFor(
          [&] { return !window.keys.empty() && window.keys.back() == wanted; },
          std::chrono::milliseconds(200));
    });
  }

  midi_test::KeyRecorder window;
  midi::MyReceiver receiver;
};

TEST_F(AlsaInput, APortOpenedByIdPlaysAndIsSeenToLeaveAndReturn) {
  const std::string name = AlsaPortName("keys");
  auto source = std::make_unique<VirtualMidiSource>(name, MidiApi::Alsa);
  MidiPortId id;
  ASSERT_TRUE(testing_support::WaitFor([&] { return !(id = source->PortId()).Empty(); }));
  EXPECT_EQ(id.api, MidiApi::Alsa);
  midi::CMIDIInDevice device(receiver);
  device.Open(id);
  device.Start();
  EXPECT_TRUE(device.SourcePresent());
  ASSERT_TRUE(PlayUntilHeard(*source, 37));

  // Unplugged, and plugged in again: the sequencer gives it a new address,
  // the id stays the same.
  source.reset();
  EXPECT_TRUE(testing_support::WaitFor([&] { return !device.SourcePresent(); }));
  source = std::make_unique<VirtualMidiSource>(name, MidiApi::Alsa);
  EXPECT_TRUE(testing_support::WaitFor([&] { return device.SourcePresent(); }));
  device.Open(id);
  device.Start();
  EXPECT_TRUE(PlayUntilHeard(*source, 38));
}

TEST_F(AlsaInput, TheDefaultPassesOverMidiThrough) {
  VirtualMidiSource source(AlsaPortName("default"), MidiApi::Alsa);
  ASSERT_TRUE(testing_support::WaitFor([&] { return !source.PortId().Empty(); }));
  const auto ports = platform::MidiInputPortsOf(MidiApi::Alsa);
  const int index = platform::DefaultMidiPortIndex(ports);
  ASSERT_GE(index, 0);
  EXPECT_FALSE(platform::IsThroughPort(ports[static_cast<std::size_t>(index)].label))
      << ports[static_cast<std::size_t>(index)].label;
}

}  // namespace
