// Packing and unpacking of short messages, the byte rules of incoming
// messages, and the note mapping of the keyboard window's receiver.

#include "midi/CShortMsg.h"
#include "midi/KeyRecorder.h"
#include "midi/MyReceiver.h"
#include "platform/midi/MidiInputService.h"

#include <gtest/gtest.h>

using midi::CShortMsg;
using midi_test::Down;
using midi_test::KeyEvent;
using midi_test::Up;
using platform::PackedMidiMessage;

namespace {

std::uint32_t Pack(unsigned char status, unsigned char data1, unsigned char data2) {
  return CShortMsg::PackShortMsg(status, data1, data2);
}

}  // namespace

TEST(ShortMsg, UnpacksCommandWithoutChannelAndBothDataBytes) {
  const CShortMsg msg(0xAB407F93u, 1234);  // top byte is noise
  EXPECT_EQ(msg.GetCommand(), 0x90);
  EXPECT_EQ(msg.GetData1(), 0x7F);
  EXPECT_EQ(msg.GetData2(), 0x40);
  EXPECT_EQ(msg.GetLength(), 3u);
  EXPECT_EQ(msg.GetTimeStamp(), 1234u);
  const unsigned char* bytes = msg.GetMsg();
  EXPECT_EQ(bytes[0], 0x93);
  EXPECT_EQ(bytes[1], 0x7F);
  EXPECT_EQ(bytes[2], 0x40);
  EXPECT_EQ(Pack(0x93, 0x7F, 0x40), 0x00407F93u);
}

struct BytesCase {
  std::vector<unsigned char> bytes;
  PackedMidiMessage::Kind kind;
  std::uint32_t message;
};

class IncomingBytes : public ::testing::TestWithParam<BytesCase> {};

TEST_P(IncomingBytes, AreClassifiedAndPacked) {
  const auto& c = GetParam();
  const auto packed = platform::PackMidiBytes(c.bytes.data(), c.bytes.size());
  EXPECT_EQ(packed.kind, c.kind);
  EXPECT_EQ(packed.message, c.message);
}

using K = PackedMidiMessage::Kind;
INSTANTIATE_TEST_SUITE_P(
    ShortAndInvalid, IncomingBytes,
    ::testing::Values(
        BytesCase{{0x90, 60, 100}, K::kShort, 0x643C90},
        BytesCase{{0x8F, 1, 0}, K::kShort, 0x00018F}, BytesCase{{0xC3, 5}, K::kShort, 0x0005C3},
        BytesCase{{0xE0, 0, 64}, K::kShort, 0x4000E0}, BytesCase{{0xF2, 1, 2}, K::kShort, 0x0201F2},
        BytesCase{{0xF8}, K::kShort, 0xF8}, BytesCase{{0xF6}, K::kShort, 0xF6},
        BytesCase{{0xF0, 1, 2, 0xF7}, K::kSystemExclusive, 0x0201F0}, BytesCase{{}, K::kInvalid, 0},
        BytesCase{{0x45, 0x20}, K::kInvalid, 0x2045},        // no status
        BytesCase{{0x90, 60}, K::kInvalid, 0x3C90},          // data missing
        BytesCase{{0x90, 60, 1, 2}, K::kInvalid, 0x013C90},  // data surplus
        BytesCase{{0x90, 0x91, 1}, K::kInvalid, 0x019190},   // status as data
        BytesCase{{0xC0, 1, 2}, K::kInvalid, 0x0201C0},      // one byte too many
        BytesCase{{0xF4}, K::kInvalid, 0xF4},                // undefined
        BytesCase{{0xF7}, K::kInvalid, 0xF7}));              // lone end of sysex

// The receiver on the window thread itself: its sends are plain sends, so
// every expectation holds as soon as ReceiveShortMsg returns.
class NoteMapping : public ::testing::Test {
 protected:
  NoteMapping() { receiver.SetWindow(&window); }
  std::vector<KeyEvent> Play(std::uint32_t message) {
    window.keys.clear();
    receiver.ReceiveShortMsg(message, 0);
    return window.keys;
  }
  midi_test::KeyRecorder window;
  midi::MyReceiver receiver;
};

TEST_F(NoteMapping, KeyIsNoteNumberModulo36) {
  EXPECT_EQ(Play(Pack(0x90, 37, 100)), std::vector{Down(1)});
  for (unsigned char note : {0, 36, 72, 108})
    EXPECT_EQ(Play(Pack(0x90, note, 1)), std::vector{Down(0)});
  EXPECT_EQ(Play(Pack(0x90, 60, 64)), std::vector{Down(24)});
  EXPECT_EQ(Play(Pack(0x90, 127, 64)), std::vector{Down(19)});
}

TEST_F(NoteMapping, VelocityZeroAndNoteOffReleaseOnEveryChannel) {
  for (unsigned char channel = 0; channel < 16; ++channel) {
    EXPECT_EQ(Play(Pack(0x90 | channel, 40, 90)), std::vector{Down(4)}) << int(channel);
    EXPECT_EQ(Play(Pack(0x90 | channel, 40, 0)), std::vector{Up(4)}) << int(channel);
    EXPECT_EQ(Play(Pack(0x80 | channel, 40, 77)), std::vector{Up(4)}) << int(channel);
  }
}

TEST_F(NoteMapping, EverythingButNotesIsIgnored) {
  const std::uint32_t others[] = {Pack(0xB0, 7, 100), Pack(0xC5, 3, 0),  Pack(0xE0, 0, 64),
                                  Pack(0xA0, 60, 10), Pack(0xD2, 50, 0), Pack(0xF8, 0, 0),
                                  Pack(0xF2, 1, 2),   Pack(0xFF, 0, 0)};
  for (auto message : others) EXPECT_TRUE(Play(message).empty()) << std::hex << message;
}

TEST_F(NoteMapping, WithoutWindowNothingIsSent) {
  receiver.SetWindow(nullptr);
  EXPECT_TRUE(Play(Pack(0x90, 37, 100)).empty());
}

TEST_F(NoteMapping, InvalidShortMessageIsReportedOnStandardOutputOnly) {
  ::testing::internal::CaptureStdout();
  receiver.OnInvalidShortMsg(0x3C90, 5);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Invalid short message received!\n");
  EXPECT_TRUE(window.keys.empty());
}

TEST_F(NoteMapping, StoppedInputDropsNotesUntilStartedAgain) {
  receiver.InputStopping();
  EXPECT_TRUE(Play(Pack(0x90, 37, 100)).empty());
  receiver.InputStarting();
  EXPECT_EQ(Play(Pack(0x90, 37, 100)), std::vector{Down(1)});
}
