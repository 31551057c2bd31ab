#pragma once
// A loop made on time however busy the window is. The window gives its
// answer to the clip's next end ahead of it (a loop, to the segment its
// marks set); once the decoder has ended the segment that plays, this
// watch waits on a thread of its own, ahead of ordinary work where the
// machine allows, until the outputs have kLoopLead of that segment left to
// play, and makes the loop's seek itself then. The window's thread learns
// of it afterwards. Private to the media layer.
//
// Threads: Arm, Disarm, Claim and TakeFired on the window thread; `due`
// runs on the watch's own thread, under its lock, so never beside them.
// That thread runs only while a loop is armed: a window at rest keeps no
// thread of it.

#include <gst/gst.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace engine {

class LoopWatch {
 public:
  // What the loop's seek came to: sent, with its sequence number, or
  // refused by the graph.
  struct Fired {
    bool sent = false;
    std::uint32_t seqnum = GST_SEQNUM_INVALID;
  };
  using Due = std::function<Fired()>;

  // `told` runs on the watch's thread once `due` has run, outside the lock:
  // it lets the window's thread know.
  LoopWatch(GstElement* pipeline, std::function<void()> told);
  ~LoopWatch();
  LoopWatch(const LoopWatch&) = delete;
  LoopWatch& operator=(const LoopWatch&) = delete;

  // Watches the outputs play out a segment that ends at `endNs` of the clip
  // at `rate`: `due` runs once kLoopLead of it is left, unless Disarm or
  // Claim comes first. Replaces what was armed before.
  void Arm(std::int64_t endNs, double rate, Due due);
  void Disarm();
  // The window's thread has come to the end itself: true when it answers
  // it; false when the watch has taken it (or is taking it) already.
  bool Claim();
  // What the watch did since the last call, once.
  std::optional<Fired> TakeFired();

 private:
  void Watch();

  GstElement* const pipeline_;
  const std::function<void()> told_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool armed_ = false, quit_ = false;
  bool running_ = false;  // the thread watches; it ends once nothing is armed
  std::uint64_t arming_ = 0;  // counts Arm calls
  std::int64_t endNs_ = 0;
  double rate_ = 1.0;
  Due due_;
  std::optional<Fired> fired_;
  std::thread thread_;
};

}  // namespace engine
