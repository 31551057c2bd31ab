#include "remote/RemoteGate.h"

#include <algorithm>

namespace remote {

bool SameSecret(const std::string& a, const std::string& b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t k = 0; k < n; ++k) {
    const char x = k < a.size() ? a[k] : 0;
    const char y = k < b.size() ? b[k] : 0;
    differ |= static_cast<unsigned char>(x ^ y);
  }
  return differ == 0;
}

bool RemoteGate::TakeToken(std::vector<OscArgument>& args) const {
  if (settings_.token.empty() || args.empty() || args[0].type != 's') return false;
  if (!SameSecret(args[0].s, settings_.token)) return false;
  args.erase(args.begin());
  return true;
}

bool RemoteGate::WithinRate(const std::string& host, std::int64_t nowMs) {
  auto it = buckets_.find(host);
  if (it == buckets_.end()) {
    if (buckets_.size() >= kMaxSenders) {
      auto fullest = std::max_element(buckets_.begin(), buckets_.end(), [](auto& a, auto& b) {
        return a.second.tokens < b.second.tokens;
      });
      buckets_.erase(fullest);
    }
    it = buckets_.emplace(host, Bucket{kBurst, nowMs}).first;
  }
  Bucket& bucket = it->second;
  const double elapsed = std::max<std::int64_t>(0, nowMs - bucket.atMs) / 1000.0;
  bucket.tokens = std::min(kBurst, bucket.tokens + elapsed * kPerSecond);
  bucket.atMs = nowMs;
  if (bucket.tokens < 1) return false;
  bucket.tokens -= 1;
  return true;
}

Rejection RemoteGate::Admit(const Sender& sender, std::vector<OscArgument>& args,
                            std::int64_t nowMs) {
  const bool tokenGiven = TakeToken(args);
  if (!sender.loopback) {
    if (!settings_.allowOthers) return Rejection::kNotAllowed;
    const bool listed = std::find(settings_.allowList.begin(), settings_.allowList.end(),
                                  sender.host) != settings_.allowList.end();
    if (!listed && !tokenGiven) return Rejection::kNotAllowed;
  }
  if (!WithinRate(sender.host, nowMs)) return Rejection::kFlood;
  return Rejection::kNone;
}

}  // namespace remote
