#pragma once
// The remote's commands as they arrive over OSC, and the rules that turn an
// address and its arguments into one of them or a counted reason for
// refusing it. Free of Qt and of the network, so that the fuzz target builds
// it alone.
//
// Address space (window: the keyboard window's instance number, 0 for the
// first; key: the row of its set, 0 for the first):
//   /tastivo/<window>/key/<key> i 1|0   press (1) or release (0) the key
//   /tastivo/<window>/play              Play
//   /tastivo/<window>/stop              Stop (the window's group)
//   /tastivo/<window>/loop i 1|0        tick or untick Loop
//   /tastivo/<window>/sustain i 1|0     tick or untick Sustain
//   /tastivo/<window>/volume f 0..1     the volume bar, 1 at the top
//   /tastivo/<window>/rate f 1..300     the rate bar, 100 for normal speed
//   /tastivo/<window>/set s <name>      load the known list of that file name
//   /tastivo/windows                    reply: the windows, groups and sets
//   /tastivo/subscribe [i port]         state pushes to the sender (or port)
//   /tastivo/unsubscribe [i port]       no more state pushes
// An integer argument is also taken as a float and vice versa (some
// controllers send only floats); anything else is a wrong type.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace remote {

struct OscArgument {
  char type = 0;  // the OSC type tag: 'i', 'f', 's', ...
  std::int32_t i = 0;
  float f = 0;
  std::string s;
};

enum class CommandKind {
  kKey,
  kPlay,
  kStop,
  kLoop,
  kSustain,
  kVolume,
  kRate,
  kSet,
  kWindows,
  kSubscribe,
  kUnsubscribe,
};

struct RemoteCommand {
  CommandKind kind = CommandKind::kWindows;
  int window = -1;
  int key = -1;
  // Key: 1 press, 0 release. Loop, Sustain: 1 ticked, 0 not. Volume: the
  // volume bar's position (0 at the top, full volume). Rate: the rate bar's
  // position. Subscribe: the port pushes go to, 0 for the sender's.
  int value = 0;
  std::string text;  // Set: the known list's file name
};

// Why a packet was refused. Every one is counted; none is answered.
enum class Rejection {
  kNone,
  kOversized,
  kMalformed,
  kUnknownAddress,
  kWrongArguments,
  kNoSuchWindow,
  kNoSuchKey,
  kOutOfRange,
  kNotAllowed,
  kFlood,
};
inline constexpr int kRejectionCount = static_cast<int>(Rejection::kFlood) + 1;
// A short name for the log ("wrong arguments").
const char* RejectionName(Rejection rejection);

// What the program has: the keys of each window, by instance number.
struct Reach {
  std::vector<int> keysOfWindow;
};

struct ParsedCommand {
  RemoteCommand command;
  Rejection rejection = Rejection::kNone;
  bool Ok() const { return rejection == Rejection::kNone; }
};

// The largest packet read; longer ones are refused before they are decoded.
inline constexpr std::size_t kMaxPacketBytes = 1024;
// Known lists are named by file name only, never by a path.
inline constexpr std::size_t kMaxSetNameBytes = 255;

ParsedCommand ParseRemoteCommand(std::string_view address, const std::vector<OscArgument>& args,
                                 const Reach& reach);

// The decimal number that `text` is entirely, without sign or leading zeros
// (except "0" itself), up to 9 digits; -1 otherwise.
int PlainIndex(std::string_view text);

}  // namespace remote
