#include "sets/LocalPath.h"

#include "sets/ArchivePath.h"

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
QString MatchIgnoringCase(const QString& absolute, FolderListings* listings = nullptr) {
  const QStringList parts = absolute.split('/', Qt::SkipEmptyParts);
  QString current = QStringLiteral("/");
  for (const QString& part : parts) {
    const QString exact = QDir(current).filePath(part);
    if (QFileInfo::exists(exact)) {
      current = exact;
      continue;
    }
    FolderListings once;
    const QStringList& entries = (listings ? listings : &once)->Entries(current);
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

const QStringList& FolderListings::Entries(const QString& folder) {
  auto it = entries_.find(folder);
  if (it == entries_.end())
    it = entries_.insert(folder, QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot));
  return *it;
}

namespace {

bool IsWindowsAbsolute(const QString& stored) {
  return HasDrive(stored) || stored.startsWith('\\');
}

// The one place where a candidate is looked up: as a file, in any letter
// case, then as an entry of a ".zip" among its folders
// ("music\drums.zip\kick.wav"), which is extracted here, at load, so that
// pressing its key only opens a plain file.
QString FindCandidate(const QString& candidate, FolderListings* listings) {
  if (QFileInfo(candidate).isFile()) return candidate;
  const QString matched = MatchIgnoringCase(candidate, listings);
  if (!matched.isEmpty() && QFileInfo(matched).isFile()) return matched;
  return ExtractArchiveEntry(candidate, nullptr);
}

QStringList Candidates(const QString& stored, const QString& setFolder,
                       const QString& programFolder) {
  QString foreign = stored;
  foreign.replace('\\', '/');
  QStringList candidates;
  const bool windowsAbsolute = IsWindowsAbsolute(stored);
  if (windowsAbsolute) {
    QString rooted = foreign;
    if (HasDrive(rooted)) rooted.remove(0, 2);
    if (!rooted.startsWith('/')) rooted.prepend('/');
    candidates << QDir::cleanPath(rooted);
  } else {
    candidates << Absolute(foreign, programFolder);
    if (!setFolder.isEmpty() && !QDir::isAbsolutePath(foreign))
      candidates << Absolute(foreign, setFolder);
  }
  if (windowsAbsolute && !setFolder.isEmpty()) {
    QString tail = foreign;
    if (HasDrive(tail)) tail.remove(0, 2);
    const QStringList parts = tail.split('/', Qt::SkipEmptyParts);
    for (qsizetype first = 0; first < parts.size(); ++first)
      candidates << Absolute(parts.mid(first).join('/'), setFolder);
  }
  candidates.removeDuplicates();
  return candidates;
}

}  // namespace

ClipLocation ResolveClip(const QString& stored, const QString& setFolder,
                         const QString& programFolder, FolderListings* listings) {
  ClipLocation location;
  location.stored = stored;
  if (stored.isEmpty()) return location;
  // A file whose name really holds the backslashes, as the text has it.
  if (!IsWindowsAbsolute(stored)) {
    const QString literal = Absolute(stored, programFolder);
    if (QFileInfo(literal).isFile()) {
      location.path = literal;
      location.found = true;
      location.tried << literal;
      return location;
    }
  }
  FolderListings pass;
  if (!listings) listings = &pass;
  location.tried = Candidates(stored, setFolder, programFolder);
  for (const QString& candidate : location.tried) {
    const QString found = FindCandidate(candidate, listings);
    if (!found.isEmpty()) {
      location.path = found;
      location.found = true;
      return location;
    }
  }
  location.path = location.tried.value(0);
  return location;
}

QString ClipProblemText(const ClipLocation& location) {
  if (location.found || location.stored.isEmpty()) return {};
  return location.stored +
         QStringLiteral(" : Clip not found. It was looked for, in any letter case, as:") + "\n" +
         location.tried.join('\n');
}
