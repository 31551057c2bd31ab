#include "midi/CShortMsg.h"

namespace midi {

CShortMsg::CShortMsg(std::uint32_t message, std::uint32_t timeStamp)
    : message_(message),
      bytes_{static_cast<unsigned char>(message & 0xFF),
             static_cast<unsigned char>((message >> 8) & 0xFF),
             static_cast<unsigned char>((message >> 16) & 0xFF), 0} {
  SetTimeStamp(timeStamp);
}

void CShortMsg::UnpackShortMsg(std::uint32_t message, unsigned char& command, unsigned char& data1,
                               unsigned char& data2) {
  command = static_cast<unsigned char>(message & 0xF0);
  data1 = static_cast<unsigned char>((message >> 8) & 0xFF);
  data2 = static_cast<unsigned char>((message >> 16) & 0xFF);
}

std::uint32_t CShortMsg::PackShortMsg(unsigned char status, unsigned char data1,
                                      unsigned char data2) {
  return static_cast<std::uint32_t>(status) | (static_cast<std::uint32_t>(data1) << 8) |
         (static_cast<std::uint32_t>(data2) << 16);
}

unsigned char CShortMsg::GetCommand() const {
  unsigned char command, data1, data2;
  UnpackShortMsg(message_, command, data1, data2);
  return command;
}

unsigned char CShortMsg::GetData1() const {
  unsigned char command, data1, data2;
  UnpackShortMsg(message_, command, data1, data2);
  return data1;
}

unsigned char CShortMsg::GetData2() const {
  unsigned char command, data1, data2;
  UnpackShortMsg(message_, command, data1, data2);
  return data2;
}

}  // namespace midi
