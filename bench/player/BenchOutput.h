#pragma once
// What the player benchmarks share: a notify window that takes the player's
// messages and does nothing with them, and the "name: value unit" line.

#include "engine/outputs/AudioOutputChoice.h"
#include "platform/WindowMessages.h"

#include <QEvent>
#include <QObject>

#include <cstdio>
#include <string>

class QuietWindow : public QObject {
 protected:
  bool event(QEvent* e) override {
    if (platform::AsWindowMessage(e)) return true;
    return QObject::event(e);
  }
};

inline void Print(const std::string& name, double value, const char* unit) {
  std::printf("%s: %.2f %s\n", name.c_str(), value, unit);
  std::fflush(stdout);
}

// False, with a word on stderr, when the default output is no JACK
// server's: these benchmarks read the server's frame clock.
inline bool OnJackServer() {
  if (engine::DefaultAudioOutput().Sink == "jackaudiosink") return true;
  std::fprintf(stderr, "needs a running JACK server (scripts/with-test-services.sh)\n");
  return false;
}
