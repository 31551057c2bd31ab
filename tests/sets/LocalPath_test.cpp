#include "sets/LocalPath.h"

#include "../editor/ZipMaker.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

namespace {

// A show moved from Windows: the program's folder, and the folder the set
// file was copied to together with its clips.
class ClipLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file :
         {"program/music/a.wav", "program/both.wav", "show/both.wav", "show/clips/b.wav",
          "show/Gala/clips/c.wav", "show/d.wav", "show/Kit/E.WAV", "show/’live’ …/f.wav"})
      Touch(root.filePath(file));
    QDir(root.path()).mkpath("show/folder.wav");
  }
  QString Program() const { return root.filePath("program"); }
  QString Show() const { return root.filePath("show"); }
  QString In(const QString& relative) const { return root.filePath(relative); }

  QTemporaryDir root;
};

}  // namespace

TEST_F(ClipLookup, FindsTheClipsOfAShowMovedFromWindows) {
  const struct {
    const char* stored;
    const char* expected;  // under root; nullptr: not found
  } cases[] = {
      // 1. As stored, against the program's folder, before the set's folder.
      {"music\\a.wav", "program/music/a.wav"},
      {"both.wav", "program/both.wav"},
      // 2. Relative, against the set file's folder.
      {"clips\\b.wav", "show/clips/b.wav"},
      {"clips/b.wav", "show/clips/b.wav"},
      {"’live’ …\\f.wav", "show/’live’ …/f.wav"},
      // 3. Absolute Windows paths: their trailing parts beside the set,
      // longest first.
      {"D:\\Shows\\Gala\\clips\\c.wav", "show/Gala/clips/c.wav"},
      {"D:\\Shows\\Other\\clips\\b.wav", "show/clips/b.wav"},
      {"D:\\Samples\\d.wav", "show/d.wav"},
      {"\\\\studio\\share\\d.wav", "show/d.wav"},
      {"\\Samples\\d.wav", "show/d.wav"},
      // In any letter case, as Windows took them.
      {"d:\\SHOWS\\kit\\e.wav", "show/Kit/E.WAV"},
      {"CLIPS\\B.WAV", "show/clips/b.wav"},
      // Nothing there, or only a folder of that name.
      {"D:\\Samples\\gone.wav", nullptr},
      {"gone\\x.wav", nullptr},
      {"folder.wav", nullptr},
  };
  for (const auto& c : cases) {
    const QString stored = QString::fromUtf8(c.stored);
    SCOPED_TRACE(stored.toStdString());
    const ClipLocation clip = ResolveClip(stored, Show(), Program());
    EXPECT_EQ(clip.stored, stored);
    EXPECT_EQ(clip.found, c.expected != nullptr);
    if (c.expected) {
      EXPECT_EQ(clip.path, In(QString::fromUtf8(c.expected)));
      EXPECT_EQ(ClipProblemText(clip), "");
    } else {
      EXPECT_FALSE(QFileInfo(clip.path).isFile());
      EXPECT_FALSE(ClipProblemText(clip).isEmpty());
    }
  }
}

TEST_F(ClipLookup, AClipNotFoundTellsWhereItWasLookedFor) {
  const ClipLocation windows = ResolveClip("D:\\Shows\\clips\\gone.wav", Show(), Program());
  EXPECT_EQ(windows.tried, QStringList({"/Shows/clips/gone.wav", In("show/Shows/clips/gone.wav"),
                                        In("show/clips/gone.wav"), In("show/gone.wav")}));
  const QString text = ClipProblemText(windows);
  EXPECT_TRUE(text.startsWith("D:\\Shows\\clips\\gone.wav : Clip not found."));
  for (const QString& place : windows.tried)
    EXPECT_TRUE(text.contains(place)) << place.toStdString();

  const ClipLocation relative = ResolveClip("gone\\x.wav", Show(), Program());
  EXPECT_EQ(relative.tried, QStringList({In("program/gone/x.wav"), In("show/gone/x.wav")}));
  EXPECT_EQ(relative.path, In("program/gone/x.wav"));

  // A set without a file has no folder of its own.
  EXPECT_EQ(ResolveClip("clips\\b.wav", "", Program()).tried,
            QStringList({In("program/clips/b.wav")}));
  EXPECT_FALSE(ResolveClip("D:\\x\\d.wav", "", Program()).found);

  const ClipLocation empty = ResolveClip("", Show(), Program());
  EXPECT_FALSE(empty.found);
  EXPECT_EQ(empty.path, "");
  EXPECT_EQ(ClipProblemText(empty), "");
}

TEST_F(ClipLookup, APassListsEachFolderOnce) {
  FolderListings listings;
  for (const char* stored : {"CLIPS\\B.WAV", "clips\\B.wav", "KIT\\e.wav"})
    EXPECT_TRUE(ResolveClip(stored, Show(), Program(), &listings).found) << stored;
  // A file added after the listing was taken is found by the next pass.
  Touch(In("show/clips/New.wav"));
  EXPECT_FALSE(ResolveClip("clips\\new.wav", Show(), Program(), &listings).found);
  EXPECT_TRUE(ResolveClip("clips\\new.wav", Show(), Program()).found);
}

TEST_F(ClipLookup, FindsClipsInsideZipArchivesAsPlainFiles) {
  const QByteArray cache = qgetenv("XDG_CACHE_HOME");
  qputenv("XDG_CACHE_HOME", In("cache").toLocal8Bit());
  zip_maker::MakeZip(In("show/drums.zip"), {{"kick.wav", "KICK"}, {"loops/Slow.ogg", "SLOW"}});
  const ClipLocation windows = ResolveClip("D:\\Shows\\drums.zip\\kick.wav", Show(), Program());
  const ClipLocation relative = ResolveClip("drums.zip\\loops\\slow.ogg", Show(), Program());
  const ClipLocation missing = ResolveClip("drums.zip\\snare.wav", Show(), Program());
  qputenv("XDG_CACHE_HOME", cache);
  ASSERT_TRUE(windows.found);
  EXPECT_TRUE(windows.path.startsWith(In("cache/"))) << windows.path.toStdString();
  EXPECT_EQ(zip_maker::ReadFile(windows.path), "KICK");
  ASSERT_TRUE(relative.found);
  EXPECT_EQ(zip_maker::ReadFile(relative.path), "SLOW");
  EXPECT_FALSE(missing.found);
  EXPECT_TRUE(ClipProblemText(missing).contains(In("show/drums.zip/snare.wav")));
}
