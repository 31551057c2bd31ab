// Notes played through the JACK server into the input device and on to the
// window, and the device list as the set editor reads it.

#include "midi/JackSource.h"
#include "platform/midi/MidiPorts.h"

#include <QCoreApplication>

#include <algorithm>
#include <optional>
#include <thread>

using midi::CMIDIInDevice;
using midi_test::Down;
using midi_test::KeyEvent;
using midi_test::Up;

using JackNotes = midi_test::JackInput;

TEST_F(JackNotes, NoteNumbersModulo36PressKeysAndVelocityZeroReleases) {
  for (unsigned char note : {37, 0, 36, 72, 108}) Play({0x90, note, 100});
  Play({0x90, 37, 0});
  Play({0x80, 0, 64});
  ASSERT_TRUE(WaitForKeys(7));
  EXPECT_EQ(window.keys,
            (std::vector<KeyEvent>{Down(1), Down(0), Down(0), Down(0), Down(0), Up(1), Up(0)}));
}

TEST_F(JackNotes, AllSixteenChannelsAreTakenAlike) {
  std::vector<KeyEvent> expected;
  for (unsigned char channel = 0; channel < 16; ++channel) {
    Play({static_cast<unsigned char>(0x90 | channel), 60, 90});
    Play({static_cast<unsigned char>(0x80 | channel), 60, 0});
    expected.push_back(Down(24));
    expected.push_back(Up(24));
  }
  ASSERT_TRUE(WaitForKeys(expected.size()));
  EXPECT_EQ(window.keys, expected);
}

TEST_F(JackNotes, ControllersProgramChangesAndSystemMessagesDeliverNothing) {
  Play({0xB0, 7, 100});
  Play({0xC4, 12});
  Play({0xE0, 0, 64});
  Play({0xF2, 1, 2});
  Play({0xF8});
  Play({0xF0, 0x7E, 0x01, 0xF7});
  Play({0x90, 1, 1});  // the marker that all of the above has been through
  ASSERT_TRUE(WaitForKeys(1));
  QCoreApplication::processEvents();
  EXPECT_EQ(window.keys, std::vector{Down(1)});
}

TEST_F(JackNotes, InvalidShortMessageWritesItsLineAndPlaysNothing) {
  ::testing::internal::CaptureStdout();
  Play({0x90, 60});        // a data byte short
  Play({0x90, 61, 1, 2});  // a data byte too many
  Play({0x90, 2, 1});
  const bool arrived = WaitForKeys(1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(arrived);
  EXPECT_EQ(out, "Invalid short message received!\nInvalid short message received!\n");
  EXPECT_EQ(window.keys, std::vector{Down(2)});
}

TEST_F(JackNotes, StoppedDeviceDeliversNothingUntilStartedAgain) {
  // A second listener shows when a note has been through JACK.
  midi_test::KeyRecorder witnessWindow;
  midi::MyReceiver witnessReceiver;
  witnessReceiver.SetWindow(&witnessWindow);
  midi::CMIDIInDevice witness(witnessReceiver);
  witness.Open(source->DeviceNumber());
  witness.Start();

  device.Stop();
  EXPECT_EQ(device.GetState(), CMIDIInDevice::opened);
  // The witness's connection is fresh, and JACK may route it only from a
  // later cycle: knock until it hears one.
  ASSERT_TRUE(testing_support::WaitFor([&] {
    Play({0x90, 5, 1});
    return testing_support::WaitFor([&] { return !witnessWindow.keys.empty(); },
                                    std::chrono::milliseconds(200));
  }));
  device.Stop();  // not started: nothing happens
  device.Start();
  Play({0x90, 6, 1});
  ASSERT_TRUE(WaitForKeys(1));
  QCoreApplication::processEvents();
  EXPECT_EQ(window.keys, std::vector{Down(6)});
}

TEST_F(JackNotes, OpenOnAStartedDeviceStopsAndReopens) {
  device.Open(source->DeviceNumber());
  EXPECT_EQ(device.GetState(), CMIDIInDevice::opened);
  device.Start();
  Play({0x90, 7, 1});
  ASSERT_TRUE(WaitForKeys(1));
  EXPECT_EQ(window.keys, std::vector{Down(7)});
}

TEST_F(JackNotes, DeviceNumberBeyondTheDevicesThrowsAndStaysClosed) {
  midi::CMIDIInDevice other(receiver);
  other.Start();  // closed: nothing happens
  EXPECT_EQ(other.GetState(), CMIDIInDevice::closed);
  const int count = static_cast<int>(platform::MidiInputPortNames().size());
  EXPECT_THROW(other.Open(count + 5), midi::CMIDIInException);
  EXPECT_EQ(other.GetState(), CMIDIInDevice::closed);
  EXPECT_THROW(other.Open(-1), midi::CMIDIInException);
  EXPECT_EQ(other.GetState(), CMIDIInDevice::closed);
}

TEST_F(JackNotes, DestroyingAStartedDeviceEndsInputCleanly) {
  auto second = std::make_unique<midi::CMIDIInDevice>(receiver);
  second->Open(source->DeviceNumber());
  second->Start();
  for (int i = 0; i < 50; ++i) Play({0x90, 3, 1});
  second.reset();
  device.Stop();
  device.Start();
  Play({0x90, 4, 1});
  ASSERT_TRUE(testing_support::WaitFor(
      [&] { return !window.keys.empty() && window.keys.back() == Down(4); }));
}

TEST(MidiDeviceList, ASourcePluggedInLaterShowsUpAndGoesAway) {
  const std::string name = midi_test::UniquePortName("late");
  auto listed = [&] {
    const auto names = platform::MidiInputPortNames();
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return n.ends_with(":" + name); });
  };
  EXPECT_FALSE(listed());
  auto late = std::make_unique<testing_support::VirtualMidiSource>(name);
  EXPECT_TRUE(testing_support::WaitFor(listed));
  late.reset();
  EXPECT_TRUE(testing_support::WaitFor([&] { return !listed(); }));
}

namespace {

// The port id under which a source of ours is listed now.
std::optional<platform::MidiPortId> ListedId(const std::string& name) {
  for (const auto& port : platform::MidiInputPorts())
    if (port.label.ends_with(":" + name)) return port.id;
  return std::nullopt;
}

// Sends note-offs of `note` until one comes through: a fresh JACK connection
// may carry notes only from a later cycle.
bool KnockUntilHeard(testing_support::VirtualMidiSource& source, midi_test::KeyRecorder& window,
                     unsigned char note) {
  return testing_support::WaitFor([&] {
    source.Send(0x80, note, 0);
    return testing_support::WaitFor(
        [&] { return !window.keys.empty() && window.keys.back() == Up(note % 36); },
        std::chrono::milliseconds(200));
  });
}

}  // namespace

TEST(MidiPortChoice, APortOpenedByIdIsThatPortWhateverItsNumberAndIsSeenToLeaveAndReturn) {
  const std::string before = midi_test::UniquePortName("before");
  const std::string chosen = midi_test::UniquePortName("chosen");
  auto other = std::make_unique<testing_support::VirtualMidiSource>(before);
  auto source = std::make_unique<testing_support::VirtualMidiSource>(chosen);
  std::optional<platform::MidiPortId> id;
  ASSERT_TRUE(testing_support::WaitFor([&] { return (id = ListedId(chosen)).has_value(); }));
  ASSERT_TRUE(testing_support::WaitFor([&] { return ListedId(before).has_value(); }));
  EXPECT_EQ(id->api, platform::MidiApi::Jack);

  midi_test::KeyRecorder window;
  midi::MyReceiver receiver;
  receiver.SetWindow(&window);
  CMIDIInDevice device(receiver);
  device.Open(*id);
  device.Start();
  EXPECT_EQ(device.PortId(), *id);
  EXPECT_TRUE(device.SourcePresent());
  ASSERT_TRUE(KnockUntilHeard(*source, window, 30));
  window.keys.clear();
  ASSERT_TRUE(other->Send(0x90, 1, 100));
  ASSERT_TRUE(source->Send(0x90, 2, 100));
  ASSERT_TRUE(KnockUntilHeard(*source, window, 31));  // a cycle later than both
  EXPECT_EQ(std::count(window.keys.begin(), window.keys.end(), midi_test::Down(1)), 0);
  EXPECT_EQ(std::count(window.keys.begin(), window.keys.end(), midi_test::Down(2)), 1);

  // Pulled out: the open port sees it go; opening it now fails.
  source.reset();
  EXPECT_TRUE(testing_support::WaitFor([&] { return !device.SourcePresent(); }));
  EXPECT_EQ(device.GetState(), CMIDIInDevice::started);
  CMIDIInDevice late(receiver);
  EXPECT_THROW(late.Open(*id), midi::CMIDIInException);
  EXPECT_EQ(late.GetState(), CMIDIInDevice::closed);

  // Back under the same name, maybe at another number: seen, and opening
  // the same id again plays its notes.
  other.reset();
  source = std::make_unique<testing_support::VirtualMidiSource>(chosen);
  EXPECT_TRUE(testing_support::WaitFor([&] { return device.SourcePresent(); }));
  device.Open(*id);
  device.Start();
  window.keys.clear();
  EXPECT_TRUE(KnockUntilHeard(*source, window, 32));
}

// Notes played while the window is busy (a clip slow to open) reach it
// late: their note-ons are dropped, their note-offs still come, and a note
// played once the window is free again sounds.
TEST_F(JackNotes, NoteOnsThatWaitedTooLongAreDroppedAndEveryNoteOffComes) {
  window.onKey = [&](const KeyEvent& key) {
    if (key != Down(1)) return;
    Play({0x90, 2, 100});
    Play({0x80, 2, 0});
    Play({0x90, 3, 100});
    Play({0x90, 3, 0});
    // The window thread is held, as a slow open holds it.
    std::this_thread::sleep_for(midi::MyReceiver::kStaleNoteOn * 3);
  };
  Play({0x90, 1, 100});
  ASSERT_TRUE(WaitForKeys(3));
  window.onKey = nullptr;
  Play({0x90, 4, 100});
  ASSERT_TRUE(WaitForKeys(4));
  EXPECT_EQ(window.keys, (std::vector<KeyEvent>{Down(1), Up(2), Up(3), Down(4)}));
  EXPECT_EQ(receiver.StaleNoteOns(), 2);
}
