#pragma once
// The messages between the machines of a network group, to and from the
// bytes of one UDP datagram. Free of Qt.
//
// A datagram is "TSNG", a version, the kind, fixed-size numbers in network
// byte order, then three short strings. Every message carries the group's
// pairing token, so that no machine acts on a message from outside the
// group, whichever machine it reaches.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace net {

enum class MessageKind : std::uint8_t {
  kJoin = 1,   // a member asks the host in; `name` is the member's
  kWelcome,    // the host takes it; `port` is the host's clock port
  kRefused,    // the host does not; `name` says why
  kAlive,      // sent every little while by each side; `stamp` to be echoed
  kAliveEcho,  // `stamp` as received; `groupNs` the sender's farthest one-way delay
  kLeave,      // the sender leaves the group
  kGone,       // the host tells its members that `name` left (`key` 0) or was lost (1)
  kPress,      // `name` pressed `key`, to start at `groupNs` on the group's clock
  kRelease,    // `name` released `key`
};

struct NetMessage {
  MessageKind kind = MessageKind::kAlive;
  std::uint32_t seq = 0;
  std::uint64_t groupNs = 0;
  std::uint64_t stamp = 0;
  std::int32_t key = 0;
  std::uint16_t port = 0;
  std::string group;
  std::string token;
  std::string name;
};

// Strings longer than this are refused when encoding.
inline constexpr std::size_t kMaxText = 255;

// The datagram; empty when a string is too long.
std::vector<char> EncodeMessage(const NetMessage& message);
// Nothing when the bytes are not one whole message of ours.
std::optional<NetMessage> DecodeMessage(const char* data, std::size_t size);

}  // namespace net
