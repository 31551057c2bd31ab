#include "platform/midi/MidiInputService.h"

#include "platform/midi/RtMidiInputService.h"

namespace platform {

namespace {

// Data bytes a status byte takes, or -1 for a byte that cannot start a short
// message.
int DataBytesOf(unsigned char status) {
  if (status < 0x80) return -1;
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    case 0xF0:
      break;
    default:
      return 2;
  }
  switch (status) {
    case 0xF1:
    case 0xF3:
      return 1;
    case 0xF2:
      return 2;
    case 0xF6:
      return 0;
    case 0xF0:  // system-exclusive, handled before
    case 0xF4:
    case 0xF5:
    case 0xF7:
      return -1;
    default:
      return 0;  // real-time messages 0xF8-0xFF
  }
}

std::uint32_t PackFirstBytes(const unsigned char* bytes, std::size_t length) {
  std::uint32_t message = 0;
  for (std::size_t i = 0; i < length && i < 3; ++i)
    message |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  return message;
}

}  // namespace

PackedMidiMessage PackMidiBytes(const unsigned char* bytes, std::size_t length) {
  using Kind = PackedMidiMessage::Kind;
  if (bytes == nullptr || length == 0) return {Kind::kInvalid, 0};
  const std::uint32_t packed = PackFirstBytes(bytes, length);
  if (bytes[0] == 0xF0) return {Kind::kSystemExclusive, packed};
  const int dataBytes = DataBytesOf(bytes[0]);
  if (dataBytes < 0 || length != static_cast<std::size_t>(dataBytes) + 1)
    return {Kind::kInvalid, packed};
  for (std::size_t i = 1; i < length; ++i)
    if (bytes[i] >= 0x80) return {Kind::kInvalid, packed};
  return {Kind::kShort, packed};
}

MidiInputService& DefaultMidiInputService() {
  static RtMidiInputService service;
  return service;
}

}  // namespace platform
