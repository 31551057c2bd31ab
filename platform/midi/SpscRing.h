#pragma once
// A bounded first-in first-out queue for exactly one producer thread and one
// consumer thread, without locks or allocation after construction: the
// producer can be a real-time thread (JACK's process thread) that must never
// wait for the consumer.

#include <atomic>
#include <cstddef>
#include <memory>

namespace platform {

template <typename T>
class SpscRing {
 public:
  // capacity is rounded up to a power of two.
  explicit SpscRing(std::size_t capacity) {
    std::size_t size = 2;
    while (size < capacity) size *= 2;
    mask_ = size - 1;
    slots_ = std::make_unique<T[]>(size);
  }
  SpscRing(const SpscRing&) = delete;
  SpscRing& operator=(const SpscRing&) = delete;

  std::size_t Capacity() const { return mask_ + 1; }

  // Producer only. False when the ring is full; the item is not queued.
  bool TryPush(const T& item) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) > mask_) return false;
    slots_[tail & mask_] = item;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

  // Consumer only. False when the ring is empty.
  bool TryPop(T& item) {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    item = slots_[head & mask_];
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

 private:
  std::unique_ptr<T[]> slots_;
  std::size_t mask_ = 0;
  // Apart, so the two threads don't share a cache line.
  alignas(64) std::atomic<std::size_t> head_{0};
  alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace platform
