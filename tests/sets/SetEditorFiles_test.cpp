// The set editor facing files that are not sets, known lists that fail to
// load, and where its file dialogs start.

#include "SetEditorFixture.h"

#include "platform/SettingsStore.h"
#include "sets/ScrollingText.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QTabWidget>

using platform::IDNO;
using platform::IDYES;
using set_editor_testing::kQuestion;
using set_editor_testing::ReadBytes;
using set_editor_testing::SetEditor;
using set_editor_testing::WriteKnownLists;

namespace {

// Bytes that look like an MP3 file: an ID3 tag, then frames of noise.
QByteArray Mp3LikeBytes() {
  QByteArray bytes("ID3\x04\x00\x00\x00\x00\x00\x21", 10);
  QRandomGenerator random(7);
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(random.bounded(256));
  return bytes;
}

struct NotASet {
  const char* name;
  QByteArray bytes;
};

std::vector<NotASet> FilesThatAreNotSets() {
  return {{"song.mp3", Mp3LikeBytes()},
          {"notes.txt", "Shopping list\r\n2 apples\r\n3 pears\r\n"},
          {"numbered.txt", "1. call Ann\n2. buy strings\n"},
          {"empty.wql", ""},
          {"one-line.wql", "5\r\r\n"},
          {"negative.wql", "5\r\r\n-3\r\r\nx\r\r\n"}};
}

}  // namespace

TEST_F(SetEditor, OpenRefusesAFileThatIsNotASetBeforeAskingAnything) {
  const QString a = WriteSet("a.wql", "mine");
  for (const NotASet& file : FilesThatAreNotSets()) {
    SCOPED_TRACE(file.name);
    const QString bad = WriteBytes(file.name, file.bytes);
    TTuning& t = Make();
    dialogs.AnswerFiles({a});
    t.OpenClick();
    t.Set.SetCell(1, kLabelColumn, "unsaved");
    t.Modified = true;
    const QString caption = t.windowTitle();
    dialogs.Clear();
    dialogs.AnswerFiles({bad});
    t.OpenClick();
    EXPECT_EQ(dialogs.BoxTexts(), QStringList({bad + " : Not a set file"}));
    EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Warning");
    EXPECT_EQ(t.FileName, a);
    EXPECT_TRUE(t.Modified);
    EXPECT_EQ(t.Set.Row(0).Label, "mine");
    EXPECT_EQ(t.Set.Row(1).Label, "unsaved");
    EXPECT_EQ(t.KnownLists(), QStringList({a}));
    EXPECT_EQ(t.Combo->currentText(), a);
    EXPECT_EQ(t.windowTitle(), caption);
    // The next save goes to the set's own file; the other file is untouched.
    EXPECT_TRUE(t.SaveClick());
    EXPECT_EQ(ReadBytes(bad), file.bytes);
    EXPECT_EQ(Label0(a), "mine");
    WriteSet("a.wql", "mine");
  }
}

TEST_F(SetEditor, LoadSetAndReloadRefuseAFileThatIsNotASet) {
  const QString a = WriteSet("a.wql", "mine");
  TTuning& t = Make();
  ASSERT_TRUE(t.LoadSet(a));
  for (const NotASet& file : FilesThatAreNotSets()) {
    SCOPED_TRACE(file.name);
    dialogs.Clear();
    const QString bad = WriteBytes(file.name, file.bytes);
    EXPECT_FALSE(t.LoadSet(bad));
    EXPECT_EQ(dialogs.BoxTexts(), QStringList({bad + " : Not a set file"}));
    EXPECT_EQ(t.FileName, a);
    EXPECT_EQ(t.Set.Row(0).Label, "mine");
    EXPECT_FALSE(t.KnownLists().contains(bad));
  }
  // The set's own file replaced by something else while it was loaded.
  WriteBytes("a.wql", Mp3LikeBytes());
  dialogs.Clear();
  t.ReloadSet();
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({a + " : Not a set file"}));
  EXPECT_EQ(t.Set.Row(0).Label, "mine");
  EXPECT_EQ(t.FileName, a);
  EXPECT_EQ(ReadBytes(a), Mp3LikeBytes());
}

TEST_F(SetEditor, AValidSetStillLoadsWhateverItsLineEnds) {
  const QString lf = WriteBytes("lf.wql", "5\n1\nlf label\nx.wav\n0\n10000\n100\n");
  const QString hex =
      WriteBytes("hex.wql", "5 \r\n0x1\r\nhex label\r\ny.wav\r\n0\r\n10000\r\n100\r\n");
  TTuning& t = Make();
  EXPECT_TRUE(t.LoadSet(lf));
  EXPECT_EQ(t.Set.Row(0).Label, "lf label");
  EXPECT_TRUE(t.LoadSet(hex));
  EXPECT_EQ(t.Set.Row(0).Label, "hex label");
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(SetEditor, AKnownListThatIsNotASetAtStartUpWarnsOnceAndIsNotKeptSelected) {
  const QString bad = WriteBytes("bad.wql", Mp3LikeBytes());
  WriteKnownLists({bad}, 0, bad);
  TTuning& t = Make();
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({bad + " : Not a set file"}));
  EXPECT_EQ(t.Set.Row(0).Label, "");
  EXPECT_EQ(t.KnownListIndex(), -1);
  EXPECT_EQ(t.windowTitle(), "Properties ");
  tuning.reset();
  EXPECT_EQ(ReadBytes(bad), Mp3LikeBytes());
  platform::SettingsStore store;
  ASSERT_TRUE(store.OpenKeyReadOnly("Software\\Tastivo"));
  EXPECT_EQ(store.ReadInteger("combolast"), -1);
  dialogs.Clear();
  Make();
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(SetEditor, AChosenKnownListThatFailsLeavesTheLoadedOneShown) {
  const QString a = WriteSet("a.wql", "from a");
  const QString bad = WriteBytes("bad.wql", "just text\n");
  const QString gone = Path("gone.wql");
  WriteKnownLists({a, bad, gone}, 0, a);
  TTuning& t = Make();
  ASSERT_EQ(t.Set.Row(0).Label, "from a");
  ASSERT_EQ(t.KnownLists(), QStringList({a, bad, gone}));

  // Not a set: refused before the save question, so nothing is asked.
  t.Set.SetCell(3, kLabelColumn, "unsaved");
  t.Modified = true;
  t.Combo->setCurrentIndex(1);
  emit t.Combo->activated(1);
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({bad + " : Not a set file"}));
  EXPECT_EQ(t.Combo->currentText(), a);
  EXPECT_TRUE(t.Modified);
  EXPECT_EQ(t.Set.Row(3).Label, "unsaved");

  // A missing file: asked, then warned; the box goes back to a.
  dialogs.Clear();
  dialogs.AnswerBoxes({IDNO});
  t.Combo->setCurrentIndex(2);
  emit t.Combo->activated(2);
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({kQuestion, gone + " : File not Found"}));
  EXPECT_EQ(t.Combo->currentText(), a);
  EXPECT_EQ(t.Set.Row(0).Label, "from a");

  // A cancelled question loads nothing either.
  t.Modified = true;
  dialogs.Clear();
  dialogs.AnswerBoxes({platform::IDCANCEL});
  t.Combo->setCurrentIndex(2);
  emit t.Combo->activated(2);
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({kQuestion}));
  EXPECT_EQ(t.Combo->currentText(), a);
}

TEST_F(SetEditor, AChosenKnownListIsLoadedEvenWhenTheSaveQuestionSavesAnother) {
  const QString a = WriteSet("a.wql", "from a");
  const QString b = WriteSet("b.wql", "from b");
  WriteKnownLists({a, b}, 0, a);
  TTuning& t = Make();
  t.Set.SetCell(0, kLabelColumn, "edited a");
  t.Modified = true;
  dialogs.AnswerBoxes({IDYES});
  t.Combo->setCurrentIndex(1);
  emit t.Combo->activated(1);
  EXPECT_EQ(Label0(a), "edited a");
  EXPECT_EQ(t.FileName, b);
  EXPECT_EQ(t.Set.Row(0).Label, "from b");
  EXPECT_EQ(t.Combo->currentText(), b);
}

TEST_F(SetEditor, FileDialogsStartAtHomeThenInTheLastSetFolder) {
  TTuning& t = Make();
  dialogs.AnswerFiles({""});
  t.OpenClick();
  ASSERT_EQ(dialogs.fileRequests().size(), 1u);
  EXPECT_EQ(dialogs.fileRequests()[0].request.directory, QDir::homePath());

  const QString a = WriteSet("a.wql", "a");
  dialogs.AnswerFiles({a});
  t.OpenClick();
  tuning.reset();

  // Another window (or the next start) with no set file yet.
  dialogs.Clear();
  TTuning& other = Make(1);
  dialogs.AnswerFiles({""});
  other.SaveAsClick();
  ASSERT_EQ(dialogs.fileRequests().size(), 1u);
  EXPECT_EQ(dialogs.fileRequests()[0].request.directory, dir.path());
  platform::SettingsStore store;
  ASSERT_TRUE(store.OpenKeyReadOnly("Software\\Tastivo"));
  EXPECT_EQ(store.ReadString(TTuning::kLastFolderValue), dir.path());

  // A folder that has gone since falls back to home.
  QDir(dir.path()).mkdir("gone");
  dialogs.AnswerFiles({Path("gone/x.wql"), ""});
  other.SaveAsClick();
  QDir(Path("gone")).removeRecursively();
  dialogs.Clear();
  dialogs.AnswerFiles({""});
  Make(2).OpenClick();
  ASSERT_EQ(dialogs.fileRequests().size(), 1u);
  EXPECT_EQ(dialogs.fileRequests()[0].request.directory, QDir::homePath());
}

TEST_F(SetEditor, TheStartUpWarningsEventLoopCannotReachTheHalfBuiltWindow) {
  const QString a = WriteSet("a.wql", "from a");
  const QString gone = Path("gone.wql");
  WriteKnownLists({a, gone}, 1, gone);
  // While the warning is up, events keep flowing: the user (or a MIDI note)
  // picks another known list, toggles the window and turns its pages.
  struct Meddler : platform::ScriptedDialogs {
    int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                   platform::BoxIcon icon, platform::BoxButtons buttons) override {
      if (auto* t = qobject_cast<TTuning*>(owner); t && ++depth == 1) {
        t->Combo->setCurrentIndex(0);
        emit t->Combo->activated(0);
        t->CoolPageControl1->setCurrentIndex(1);
        t->show();
        t->hide();
        QCoreApplication::processEvents();
      }
      const int answer = ScriptedDialogs::MessageBox(owner, text, caption, icon, buttons);
      --depth;
      return answer;
    }
    int depth = 0;
  } meddler;
  TTuning& t = Make();
  EXPECT_EQ(meddler.BoxTexts(), QStringList({gone + " : File not Found"}));
  EXPECT_EQ(t.Set.Row(0).Label, "");
  EXPECT_EQ(t.KnownListIndex(), -1);
  EXPECT_FALSE(t.RatioText->Running());
  // Once whole, the window answers as usual.
  t.Combo->setCurrentIndex(0);
  emit t.Combo->activated(0);
  EXPECT_EQ(t.Set.Row(0).Label, "from a");
}
