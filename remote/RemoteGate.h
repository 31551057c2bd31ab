#pragma once
// Who may send the remote commands, and how many. Free of Qt.
//
// A sender on this machine is always let in. Another one only when other
// devices are allowed, and then only from an address of the allow-list or
// with the pairing token as its first argument (which is taken off before
// the command is read). Every sender may send a burst of kBurst messages and
// kPerSecond after that; the rest is refused as a flood.

#include "remote/RemoteCommand.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace remote {

struct GateSettings {
  bool allowOthers = false;
  std::string token;  // empty: no token lets a sender in
  std::vector<std::string> allowList;
};

struct Sender {
  std::string host;  // the address as text, "192.168.1.20"
  bool loopback = false;
};

class RemoteGate {
 public:
  static constexpr double kPerSecond = 200;
  static constexpr double kBurst = 100;
  // Senders remembered for their rate; beyond it the quietest is forgotten.
  static constexpr std::size_t kMaxSenders = 64;

  explicit RemoteGate(GateSettings settings = {}) : settings_(std::move(settings)) {}
  void SetSettings(GateSettings settings) { settings_ = std::move(settings); }
  const GateSettings& Settings() const { return settings_; }

  // kNone, kNotAllowed or kFlood. A leading token argument is removed from
  // args whoever sent it.
  Rejection Admit(const Sender& sender, std::vector<OscArgument>& args, std::int64_t nowMs);
  // Takes one message of host's allowance; false when it has none left.
  bool WithinRate(const std::string& host, std::int64_t nowMs);

 private:
  bool TakeToken(std::vector<OscArgument>& args) const;

  GateSettings settings_;
  struct Bucket {
    double tokens = kBurst;
    std::int64_t atMs = 0;
  };
  std::map<std::string, Bucket> buckets_;
};

// True when a and b are equal, in a time that does not tell where they differ.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace remote
