// libFuzzer entry for the set file reader: any bytes must parse without a
// crash, a hang or a read outside the buffer, and what it returns must obey
// the reader's own limits.

#include "sets/SetFileParser.h"

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
    for (const auto& field : row)
      if (field.size() > setfile::kFieldLineLimit) abort();
  }
  return 0;
}
