// Browsing in the key editor: the tree drives the list, folders and
// archives are entered with one click, the list follows the disk, and what
// can't be listed or opened says so.

#include "KeyEditorFixture.h"

#include "platform/Dialogs.h"
#include "player/Tplayerbase.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QImage>
#include <QLocale>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace key_editor_testing {
namespace {

using testing_support::WaitFor;

// The entries of a folder that anything opened, seen through inotify.
class OpenWatch {
 public:
  explicit OpenWatch(const QString& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_OPEN);
  }
  ~OpenWatch() {
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }
  // Files opened so far (the folder itself and its sub-folders left out).
  QStringList Opened() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = read(fd_, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if (event->len > 0 && !(event->mask & IN_ISDIR)) opened_ << QFile::decodeName(event->name);
        at += sizeof(inotify_event) + event->len;
      }
    }
    return opened_;
  }

 private:
  int fd_;
  QStringList opened_;
};

// A FIFO that something opened for reading would hold the window thread
// until a writer came. Past a deadline this plays the writer, again and
// again, so that such a test fails (the open shows) instead of hanging.
class FifoWriter {
 public:
  explicit FifoWriter(const QStringList& fifos)
      : thread_([this, fifos] {
          std::unique_lock lock(mutex_);
          std::chrono::milliseconds wait = std::chrono::seconds(20);
          while (!finished_.wait_for(lock, wait, [this] { return done_; })) {
            for (const QString& fifo : fifos) {
              const int fd = open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
              if (fd >= 0) close(fd);
            }
            wait = std::chrono::milliseconds(100);
          }
        }) {}
  ~FifoWriter() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    finished_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  std::thread thread_;
};

TEST_F(KeyEditor, TheListShowsFoldersArchivesAndTheMasksFiles) {
  Browse(clips.path(), 7);
  QStringList captions;
  for (int row = 0; row < Edit1->flist->Count(); ++row) captions << Edit1->flist->Caption(row);
  captions.sort();
  EXPECT_EQ(captions,
            QStringList({"Vol. 2", "a.wav", "b.wav", "drums.zip", "red.avi", "sub", "x.ZIP"}));
  EXPECT_EQ(Edit1->flist->FullPath(Row("a.wav")), Path("a.wav"));
  EXPECT_TRUE(Edit1->flist->Message().isEmpty());

  // Beside the classic names, the formats people carry, in either case.
  const QStringList everyday{"a.flac", "a.opus", "a.oga", "a.m4a",  "a.aac",  "a.aif",
                             "a.AIFF", "a.wma",  "a.mp4", "a.mkv",  "a.webm", "a.mov",
                             "a.mpeg", "a.ogv",  "a.MP3", "a.divx", "a.kar"};
  QDir(clips.path()).mkdir("formats");
  for (const QString& name : everyday) QFile::copy(toneWav, Path("formats/" + name));
  Browse(Path("formats"), everyday.size());
}

// The text of an entry's Size cell: pixels far from its background.
int TextPixels(const QImage& list, const QRect& cell, QColor* background) {
  *background = list.pixelColor(cell.left() + 3, cell.center().y());
  int count = 0;
  for (int y = cell.top() + 1; y < cell.bottom(); ++y)
    for (int x = cell.left() + 1; x < cell.right(); ++x)
      if (std::abs(qGray(list.pixel(x, y)) - qGray(background->rgb())) > 96) ++count;
  return count;
}

TEST_F(KeyEditor, TheSelectedEntryIsHighlightedAndReadableWithOrWithoutTheFocus) {
  EditRow(2);
  Browse(clips.path(), 7);
  Edit1->flist->SelectEntry(Row("a.wav"));
  const auto cell = [this](const QString& name) {
    return Edit1->flist->visualRect(
        Edit1->flist->model()->index(Row(name), 1, Edit1->flist->rootIndex()));
  };
  for (const bool focused : {true, false}) {
    SCOPED_TRACE(focused ? "focused" : "not focused");
    if (focused) {
      Edit1->activateWindow();
      Edit1->flist->setFocus();
    } else {
      Edit1->Label->setFocus();
    }
    const QImage list = Edit1->flist->viewport()->grab().toImage();
    QColor selected, other;
    EXPECT_GT(TextPixels(list, cell("a.wav"), &selected), 10);
    EXPECT_GT(TextPixels(list, cell("b.wav"), &other), 10);
    EXPECT_NE(selected, other) << "the selection is not highlighted";
  }
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

TEST_F(KeyEditor, AFileCopiedIntoTheFolderShowsUpWithItsRealSize) {
  Edit1->show();
  Browse(Path("sub"), 1);
  QFile::copy(toneWav, Path("sub/new.wav"));
  EXPECT_TRUE(WaitFor([] { return Edit1->flist->Count() == 2; }));
  QFile::remove(Path("sub/c.wav"));
  EXPECT_TRUE(WaitFor([] { return Edit1->flist->Count() == 1; }));
  EXPECT_EQ(Edit1->flist->Caption(0), "new.wav");

  // Created empty, then written: the folder tells of the first only.
  QFile steps(Path("sub/steps.ogg"));
  ASSERT_TRUE(steps.open(QIODevice::WriteOnly));
  ASSERT_TRUE(WaitFor([] { return Edit1->flist->Count() == 2; }));
  const auto sizeShown = [&] {
    const int row = Row("steps.ogg");
    return Edit1->flist->model()->index(row, 1, Edit1->flist->rootIndex()).data().toString();
  };
  EXPECT_EQ(sizeShown(), QLocale::system().formattedDataSize(0));
  steps.write(QByteArray(300000, 'x'));
  steps.close();
  EXPECT_TRUE(WaitFor([&] { return sizeShown() == QLocale::system().formattedDataSize(300000); }))
      << sizeShown().toStdString();
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

TEST_F(KeyEditor, TheListAndTheFileDialogNeverOpenAFileToShowIt) {
  // Two FIFOs that no one writes to, and a file whose type only its
  // contents could tell (as with /proc/kmsg, whose read never ends).
  QTemporaryDir folder;
  const QDir dir(folder.path());
  const QStringList fifos{dir.filePath("live.wav"), dir.filePath("pipe")};
  for (const QString& fifo : fifos) ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QFile take(dir.filePath("take"));
  ASSERT_TRUE(take.open(QIODevice::WriteOnly));
  take.write("#!/bin/sh\n");
  take.close();
  QFile::copy(toneWav, dir.filePath("a.wav"));
  OpenWatch opens(folder.path());
  ASSERT_TRUE(opens.Ok());
  const FifoWriter writer(fifos);

  Browse(folder.path(), 1);
  ASSERT_TRUE(WaitFor([] { return Edit1->flist->Loaded(); }));
  EXPECT_EQ(Edit1->flist->Caption(0), "a.wav");

  QStringList shown;
  QTimer poll;
  const QDeadlineTimer deadline(std::chrono::seconds(10));
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    auto* files = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
    if (!files) return;
    const QModelIndex root = files->index(folder.path());
    shown.clear();
    for (int row = 0; row < files->rowCount(root); ++row)
      shown << files->fileName(files->index(row, 0, root));
    if (shown.size() == 2 || deadline.hasExpired()) dialog->reject();
  });
  poll.start(5);
  platform::FileDialogRequest request;
  request.directory = folder.path();
  request.filter = "All files (*)";
  platform::QtDialogs().OpenFileName(nullptr, request);
  shown.sort();
  EXPECT_EQ(shown, QStringList({"a.wav", "take"}));

  const QStringList opened = opens.Opened();
  EXPECT_TRUE(opened.isEmpty()) << "opened: " << opened.join(", ").toStdString();
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
  TTuning::Editor = Edit1;
  EXPECT_EQ(Edit1->Stv->Path(), config->path() + "/music-here");
}

TEST_F(KeyEditor, TheTreeShowsItsFolderNotTheRootsSystemFolders) {
  Edit1->show();
  Browse(Path("sub"), 1);
  const auto shown = [] {
    const QRect folder = Edit1->Stv->visualRect(Edit1->Stv->currentIndex());
    return !folder.isEmpty() && Edit1->Stv->viewport()->rect().contains(folder.center());
  };
  EXPECT_TRUE(WaitFor(shown));
  EXPECT_EQ(Edit1->Stv->currentIndex().data().toString(), "sub");
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
