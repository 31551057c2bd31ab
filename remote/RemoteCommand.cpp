#include "remote/RemoteCommand.h"

#include <cmath>
#include <optional>

namespace remote {

namespace {

constexpr std::string_view kRoot = "/tastivo/";

std::vector<std::string_view> Split(std::string_view address) {
  std::vector<std::string_view> parts;
  std::size_t from = 0;
  while (from <= address.size()) {
    const std::size_t slash = address.find('/', from);
    const std::size_t end = slash == std::string_view::npos ? address.size() : slash;
    parts.push_back(address.substr(from, end - from));
    if (slash == std::string_view::npos) break;
    from = slash + 1;
  }
  return parts;
}

// An argument as a number, whichever of the two numeric types it came in.
std::optional<double> Number(const OscArgument& arg) {
  if (arg.type == 'i') return arg.i;
  if (arg.type == 'f') return arg.f;
  return std::nullopt;
}

ParsedCommand Refused(Rejection why) {
  ParsedCommand parsed;
  parsed.rejection = why;
  return parsed;
}

ParsedCommand Accepted(const RemoteCommand& command) {
  ParsedCommand parsed;
  parsed.command = command;
  return parsed;
}

// A switch value: exactly 0 or 1.
ParsedCommand Switch(RemoteCommand command, const std::vector<OscArgument>& args) {
  if (args.size() != 1) return Refused(Rejection::kWrongArguments);
  const std::optional<double> value = Number(args[0]);
  if (!value) return Refused(Rejection::kWrongArguments);
  if (*value != 0 && *value != 1) return Refused(Rejection::kOutOfRange);
  command.value = static_cast<int>(*value);
  return Accepted(command);
}

// The one numeric argument.
std::optional<double> Amount(const std::vector<OscArgument>& args, Rejection* why) {
  if (args.size() != 1 || !Number(args[0])) {
    *why = Rejection::kWrongArguments;
    return std::nullopt;
  }
  return Number(args[0]);
}

ParsedCommand Subscription(CommandKind kind, const std::vector<OscArgument>& args) {
  RemoteCommand command;
  command.kind = kind;
  if (args.size() > 1) return Refused(Rejection::kWrongArguments);
  if (args.size() == 1) {
    if (args[0].type != 'i') return Refused(Rejection::kWrongArguments);
    if (args[0].i < 1 || args[0].i > 65535) return Refused(Rejection::kOutOfRange);
    command.value = args[0].i;
  }
  return Accepted(command);
}

ParsedCommand WindowCommand(int window, const std::vector<std::string_view>& rest,
                            const std::vector<OscArgument>& args, const Reach& reach) {
  RemoteCommand command;
  command.window = window;
  const std::string_view verb = rest[0];
  if (verb == "key" && rest.size() == 2) {
    const int key = PlainIndex(rest[1]);
    if (key < 0) return Refused(Rejection::kUnknownAddress);
    if (key >= reach.keysOfWindow[static_cast<std::size_t>(window)])
      return Refused(Rejection::kNoSuchKey);
    command.kind = CommandKind::kKey;
    command.key = key;
    return Switch(command, args);
  }
  if (rest.size() != 1) return Refused(Rejection::kUnknownAddress);
  if (verb == "play" || verb == "stop") {
    if (!args.empty()) return Refused(Rejection::kWrongArguments);
    command.kind = verb == "play" ? CommandKind::kPlay : CommandKind::kStop;
    return Accepted(command);
  }
  if (verb == "loop" || verb == "sustain") {
    command.kind = verb == "loop" ? CommandKind::kLoop : CommandKind::kSustain;
    return Switch(command, args);
  }
  if (verb == "volume" || verb == "rate") {
    Rejection why = Rejection::kNone;
    const std::optional<double> amount = Amount(args, &why);
    if (!amount) return Refused(why);
    const bool volume = verb == "volume";
    const double low = volume ? 0 : 1, high = volume ? 1 : 300;
    // NaN fails both comparisons, so it is refused too.
    if (!(*amount >= low && *amount <= high)) return Refused(Rejection::kOutOfRange);
    command.kind = volume ? CommandKind::kVolume : CommandKind::kRate;
    command.value = static_cast<int>(std::lround(volume ? (1 - *amount) * 100 : *amount));
    return Accepted(command);
  }
  if (verb == "set") {
    if (args.size() != 1 || args[0].type != 's') return Refused(Rejection::kWrongArguments);
    const std::string& name = args[0].s;
    // A name, never a path: only the known lists can be loaded.
    if (name.empty() || name.size() > kMaxSetNameBytes || name.find('/') != std::string::npos ||
        name == "." || name == "..")
      return Refused(Rejection::kOutOfRange);
    command.kind = CommandKind::kSet;
    command.text = name;
    return Accepted(command);
  }
  return Refused(Rejection::kUnknownAddress);
}

}  // namespace

const char* RejectionName(Rejection rejection) {
  switch (rejection) {
    case Rejection::kNone:
      return "none";
    case Rejection::kOversized:
      return "oversized packet";
    case Rejection::kMalformed:
      return "malformed packet";
    case Rejection::kUnknownAddress:
      return "unknown address";
    case Rejection::kWrongArguments:
      return "wrong arguments";
    case Rejection::kNoSuchWindow:
      return "no such window";
    case Rejection::kNoSuchKey:
      return "no such key";
    case Rejection::kOutOfRange:
      return "value out of range";
    case Rejection::kNotAllowed:
      return "sender not allowed";
    case Rejection::kFlood:
      return "too many messages";
  }
  return "unknown";
}

int PlainIndex(std::string_view text) {
  if (text.empty() || text.size() > 9) return -1;
  if (text.size() > 1 && text[0] == '0') return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

ParsedCommand ParseRemoteCommand(std::string_view address, const std::vector<OscArgument>& args,
                                 const Reach& reach) {
  if (address.substr(0, kRoot.size()) != kRoot) return Refused(Rejection::kUnknownAddress);
  const std::vector<std::string_view> parts = Split(address.substr(kRoot.size()));
  if (parts.size() == 1) {
    if (parts[0] == "windows") {
      if (!args.empty()) return Refused(Rejection::kWrongArguments);
      RemoteCommand command;
      command.kind = CommandKind::kWindows;
      return Accepted(command);
    }
    if (parts[0] == "subscribe") return Subscription(CommandKind::kSubscribe, args);
    if (parts[0] == "unsubscribe") return Subscription(CommandKind::kUnsubscribe, args);
    return Refused(Rejection::kUnknownAddress);
  }
  const int window = PlainIndex(parts[0]);
  if (window < 0) return Refused(Rejection::kUnknownAddress);
  if (static_cast<std::size_t>(window) >= reach.keysOfWindow.size())
    return Refused(Rejection::kNoSuchWindow);
  return WindowCommand(window, {parts.begin() + 1, parts.end()}, args, reach);
}

}  // namespace remote
