// The set editor with sets brought from Windows: their text encoding, files
// that end early, the known lists at start-up, and finding the clips.

#include "SetEditorFixture.h"

#include "platform/SettingsStore.h"
#include "sets/KeySetModel.h"
#include "sets/SetGrid.h"

#include <QCheckBox>
#include <QColor>
#include <QDir>
#include <QFileInfo>

using platform::IDCANCEL;
using platform::IDNO;
using platform::IDYES;
using set_editor_testing::ReadBytes;
using set_editor_testing::SetEditor;

namespace {

constexpr const char* kLine = "\r\r\n";

// The bytes of a 77-row set whose first rows have these labels and files,
// exactly as given (any encoding).
QByteArray SetBytes(const std::vector<std::pair<QByteArray, QByteArray>>& rows) {
  QByteArray bytes = QByteArray("5") + kLine + "77" + kLine;
  for (int i = 0; i < 77; ++i) {
    const bool given = i < static_cast<int>(rows.size());
    bytes += (given ? rows[i].first : QByteArray()) + kLine;
    bytes += (given ? rows[i].second : QByteArray()) + kLine;
    bytes += QByteArray("0") + kLine + "10000" + kLine + "100" + kLine;
  }
  return bytes;
}

void Touch(const QString& path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

}  // namespace

TEST_F(SetEditor, AWindows1252SetShowsItsTextAndSavesBackTheSameBytes) {
  const QByteArray original = SetBytes({{"Rock\x92n\x92Roll \x80"
                                         "5 \x85",
                                         "clips\\\x92live\x92.wav"},
                                        {"na\xefve", "D:\\Shows\\\x85.mp3"}});
  const QString path = WriteBytes("windows.wql", original);
  TTuning& t = Make();
  ASSERT_TRUE(t.LoadSet(path));
  EXPECT_EQ(t.FileEncoding, setfile::Encoding::kWindows1252);
  EXPECT_EQ(t.Set.Row(0).Label, QString::fromUtf8("Rock’n’Roll €5 …"));
  EXPECT_EQ(t.Set.Row(0).File, QString::fromUtf8("clips\\’live’.wav"));
  EXPECT_EQ(t.Set.Row(1).Label, QString::fromUtf8("naïve"));
  EXPECT_TRUE(dialogs.boxes().empty());
  ASSERT_TRUE(t.SaveClick());
  EXPECT_EQ(ReadBytes(path), original);

  // Edited text that the code page holds is written in it, too.
  t.Set.SetCell(2, kLabelColumn, QString::fromUtf8("Œuvre – “fin”"));
  ASSERT_TRUE(t.SaveClick());
  EXPECT_TRUE(
      ReadBytes(path).contains("\x8cuvre \x96 \x93"
                               "fin\x94\r\r\n"));
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(SetEditor, AUtf8SetAndANewSetAreWrittenInUtf8) {
  const QByteArray original = SetBytes({{"Rock’n’Roll €5 …", "clips/’live’.wav"}});
  const QString path = WriteBytes("utf8.wql", original);
  TTuning& t = Make();
  ASSERT_TRUE(t.LoadSet(path));
  EXPECT_EQ(t.FileEncoding, setfile::Encoding::kUtf8);
  EXPECT_EQ(t.Set.Row(0).Label, QString::fromUtf8("Rock’n’Roll €5 …"));
  ASSERT_TRUE(t.SaveClick());
  EXPECT_EQ(ReadBytes(path), original);

  TTuning& fresh = Make(1);
  EXPECT_EQ(fresh.FileEncoding, setfile::Encoding::kUtf8);
  fresh.Set.SetCell(0, kLabelColumn, QString::fromUtf8("€"));
  dialogs.AnswerFiles({Path("new.wql")});
  ASSERT_TRUE(fresh.SaveAsClick());
  EXPECT_TRUE(ReadBytes(Path("new.wql")).contains("\xe2\x82\xac\r\r\n"));
}

TEST_F(SetEditor, TextTheCodePageCannotHoldIsNeverDroppedSilently) {
  const QByteArray original = SetBytes({{"caf\xe9", "a.wav"}});
  const QString path = WriteBytes("windows.wql", original);
  TTuning& t = Make();
  ASSERT_TRUE(t.LoadSet(path));
  t.Set.SetCell(4, kLabelColumn, QString::fromUtf8("日本"));
  t.Modified = true;

  // Cancel: nothing is written and the changes stay marked.
  dialogs.AnswerBoxes({IDCANCEL});
  EXPECT_FALSE(t.SaveClick());
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Question");
  EXPECT_TRUE(dialogs.boxes()[0].text.startsWith(
      path + " : this set is saved in Windows-1252, which can't hold all of its text (row 5: "));
  EXPECT_TRUE(dialogs.boxes()[0].text.contains(QString::fromUtf8("日本")));
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_TRUE(t.Modified);

  // No: the code page is kept, with "?" where it can't hold the text.
  dialogs.AnswerBoxes({IDNO});
  EXPECT_TRUE(t.SaveClick());
  EXPECT_TRUE(ReadBytes(path).contains("caf\xe9\r\r\n"));
  EXPECT_TRUE(ReadBytes(path).contains("\r\r\n??\r\r\n"));
  EXPECT_EQ(t.FileEncoding, setfile::Encoding::kWindows1252);

  // Yes: the set is UTF-8 from now on, and the question is not asked again.
  dialogs.Clear();
  dialogs.AnswerBoxes({IDYES});
  EXPECT_TRUE(t.SaveClick());
  EXPECT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_EQ(t.FileEncoding, setfile::Encoding::kUtf8);
  EXPECT_TRUE(ReadBytes(path).contains("caf\xc3\xa9\r\r\n"));
  EXPECT_TRUE(ReadBytes(path).contains("\r\r\n\xe6\x97\xa5\xe6\x9c\xac\r\r\n"));
  EXPECT_TRUE(t.SaveClick());
  EXPECT_EQ(dialogs.boxes().size(), 1u);
}

TEST_F(SetEditor, AFileThatEndsEarlyWarnsWithTheRowsReadAndKeepsThem) {
  QByteArray bytes = SetBytes({{"one", "1.wav"}, {"two", "2.wav"}, {"three", "3.wav"}});
  bytes.truncate(bytes.indexOf("three") + 5);  // cut inside the third row
  const QString path = WriteBytes("cut.wql", bytes);
  TTuning& t = Make();
  EXPECT_TRUE(t.LoadSet(path));
  EXPECT_EQ(dialogs.BoxTexts(),
            QStringList({path + " : the file ends early: 2 of its 77 rows were read"}));
  EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Warning");
  EXPECT_EQ(t.Set.Row(1).File, "2.wav");
  EXPECT_EQ(t.Set.Row(2).Label, "three");
  EXPECT_EQ(t.FileName, path);
}

TEST_F(SetEditor, TheKnownListsSurviveABadWindowPosition) {
  const QString a = WriteSet("a.wql", "from a");
  const QString b = WriteSet("b.wql", "from b");
  {
    platform::SettingsStore store;
    store.OpenKey("Software\\Tastivo", true);
    store.WriteString("last", b);
    store.WriteString("ttop", "not a number");
    store.WriteInteger("tleft", 5);
    store.WriteString("combo", a + "\r\n" + b + "\r\n");
    store.WriteInteger("combolast", 1);
    store.WriteBool("staytop", false);
    store.CloseKey();
  }
  {
    TTuning& t = Make();
    EXPECT_EQ(t.KnownLists(), QStringList({a, b}));
    EXPECT_EQ(t.KnownListIndex(), 1);
    EXPECT_EQ(t.Set.Row(0).Label, "from b");
    EXPECT_TRUE(t.StayTop->isChecked());  // after the bad value, as before
    EXPECT_TRUE(dialogs.boxes().empty());
    tuning.reset();
  }
  platform::SettingsStore store;
  ASSERT_TRUE(store.OpenKeyReadOnly("Software\\Tastivo"));
  EXPECT_EQ(store.ReadString("combo"), a + "\r\n" + b + "\r\n");
  EXPECT_EQ(store.ReadInteger("combolast"), 1);
}

TEST_F(SetEditor, AnUnreadableKnownListIsNotOverwrittenWithAnEmptyOne) {
  {
    platform::SettingsStore store;
    store.OpenKey("Software\\Tastivo", true);
    store.WriteInteger("combo", 7);  // of the wrong kind: can't be read
    store.CloseKey();
  }
  Make();
  tuning.reset();
  platform::SettingsStore store;
  ASSERT_TRUE(store.OpenKeyReadOnly("Software\\Tastivo"));
  EXPECT_EQ(store.ReadInteger("combo"), 7);
  EXPECT_EQ(store.ReadInteger("combolast"), -1);

  // A first run writes its empty list as ever.
  TTuning& other = Make(2);
  other.StayTop->setChecked(false);
  tuning.reset();
  platform::SettingsStore second;
  ASSERT_TRUE(second.OpenKeyReadOnly("Software\\Tastivo\\2"));
  EXPECT_EQ(second.ReadString("combo"), "");
  EXPECT_FALSE(second.ReadBool("staytop"));
}

TEST_F(SetEditor, FindsTheClipsOfAMovedShowWhenTheSetIsLoaded) {
  QDir(dir.path()).mkpath("show");
  Touch(Path("show/clips/kick.wav"));
  Touch(Path("show/Snare.WAV"));
  const QByteArray original = SetBytes({{"kick", "D:\\Shows\\Gala\\clips\\kick.wav"},
                                        {"snare", "snare.wav"},
                                        {"gone", "D:\\Shows\\Gala\\clips\\gone.wav"}});
  const QString path = WriteBytes("show/gala.wql", original);
  TTuning& t = Make();
  ASSERT_TRUE(t.LoadSet(path));
  EXPECT_EQ(t.ClipPath(0), Path("show/clips/kick.wav"));
  EXPECT_EQ(t.ClipPath(1), Path("show/Snare.WAV"));
  EXPECT_EQ(t.ClipProblem(0), "");
  EXPECT_EQ(t.ClipPath(3), "");  // no file
  EXPECT_EQ(t.ClipProblem(3), "");
  EXPECT_EQ(t.ClipPath(500), "");

  // The missing clip: a path that does not exist, and where it was looked for.
  EXPECT_FALSE(QFileInfo::exists(t.ClipPath(2)));
  const QString problem = t.ClipProblem(2);
  EXPECT_TRUE(problem.startsWith("D:\\Shows\\Gala\\clips\\gone.wav : Clip not found."));
  EXPECT_TRUE(problem.contains(Path("show/clips/gone.wav")));
  EXPECT_TRUE(problem.contains(Path("show/gone.wav")));

  // The list marks that row, before any key is pressed.
  const QModelIndex missing = t.Grid->model()->index(2, kFileColumn);
  EXPECT_EQ(missing.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
  EXPECT_EQ(missing.data(Qt::ToolTipRole).toString(), problem);
  const QModelIndex found = t.Grid->model()->index(0, kFileColumn);
  EXPECT_FALSE(found.data(Qt::ForegroundRole).isValid());
  EXPECT_FALSE(found.data(Qt::ToolTipRole).isValid());

  // What was found is kept: playing the key looks for nothing.
  QFile::remove(Path("show/clips/kick.wav"));
  EXPECT_EQ(t.ClipPath(0), Path("show/clips/kick.wav"));
  EXPECT_EQ(t.ClipProblem(0), "");

  // A row that changes is looked up at once.
  t.Set.SetCell(2, kFileColumn, "Snare.wav");
  EXPECT_EQ(t.ClipPath(2), Path("show/Snare.WAV"));
  EXPECT_EQ(t.ClipProblem(2), "");
  EXPECT_FALSE(t.Grid->model()->index(2, kFileColumn).data(Qt::ForegroundRole).isValid());
  t.Set.SetCell(1, kFileColumn, "");
  EXPECT_EQ(t.ClipPath(1), "");
  EXPECT_EQ(t.ClipProblem(1), "");

  // A new look, e.g. after the drive was plugged in again.
  t.ResolveClips();
  EXPECT_FALSE(t.ClipProblem(0).isEmpty());

  // The stored paths are never rewritten.
  t.Set.SetCell(1, kFileColumn, "snare.wav");
  t.Set.SetCell(2, kFileColumn, "D:\\Shows\\Gala\\clips\\gone.wav");
  ASSERT_TRUE(t.SaveClick());
  EXPECT_EQ(ReadBytes(path), original);
}

TEST_F(SetEditor, RowsAddedByAFileAreLookedUpToo) {
  Touch(Path("far.wav"));
  KeySet set;
  set.GrowTo(80);
  set.SetCell(79, kFileColumn, "C:\\Old\\FAR.wav");
  const QString path = Path("eighty.wql");
  ASSERT_TRUE(WriteSetFile(path, set, nullptr));
  TTuning& t = Make();
  ASSERT_TRUE(t.LoadSet(path));
  EXPECT_EQ(t.ClipPath(79), Path("far.wav"));
  EXPECT_EQ(t.ClipProblem(79), "");
}
