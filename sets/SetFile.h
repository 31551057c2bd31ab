#pragma once
// The .wql set file on disk: "5", the row count, then Label, File, Min, Max
// and Rate of every row, each line ending in CR CR LF.

#include "sets/KeySet.h"
#include "sets/SetFileParser.h"

#include <QByteArray>
#include <QString>

// The file's bytes for a set (1,857 bytes for the predefined rows at their
// defaults). Text is written as UTF-8; a CR or LF inside a cell becomes a
// blank so a cell can never break the line structure.
QByteArray SetFileBytes(const KeySet& set);

// Writes the set atomically: the old file stays intact until the new one is
// complete. Returns false with the system's reason in error on failure.
bool WriteSetFile(const QString& path, const KeySet& set, QString* error);

struct SetFileContent {
  bool opened = false;
  QString error;  // the system's reason when not opened
  setfile::ParsedSet parsed;
};

// Opens and parses a set file without loading it into memory twice.
SetFileContent ReadSetFile(const QString& path);

// Stores what a parsed file holds into the set: grows the set to the rows
// present in the file (never shrinks it) and fills their fields; everything
// else keeps its current value. The caller resets the rows first.
void ApplySetFile(KeySet& set, const setfile::ParsedSet& parsed);

// A cell's text from the file's bytes: UTF-8 when the bytes are valid UTF-8,
// otherwise the bytes as Latin-1 (files written by older 8-bit systems).
QString DecodeCell(const std::string& bytes);
