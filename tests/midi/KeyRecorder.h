#pragma once
// A stand-in keyboard window: records the key-down and key-up messages the
// MIDI receiver sends it, on the window thread.

#include "platform/WindowMessages.h"

#include <QObject>

#include <functional>
#include <ostream>
#include <vector>

namespace midi_test {

struct KeyEvent {
  int code;  // PN_KEYDOWN or PN_KEYUP
  int key;
  bool operator==(const KeyEvent&) const = default;
};

inline KeyEvent Down(int key) {
  return {platform::PN_KEYDOWN, key};
}
inline KeyEvent Up(int key) {
  return {platform::PN_KEYUP, key};
}

class KeyRecorder : public QObject {
 public:
  std::vector<KeyEvent> keys;
  // Runs inside the handler, after the key is recorded.
  std::function<void(const KeyEvent&)> onKey;

  bool event(QEvent* e) override {
    if (auto* message = platform::AsWindowMessage(e)) {
      if (message->Msg == platform::WM_PLAYERNOTIFY &&
          (message->LParam == platform::PN_KEYDOWN || message->LParam == platform::PN_KEYUP)) {
        keys.push_back({static_cast<int>(message->LParam), static_cast<int>(message->WParam)});
        if (onKey) onKey(keys.back());
      }
      return true;
    }
    return QObject::event(e);
  }
};

// Readable failure output for vectors of key events.
inline std::ostream& operator<<(std::ostream& out, const KeyEvent& e) {
  return out << (e.code == platform::PN_KEYDOWN ? "Down(" : "Up(") << e.key << ")";
}

}  // namespace midi_test
