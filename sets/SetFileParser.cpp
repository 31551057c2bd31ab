#include "sets/SetFileParser.h"

#include <algorithm>
#include <climits>

namespace setfile {

namespace {

constexpr char kEndOfData = 0x1A;

// Walks the bytes line by line without ever looking past size or past the
// first 0x1A.
class LineReader {
 public:
  LineReader(const char* data, std::size_t size) : data_(data), size_(size) {
    for (std::size_t i = 0; i < size_; ++i) {
      if (data_[i] == kEndOfData) {
        size_ = i;
        break;
      }
    }
  }

  bool AtEnd() const { return pos_ >= size_; }

  // Reads one line into text (CRs dropped, LF removed) keeping at most limit
  // characters; cut tells whether more was dropped. Returns false when no
  // data is left at all.
  bool ReadLine(std::size_t limit, std::string& text, bool* cut = nullptr) {
    text.clear();
    if (cut) *cut = false;
    if (AtEnd()) return false;
    while (pos_ < size_) {
      const char c = data_[pos_++];
      if (c == '\n') break;
      if (c == '\r') continue;
      if (text.size() < limit)
        text.push_back(c);
      else if (cut)
        *cut = true;
    }
    return true;
  }

 private:
  const char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

long long ParseCInteger(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '0') {
    base = 8;
    if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        DigitValue(text[i + 2]) < 16) {
      base = 16;
      i += 2;
    }
  }
  unsigned long long value = 0;
  bool saturated = false;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= base) break;
    if (value > (static_cast<unsigned long long>(LLONG_MAX) - digit) / base) {
      saturated = true;
      value = static_cast<unsigned long long>(LLONG_MAX);
    } else if (!saturated) {
      value = value * base + digit;
    }
  }
  const long long signedValue = static_cast<long long>(value);
  return negative ? -signedValue : signedValue;
}

bool IsSetHeader(const std::string& line1, const std::string& line2) {
  // The field count is read from the very first character.
  std::size_t i = 0;
  if (line1.empty() || !IsDigit(line1[i++])) return false;
  while (i < line1.size() && IsBlank(line1[i])) ++i;
  if (i != line1.size()) return false;
  std::size_t j = 0;
  while (j < line2.size() && IsBlank(line2[j])) ++j;
  if (j < line2.size() && (line2[j] == '+' || line2[j] == '-')) ++j;
  return j < line2.size() && IsDigit(line2[j]);
}

ParsedSet Parse(const char* data, std::size_t size) {
  ParsedSet set;
  LineReader reader(data, size);
  std::string line;
  std::string first;
  bool firstCut = false;
  const bool hasFirst = reader.ReadLine(kHeaderLineLimit, first, &firstCut);
  if (hasFirst && !first.empty()) set.fieldsPerRow = static_cast<unsigned char>(first[0]) - '0';
  if (reader.ReadLine(kHeaderLineLimit, line)) {
    set.declaredRows = ParseCInteger(line);
    // A negative count would load as an empty set and a later save would
    // overwrite the file with it.
    set.isSetFile = hasFirst && !firstCut && IsSetHeader(first, line) && set.declaredRows >= 0;
  }
  const int n = set.fieldsPerRow;
  const long long r = set.declaredRows;
  if (n <= 0 || r <= 0) return set;

  const int kept = std::min(n, kStoredFields);
  // Rows are added only for lines that are really there, so a header that
  // declares billions of rows costs nothing beyond the file's own size.
  for (long long j = 0; j < r; ++j) {
    if (reader.AtEnd()) {
      set.truncated = true;
      break;
    }
    if (static_cast<long long>(set.rows.size()) >= kMaxRows) {
      set.rowsCapped = true;
      break;
    }
    std::vector<std::string> fields;
    fields.reserve(kept);
    for (int k = 0; k < n; ++k) {
      if (!reader.ReadLine(kFieldLineLimit, line)) {
        set.truncated = true;
        break;
      }
      if (k < kept) fields.push_back(line);
    }
    set.rows.push_back(std::move(fields));
    if (set.truncated) break;
    ++set.completeRows;
  }
  return set;
}

}  // namespace setfile
