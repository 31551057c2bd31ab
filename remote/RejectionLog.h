#pragma once
// Counts the refused messages and says at most once a second how many there
// were, so that a flood of bad packets never floods the log as well.

#include "remote/RemoteCommand.h"

#include <array>
#include <cstdint>
#include <string>

namespace remote {

class RejectionLog {
 public:
  static constexpr std::int64_t kIntervalMs = 1000;

  // Counts one; returns the line to log when one is due, else empty.
  std::string Count(Rejection why, std::int64_t nowMs);
  // All refused since the start, by reason.
  std::uint64_t Total(Rejection why) const { return total_[static_cast<std::size_t>(why)]; }
  std::uint64_t Total() const;

 private:
  std::array<std::uint64_t, kRejectionCount> total_{};
  std::array<std::uint64_t, kRejectionCount> unlogged_{};
  std::int64_t loggedAtMs_ = 0;
  bool logged_ = false;
};

}  // namespace remote
