#pragma once
// The .wql set file on disk: "5", the row count, then Label, File, Min, Max
// and Rate of every row, each line ending in CR CR LF.

#include "sets/KeySet.h"
#include "sets/SetFileParser.h"
#include "sets/SetFileText.h"

#include <QByteArray>
#include <QString>

#include <functional>

// A set file is read whole into memory; nothing near this size is a set (77
// rows of long paths are a few hundred kilobytes).
inline constexpr qint64 kMaxSetFileBytes = 64 * 1024 * 1024;

// The first cell whose text the encoding can't hold, if any.
struct TextLoss {
  int row = -1;
  int column = -1;  // KeyColumn
  QString text;     // the cell's text
  bool Any() const { return row >= 0; }
};
TextLoss FindTextLoss(const KeySet& set, setfile::Encoding encoding);

// The file's bytes for a set (1,857 bytes for the predefined rows at their
// defaults), its text in the given encoding; a character that Windows-1252
// can't hold is written as "?" (FindTextLoss tells beforehand). A CR or LF
// inside a cell becomes a blank so a cell can never break the line structure.
QByteArray SetFileBytes(const KeySet& set, setfile::Encoding encoding = setfile::Encoding::kUtf8);

// Writes the set atomically: the old file stays intact until the new one is
// complete. Returns false with the system's reason in error on failure.
bool WriteSetFile(const QString& path, const KeySet& set, QString* error,
                  setfile::Encoding encoding = setfile::Encoding::kUtf8);

struct SetFileContent {
  bool opened = false;
  QString error;            // the system's reason when not opened or not read whole
  bool tooLarge = false;    // over kMaxSetFileBytes: nothing was parsed
  bool readFailed = false;  // a read failed part way; parsed holds what came before
  setfile::ParsedSet parsed;
  setfile::Encoding encoding = setfile::Encoding::kUtf8;  // of the parsed cells
};

// Opens a set file and parses it. The file is read with ordinary reads, never
// mapped: a file that another program truncates while it is read (or that
// sits on a stick pulled out meanwhile) then just ends early instead of
// killing the process. afterOpen, when given, runs once the file is open and
// before its bytes are read (tests use it to truncate the file right there).
SetFileContent ReadSetFile(const QString& path, const std::function<void()>& afterOpen = {});

// Stores what a parsed file holds into the set: grows the set to the rows
// present in the file (never shrinks it) and fills their fields; everything
// else keeps its current value. The caller resets the rows first. Returns the
// encoding the text was decoded from (UTF-8 unless some cell is not UTF-8).
setfile::Encoding ApplySetFile(KeySet& set, const setfile::ParsedSet& parsed);

// A cell's text from the file's bytes in the given encoding. A UTF-8 line cut
// at the length limit inside a sequence loses the cut sequence only.
QString DecodeCell(const std::string& bytes, setfile::Encoding encoding);

// The name of an encoding as messages show it.
QString EncodingName(setfile::Encoding encoding);
