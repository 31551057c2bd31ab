#pragma once
// Maps a clip path as a set file stores it to a file on this machine.
//
// Sets made on other systems hold paths such as "music\a.mp3" or
// "C:\Music\a.mp3". The stored text is never changed; players and browsers
// ask this helper where the file is.

#include <QHash>
#include <QString>
#include <QStringList>

// The program's folder: relative stored paths are relative to it.
QString ProgramFolder();

// Resolution, in order:
// 1. the literal name, relative names taken against programFolder, when such
//    a file exists;
// 2. the name with every "\" read as a folder separator and a leading drive
//    ("C:") dropped, relative names again against programFolder; when no file
//    has exactly that name, folder and file names are matched ignoring letter
//    case, one level at a time, as the system that wrote them would have.
// When nothing exists, the path of step 2 is returned so that messages name a
// sensible file. An empty stored path gives an empty result.
QString LocalFilePath(const QString& stored, const QString& programFolder = ProgramFolder());

// The folder part of a stored path: the text before its last "\" or "/",
// mapped like LocalFilePath; programFolder when the path has no folder.
QString LocalFolderOf(const QString& stored, const QString& programFolder = ProgramFolder());

// The file-name part of a stored path, without folders: the text after its
// last "\" or "/" ("C:\Sets\live.wql" and "/home/x/live.wql" give "live.wql").
QString FileNamePart(const QString& stored);

// Where a row's clip is on this machine.
struct ClipLocation {
  QString stored;      // the File text this was found for
  QString path;        // the local file; when not found, the first place looked
  bool found = false;  // false also for an empty stored path
  QStringList tried;   // every place looked, in order (for the message)
};

// Folder listings kept for the lookups of one pass over a set, so that
// matching letter case lists each folder once, not once per row.
class FolderListings {
 public:
  const QStringList& Entries(const QString& folder);

 private:
  QHash<QString, QStringList> entries_;
};

// Finds the clip of a stored File text, the way a user who moved a show from
// Windows expects, trying in order:
// 1. the path as stored, a relative one against the program's folder ("\"
//    read as a folder separator; for "D:\x\a.wav" that is "/x/a.wav");
// 2. a relative path against the set file's folder;
// 3. for a Windows absolute path ("D:\Shows\Gala\clips\a.wav", "\\host\share\a.wav"),
//    its trailing parts under the set file's folder, longest first
//    ("Shows/Gala/clips/a.wav" ... "clips/a.wav", "a.wav").
// Each place is taken as it is, then with folder and file names in any
// letter case, as the system that wrote them would have, then as an entry of
// a ".zip" archive among its folders, which is extracted into the cache so
// that path is a plain file. Looking costs
// directory scans: do it when a set is loaded or a row changes, never when a
// key is pressed. setFolder may be empty (a set without a file). The stored
// text itself is never changed.
ClipLocation ResolveClip(const QString& stored, const QString& setFolder,
                         const QString& programFolder = ProgramFolder(),
                         FolderListings* listings = nullptr);

// For a clip that was not found: which path was looked for and where, for
// the user. Empty when it was found or nothing is stored.
QString ClipProblemText(const ClipLocation& location);
