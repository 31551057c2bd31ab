// The input device's states, failures and threads, over the scripted MIDI
// service, and the hand-off of notes to a window that is stopping the device.

#include "midi/CMIDIInDevice.h"
#include "midi/CShortMsg.h"
#include "midi/KeyRecorder.h"
#include "midi/MyReceiver.h"
#include "platform/midi/ScriptedMidiInputService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <thread>

using midi::CMIDIInDevice;
using midi::CMIDIInException;
using midi_test::Down;
using platform::MidiError;
using platform::MidiStatus;
using Strings = std::vector<std::string>;

namespace {

struct Received {
  std::vector<std::pair<std::string, std::uint32_t>> calls;
};

class RecordingReceiver : public midi::CMIDIReceiver {
 public:
  void ReceiveShortMsg(std::uint32_t m, std::uint32_t) override { Add("short", m); }
  void ReceiveLongMsg(const unsigned char* d, std::uint32_t n, std::uint32_t) override {
    Add("long", n ? d[0] : 0);
  }
  void OnInvalidShortMsg(std::uint32_t m, std::uint32_t) override { Add("invalid", m); }
  void OnInvalidLongMsg(const unsigned char*, std::uint32_t n, std::uint32_t) override {
    Add("invalid long", n);
  }
  std::vector<std::pair<std::string, std::uint32_t>> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  void Add(const char* what, std::uint32_t value) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back(what, value);
  }
  std::mutex mutex_;
  std::vector<std::pair<std::string, std::uint32_t>> calls_;
};

class DeviceStates : public ::testing::Test {
 protected:
  platform::ScriptedMidiInputService service{{"First", "Second"}};
  RecordingReceiver receiver;
};

}  // namespace

TEST_F(DeviceStates, StartWhenClosedAndStopWhenNotStartedDoNothing) {
  CMIDIInDevice device(receiver, service);
  device.Start();
  device.Stop();
  device.Close();
  EXPECT_EQ(device.GetState(), CMIDIInDevice::closed);
  device.Open(1);
  device.Stop();
  EXPECT_EQ(device.GetState(), CMIDIInDevice::opened);
  EXPECT_EQ(service.Calls(), (Strings{"Open 1"}));
}

TEST_F(DeviceStates, OpenOnStartedDeviceStopsClosesAndReopens) {
  CMIDIInDevice device(receiver, service);
  device.Open(0);
  device.Start();
  ASSERT_EQ(device.GetState(), CMIDIInDevice::started);
  device.Open(1);
  EXPECT_EQ(device.GetState(), CMIDIInDevice::opened);
  EXPECT_EQ(service.Calls(), (Strings{"Open 0", "Start", "Reset", "Close", "Open 1"}));
  EXPECT_EQ(service.OpenPorts(), 1);
}

TEST_F(DeviceStates, DeviceNumberBeyondTheDevicesThrowsAndStaysClosed) {
  CMIDIInDevice device(receiver, service);
  for (int id : {2, 99, -1}) {
    try {
      device.Open(id);
      ADD_FAILURE() << "no exception for device " << id;
    } catch (const CMIDIInException& e) {
      EXPECT_EQ(e.Code(), MidiError::kBadDevice);
      EXPECT_NE(std::string(e.what()).find(std::to_string(id)), std::string::npos) << e.what();
    }
    EXPECT_EQ(device.GetState(), CMIDIInDevice::closed);
    device.Start();  // still nothing to start
    EXPECT_EQ(device.GetState(), CMIDIInDevice::closed);
  }
}

TEST_F(DeviceStates, FailedStartLeavesItOpenedAndStartableAgain) {
  CMIDIInDevice device(receiver, service);
  device.Open(0);
  service.FailNextStart(MidiStatus::Failure(MidiError::kDriver, "port is busy"));
  try {
    device.Start();
    FAIL() << "no exception";
  } catch (const CMIDIInException& e) {
    EXPECT_STREQ(e.what(), "port is busy");
  }
  EXPECT_EQ(device.GetState(), CMIDIInDevice::opened);
  device.Start();
  EXPECT_EQ(device.GetState(), CMIDIInDevice::started);
}

TEST_F(DeviceStates, FailedCloseStaysOpenedAndDestructionStillEnds) {
  auto device = std::make_unique<CMIDIInDevice>(receiver, service);
  device->Open(0);
  device->Start();
  service.FailNextClose(MidiStatus::Failure(MidiError::kDriver, "cannot close"));
  EXPECT_THROW(device->Close(), CMIDIInException);
  EXPECT_EQ(device->GetState(), CMIDIInDevice::opened);
  device.reset();
  EXPECT_EQ(service.OpenPorts(), 0);
}

TEST_F(DeviceStates, DestroyingAStartedDeviceStopsAndClosesIt) {
  {
    CMIDIInDevice device(receiver, service);
    device.Open(0);
    device.Start();
  }
  EXPECT_EQ(service.Calls(), (Strings{"Open 0", "Start", "Reset", "Close"}));
  EXPECT_EQ(service.OpenPorts(), 0);
}

TEST(DeviceExceptions, CarryTheirTextsAndCopyIt) {
  EXPECT_STREQ(midi::CMIDIInEventFailure().what(),
               "Unable to create a signalling event for CMIDIInDevice object.");
  EXPECT_STREQ(midi::CMIDIInThreadFailure().what(),
               "Unable to create worker thread for CMIDIInDevice object.");
  const std::string longText(300, 'x');
  CMIDIInException copy = [&] {
    CMIDIInException original(MidiStatus::Failure(MidiError::kDriver, longText));
    return original;
  }();
  EXPECT_EQ(std::string(copy.what()), longText.substr(0, 127));
}

TEST_F(DeviceStates, NotificationsReachTheReceiver) {
  CMIDIInDevice device(receiver, service);
  device.Open(0);
  device.Start();
  platform::MidiInHeader header;
  header.buffer = {0xF0, 0x7E, 0xF7};
  header.bytesRecorded = 3;
  const auto headerParam = reinterpret_cast<std::uintptr_t>(&header);
  service.Deliver(platform::kMidiInShortMessage, 0x643C90, 7);
  service.Deliver(platform::kMidiInInvalidShortMessage, 0x45, 8);
  service.Deliver(platform::kMidiInLongData, headerParam, 9);
  service.Deliver(platform::kMidiInInvalidLongData, headerParam, 10);
  service.Deliver(0x3C1, 0, 0);  // port opened: ignored
  using Call = std::pair<std::string, std::uint32_t>;
  EXPECT_EQ(receiver.Calls(),
            (std::vector<Call>{
                {"short", 0x643C90}, {"invalid", 0x45}, {"long", 0xF0}, {"invalid long", 3}}));
  device.Stop();
  EXPECT_EQ(service.Deliver(platform::kMidiInShortMessage, 0x643C90, 11), 0);
}

TEST_F(DeviceStates, HeaderQueueGivesBuffersBackOldestFirst) {
  platform::MidiInHandle port = 0;
  ASSERT_TRUE(service
                  .Open(
                      &port, 0, [](auto, auto, auto*, auto, auto) {}, nullptr)
                  .ok());
  std::vector<platform::MidiInHeader*> raw;
  {
    CMIDIInDevice::CHeaderQueue queue;
    for (int i = 0; i < 3; ++i) {
      auto header = std::make_unique<platform::MidiInHeader>();
      header->prepared = true;
      queue.Add(std::make_unique<CMIDIInDevice::CMIDIInHeader>(service, port, std::move(header)));
    }
    queue.RemoveOldest();
    EXPECT_EQ(service.Calls().back(), "Unprepare");
    queue.RemoveAll();
    EXPECT_TRUE(queue.IsEmpty());
    queue.RemoveOldest();  // empty: nothing happens
    queue.Add(std::make_unique<CMIDIInDevice::CMIDIInHeader>(
        service, port, std::make_unique<platform::MidiInHeader>()));
  }  // destroyed with one header left
  const auto calls = service.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Unprepare"), 4);
}

// A window that is stopping or closing its device while a note waits for it.
class StoppingWhileANoteWaits : public ::testing::Test {
 protected:
  StoppingWhileANoteWaits() {
    receiver.SetWindow(&window);
    device.Open(0);
    device.Start();
  }
  // Plays one note-on from a thread of its own, as the service does.
  std::thread PlayInBackground() {
    return std::thread([this] {
      service.Deliver(platform::kMidiInShortMessage, midi::CShortMsg::PackShortMsg(0x90, 37, 1), 0);
      done = true;
    });
  }
  platform::ScriptedMidiInputService service;
  midi_test::KeyRecorder window;
  midi::MyReceiver receiver;
  CMIDIInDevice device{receiver, service};
  std::atomic<bool> done{false};
};

TEST_F(StoppingWhileANoteWaits, StopReleasesTheWaitingNoteAndDropsIt) {
  auto player = PlayInBackground();
  // Stop without ever handling the note: the player must be let go.
  device.Stop();
  player.join();
  EXPECT_TRUE(done);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window.keys.empty());
  device.Start();  // notes flow again
  auto again = PlayInBackground();
  EXPECT_TRUE(testing_support::WaitFor([&] { return !window.keys.empty(); }));
  again.join();
  EXPECT_EQ(window.keys, std::vector{Down(1)});
}

TEST_F(StoppingWhileANoteWaits, HandlerThatStopsTheDeviceDoesNotDeadlock) {
  window.onKey = [this](const midi_test::KeyEvent&) { device.Stop(); };
  auto player = PlayInBackground();
  EXPECT_TRUE(testing_support::WaitFor([&] { return device.GetState() == CMIDIInDevice::opened; }));
  player.join();
  EXPECT_EQ(window.keys, std::vector{Down(1)});
}

TEST_F(StoppingWhileANoteWaits, DestroyingTheDeviceReleasesTheNote) {
  auto player = PlayInBackground();
  auto other = std::make_unique<CMIDIInDevice>(receiver, service);
  other.reset();  // a closed device: nothing to stop
  device.Close();
  player.join();
  EXPECT_TRUE(done);
}
