#pragma once
// The keyboard window's MIDI receiver: note-on becomes PN_KEYDOWN, note-on
// with velocity 0 and note-off become PN_KEYUP, both with key index = note
// number mod 36, on every channel. Each note is sent to the window as
// WM_PLAYERNOTIFY and waits until the window thread has handled it, so notes
// are handled one at a time in arrival order.
//
// A note-on that reaches the window more than kStaleNoteOn after it was
// played is dropped: while the window was busy (a clip that was slow to
// open) the music went on, and a burst of late notes afterwards is worse
// than the notes missed. Every note-off still goes through, so no key is
// left held.

#include "midi/CMIDIReceiver.h"
#include "platform/WindowMessages.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace midi {

class MyReceiver : public CMIDIReceiver {
 public:
  MyReceiver() = default;

  // Window thread, while no device using this receiver is started.
  void SetWindow(QObject* window) { window_.store(window); }
  QObject* Window() const { return window_.load(); }
  // Window thread, while no device using this receiver is started: `arm`
  // is called with the key of each note-on as the MIDI system takes it (on
  // its thread: it must not block or allocate), to arm the key's start on
  // the output ahead of the window; and with `arm` false for a note-on
  // dropped for coming too late.
  void SetArming(std::function<void(int key, bool arm)> arm) { arm_ = std::move(arm); }
  void NoteTaken(std::uint32_t message) override;

  // Run on the MIDI delivery thread.
  void ReceiveShortMsg(std::uint32_t message, std::uint32_t timeStamp) override;
  void ReceiveLongMsg(const unsigned char*, std::uint32_t, std::uint32_t) override {}
  void OnInvalidShortMsg(std::uint32_t message, std::uint32_t timeStamp) override;
  void OnInvalidLongMsg(const unsigned char*, std::uint32_t, std::uint32_t) override {}

  static constexpr std::chrono::milliseconds kStaleNoteOn{150};

  // Run on the window thread by the device: a note waiting for the window is
  // let go when input stops, and notes flow again when it starts. Time
  // stamps count from the start; until it is known, no note is too late.
  void InputStarting() override {
    startedAtMs_.store(0);
    channel_.Reopen();
  }
  void InputStarted() override { startedAtMs_.store(NowMs()); }
  void InputStopping() override { channel_.Close(); }

  // Note-ons dropped for coming too late, since this receiver was made.
  int StaleNoteOns() const { return stale_.load(); }

 private:
  static std::int64_t NowMs();

  std::atomic<QObject*> window_{nullptr};
  std::function<void(int key, bool arm)> arm_;
  std::atomic<std::int64_t> startedAtMs_{0};
  std::atomic<int> stale_{0};
  platform::MessageChannel channel_;
};

}  // namespace midi
