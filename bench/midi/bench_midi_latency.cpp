// Latency from the MIDI callback to the keyboard window's handler, with notes
// played through the JACK server at 1,000 notes per second. Also prints the
// whole way from sending the note to the handler, which includes JACK's
// period. Run under scripts/with-test-services.sh.

#include "midi/CMIDIInDevice.h"
#include "midi/MyReceiver.h"
#include "platform/WindowMessages.h"
#include "support/VirtualMidiSource.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// Notes the moment the callback starts, then hands on to the real receiver.
class TimedReceiver : public midi::MyReceiver {
 public:
  std::atomic<std::int64_t> calledAt{0};
  void ReceiveShortMsg(std::uint32_t message, std::uint32_t timeStamp) override {
    calledAt = NowNs();
    MyReceiver::ReceiveShortMsg(message, timeStamp);
  }
};

class Window : public QObject {
 public:
  TimedReceiver* receiver = nullptr;
  std::vector<double> callbackToHandlerUs;
  std::vector<std::int64_t> handledAt;
  bool event(QEvent* e) override {
    if (auto* m = platform::AsWindowMessage(e)) {
      const std::int64_t now = NowNs();
      if (m->LParam == platform::PN_KEYDOWN) {
        callbackToHandlerUs.push_back((now - receiver->calledAt.load()) / 1000.0);
        handledAt.push_back(now);
      }
      return true;
    }
    return QObject::event(e);
  }
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * (v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  try {
    testing_support::VirtualMidiSource source("tastivo-bench-latency");
    int device = -1;
    for (int i = 0; i < 100 && device < 0; ++i) device = source.DeviceNumber();
    TimedReceiver receiver;
    Window window;
    window.receiver = &receiver;
    receiver.SetWindow(&window);
    midi::CMIDIInDevice input(receiver);
    input.Open(device);
    input.Start();

    constexpr int kNotes = 3000;  // note-ons; each followed by its note-off
    std::vector<std::int64_t> sentAt(kNotes);
    std::atomic<bool> done{false};
    std::thread sender([&] {
      auto next = Clock::now() + std::chrono::milliseconds(300);  // let JACK route
      std::this_thread::sleep_until(next);
      for (int i = 0; i < kNotes; ++i) {
        sentAt[i] = NowNs();
        source.Send(0x90, static_cast<unsigned char>(i % 128), 100);
        source.Send(0x80, static_cast<unsigned char>(i % 128), 0);
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
      }
      done = true;
    });
    QTimer tick;
    tick.start(5);
    const auto end = Clock::now() + std::chrono::seconds(30);
    while ((!done || window.handledAt.size() < kNotes) && Clock::now() < end)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    sender.join();
    input.Stop();
    input.Close();

    // Knock notes sent before JACK routed the connection drop off the front.
    const std::size_t got = window.handledAt.size();
    std::vector<double> endToEndMs;
    for (std::size_t i = 0; i < got; ++i) {
      const std::size_t sentIndex = kNotes - got + i;
      endToEndMs.push_back((window.handledAt[i] - sentAt[sentIndex]) / 1e6);
    }
    std::printf("midi_notes_handled: %zu of %d\n", got, kNotes);
    std::printf("midi_callback_to_handler_p50: %.1f us\n",
                Percentile(window.callbackToHandlerUs, 0.50));
    std::printf("midi_callback_to_handler_p99: %.1f us\n",
                Percentile(window.callbackToHandlerUs, 0.99));
    std::printf("midi_send_to_handler_p50: %.2f ms\n", Percentile(endToEndMs, 0.50));
    std::printf("midi_send_to_handler_p99: %.2f ms\n", Percentile(endToEndMs, 0.99));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_midi_latency: %s\n", e.what());
    return 1;
  }
  return 0;
}
