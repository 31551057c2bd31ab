#pragma once
// Clips inside ".zip" archives.
//
// A set may name a clip through an archive, as the key editor stores it:
// "music\drums.zip\kick.wav". Media players need a plain file, so the entry
// is extracted once into the user's cache folder and played from there.

#include <QString>
#include <QStringList>

#include <vector>

// A path split at its archive: "/a/drums.zip/loops/kick.wav" gives the
// archive "/a/drums.zip" and the entry "loops/kick.wav".
struct ArchivePathParts {
  QString archive;  // the archive file, with "/" separators
  QString entry;    // the path inside it, "/"-separated, empty for its top
};

// Splits a path ("/" or "\" separators) at its first part that ends in
// ".zip" (any letter case) and is an existing regular file. Relative paths
// are taken against the current directory. Returns false when the path goes
// through no archive.
bool SplitArchivePath(const QString& path, ArchivePathParts* parts);

// The plain file that holds the entry a path names through a ".zip":
// extracted on first use into $XDG_CACHE_HOME/Tastivo/archives (else
// ~/.cache/...), in a folder keyed by the archive's absolute path, its
// modification time and the entry, so a changed archive is extracted again.
// An entry is matched exactly, else ignoring letter case (sets made on
// other systems). Returns an empty text when the path goes through no
// archive (error untouched), or when the entry can't be had; then *error,
// when given, says why.
QString ExtractArchiveEntry(const QString& pathThroughArchive, QString* error);

// The folder under which extracted entries are kept.
QString ArchiveCacheFolder();

// One entry of an archive folder as a browser lists it.
struct ArchiveListEntry {
  QString name;  // the entry's own name, without folders
  bool isFolder = false;
  qint64 size = 0;
  qint64 modified = 0;  // seconds since the epoch, 0 when unknown
};

// The folders and files directly inside folder ("" for the archive's top) of
// the archive, folders first, each group sorted by name ignoring case.
// Folders that only appear as the prefix of deeper entries are listed too.
// Returns false with *error when the archive can't be read.
bool ListArchiveFolder(const QString& archive, const QString& folder,
                       std::vector<ArchiveListEntry>* entries, QString* error);
