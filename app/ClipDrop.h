#pragma once
// What a drop of files on a keyboard window does to its set, free of
// widgets: a set file opens; clips go on the key dropped on and the keys
// after it, each row filled as the key editor's Add fills one.

#include "sets/KeySet.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace app {

// A set file by its name (".wql", any letter case).
bool IsSetFileName(const QString& path);

// The first set file among the dropped files; empty when there is none.
QString DroppedSetFile(const QStringList& files);

// One row a dropped clip fills.
struct DroppedRow {
  int position = 0;
  QString Label;  // the file's name, as Add labels it
  QString File;   // relative to programFolder, as Add writes it
};

// The rows the clips fill: files[0] on row key, files[i] on row key + i.
// Empty when key is not a row of a set of rowCount rows or the clips run
// past its last row: a drop is placed whole or not at all.
std::vector<DroppedRow> PlaceDroppedClips(const QStringList& files, int key, int rowCount,
                                          const QString& programFolder);

// Stores the rows with Add's marks and rate (0, 10000, 100).
void ApplyDroppedClips(KeySet& set, const std::vector<DroppedRow>& rows);

// Whether any row of the set has a clip.
bool SetHasClips(const KeySet& set);

}  // namespace app
