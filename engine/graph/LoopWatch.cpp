#include "engine/graph/LoopWatch.h"

#include "engine/graph/SegmentPlayer.h"
#include "engine/outputs/OutputDevice.h"

#include <algorithm>
#include <chrono>

namespace engine {

LoopWatch::LoopWatch(GstElement* pipeline, std::function<void()> told)
    : pipeline_(pipeline), told_(std::move(told)) {}

LoopWatch::~LoopWatch() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LoopWatch::Arm(std::int64_t endNs, double rate, Due due) {
  std::unique_lock lock(mutex_);
  armed_ = true;
  ++arming_;
  endNs_ = endNs;
  rate_ = rate > 0 ? rate : 1.0;
  due_ = std::move(due);
  if (running_) {
    wake_.notify_all();
    return;
  }
  // The last thread has ended, or is about to.
  running_ = true;
  if (thread_.joinable()) {
    lock.unlock();
    thread_.join();
    lock.lock();
  }
  thread_ = std::thread([this] { Watch(); });
}

void LoopWatch::Disarm() {
  {
    std::lock_guard lock(mutex_);
    armed_ = false;
    due_ = nullptr;
  }
  wake_.notify_all();
}

bool LoopWatch::Claim() {
  std::lock_guard lock(mutex_);
  if (fired_) return false;
  armed_ = false;
  due_ = nullptr;
  return true;
}

std::optional<LoopWatch::Fired> LoopWatch::TakeFired() {
  std::lock_guard lock(mutex_);
  return std::exchange(fired_, std::nullopt);
}

void LoopWatch::Watch() {
  // As the outputs' own threads: a busy machine delays the loop no more
  // than it delays them.
  OutputDevice::RunAheadOfOrdinaryWork();
  const auto lead = std::chrono::nanoseconds(kLoopLead);
  std::unique_lock lock(mutex_);
  while (armed_ && !quit_) {
    // Read where the outputs are without the lock: the window may disarm
    // meanwhile, and is not kept waiting on the pipeline.
    const std::uint64_t arming = arming_;
    const std::int64_t endNs = endNs_;
    const double rate = rate_;
    lock.unlock();
    // How long, in ns as heard, the outputs still play the segment.
    std::optional<std::int64_t> tail;
    if (gint64 position = 0; gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position))
      tail = std::max<std::int64_t>(0, std::int64_t(double(endNs - position) / rate));
    lock.lock();
    if (quit_ || !armed_ || arming_ != arming) continue;
    if (tail && *tail <= lead.count()) {
      armed_ = false;
      fired_ = due_();
      due_ = nullptr;
      lock.unlock();
      told_();
      lock.lock();
      continue;
    }
    // Sleeps until the time has come, looking again every 10 ms at most: a
    // position that stalls or jumps is followed.
    const auto wait = tail ? std::chrono::nanoseconds(*tail) - lead : std::chrono::nanoseconds(0);
    wake_.wait_for(lock, std::clamp<std::chrono::nanoseconds>(wait, std::chrono::milliseconds(1),
                                                             std::chrono::milliseconds(10)));
  }
  running_ = false;
}

}  // namespace engine
