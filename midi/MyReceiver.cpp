#include "midi/MyReceiver.h"

#include "midi/CShortMsg.h"

#include <cstdio>

namespace midi {

namespace {

constexpr unsigned char kNoteOff = 0x80;
constexpr unsigned char kNoteOn = 0x90;
constexpr int kKeysReachable = 36;

}  // namespace

void MyReceiver::ReceiveShortMsg(std::uint32_t message, std::uint32_t timeStamp) {
  const CShortMsg msg(message, timeStamp);
  const unsigned char command = msg.GetCommand();
  const unsigned char velocity = msg.GetData2();
  const int key = msg.GetData1() % kKeysReachable;
  int code;
  if (command == kNoteOn)
    code = velocity > 0 ? platform::PN_KEYDOWN : platform::PN_KEYUP;
  else if (command == kNoteOff)
    code = platform::PN_KEYUP;
  else
    return;
  const std::int64_t startedAt = startedAtMs_.load();
  if (code == platform::PN_KEYDOWN && startedAt != 0 &&
      NowMs() - startedAt - static_cast<std::int64_t>(timeStamp) > kStaleNoteOn.count()) {
    ++stale_;
    if (arm_) arm_(key, false);
    return;
  }
  channel_.Send(window_.load(), platform::WM_PLAYERNOTIFY, key, code);
}

void MyReceiver::NoteTaken(std::uint32_t message) {
  const CShortMsg msg(message, 0);
  if (msg.GetCommand() == kNoteOn && msg.GetData2() > 0 && arm_)
    arm_(msg.GetData1() % kKeysReachable, true);
}

std::int64_t MyReceiver::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void MyReceiver::OnInvalidShortMsg(std::uint32_t, std::uint32_t) {
  std::fputs("Invalid short message received!\n", stdout);
  std::fflush(stdout);
}

}  // namespace midi
