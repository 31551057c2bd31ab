// libFuzzer entry for the OSC handler: any packet, from this machine or
// another, must be refused or turned into a command the program can carry
// out, without a crash, a hang or a read outside the packet. The first byte
// chooses the sender and the gate; the rest is the packet.

#include "remote/OscHandler.h"
#include "remote/OscPacket.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  // An exact-size heap copy, so AddressSanitizer catches a read one byte past
  // the end.
  std::vector<char> packet(data + 1, data + size);
  remote::GateSettings settings;
  settings.allowOthers = (mode & 1) != 0;
  settings.token = "0123456789abcdef0123456789abcdef";
  settings.allowList = {"10.0.0.7"};
  remote::RemoteGate gate(settings);
  const remote::Sender sender = (mode & 6) == 0   ? remote::Sender{"127.0.0.1", true}
                                : (mode & 6) == 2 ? remote::Sender{"10.0.0.7", false}
                                                  : remote::Sender{"10.0.0.9", false};
  const remote::Reach reach{{36, 3, 0}};
  const remote::ParsedCommand parsed =
      remote::HandleOscPacket(packet.data(), packet.size(), sender, reach, gate, 0);
  if (!parsed.Ok()) {
    if (parsed.rejection == remote::Rejection::kNone) abort();
    return 0;
  }
  if (!sender.loopback && !settings.allowOthers) abort();
  const remote::RemoteCommand& c = parsed.command;
  if (c.window >= static_cast<int>(reach.keysOfWindow.size())) abort();
  if (c.kind == remote::CommandKind::kKey &&
      (c.window < 0 || c.key < 0 || c.key >= reach.keysOfWindow[c.window] || c.value < 0 ||
       c.value > 1))
    abort();
  if (c.kind == remote::CommandKind::kVolume && (c.value < 0 || c.value > 100)) abort();
  if (c.kind == remote::CommandKind::kRate && (c.value < 1 || c.value > 300)) abort();
  if (c.kind == remote::CommandKind::kSet && c.text.find('/') != std::string::npos) abort();
  // What is decoded encodes again and decodes to the same.
  const remote::DecodedPacket decoded = remote::DecodeOscPacket(packet.data(), packet.size());
  std::vector<remote::OscArgument> known;
  for (const remote::OscArgument& arg : decoded.message.args)
    if (arg.type == 'i' || arg.type == 'f' || arg.type == 's') known.push_back(arg);
  const std::vector<char> again = remote::EncodeOscMessage({decoded.message.address, known});
  const remote::DecodedPacket redecoded = remote::DecodeOscPacket(again.data(), again.size());
  if (redecoded.message.address != decoded.message.address ||
      redecoded.message.args.size() != known.size())
    abort();
  return 0;
}
