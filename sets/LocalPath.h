#pragma once
// Maps a clip path as a set file stores it to a file on this machine.
//
// Sets made on other systems hold paths such as "music\a.mp3" or
// "C:\Music\a.mp3". The stored text is never changed; players and browsers
// ask this helper where the file is.

#include <QString>

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
