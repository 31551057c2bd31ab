#pragma once
// The keyboard window's MIDI receiver: note-on becomes PN_KEYDOWN, note-on
// with velocity 0 and note-off become PN_KEYUP, both with key index = note
// number mod 36, on every channel. Each note is sent to the window as
// WM_PLAYERNOTIFY and waits until the window thread has handled it, so notes
// are handled one at a time in arrival order.

#include "midi/CMIDIReceiver.h"
#include "platform/WindowMessages.h"

#include <QObject>

#include <atomic>

namespace midi {

class MyReceiver : public CMIDIReceiver {
 public:
  MyReceiver() = default;

  // Window thread, while no device using this receiver is started.
  void SetWindow(QObject* window) { window_.store(window); }
  QObject* Window() const { return window_.load(); }

  // Run on the MIDI delivery thread.
  void ReceiveShortMsg(std::uint32_t message, std::uint32_t timeStamp) override;
  void ReceiveLongMsg(const unsigned char*, std::uint32_t, std::uint32_t) override {}
  void OnInvalidShortMsg(std::uint32_t message, std::uint32_t timeStamp) override;
  void OnInvalidLongMsg(const unsigned char*, std::uint32_t, std::uint32_t) override {}

  // Run on the window thread by the device: a note waiting for the window is
  // let go when input stops, and notes flow again when it starts.
  void InputStarting() override { channel_.Reopen(); }
  void InputStopping() override { channel_.Close(); }

 private:
  std::atomic<QObject*> window_{nullptr};
  platform::MessageChannel channel_;
};

}  // namespace midi
