// Browsing in the key editor: the tree drives the list, folders and
// archives are entered with one click, the list follows the disk, and what
// can't be listed or opened says so.

#include "KeyEditorFixture.h"

#include "player/Tplayerbase.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

namespace key_editor_testing {
namespace {

using testing_support::WaitFor;

TEST_F(KeyEditor, TheListShowsFoldersArchivesAndTheMasksFiles) {
  Browse(clips.path(), 7);
  QStringList captions;
  for (int row = 0; row < Edit1->flist->Count(); ++row) captions << Edit1->flist->Caption(row);
  captions.sort();
  EXPECT_EQ(captions,
            QStringList({"Vol. 2", "a.wav", "b.wav", "drums.zip", "red.avi", "sub", "x.ZIP"}));
  EXPECT_EQ(Edit1->flist->FullPath(Row("a.wav")), Path("a.wav"));
  EXPECT_TRUE(Edit1->flist->Message().isEmpty());
}

TEST_F(KeyEditor, ASingleClickEntersAFolderOrAZipAndNeverPlaysIt) {
  Edit1->show();
  Edit1->Auto->setChecked(true);
  Browse(clips.path(), 7);
  Click("sub");
  EXPECT_EQ(Edit1->Stv->Path(), Path("sub"));
  ASSERT_TRUE(WaitFor([] { return Edit1->flist->Count() == 1; }));
  Edit1->CoolBtn1->click();
  EXPECT_EQ(Edit1->Stv->Path(), clips.path());
  ASSERT_TRUE(WaitFor([] { return Edit1->flist->Count() == 7; }));

  // A folder whose name has a dot is still a folder.
  Click("Vol. 2");
  EXPECT_EQ(Edit1->Stv->Path(), Path("Vol. 2"));
  Browse(clips.path(), 7);

  Click("drums.zip");
  EXPECT_EQ(Edit1->Stv->Path(), Path("drums.zip"));
  EXPECT_EQ(Edit1->flist->Count(), 2);
  Click("loops");
  EXPECT_EQ(Edit1->Stv->Path(), Path("drums.zip/loops"));
  EXPECT_EQ(Edit1->flist->Caption(0), "slow.wav");
  Edit1->CoolBtn1->click();
  EXPECT_EQ(Edit1->Stv->Path(), Path("drums.zip"));
  EXPECT_TRUE(Edit1->Player->FileName.isEmpty());

  // An archive's entry plays from the cache; the caption names the entry.
  Click("kick.wav");
  EXPECT_EQ(Edit1->windowTitle(), "Tastivo audio: " + Path("drums.zip/kick.wav"));
  EXPECT_TRUE(Edit1->Player->FileName.startsWith(cache.path()));
  EXPECT_TRUE(WaitFor([] { return Edit1->Player->State == fsPlaying; }));
}

TEST_F(KeyEditor, AnUpperCaseZipIsAFileThatPlaysWithAutoPlay) {
  Edit1->show();
  Browse(clips.path(), 7);
  Click("x.ZIP");  // Auto Play off: nothing
  EXPECT_EQ(Edit1->Stv->Path(), clips.path());
  EXPECT_TRUE(Edit1->Player->FileName.isEmpty());
  Edit1->Auto->setChecked(true);
  Click("x.ZIP");
  EXPECT_EQ(Edit1->Stv->Path(), clips.path());
  EXPECT_EQ(Edit1->Player->FileName, Path("x.ZIP"));
  EXPECT_TRUE(WaitFor([] { return Edit1->Player->State == fsPlaying; }));
}

TEST_F(KeyEditor, AFileCopiedIntoTheFolderShowsUp) {
  Browse(Path("sub"), 1);
  QFile::copy(toneWav, Path("sub/new.wav"));
  EXPECT_TRUE(WaitFor([] { return Edit1->flist->Count() == 2; }));
  QFile::remove(Path("sub/c.wav"));
  EXPECT_TRUE(WaitFor([] { return Edit1->flist->Count() == 1; }));
  EXPECT_EQ(Edit1->flist->Caption(0), "new.wav");
}

TEST_F(KeyEditor, AFolderThatIsGoneOrABrokenArchiveIsSaidInTheList) {
  Browse(Path("gone"), 0);
  EXPECT_EQ(Edit1->Stv->Path(), Path("gone"));
  EXPECT_TRUE(Edit1->flist->Message().contains("This folder does not exist"));
  EXPECT_TRUE(Edit1->flist->Message().contains(Path("gone")));

  QFile broken(Path("broken.zip"));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("no archive");
  broken.close();
  Browse(Path("broken.zip"), 0);
  EXPECT_TRUE(Edit1->flist->Message().contains("broken.zip"));

  Browse(clips.path(), 8);
  EXPECT_TRUE(Edit1->flist->Message().isEmpty());
}

TEST_F(KeyEditor, AFolderWithoutPermissionIsSaidInTheList) {
  QDir(clips.path()).mkdir("locked");
  QFile::setPermissions(Path("locked"), QFileDevice::WriteOwner);
  if (::geteuid() == 0) {
    // Root reads every folder: the refusal can't be had, only its absence.
    Browse(Path("locked"), 0);
    EXPECT_TRUE(Edit1->flist->Message().isEmpty());
  } else {
    Browse(Path("locked"), 0);
    EXPECT_TRUE(Edit1->flist->Message().contains("can't be read"));
  }
  QFile::setPermissions(Path("locked"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(KeyEditor, NamesThatAreNotUtf8AreNamedInAMessageNotDroppedSilently) {
  const QByteArray broken = QFile::encodeName(clips.path()) + "/bad\xff.wav";
  FILE* raw = std::fopen(broken.constData(), "w");
  ASSERT_NE(raw, nullptr);
  std::fclose(raw);
  Browse(clips.path(), 7);
  const QString message = Edit1->flist->Message();
  std::remove(broken.constData());
  EXPECT_TRUE(message.contains("not valid UTF-8")) << message.toStdString();
  EXPECT_TRUE(message.contains(QStringLiteral("bad\uFFFD.wav"))) << message.toStdString();
  // The other entries stay usable.
  EXPECT_EQ(Edit1->flist->FullPath(Row("a.wav")), Path("a.wav"));
}

TEST_F(KeyEditor, TheFirstRunStartsInTheUsersMusicFolder) {
  QDir(config->path()).mkdir("music-here");
  QFile dirs(config->path() + "/user-dirs.dirs");
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
  dirs.write("XDG_MUSIC_DIR=\"" + QFile::encodeName(config->path()) + "/music-here\"\n");
  dirs.close();
  delete Edit1;
  QFile::remove(config->path() + "/Tastivo/Tastivo.ini");
  Edit1 = new TEdit1;
  EXPECT_EQ(Edit1->Stv->Path(), config->path() + "/music-here");
}

TEST_F(KeyEditor, TheSetEditorsEditTakesTheTreeToTheRowsFolder) {
  tuning->Set.SetCell(2, kFileColumn, Path("sub/c.wav"));
  EditRow(2);
  EXPECT_EQ(Edit1->Stv->Path(), Path("sub"));
  tuning->Set.SetCell(3, kFileColumn, Path("drums.zip/loops/slow.wav"));
  EditRow(3);
  EXPECT_EQ(Edit1->Stv->Path(), Path("drums.zip/loops"));
  ASSERT_TRUE(WaitFor([] { return Edit1->flist->Count() == 1; }));
  // An empty row leaves the tree where it was.
  EditRow(4);
  EXPECT_EQ(Edit1->Stv->Path(), Path("drums.zip/loops"));
}

TEST_F(KeyEditor, ReturnInTheListEntersAnArchiveAndAddsAFileLikeADoubleClick) {
  TTuning& t = EditRow(3);
  Browse(clips.path(), 7);
  Edit1->flist->SelectEntry(Row("drums.zip"));
  QTest::keyClick(Edit1->flist, Qt::Key_Return);
  EXPECT_EQ(Edit1->Stv->Path(), Path("drums.zip"));
  Edit1->flist->SelectEntry(Row("kick.wav"));
  QTest::keyClick(Edit1->flist, Qt::Key_Return);
  EXPECT_EQ(t.Set.Row(3).Label, "kick.wav");
  EXPECT_EQ(t.SelectedRow(), 4);
}

}  // namespace
}  // namespace key_editor_testing
