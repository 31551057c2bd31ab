#include "platform/KeyTrace.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

const bool KeyTrace::enabled_ = std::getenv("TASTIVO_KEY_TRACE") != nullptr;
std::atomic<std::int64_t> KeyTrace::stamps_[KeyTrace::kStages];

void KeyTrace::Stamp(Stage stage) {
  if (!enabled_) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::int64_t ns = std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
  if (stage == kNoteTaken) {
    for (auto& s : stamps_) s.store(0, std::memory_order_relaxed);
    stamps_[stage].store(ns, std::memory_order_relaxed);
    return;
  }
  // Only the first pass counts: later writes and reads are the same key's.
  std::int64_t none = 0;
  stamps_[stage].compare_exchange_strong(none, ns, std::memory_order_relaxed);
}

void KeyTrace::PrintLast() {
  if (!enabled_) return;
  static const char* const names[kStages] = {"taken",   "delivered", "window", "play",
                                             "playing", "committed", "read"};
  const std::int64_t from = stamps_[kNoteTaken].load(std::memory_order_relaxed);
  if (from == 0) return;
  std::fprintf(stderr, "key-trace:");
  for (int s = 1; s < kStages; ++s) {
    const std::int64_t at = stamps_[s].load(std::memory_order_relaxed);
    if (at == 0)
      std::fprintf(stderr, " %s=-", names[s]);
    else
      std::fprintf(stderr, " %s=%.3f", names[s], double(at - from) / 1e6);
  }
  std::fprintf(stderr, " ms\n");
}

}  // namespace platform
