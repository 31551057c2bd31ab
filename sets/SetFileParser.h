#pragma once
// Reading the bytes of a .wql set file, free of Qt so that the fuzz target
// and the window share exactly the same code.
//
// Layout: line 1 holds the number of fields per row N (its first character),
// line 2 the number of rows R ("%i" style: sign, 0x hex, leading-0 octal),
// then N lines per row. Every CR is dropped wherever it stands, LF ends a
// line, and 0x1A ends the data as if the file ended there, so LF, CR LF and
// CR CR LF files read alike.

#include <cstddef>
#include <string>
#include <vector>

namespace setfile {

// Longest text kept from the two header lines and from a field line. The rest
// of a longer line is skipped, so it never spills into the next field.
constexpr std::size_t kHeaderLineLimit = 9;
constexpr std::size_t kFieldLineLimit = 9999;
// Label, File, Min, Max, Rate.
constexpr int kStoredFields = 5;
// A set never needs more rows than this; a file that declares and holds more
// is read up to here and reported as cut.
constexpr int kMaxRows = 65536;

struct ParsedSet {
  int fieldsPerRow = 0;        // N as declared (may be negative or above 5)
  long long declaredRows = 0;  // R as declared
  // The rows whose lines are present, in order; each holds the first
  // min(N, 5) fields that the file actually contains (fewer for a row cut
  // short by the end of the data).
  std::vector<std::vector<std::string>> rows;
  bool rowsCapped = false;     // more than kMaxRows rows were present
  bool truncated = false;      // the data ended before R * N field lines
  long long completeRows = 0;  // rows whose N lines were all there
  // Line 1 is a single digit and line 2 holds a row count that is not
  // negative. Anything else (a media file, a text file, an empty file) is
  // not a set, and loading it would wipe the rows and later overwrite the
  // file with a set.
  bool isSetFile = false;
};

// Whether the two header lines are those of a set file: line 1 one digit
// (blanks may follow it), line 2 starting, after blanks and a sign, with a
// digit.
bool IsSetHeader(const std::string& line1, const std::string& line2);

// The "%i" conversion: leading blanks, an optional sign, then hexadecimal
// after "0x"/"0X", octal after "0", decimal otherwise. No digits gives 0.
// Saturates at the limits of long long.
long long ParseCInteger(const std::string& text);

ParsedSet Parse(const char* data, std::size_t size);

}  // namespace setfile
