#include "remote/OscHandler.h"

#include "remote/OscPacket.h"

namespace remote {

ParsedCommand HandleOscPacket(const void* data, std::size_t size, const Sender& sender,
                              const Reach& reach, RemoteGate& gate, std::int64_t nowMs) {
  ParsedCommand refused;
  // Nobody else may make this machine decode anything.
  if (!sender.loopback && !gate.Settings().allowOthers) {
    refused.rejection = Rejection::kNotAllowed;
    return refused;
  }
  DecodedPacket packet = DecodeOscPacket(data, size);
  if (packet.rejection != Rejection::kNone) {
    refused.rejection = packet.rejection;
    return refused;
  }
  refused.rejection = gate.Admit(sender, packet.message.args, nowMs);
  if (refused.rejection != Rejection::kNone) return refused;
  return ParseRemoteCommand(packet.message.address, packet.message.args, reach);
}

}  // namespace remote
