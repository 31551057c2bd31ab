#pragma once
// An event that releases one wait per signal and then resets itself; a
// signal with nobody waiting stays set until the next wait.

#include <condition_variable>
#include <mutex>

namespace midi {

class AutoResetEvent {
 public:
  void Signal() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    wake_.notify_one();
  }

  void Wait() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool signalled_ = false;
};

}  // namespace midi
