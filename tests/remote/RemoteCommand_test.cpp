#include "remote/RemoteCommand.h"
#include "remote/OscPacket.h"
#include "remote/RemoteGate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace remote {
namespace {

OscArgument I(int v) {
  OscArgument a;
  a.type = 'i';
  a.i = v;
  return a;
}
OscArgument F(float v) {
  OscArgument a;
  a.type = 'f';
  a.f = v;
  return a;
}
OscArgument S(std::string v) {
  OscArgument a;
  a.type = 's';
  a.s = std::move(v);
  return a;
}

struct Case {
  const char* address;
  std::vector<OscArgument> args;
  Rejection rejection;
  CommandKind kind = CommandKind::kWindows;
  int window = -1, key = -1, value = 0;
};

class ParseRemoteCommandTable : public ::testing::TestWithParam<Case> {};

// Two windows: window 0 has 36 keys, window 1 has 3.
TEST_P(ParseRemoteCommandTable, TakesTheAddressSpaceAndRefusesTheRestByReason) {
  const Case& c = GetParam();
  const ParsedCommand parsed = ParseRemoteCommand(c.address, c.args, Reach{{36, 3}});
  ASSERT_EQ(parsed.rejection, c.rejection) << c.address;
  if (!parsed.Ok()) return;
  EXPECT_EQ(parsed.command.kind, c.kind);
  EXPECT_EQ(parsed.command.window, c.window);
  EXPECT_EQ(parsed.command.key, c.key);
  EXPECT_EQ(parsed.command.value, c.value);
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Addresses, ParseRemoteCommandTable,
    ::testing::Values(
        Case{"/tastivo/1/key/2", {I(1)}, Rejection::kNone, CommandKind::kKey, 1, 2, 1},
        Case{"/tastivo/0/key/35", {F(0)}, Rejection::kNone, CommandKind::kKey, 0, 35, 0},
        Case{"/tastivo/1/key/3", {I(1)}, Rejection::kNoSuchKey},
        Case{"/tastivo/2/key/0", {I(1)}, Rejection::kNoSuchWindow},
        Case{"/tastivo/0/key/02", {I(1)}, Rejection::kUnknownAddress},
        Case{"/tastivo/0/key/-1", {I(1)}, Rejection::kUnknownAddress},
        Case{"/tastivo/99999999999/key/0", {I(1)}, Rejection::kUnknownAddress},
        Case{"/tastivo/0/key/1", {I(2)}, Rejection::kOutOfRange},
        Case{"/tastivo/0/key/1", {S("1")}, Rejection::kWrongArguments},
        Case{"/tastivo/0/key/1", {}, Rejection::kWrongArguments},
        Case{"/tastivo/0/key/1/", {I(1)}, Rejection::kUnknownAddress},
        Case{"/tastivo/0/play", {}, Rejection::kNone, CommandKind::kPlay, 0},
        Case{"/tastivo/0/play", {I(1)}, Rejection::kWrongArguments},
        Case{"/tastivo/1/stop", {}, Rejection::kNone, CommandKind::kStop, 1},
        Case{"/tastivo/0/loop", {I(1)}, Rejection::kNone, CommandKind::kLoop, 0, -1, 1},
        Case{"/tastivo/0/sustain", {F(0)}, Rejection::kNone, CommandKind::kSustain, 0, -1, 0},
        Case{"/tastivo/0/volume", {F(0.7f)}, Rejection::kNone, CommandKind::kVolume, 0, -1, 30},
        Case{"/tastivo/0/volume", {F(1.5f)}, Rejection::kOutOfRange},
        Case{"/tastivo/0/volume", {F(kNaN)}, Rejection::kOutOfRange},
        Case{"/tastivo/0/rate", {I(150)}, Rejection::kNone, CommandKind::kRate, 0, -1, 150},
        Case{"/tastivo/0/rate", {F(0)}, Rejection::kOutOfRange},
        Case{"/tastivo/0/set", {S("show.wql")}, Rejection::kNone, CommandKind::kSet, 0},
        Case{"/tastivo/0/set", {S("../etc/passwd")}, Rejection::kOutOfRange},
        Case{"/tastivo/0/set", {S("..")}, Rejection::kOutOfRange},
        Case{"/tastivo/windows", {}, Rejection::kNone, CommandKind::kWindows},
        Case{"/tastivo/subscribe",
             {I(9000)},
             Rejection::kNone,
             CommandKind::kSubscribe,
             -1,
             -1,
             9000},
        Case{"/tastivo/subscribe", {I(70000)}, Rejection::kOutOfRange},
        Case{"/tastivo/unsubscribe", {}, Rejection::kNone, CommandKind::kUnsubscribe},
        Case{"/tastivo/0/fly", {}, Rejection::kUnknownAddress},
        Case{"/tastivo/", {}, Rejection::kUnknownAddress},
        Case{"/other/0/play", {}, Rejection::kUnknownAddress}));

TEST(RemoteGate, LetsOtherDevicesInOnlyWhenAllowedAndListedOrPaired) {
  GateSettings settings;
  settings.token = "0123456789abcdef0123456789abcdef";
  settings.allowList = {"10.0.0.7"};
  RemoteGate gate(settings);
  std::vector<OscArgument> args{S(settings.token), I(1)};
  EXPECT_EQ(gate.Admit({"10.0.0.9", false}, args, 0), Rejection::kNotAllowed)
      << "other devices are refused until allowed, token or not";
  settings.allowOthers = true;
  gate.SetSettings(settings);
  std::vector<OscArgument> noToken{I(1)};
  EXPECT_EQ(gate.Admit({"10.0.0.9", false}, noToken, 0), Rejection::kNotAllowed);
  std::vector<OscArgument> wrongToken{S("0123456789abcdef0123456789abcdeX"), I(1)};
  EXPECT_EQ(gate.Admit({"10.0.0.9", false}, wrongToken, 0), Rejection::kNotAllowed);
  args = {S(settings.token), I(1)};
  EXPECT_EQ(gate.Admit({"10.0.0.9", false}, args, 0), Rejection::kNone);
  ASSERT_EQ(args.size(), 1u) << "the token is taken off before the command is read";
  EXPECT_EQ(args[0].i, 1);
  EXPECT_EQ(gate.Admit({"10.0.0.7", false}, noToken, 0), Rejection::kNone);
}

TEST(RemoteGate, RefusesAFloodFromOneSenderButNotTheOthers) {
  RemoteGate gate;
  std::vector<OscArgument> args;
  int admitted = 0;
  for (int n = 0; n < 1000; ++n)
    if (gate.Admit({"127.0.0.1", true}, args, 0) == Rejection::kNone) ++admitted;
  EXPECT_EQ(admitted, static_cast<int>(RemoteGate::kBurst));
  EXPECT_EQ(gate.Admit({"::1", true}, args, 0), Rejection::kNone);
  EXPECT_EQ(gate.Admit({"127.0.0.1", true}, args, 1000), Rejection::kNone)
      << "a second later the sender may send again";
}

TEST(OscPacket, DecodesWhatItEncodesAndRefusesBrokenBytes) {
  const std::vector<char> bytes = EncodeOscMessage({"/tastivo/0/set", {S("a.wql")}});
  DecodedPacket decoded = DecodeOscPacket(bytes.data(), bytes.size());
  ASSERT_EQ(decoded.rejection, Rejection::kNone);
  EXPECT_EQ(decoded.message.address, "/tastivo/0/set");
  ASSERT_EQ(decoded.message.args.size(), 1u);
  EXPECT_EQ(decoded.message.args[0].s, "a.wql");
  for (std::size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_NE(DecodeOscPacket(bytes.data(), cut).rejection, Rejection::kNone) << cut;
  const std::vector<char> big(kMaxPacketBytes + 4, '/');
  EXPECT_EQ(DecodeOscPacket(big.data(), big.size()).rejection, Rejection::kOversized);
}

}  // namespace
}  // namespace remote
