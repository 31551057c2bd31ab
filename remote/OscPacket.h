#pragma once
// OSC packets to and from bytes, over liblo. Free of Qt.

#include "remote/RemoteCommand.h"

#include <cstddef>
#include <string>
#include <vector>

namespace remote {

struct OscMessage {
  std::string address;
  std::vector<OscArgument> args;
};

struct DecodedPacket {
  OscMessage message;
  Rejection rejection = Rejection::kNone;
};

// One OSC message; bundles are refused as malformed (no controller of a
// show needs their time tags, and their nesting is an easy flood).
DecodedPacket DecodeOscPacket(const void* data, std::size_t size);

// The message's bytes, ready to send; empty when it can't be made.
std::vector<char> EncodeOscMessage(const OscMessage& message);

}  // namespace remote
