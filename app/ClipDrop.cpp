#include "app/ClipDrop.h"

#include "editor/KeyEditRules.h"

#include <QFileInfo>

namespace app {

bool IsSetFileName(const QString& path) {
  return path.endsWith(QLatin1String(".wql"), Qt::CaseInsensitive);
}

QString DroppedSetFile(const QStringList& files) {
  for (const QString& file : files)
    if (IsSetFileName(file)) return file;
  return {};
}

std::vector<DroppedRow> PlaceDroppedClips(const QStringList& files, int key, int rowCount,
                                          const QString& programFolder) {
  if (files.isEmpty() || key < 0 || key + files.size() > rowCount) return {};
  std::vector<DroppedRow> rows;
  for (int i = 0; i < files.size(); ++i)
    rows.push_back({key + i, QFileInfo(files[i]).fileName(),
                    keyedit::RelativeToProgram(files[i], programFolder)});
  return rows;
}

void ApplyDroppedClips(KeySet& set, const std::vector<DroppedRow>& rows) {
  for (const DroppedRow& row : rows) {
    keyedit::StoreAddedClip(set, row.position, row.File);
    set.SetCell(row.position, kLabelColumn, row.Label);
  }
}

bool SetHasClips(const KeySet& set) {
  for (int i = 0; i < set.RowCount(); ++i)
    if (!set.Row(i).File.isEmpty()) return true;
  return false;
}

}  // namespace app
