#include "sets/LocalPath.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void Touch(const QString& path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

}  // namespace

TEST(LocalFilePath, ReadsBackslashesAsSeparatorsAgainstTheProgramFolder) {
  QTemporaryDir program;
  Touch(program.filePath("music/a.mp3"));
  EXPECT_EQ(LocalFilePath("music\\a.mp3", program.path()), program.filePath("music/a.mp3"));
  EXPECT_EQ(LocalFilePath("music/a.mp3", program.path()), program.filePath("music/a.mp3"));
  // A relative path climbing out of the program's folder.
  QTemporaryDir other;
  Touch(other.filePath("clips/b.wav"));
  const QString up = "..\\" + QFileInfo(other.path()).fileName() + "\\clips\\b.wav";
  EXPECT_EQ(LocalFilePath(up, program.path()), other.filePath("clips/b.wav"));
}

TEST(LocalFilePath, PrefersAFileWhoseNameHoldsTheBackslash) {
  QTemporaryDir program;
  Touch(program.filePath("music\\a.mp3"));
  Touch(program.filePath("music/a.mp3"));
  EXPECT_EQ(LocalFilePath("music\\a.mp3", program.path()), program.filePath("music\\a.mp3"));
}

TEST(LocalFilePath, DropsTheDriveAndMatchesLetterCase) {
  QTemporaryDir program;
  Touch(program.filePath("Music/Loops/Kick.WAV"));
  const QString stored =
      "C:" + QString(program.path()).replace('/', '\\') + "\\music\\loops\\kick.wav";
  EXPECT_EQ(LocalFilePath(stored, program.path()), program.filePath("Music/Loops/Kick.WAV"));
  // Nothing matches: the mapped name, for the message that follows.
  EXPECT_EQ(LocalFilePath("gone\\x.wav", program.path()), program.filePath("gone/x.wav"));
  EXPECT_EQ(LocalFilePath("", program.path()), "");
}

TEST(LocalFolderOf, TakesTheFolderPartOrTheProgramFolder) {
  QTemporaryDir program;
  QDir(program.path()).mkpath("music");
  EXPECT_EQ(LocalFolderOf("music\\a.mp3", program.path()), program.filePath("music"));
  EXPECT_EQ(LocalFolderOf("a.mp3", program.path()), QDir::cleanPath(program.path()));
  EXPECT_EQ(LocalFolderOf("", program.path()), QDir::cleanPath(program.path()));
  EXPECT_EQ(LocalFolderOf("C:\\a.mp3", program.path()), "/");
}

TEST(FileNamePart, CutsAfterEitherSeparator) {
  EXPECT_EQ(FileNamePart("C:\\Sets\\live.wql"), "live.wql");
  EXPECT_EQ(FileNamePart("/home/x/live.wql"), "live.wql");
  EXPECT_EQ(FileNamePart("live.wql"), "live.wql");
  EXPECT_EQ(FileNamePart(""), "");
}
