#pragma once
// What the player benchmarks share: a notify window that takes the player's
// messages and does nothing with them, and the "name: value unit" line.

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
