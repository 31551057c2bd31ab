// Clips inside ".zip" archives: splitting a path at its archive, listing an
// archive's folder, and extracting an entry into the cache once.

#include "sets/ArchivePath.h"

#include "ZipMaker.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using zip_maker::MakeZip;
using zip_maker::ReadFile;

namespace {

class Archives : public ::testing::Test {
 protected:
  void SetUp() override {
    previousCache_ = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    zip = dir.filePath("drums.zip");
    MakeZip(zip, {{"kick.wav", "KICK"},
                  {"loops/slow.ogg", "SLOW"},
                  {"loops/deep/x.mp3", "X"},
                  {"readme.txt", "text"},
                  {"Snare.WAV", "SNARE"}});
  }
  void TearDown() override { qputenv("XDG_CACHE_HOME", previousCache_); }

  QTemporaryDir dir;
  QTemporaryDir cache;
  QString zip;
  QByteArray previousCache_;
};

TEST_F(Archives, APathIsSplitAtItsFirstExistingZipWithEitherSeparator) {
  ArchivePathParts parts;
  ASSERT_TRUE(SplitArchivePath(zip + "/loops/slow.ogg", &parts));
  EXPECT_EQ(parts.archive, zip);
  EXPECT_EQ(parts.entry, "loops/slow.ogg");
  ASSERT_TRUE(SplitArchivePath(QDir::toNativeSeparators(zip) + "\\kick.wav", &parts));
  EXPECT_EQ(parts.entry, "kick.wav");
  ASSERT_TRUE(SplitArchivePath(zip, &parts));
  EXPECT_EQ(parts.entry, "");
  // A folder named like an archive is a folder.
  QDir(dir.path()).mkdir("fake.zip");
  EXPECT_FALSE(SplitArchivePath(dir.filePath("fake.zip/kick.wav"), nullptr));
  EXPECT_FALSE(SplitArchivePath(dir.filePath("plain/kick.wav"), nullptr));
  EXPECT_FALSE(SplitArchivePath("", nullptr));
}

TEST_F(Archives, AFolderListsItsFoldersFirstThenItsFiles) {
  std::vector<ArchiveListEntry> entries;
  QString error;
  ASSERT_TRUE(ListArchiveFolder(zip, "", &entries, &error)) << error.toStdString();
  QStringList names;
  for (const auto& e : entries) names << (e.isFolder ? "[" + e.name + "]" : e.name);
  EXPECT_EQ(names, QStringList({"[loops]", "kick.wav", "readme.txt", "Snare.WAV"}));
  EXPECT_EQ(entries[1].size, 4);

  ASSERT_TRUE(ListArchiveFolder(zip, "loops", &entries, &error));
  names.clear();
  for (const auto& e : entries) names << (e.isFolder ? "[" + e.name + "]" : e.name);
  EXPECT_EQ(names, QStringList({"[deep]", "slow.ogg"}));

  EXPECT_FALSE(ListArchiveFolder(dir.filePath("none.zip"), "", &entries, &error));
  EXPECT_TRUE(error.contains("none.zip"));
  QFile broken(dir.filePath("broken.zip"));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("not an archive at all");
  broken.close();
  EXPECT_FALSE(ListArchiveFolder(broken.fileName(), "", &entries, &error));
  EXPECT_TRUE(error.contains("broken.zip"));
}

TEST_F(Archives, AnEntryIsExtractedOnceUnderTheCacheAndAgainWhenTheArchiveChanges) {
  QString error;
  const QString first = ExtractArchiveEntry(zip + "/loops/slow.ogg", &error);
  ASSERT_FALSE(first.isEmpty()) << error.toStdString();
  EXPECT_TRUE(first.startsWith(cache.path() + "/Tastivo/archives/"));
  EXPECT_TRUE(first.endsWith("/slow.ogg"));
  EXPECT_EQ(ReadFile(first), "SLOW");
  EXPECT_EQ(ExtractArchiveEntry(zip + "/loops/slow.ogg", &error), first);

  // The same archive name with other contents and another time.
  MakeZip(zip, {{"loops/slow.ogg", "NEWER"}});
  QFile file(zip);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
  file.close();
  const QString second = ExtractArchiveEntry(zip + "/loops/slow.ogg", &error);
  EXPECT_NE(second, first);
  EXPECT_EQ(ReadFile(second), "NEWER");
}

TEST_F(Archives, EntriesOfSetsFromOtherSystemsAreFoundIgnoringCase) {
  QString error;
  const QString path = ExtractArchiveEntry(QDir::toNativeSeparators(zip) + "\\SNARE.wav", &error);
  ASSERT_FALSE(path.isEmpty()) << error.toStdString();
  EXPECT_EQ(ReadFile(path), "SNARE");
}

TEST_F(Archives, WhatCantBeHadSaysWhyAndAPlainPathIsNoneOfItsBusiness) {
  QString error = "untouched";
  EXPECT_EQ(ExtractArchiveEntry(dir.filePath("plain.wav"), &error), "");
  EXPECT_EQ(error, "untouched");

  EXPECT_EQ(ExtractArchiveEntry(zip + "/gone.wav", &error), "");
  EXPECT_TRUE(error.contains("gone.wav")) << error.toStdString();
  EXPECT_EQ(ExtractArchiveEntry(zip, &error), "");
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(ExtractArchiveEntry(zip + "/loops/slow.ogg", nullptr).isEmpty(), false);
}

}  // namespace
