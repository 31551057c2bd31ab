// A flood of notes through JACK while the window thread keeps stopping,
// starting, closing and reopening the device: no cycle may hang, and while
// the device is started no note may be lost, so every note-off that follows
// a note-on arrives as key up.
//
// Our side of JACK's process thread only puts each message into a lock-free
// ring, so it never makes the server miss a cycle: any loss is ours and
// fails, whatever the server reports. Messages dropped because the ring was
// full are counted by the device and printed with the server's xruns.
//
// TASTIVO_MIDI_STRESS_SECONDS and TASTIVO_MIDI_STRESS_RATE (messages per
// second) shrink the load for slow builds such as ThreadSanitizer's. In that
// build alone losses are counted instead of failed: its instrumentation slows
// every JACK client of this process, the source's included, until they miss
// cycles, and JACK drops the MIDI of a missed cycle. That build is there to
// find races, which it reports on its own.

#include "midi/JackSource.h"
#include "platform/midi/JackXrunWatch.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

using namespace std::chrono_literals;
using midi::CMIDIInDevice;
using midi_test::KeyEvent;
using Clock = std::chrono::steady_clock;

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerSlowsJackClients = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kSanitizerSlowsJackClients = true;
#else
constexpr bool kSanitizerSlowsJackClients = false;
#endif
#else
constexpr bool kSanitizerSlowsJackClients = false;
#endif

int EnvOr(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// Handles window messages until done() holds or the deadline passes, without
// sleeping between messages, so the window keeps pace with the flood.
bool Pump(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  QTimer tick;
  tick.start(5);  // wakes the loop to look at the clock
  const auto end = Clock::now() + deadline;
  while (!done()) {
    if (Clock::now() > end) return done();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Checks the key events of one started stretch: the source plays pairs of
// note-on and note-off, so a key down is always followed by its key up, and
// a key up by a key down. The stretch may begin in the middle of a pair.
testing::AssertionResult NothingLost(const std::vector<KeyEvent>& keys, std::size_t from) {
  for (std::size_t i = from; i + 1 < keys.size(); ++i) {
    const KeyEvent& a = keys[i];
    const KeyEvent& b = keys[i + 1];
    const bool ok =
        a.code == platform::PN_KEYDOWN ? b == midi_test::Up(a.key) : b.code == platform::PN_KEYDOWN;
    if (!ok)
      return testing::AssertionFailure()
             << "event " << i << ": " << a << " then " << b << " (a note was lost while started)";
  }
  return testing::AssertionSuccess();
}

}  // namespace

using JackFlood = midi_test::JackInput;

TEST_F(JackFlood, CyclingTheDeviceNeverHangsAndLosesNoReleaseWhileStarted) {
  const int seconds = EnvOr("TASTIVO_MIDI_STRESS_SECONDS", 10);
  const int rate = EnvOr("TASTIVO_MIDI_STRESS_RATE", 10000);
  platform::JackXrunWatch xruns(midi_test::UniquePortName("xruns"));
  std::uint64_t overflows = 0;
  int lossyStretches = 0;
  auto check = [&](std::size_t from, int cycle) {
    auto result = NothingLost(window.keys, from);
    if (!result && kSanitizerSlowsJackClients) {
      ++lossyStretches;
      return;
    }
    EXPECT_TRUE(result) << "cycle " << cycle << ", " << overflows + device.Overflows()
                        << " messages overflowed so far, " << xruns.Count() << " JACK xruns";
  };
  const int perMillisecond = std::max(2, rate / 1000) & ~1;  // whole pairs

  std::atomic<bool> sending{true};
  std::atomic<long> sent{0};
  std::atomic<long> sendFailures{0};
  std::thread sender([&] {
    auto next = Clock::now();
    unsigned note = 0;
    while (sending) {
      for (int i = 0; i < perMillisecond; i += 2, note = (note + 1) % 128) {
        const auto n = static_cast<unsigned char>(note);
        const bool ok = source->Send(0x90, n, 100) && source->Send(0x80, n, 0);
        (ok ? sent : sendFailures) += 2;
      }
      next += 1ms;
      std::this_thread::sleep_until(next);  // paces the source, waits for nothing
    }
  });

  const auto end = Clock::now() + std::chrono::seconds(seconds);
  int cycles = 0;
  std::size_t phase = 0;  // first event of the current started stretch
  while (Clock::now() < end) {
    // Let notes flow for a while, then check what came.
    Pump([&] { return window.keys.size() >= phase + 200; }, 2s);
    check(phase, cycles);

    const auto began = Clock::now();
    overflows += device.Overflows();  // a new port counts from 0
    switch (cycles % 3) {
      case 0:
        device.Stop();
        device.Start();
        break;
      case 1:
        device.Close();
        device.Open(source->DeviceNumber());
        device.Start();
        break;
      case 2:
        device.Open(source->DeviceNumber());  // stops and closes first
        device.Start();
        break;
    }
    // Only a deadlock could take this long; the ctest time-out would be the
    // only other witness.
    EXPECT_LT(Clock::now() - began, 10s) << "cycle " << cycles << " hung";
    ASSERT_EQ(device.GetState(), CMIDIInDevice::started);
    phase = window.keys.size();
    ++cycles;
  }
  // The last stretch is checked too: it has to carry notes before the
  // source stops (a slow build may take a while to connect it).
  EXPECT_TRUE(Pump([&] { return window.keys.size() >= phase + 200; }, 30s));
  sending = false;
  sender.join();

  // The last note-off arrives once the backlog is through.
  const bool drained = Pump(
      [&] { return window.keys.size() > phase && window.keys.back().code == platform::PN_KEYUP; },
      30s);
  if (!kSanitizerSlowsJackClients) {
    EXPECT_TRUE(drained);
  }
  check(phase, cycles);
  overflows += device.Overflows();
  EXPECT_EQ(sendFailures.load(), 0) << source->LastError();
  EXPECT_GT(cycles, 3);
  std::cout << "stress: " << sent.load() << " messages sent, " << window.keys.size()
            << " key events handled, " << cycles << " device cycles, " << overflows
            << " messages overflowed, " << xruns.Count() << " JACK xruns";
  if (kSanitizerSlowsJackClients) std::cout << ", " << lossyStretches << " stretches lost notes";
  std::cout << "\n";
}

TEST_F(JackFlood, EveryNoteOfASteadyFloodArrivesInOrder) {
  const int seconds = EnvOr("TASTIVO_MIDI_STRESS_SECONDS", 10);
  const int rate = EnvOr("TASTIVO_MIDI_STRESS_RATE", 10000);
  const int perMillisecond = std::max(2, rate / 1000) & ~1;  // whole pairs
  platform::JackXrunWatch xruns(midi_test::UniquePortName("xruns"));
  std::atomic<long> sent{0};
  std::atomic<long> sendFailures{0};
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    auto next = Clock::now();
    const auto end = next + std::chrono::seconds(seconds);
    unsigned note = 0;
    while (sending && Clock::now() < end) {
      for (int i = 0; i < perMillisecond; i += 2, note = (note + 1) % 128) {
        const auto n = static_cast<unsigned char>(note);
        const bool ok = source->Send(0x90, n, 100) && source->Send(0x80, n, 0);
        (ok ? sent : sendFailures) += 2;
      }
      next += 1ms;
      std::this_thread::sleep_until(next);
    }
    sending = false;
  });
  // Every message sent while the device is started becomes a key event.
  const bool all = Pump([&] { return !sending && window.keys.size() >= std::size_t(sent); },
                        std::chrono::seconds(seconds + (kSanitizerSlowsJackClients ? 5 : 30)));
  sending = false;
  sender.join();
  const std::uint64_t overflows = device.Overflows();
  std::cout << "steady flood: " << sent.load() << " messages sent, " << window.keys.size()
            << " key events handled, " << overflows << " messages overflowed, " << xruns.Count()
            << " JACK xruns\n";
  EXPECT_EQ(sendFailures.load(), 0) << source->LastError();
  if (kSanitizerSlowsJackClients) return;
  EXPECT_TRUE(all) << window.keys.size() << " of " << sent.load() << " messages arrived, "
                   << overflows << " overflowed, " << xruns.Count() << " JACK xruns";
  EXPECT_EQ(window.keys.size(), std::size_t(sent));
  EXPECT_TRUE(NothingLost(window.keys, 0));
}
