#include "sets/SetFileText.h"

#include "sets/SetFileParser.h"

#include <array>

namespace setfile {

namespace {

// Windows-1252 for 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// The length of the sequence that lead starts, 0 for a byte that can't
// start one.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The bounds of the second byte, which rule out overlong forms, surrogates
// and code points above U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second) {
  switch (lead) {
    case 0xE0:
      return second >= 0xA0 && second <= 0xBF;
    case 0xED:
      return second >= 0x80 && second <= 0x9F;
    case 0xF0:
      return second >= 0x90 && second <= 0xBF;
    case 0xF4:
      return second >= 0x80 && second <= 0x8F;
    default:
      return IsContinuation(second);
  }
}

}  // namespace

bool IsUtf8(const std::string& bytes, bool allowCutTail) {
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int length = SequenceLength(lead);
    if (length == 0) return false;
    if (length == 1) {
      ++i;
      continue;
    }
    for (int k = 1; k < length; ++k) {
      if (i + k >= size) return allowCutTail;  // the sequence runs past the cut
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      if (k == 1 ? !SecondByteFits(lead, c) : !IsContinuation(c)) return false;
    }
    i += static_cast<std::size_t>(length);
  }
  return true;
}

Encoding DetectEncoding(const std::vector<std::vector<std::string>>& rows) {
  for (const auto& row : rows)
    for (const auto& cell : row)
      if (!IsUtf8(cell, cell.size() == kFieldLineLimit)) return Encoding::kWindows1252;
  return Encoding::kUtf8;
}

std::u16string DecodeWindows1252(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    text.push_back(c >= 0x80 && c <= 0x9F ? kHighControls[c - 0x80] : static_cast<char16_t>(c));
  }
  return text;
}

std::string EncodeWindows1252(const std::u16string& text, bool* complete) {
  if (complete) *complete = true;
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    int byte = -1;
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      byte = c;
    } else {
      for (std::size_t k = 0; k < kHighControls.size(); ++k)
        if (kHighControls[k] == c) byte = static_cast<int>(0x80 + k);
    }
    if (byte < 0) {
      if (complete) *complete = false;
      // A character outside the Basic Multilingual Plane is one "?", not two.
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF)
        ++i;
      byte = '?';
    }
    bytes.push_back(static_cast<char>(byte));
  }
  return bytes;
}

}  // namespace setfile
