#pragma once
// Records the player notices a window receives, in order, and can answer
// them the way an owner does.

#include "platform/WindowMessages.h"

#include <QObject>

#include <functional>
#include <vector>

class NoticeRecorder : public QObject {
 public:
  explicit NoticeRecorder(int messageOffset = 0) : offset_(messageOffset) {}

  std::vector<int> codes;
  std::vector<int> messages;  // message numbers, for checking the offset
  std::function<void(int code)> onNotice;

  int Count(int code) const {
    int n = 0;
    for (int c : codes) n += c == code;
    return n;
  }
  void Clear() {
    codes.clear();
    messages.clear();
  }

 protected:
  bool event(QEvent* event) override {
    if (auto* m = platform::AsWindowMessage(event)) {
      if (m->Msg == platform::WM_PLAYERNOTIFY + offset_) {
        codes.push_back(static_cast<int>(m->LParam));
        messages.push_back(m->Msg);
        if (onNotice) onNotice(static_cast<int>(m->LParam));
      }
      return true;
    }
    return QObject::event(event);
  }

 private:
  int offset_;
};
