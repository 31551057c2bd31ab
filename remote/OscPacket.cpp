#include "remote/OscPacket.h"

#include <lo/lo.h>

#include <cstring>
#include <memory>

namespace remote {

namespace {

struct MessageDeleter {
  void operator()(lo_message message) const { lo_message_free(message); }
};
using MessagePtr = std::unique_ptr<std::remove_pointer_t<lo_message>, MessageDeleter>;

}  // namespace

DecodedPacket DecodeOscPacket(const void* data, std::size_t size) {
  DecodedPacket decoded;
  if (size > kMaxPacketBytes) {
    decoded.rejection = Rejection::kOversized;
    return decoded;
  }
  if (size < 4 || size % 4 != 0 || static_cast<const char*>(data)[0] != '/') {
    decoded.rejection = Rejection::kMalformed;
    return decoded;
  }
  // liblo wants writable bytes; it gets a copy of its own.
  std::vector<char> bytes(static_cast<const char*>(data), static_cast<const char*>(data) + size);
  int result = 0;
  MessagePtr message(lo_message_deserialise(bytes.data(), bytes.size(), &result));
  if (!message || result != 0) {
    decoded.rejection = Rejection::kMalformed;
    return decoded;
  }
  // Validated by the decode: the address is the NUL-terminated text it begins with.
  decoded.message.address = bytes.data();
  const char* types = lo_message_get_types(message.get());
  lo_arg** argv = lo_message_get_argv(message.get());
  const int argc = lo_message_get_argc(message.get());
  for (int n = 0; n < argc; ++n) {
    OscArgument arg;
    arg.type = types[n];
    // liblo packs some types (a char, say) tighter than their OSC size, so
    // the arguments after them may be misaligned: read them as bytes.
    const auto* bytes = reinterpret_cast<const char*>(argv[n]);
    switch (arg.type) {
      case LO_INT32:
        std::memcpy(&arg.i, bytes, sizeof arg.i);
        break;
      case LO_FLOAT:
        std::memcpy(&arg.f, bytes, sizeof arg.f);
        break;
      case LO_STRING:
      case LO_SYMBOL:
        arg.type = 's';
        arg.s = bytes;
        break;
      default:
        break;  // kept by its type alone: no command takes it
    }
    decoded.message.args.push_back(std::move(arg));
  }
  return decoded;
}

std::vector<char> EncodeOscMessage(const OscMessage& message) {
  MessagePtr out(lo_message_new());
  for (const OscArgument& arg : message.args) {
    if (arg.type == 'i')
      lo_message_add_int32(out.get(), arg.i);
    else if (arg.type == 'f')
      lo_message_add_float(out.get(), arg.f);
    else if (arg.type == 's')
      lo_message_add_string(out.get(), arg.s.c_str());
    else
      return {};
  }
  std::size_t size = 0;
  void* bytes = lo_message_serialise(out.get(), message.address.c_str(), nullptr, &size);
  if (!bytes) return {};
  std::vector<char> result(static_cast<char*>(bytes), static_cast<char*>(bytes) + size);
  std::free(bytes);
  return result;
}

}  // namespace remote
