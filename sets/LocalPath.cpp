#include "sets/LocalPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString Absolute(const QString& path, const QString& programFolder) {
  if (QDir::isAbsolutePath(path)) return QDir::cleanPath(path);
  return QDir::cleanPath(QDir(programFolder).filePath(path));
}

bool HasDrive(const QString& path) {
  return path.size() >= 2 && path.at(1) == ':' && path.at(0).isLetter();
}

// Walks the path one name at a time, taking a name that differs only in
// letter case when the exact one is missing.
QString MatchIgnoringCase(const QString& absolute) {
  const QStringList parts = absolute.split('/', Qt::SkipEmptyParts);
  QString current = QStringLiteral("/");
  for (const QString& part : parts) {
    const QString exact = QDir(current).filePath(part);
    if (QFileInfo::exists(exact)) {
      current = exact;
      continue;
    }
    const QStringList entries = QDir(current).entryList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot);
    QString found;
    for (const QString& entry : entries) {
      if (entry.compare(part, Qt::CaseInsensitive) == 0) {
        found = entry;
        break;
      }
    }
    if (found.isEmpty()) return {};
    current = QDir(current).filePath(found);
  }
  return current;
}

}  // namespace

QString ProgramFolder() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  return QDir::currentPath();
}

QString LocalFilePath(const QString& stored, const QString& programFolder) {
  if (stored.isEmpty()) return {};
  const QString literal = Absolute(stored, programFolder);
  if (QFileInfo::exists(literal)) return literal;

  QString foreign = stored;
  foreign.replace('\\', '/');
  if (HasDrive(foreign)) {
    foreign.remove(0, 2);
    if (!foreign.startsWith('/')) foreign.prepend('/');
  }
  const QString mapped = Absolute(foreign, programFolder);
  if (QFileInfo::exists(mapped)) return mapped;
  const QString matched = MatchIgnoringCase(mapped);
  return matched.isEmpty() ? mapped : matched;
}

QString LocalFolderOf(const QString& stored, const QString& programFolder) {
  const qsizetype cut = std::max(stored.lastIndexOf('\\'), stored.lastIndexOf('/'));
  if (cut < 0) return QDir::cleanPath(programFolder);
  QString folder = stored.left(cut);
  // "\music" or "C:\" name a root, not an empty folder.
  if (folder.isEmpty() || (folder.size() == 2 && HasDrive(folder))) folder += '/';
  return LocalFilePath(folder, programFolder);
}

QString FileNamePart(const QString& stored) {
  const qsizetype cut = std::max(stored.lastIndexOf('\\'), stored.lastIndexOf('/'));
  return stored.mid(cut + 1);
}
