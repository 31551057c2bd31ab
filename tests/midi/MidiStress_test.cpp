// Floods of notes through JACK.
//
// Our side of JACK's process thread only puts each message into a lock-free
// ring, so it never makes the server miss a cycle. The steady flood proves by
// count that every message that reaches our port reaches the window, in
// order, with no overflow; when the server missed no cycle, every message
// sent must have reached it. A source that misses cycles on a loaded machine
// (these servers run without real-time priority) drops MIDI before our port;
// the port's arrival count tells such losses from ours.
//
// The cycling flood stops, starts, closes and reopens the device meanwhile:
// no cycle may hang, nothing may overflow, and while the device is started a
// note-off that follows a note-on arrives as key up. There stop and start
// drop messages by design, so arrivals can't be counted per stretch; a
// stretch that lost a note passes only when nothing overflowed and the
// server missed a cycle during it (the steady flood shows where such losses
// happen), and it is counted and printed.
//
// TASTIVO_MIDI_STRESS_SECONDS and TASTIVO_MIDI_STRESS_RATE (messages per
// second) shrink the load for slow builds such as ThreadSanitizer's. In that
// build alone losses are counted instead of failed: its instrumentation slows
// every JACK client of this process, the source's included, until they miss
// cycles, and JACK drops the MIDI of a missed cycle. That build is there to
// find races, which it reports on its own.

#include "midi/JackSource.h"
#include "support/JackXrunWatch.h"

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
  testing_support::JackXrunWatch xruns(midi_test::UniquePortName("xruns"));
  std::uint64_t overflows = 0;
  int lossyStretches = 0;
  // Counts at the start of the previous stretch: the notes of a cycle JACK
  // dropped near a restart go missing in the stretch after it.
  long xrunsBefore = xruns.Count();
  long xrunsEarlier = xrunsBefore;
  auto check = [&](std::size_t from, int cycle) {
    auto result = NothingLost(window.keys, from);
    const bool jackMissedACycle = xruns.Count() != xrunsEarlier;
    if (!result && overflows + device.Overflows() == 0 &&
        (jackMissedACycle || kSanitizerSlowsJackClients)) {
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
    xrunsEarlier = std::exchange(xrunsBefore, xruns.Count());
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
  if (!kSanitizerSlowsJackClients && xruns.Count() == xrunsEarlier) {
    EXPECT_TRUE(drained);
  }
  check(phase, cycles);
  overflows += device.Overflows();
  EXPECT_EQ(overflows, 0u);
  EXPECT_EQ(sendFailures.load(), 0) << source->LastError();
  EXPECT_GT(cycles, 3);
  std::cout << "stress: " << sent.load() << " messages sent, " << window.keys.size()
            << " key events handled, " << cycles << " device cycles, " << overflows
            << " messages overflowed, " << xruns.Count() << " JACK xruns";
  std::cout << ", " << lossyStretches << " stretches lost notes while JACK missed cycles\n";
}

TEST_F(JackFlood, EveryNoteOfASteadyFloodArrivesInOrder) {
  const int seconds = EnvOr("TASTIVO_MIDI_STRESS_SECONDS", 10);
  const int rate = EnvOr("TASTIVO_MIDI_STRESS_RATE", 10000);
  const int perMillisecond = std::max(2, rate / 1000) & ~1;  // whole pairs
  testing_support::JackXrunWatch xruns(midi_test::UniquePortName("xruns"));
  const long xrunsBefore = xruns.Count();
  const std::uint64_t arrivedBefore = device.MessagesArrived();  // the fixture's knocks
  const auto arrived = [&] { return static_cast<long>(device.MessagesArrived() - arrivedBefore); };
  std::atomic<long> sent{0};
  std::atomic<long> sendFailures{0};
  std::atomic<bool> sending{true};
  std::atomic<Clock::rep> stoppedAt{0};
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
    stoppedAt = Clock::now().time_since_epoch().count();
    sending = false;
  });
  // Done when every message sent has become a key event; or, a second after
  // the source stopped, when every message that reached our port has.
  const auto settled = [&] {
    const auto handled = static_cast<long>(window.keys.size());
    if (sending) return false;
    if (handled >= sent) return true;
    return handled == arrived() &&
           Clock::now().time_since_epoch().count() > stoppedAt + Clock::duration(1s).count();
  };
  const bool done = Pump(settled, std::chrono::seconds(seconds + 30));
  sending = false;
  sender.join();
  const long handled = static_cast<long>(window.keys.size());
  const long jackXruns = xruns.Count() - xrunsBefore;
  std::cout << "steady flood: " << sent.load() << " messages sent, " << arrived()
            << " reached our port, " << handled << " key events handled, " << device.Overflows()
            << " messages overflowed, " << jackXruns << " JACK xruns\n";
  EXPECT_TRUE(done);
  EXPECT_EQ(sendFailures.load(), 0) << source->LastError();
  // Ours, always: what reached the port reaches the window, in order, and
  // nothing overflows.
  EXPECT_EQ(device.Overflows(), 0u);
  EXPECT_EQ(handled, arrived()) << "messages were lost between our port and the window";
  // A server that kept every cycle delivered every note; otherwise what it
  // dropped never reached us, and the order is checked on what did.
  if (jackXruns == 0) {
    EXPECT_EQ(handled, sent.load()) << "lost although JACK missed no cycle";
    EXPECT_TRUE(NothingLost(window.keys, 0));
  } else if (handled != sent.load()) {
    std::cout << "steady flood: " << sent.load() - arrived()
              << " messages dropped by JACK in its missed cycles, before our port\n";
  }
}
