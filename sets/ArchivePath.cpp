#include "sets/ArchivePath.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <zip.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

struct ZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFileHandle = std::unique_ptr<zip_file_t, ZipFileCloser>;

void SetError(QString* error, const QString& text) {
  if (error) *error = text;
}

ZipHandle OpenArchive(const QString& archive, QString* error) {
  int code = 0;
  zip_t* handle = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &code);
  if (!handle) {
    zip_error_t reason;
    zip_error_init_with_code(&reason, code);
    SetError(error, QStringLiteral("%1 : the archive can't be read (%2)")
                        .arg(QDir::toNativeSeparators(archive),
                             QString::fromUtf8(zip_error_strerror(&reason))));
    zip_error_fini(&reason);
  }
  return ZipHandle(handle);
}

QString EntryName(zip_t* archive, zip_uint64_t index) {
  const char* name = zip_get_name(archive, index, ZIP_FL_ENC_GUESS);
  return name ? QString::fromUtf8(name) : QString();
}

// The index of entry, matched exactly and else ignoring letter case; -1 when
// there is none.
zip_int64_t LocateEntry(zip_t* archive, const QString& entry) {
  const QByteArray utf8 = entry.toUtf8();
  const zip_int64_t exact = zip_name_locate(archive, utf8.constData(), ZIP_FL_ENC_GUESS);
  if (exact >= 0) return exact;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    if (EntryName(archive, static_cast<zip_uint64_t>(i)).compare(entry, Qt::CaseInsensitive) == 0)
      return i;
  }
  return -1;
}

QString CacheKey(const QFileInfo& archive, const QString& entry) {
  QCryptographicHash hash(QCryptographicHash::Sha1);
  hash.addData(archive.absoluteFilePath().toUtf8());
  hash.addData(QByteArray("\n"));
  hash.addData(QByteArray::number(archive.lastModified().toMSecsSinceEpoch()));
  hash.addData(QByteArray("\n"));
  hash.addData(entry.toUtf8());
  return QString::fromLatin1(hash.result().toHex());
}

}  // namespace

bool SplitArchivePath(const QString& path, ArchivePathParts* parts) {
  if (path.isEmpty()) return false;
  QString local = path;
  local.replace('\\', '/');
  if (!QDir::isAbsolutePath(local)) local = QDir::current().filePath(local);
  local = QDir::cleanPath(local);
  const QStringList names = local.split('/');
  QString prefix;
  for (int i = 0; i < names.size(); ++i) {
    prefix = i == 0 ? names[0] : prefix + '/' + names[i];
    if (i == 0 || !names[i].endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive)) continue;
    const QFileInfo info(prefix);
    if (!info.isFile()) continue;
    if (parts) {
      parts->archive = prefix;
      parts->entry = names.mid(i + 1).join('/');
    }
    return true;
  }
  return false;
}

QString ArchiveCacheFolder() {
  QString base = qEnvironmentVariable("XDG_CACHE_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base))
    base = QDir::home().filePath(QStringLiteral(".cache"));
  return QDir(base).filePath(QStringLiteral("Tastivo/archives"));
}

QString ExtractArchiveEntry(const QString& pathThroughArchive, QString* error) {
  ArchivePathParts parts;
  if (!SplitArchivePath(pathThroughArchive, &parts)) return {};
  if (parts.entry.isEmpty()) {
    SetError(error, QStringLiteral("%1 : an archive is not a clip")
                        .arg(QDir::toNativeSeparators(parts.archive)));
    return {};
  }
  const QFileInfo archiveInfo(parts.archive);
  const QString fileName = parts.entry.section('/', -1);
  const QDir folder(QDir(ArchiveCacheFolder()).filePath(CacheKey(archiveInfo, parts.entry)));
  const QString target = folder.filePath(fileName);
  // Keyed by the archive's time, a file that is there was written whole
  // (QSaveFile renames only a complete one), so it can be played as it is.
  if (QFileInfo(target).isFile()) return target;

  ZipHandle archive = OpenArchive(parts.archive, error);
  if (!archive) return {};
  const zip_int64_t index = LocateEntry(archive.get(), parts.entry);
  if (index < 0) {
    SetError(error, QStringLiteral("%1 : not found in the archive")
                        .arg(QDir::toNativeSeparators(pathThroughArchive)));
    return {};
  }
  ZipFileHandle entry(zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(index), 0));
  if (!entry) {
    SetError(error, QStringLiteral("%1 : the entry can't be read (%2)")
                        .arg(QDir::toNativeSeparators(pathThroughArchive),
                             QString::fromUtf8(zip_strerror(archive.get()))));
    return {};
  }
  if (!QDir().mkpath(folder.path())) {
    SetError(error, QStringLiteral("%1 : the cache folder can't be made")
                        .arg(QDir::toNativeSeparators(folder.path())));
    return {};
  }
  QSaveFile out(target);
  if (!out.open(QIODevice::WriteOnly)) {
    SetError(error, QStringLiteral("%1 : can't be written (%2)")
                        .arg(QDir::toNativeSeparators(target), out.errorString()));
    return {};
  }
  QByteArray buffer(1 << 16, Qt::Uninitialized);
  for (;;) {
    const zip_int64_t n = zip_fread(entry.get(), buffer.data(), buffer.size());
    if (n < 0) {
      out.cancelWriting();
      SetError(error, QStringLiteral("%1 : the entry is damaged (%2)")
                          .arg(QDir::toNativeSeparators(pathThroughArchive),
                               QString::fromUtf8(zip_file_strerror(entry.get()))));
      return {};
    }
    if (n == 0) break;
    if (out.write(buffer.constData(), n) != n) {
      out.cancelWriting();
      SetError(error, QStringLiteral("%1 : can't be written (%2)")
                          .arg(QDir::toNativeSeparators(target), out.errorString()));
      return {};
    }
  }
  if (!out.commit()) {
    SetError(error, QStringLiteral("%1 : can't be written (%2)")
                        .arg(QDir::toNativeSeparators(target), out.errorString()));
    return {};
  }
  return target;
}

bool ListArchiveFolder(const QString& archive, const QString& folder,
                       std::vector<ArchiveListEntry>* entries, QString* error) {
  entries->clear();
  ZipHandle handle = OpenArchive(archive, error);
  if (!handle) return false;
  QString prefix = folder;
  while (prefix.endsWith('/')) prefix.chop(1);
  if (!prefix.isEmpty()) prefix += '/';

  std::map<QString, ArchiveListEntry> folders;
  std::map<QString, ArchiveListEntry> files;
  const zip_int64_t count = zip_get_num_entries(handle.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(handle.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS, &stat) != 0)
      continue;
    const QString name = QString::fromUtf8(stat.name);
    if (!name.startsWith(prefix) || name.size() == prefix.size()) continue;
    const QString rest = name.mid(prefix.size());
    const qsizetype slash = rest.indexOf('/');
    ArchiveListEntry entry;
    entry.modified = (stat.valid & ZIP_STAT_MTIME) ? static_cast<qint64>(stat.mtime) : 0;
    if (slash >= 0) {
      entry.name = rest.left(slash);
      entry.isFolder = true;
      if (entry.name.isEmpty()) continue;
      folders.try_emplace(entry.name.toCaseFolded() + '\0' + entry.name, entry);
    } else {
      entry.name = rest;
      entry.size = (stat.valid & ZIP_STAT_SIZE) ? static_cast<qint64>(stat.size) : 0;
      files[entry.name.toCaseFolded() + '\0' + entry.name] = entry;
    }
  }
  for (auto& [key, entry] : folders) entries->push_back(entry);
  for (auto& [key, entry] : files) entries->push_back(entry);
  return true;
}
