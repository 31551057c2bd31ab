#pragma once
// The notices a graph holds for its window (a clip's end, an error), and the
// message that tells the window some are waiting. Private to the media layer.
//
// Threads: window thread only.

#include "platform/WindowMessages.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <deque>

namespace engine {

class GraphNotices {
 public:
  void SetWindow(QObject* window, int msg, std::intptr_t param) {
    window_ = window;
    msg_ = msg;
    param_ = param;
  }
  void SetFlags(long flags) { flags_ = flags; }

  void Queue(long code, std::intptr_t p1, std::intptr_t p2) {
    events_.push_back({code, p1, p2});
    if (flags_ == 0 && window_) platform::PostMessage(window_, msg_, 0, param_);
  }
  // The oldest notice; false when there is none.
  bool Take(long& code, std::intptr_t& p1, std::intptr_t& p2) {
    if (events_.empty()) return false;
    const auto e = events_.front();
    events_.pop_front();
    code = e.code;
    p1 = e.p1;
    p2 = e.p2;
    return true;
  }
  // The clip or segment they were about is gone.
  void Clear() { events_.clear(); }

 private:
  struct Event {
    long code;
    std::intptr_t p1, p2;
  };
  std::deque<Event> events_;
  QPointer<QObject> window_;
  int msg_ = 0;
  std::intptr_t param_ = 0;
  long flags_ = 0;
};

}  // namespace engine
