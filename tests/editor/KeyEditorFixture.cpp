#include "KeyEditorFixture.h"

#include "support/MediaFiles.h"
#include "ZipMaker.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace key_editor_testing {

void KeyEditor::SetUp() {
  config = std::make_unique<testing_support::TempConfig>();
  previousCache = qgetenv("XDG_CACHE_HOME");
  qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
  dialogs = std::make_unique<platform::ScriptedDialogs>();
  toneWav = media_files::ToneWav();
  redAvi = media_files::RedAvi();
  const QDir dir(clips.path());
  QFile::copy(toneWav, dir.filePath("a.wav"));
  QFile::copy(toneWav, dir.filePath("b.wav"));
  QFile::copy(toneWav, dir.filePath("x.ZIP"));
  QFile::copy(redAvi, dir.filePath("red.avi"));
  QFile text(dir.filePath("notes.txt"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("left out by the mask");
  text.close();
  dir.mkdir("sub");
  dir.mkdir("Vol. 2");
  QFile::copy(toneWav, dir.filePath("sub/c.wav"));
  zip_maker::MakeZip(dir.filePath("drums.zip"), {{"kick.wav", zip_maker::ReadFile(toneWav)},
                                                 {"loops/slow.wav", zip_maker::ReadFile(toneWav)},
                                                 {"readme.txt", "not a clip"}});
  Edit1 = new TEdit1;
  TTuning::Editor = Edit1;
  tuning = std::make_unique<TTuning>(nullptr, 0);
}

void KeyEditor::TearDown() {
  delete Edit1;
  Edit1 = nullptr;
  tuning.reset();
  dialogs.reset();
  qputenv("XDG_CACHE_HOME", previousCache);
  config.reset();
}

TTuning& KeyEditor::EditRow(int row) {
  tuning->show();
  tuning->SelectRow(row);
  if (row >= 0) {
    tuning->AEditExecute();
  } else {
    Edit1->hide();
    Edit1->SetTuning(tuning.get());
    Edit1->show();
  }
  return *tuning;
}

void KeyEditor::Browse(const QString& folder, int count) {
  Edit1->Stv->SetPath(folder);
  ASSERT_TRUE(testing_support::WaitFor([&] { return Edit1->flist->Count() == count; }))
      << folder.toStdString() << " shows " << Edit1->flist->Count() << " entries, not " << count;
}

int KeyEditor::Row(const QString& caption) const {
  for (int row = 0; row < Edit1->flist->Count(); ++row)
    if (Edit1->flist->Caption(row) == caption) return row;
  ADD_FAILURE() << "no entry " << caption.toStdString();
  return -1;
}

void KeyEditor::Click(const QString& caption) {
  const int row = Row(caption);
  Edit1->flist->SelectEntry(row);
  const QRect cell =
      Edit1->flist->visualRect(Edit1->flist->model()->index(row, 0, Edit1->flist->rootIndex()));
  QTest::mouseClick(Edit1->flist->viewport(), Qt::LeftButton, {}, cell.center());
}

}  // namespace key_editor_testing
