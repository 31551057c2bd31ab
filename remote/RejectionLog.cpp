#include "remote/RejectionLog.h"

#include <numeric>

namespace remote {

std::uint64_t RejectionLog::Total() const {
  return std::accumulate(total_.begin(), total_.end(), std::uint64_t{0});
}

std::string RejectionLog::Count(Rejection why, std::int64_t nowMs) {
  const auto index = static_cast<std::size_t>(why);
  ++total_[index];
  ++unlogged_[index];
  if (logged_ && nowMs - loggedAtMs_ < kIntervalMs) return {};
  logged_ = true;
  loggedAtMs_ = nowMs;
  std::uint64_t count = 0;
  std::string reasons;
  for (std::size_t k = 0; k < unlogged_.size(); ++k) {
    if (unlogged_[k] == 0) continue;
    count += unlogged_[k];
    if (!reasons.empty()) reasons += ", ";
    reasons += RejectionName(static_cast<Rejection>(k));
    reasons += ": " + std::to_string(unlogged_[k]);
    unlogged_[k] = 0;
  }
  return "tastivo: remote: ignored " + std::to_string(count) +
         (count == 1 ? " message (" : " messages (") + reasons + ")";
}

}  // namespace remote
