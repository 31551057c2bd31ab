#pragma once
// One OSC packet from the network to a command or a reason for refusing
// it: size, decoding, the sender's admission, then the command's own
// rules. Free of Qt, so that the fuzz target runs exactly this.

#include "remote/RemoteCommand.h"
#include "remote/RemoteGate.h"

#include <cstddef>
#include <cstdint>

namespace remote {

ParsedCommand HandleOscPacket(const void* data, std::size_t size, const Sender& sender,
                              const Reach& reach, RemoteGate& gate, std::int64_t nowMs);

}  // namespace remote
