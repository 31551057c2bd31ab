// libFuzzer entry for the set file reader: any bytes must parse without a
// crash, a hang or a read outside the buffer, what it returns must obey the
// reader's own limits, and the text of a Windows-1252 set must come back
// byte for byte when it is written again.

#include "sets/SetFileParser.h"
#include "sets/SetFileText.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy, so AddressSanitizer catches a read one byte past
  // the end.
  std::vector<char> copy(data, data + size);
  const setfile::ParsedSet set = setfile::Parse(copy.data(), copy.size());
  if (set.rows.size() > static_cast<size_t>(setfile::kMaxRows)) abort();
  if (set.rows.size() > size) abort();  // every row has at least one line
  if (set.completeRows < 0 || static_cast<size_t>(set.completeRows) > set.rows.size()) abort();
  if (!set.truncated && !set.rowsCapped && set.fieldsPerRow > 0 && set.declaredRows > 0 &&
      set.completeRows != set.declaredRows)
    abort();
  for (const auto& row : set.rows) {
    if (row.size() > static_cast<size_t>(setfile::kStoredFields)) abort();
    for (const auto& field : row) {
      if (field.size() > setfile::kFieldLineLimit) abort();
      bool complete = false;
      const std::u16string text = setfile::DecodeWindows1252(field);
      if (text.size() != field.size()) abort();
      if (setfile::EncodeWindows1252(text, &complete) != field || !complete) abort();
      // A cut tail is only ever accepted on top of what is whole.
      if (setfile::IsUtf8(field) && !setfile::IsUtf8(field, true)) abort();
    }
  }
  const setfile::Encoding encoding = setfile::DetectEncoding(set.rows);
  if (encoding == setfile::Encoding::kUtf8) {
    for (const auto& row : set.rows)
      for (const auto& field : row)
        if (!setfile::IsUtf8(field, field.size() == setfile::kFieldLineLimit)) abort();
  }
  return 0;
}
