#pragma once
// The text encodings of set files, free of Qt like the reader.
//
// Sets written here are UTF-8. Sets made by the Windows program are in its
// 8-bit code page, Windows-1252: the bytes 0x80 to 0x9F there hold ’ “ ” – —
// … € Œ š and the like, not control characters. A set keeps the encoding it
// was read in, so that saving it gives back the same bytes.

#include <cstddef>
#include <string>
#include <vector>

namespace setfile {

enum class Encoding { kUtf8, kWindows1252 };

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF). A line cut at the reader's length limit may end
// inside a sequence: with allowCutTail, up to three trailing bytes that begin
// a sequence are accepted too.
bool IsUtf8(const std::string& bytes, bool allowCutTail = false);

// UTF-8 when every cell is UTF-8, otherwise Windows-1252. Cells as the reader
// returns them: a cell cut at the length limit counts as UTF-8 when its text
// up to the cut is. (Only there: "Café" in Windows-1252 ends in the byte
// 0xE9, which would also start a UTF-8 sequence.)
Encoding DetectEncoding(const std::vector<std::vector<std::string>>& rows);

// Every byte maps to one UTF-16 code unit. The five bytes that Windows-1252
// leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control
// characters of the same value, as Windows itself maps them, so that every
// byte comes back unchanged.
std::u16string DecodeWindows1252(const std::string& bytes);

// The Windows-1252 bytes for text. A character the code page can't hold
// becomes "?" and makes the result incomplete: *complete is set to false.
std::string EncodeWindows1252(const std::u16string& text, bool* complete = nullptr);

}  // namespace setfile
