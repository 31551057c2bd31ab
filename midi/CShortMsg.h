#pragma once
// MIDI messages as the input device delivers them.

#include <cstdint>

namespace midi {

// A message with the time stamp of its arrival (milliseconds since input
// started).
class CMIDIMsg {
 public:
  virtual ~CMIDIMsg() = default;
  virtual std::uint32_t GetLength() const = 0;
  virtual const unsigned char* GetMsg() const = 0;

  void SetTimeStamp(std::uint32_t timeStamp) { timeStamp_ = timeStamp; }
  std::uint32_t GetTimeStamp() const { return timeStamp_; }

 private:
  std::uint32_t timeStamp_ = 0;
};

// A packed short message: status in bits 0-7, data 1 in bits 8-15, data 2 in
// bits 16-23; bits 24-31 are ignored.
class CShortMsg : public CMIDIMsg {
 public:
  CShortMsg(std::uint32_t message, std::uint32_t timeStamp);

  std::uint32_t GetLength() const override { return 3; }
  // The status, data 1 and data 2 bytes, in this order.
  const unsigned char* GetMsg() const override { return bytes_; }

  // The status without its channel: 0x80 note off, 0x90 note on, ...
  unsigned char GetCommand() const;
  unsigned char GetData1() const;  // for notes: the note number
  unsigned char GetData2() const;  // for notes: the velocity

  static void UnpackShortMsg(std::uint32_t message, unsigned char& command, unsigned char& data1,
                             unsigned char& data2);
  static std::uint32_t PackShortMsg(unsigned char status, unsigned char data1, unsigned char data2);

 private:
  std::uint32_t message_;
  unsigned char bytes_[4];
};

}  // namespace midi
