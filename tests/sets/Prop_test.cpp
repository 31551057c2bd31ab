#include "sets/Prop.h"
#include "editor/Edit.h"
#include "platform/ScriptedDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/midi/MidiPorts.h"
#include "sets/LocalPath.h"
#include "sets/ScrollingText.h"
#include "sets/SetFile.h"
#include "sets/SetGrid.h"
#include "sets/SetListPrint.h"

#include "SetEditorFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QPrintPreviewWidget>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <memory>

using platform::IDCANCEL;
using platform::IDNO;
using platform::IDOK;
using platform::IDYES;
using set_editor_testing::kQuestion;
using set_editor_testing::ReadBytes;
using set_editor_testing::SetEditor;

TEST_F(SetEditor, FirstRunHasTheFormDefaults) {
  TTuning& t = Make();
  EXPECT_EQ(t.size(), QSize(598, 834));
  EXPECT_TRUE(t.StayTop->isChecked());
  EXPECT_EQ(t.StayTop->text(), "  Stay on top    ");
  EXPECT_TRUE(t.KnownLists().isEmpty());
  EXPECT_EQ(t.FileName, "");
  EXPECT_FALSE(t.Modified);
  EXPECT_FALSE(t.isVisible());
  EXPECT_EQ(t.windowTitle(), "Properties ");
  EXPECT_TRUE(dialogs.boxes().empty());
  EXPECT_EQ(t.CoolPageControl1->currentIndex(), 0);
  EXPECT_EQ(t.CoolPageControl1->tabText(0), "Set Editor");
  EXPECT_EQ(t.CoolPageControl1->tabText(1), "Options");
  EXPECT_EQ(t.CoolPageControl1->tabText(2), "Print");
  EXPECT_EQ(t.New->toolTip(), "New List, Nouvelle liste");
  EXPECT_EQ(t.Open->toolTip(), "Open a list, Ouvrir une liste");
  EXPECT_EQ(t.SaveAs->toolTip(), "Save as, Sauver la liste dans");
  EXPECT_EQ(t.Save->toolTip(), "Save, Sauver la liste");
  EXPECT_EQ(t.Combo->toolTip(), "Known list, Listes connues");
  EXPECT_EQ(t.Grid->model()->rowCount(), 77);
  EXPECT_EQ(t.Grid->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(SetEditor, ListsTheMidiInputDevicesInDeviceOrder) {
  TTuning& t = Make();
  QStringList names;
  for (const auto& name : platform::MidiInputPortNames()) names << QString::fromStdString(name);
  QStringList shown;
  for (int i = 0; i < t.Device1->count(); ++i) shown << t.Device1->itemText(i);
  EXPECT_EQ(shown, names);
  EXPECT_EQ(t.Device1->currentIndex(), names.isEmpty() ? -1 : 0);
}

TEST_F(SetEditor, KeepsItsSettingsUnderItsInstanceSubkey) {
  const QString a = WriteSet("a.wql", "from a");
  const QString b = WriteSet("B.wql", "from b");
  {
    TTuning& t = Make(3);
    EXPECT_EQ(t.windowTitle(), "Properties 3");
    dialogs.AnswerFiles({b, a});
    t.OpenClick();
    t.OpenClick();
    EXPECT_EQ(t.FileName, a);
    t.StayTop->setChecked(false);
    t.move(40, 30);
    t.resize(500, 600);
    tuning.reset();
  }
  platform::SettingsStore store;
  ASSERT_TRUE(store.OpenKeyReadOnly("Software\\Tastivo\\3"));
  EXPECT_EQ(store.ReadString("last"), a);
  EXPECT_EQ(store.ReadString("combo"), a + "\r\n" + b + "\r\n");
  EXPECT_EQ(store.ReadInteger("combolast"), 0);
  EXPECT_EQ(store.ReadInteger("twidth"), 500);
  EXPECT_EQ(store.ReadInteger("theight"), 600);
  EXPECT_FALSE(store.ReadBool("staytop"));
  EXPECT_FALSE(platform::SettingsStore().OpenKeyReadOnly("Software\\Tastivo\\0"));

  TTuning& back = Make(3);
  EXPECT_EQ(back.FileName, a);
  EXPECT_EQ(back.KnownLists(), QStringList({a, b}));
  EXPECT_EQ(back.KnownListIndex(), 0);
  EXPECT_EQ(back.Set.Row(0).Label, "from a");  // the selected list was loaded
  EXPECT_EQ(back.windowTitle(), a);
  EXPECT_EQ(back.size(), QSize(500, 600));
  EXPECT_EQ(back.pos(), QPoint(40, 30));
  EXPECT_FALSE(back.StayTop->isChecked());
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(SetEditor, StopsReadingSettingsAtTheFirstMissingNumber) {
  {
    platform::SettingsStore store;
    store.OpenKey("Software\\Tastivo", true);
    store.WriteString("last", "/nowhere/x.wql");
    store.WriteString("combo", "/nowhere/x.wql\r\n");
    store.WriteInteger("combolast", 0);
    store.WriteBool("staytop", false);
    store.WriteInteger("ttop", 10);
    store.WriteString("tleft", "text, not a number");
    store.CloseKey();
  }
  TTuning& t = Make();
  EXPECT_EQ(t.FileName, "/nowhere/x.wql");
  EXPECT_EQ(t.y(), 10);
  EXPECT_TRUE(t.StayTop->isChecked());  // after the bad number: skipped
  // The known lists are read all the same, and the selected one loaded.
  EXPECT_EQ(t.KnownLists(), QStringList({"/nowhere/x.wql"}));
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({"/nowhere/x.wql : File not Found"}));
}

TEST_F(SetEditor, WarnsOnceWhenTheLastKnownListIsGone) {
  const QString gone = Path("gone.wql");
  set_editor_testing::WriteKnownLists({gone}, 0, gone);
  TTuning& t = Make();
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({gone + " : File not Found"}));
  EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Warning");
  EXPECT_EQ(t.Set.Row(0).Label, "");
  EXPECT_EQ(t.windowTitle(), "Properties ");
  // The box shows what is loaded (nothing), and that is what the next start
  // comes back to: no second warning.
  EXPECT_EQ(t.KnownListIndex(), -1);
  EXPECT_EQ(t.KnownLists(), QStringList({gone}));
  tuning.reset();
  dialogs.Clear();
  TTuning& again = Make();
  EXPECT_TRUE(dialogs.boxes().empty());
  EXPECT_EQ(again.FileName, gone);
}

TEST_F(SetEditor, NewAsksWhenModifiedAndResetsUnlessCancelled) {
  const QString a = WriteSet("a.wql", "kept");
  for (int answer : {IDYES, IDNO, IDCANCEL}) {
    TTuning& t = Make();
    dialogs.Clear();
    dialogs.AnswerFiles({a});
    t.OpenClick();
    t.Set.SetCell(0, kLabelColumn, "changed");
    t.Modified = true;
    dialogs.AnswerBoxes({answer});
    EXPECT_EQ(t.NewClick(), answer != IDCANCEL);
    EXPECT_EQ(dialogs.BoxTexts(), QStringList({kQuestion}));
    EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Question");
    // Cancel keeps the rows and their mark, so nothing is lost later.
    EXPECT_EQ(t.Modified, answer == IDCANCEL);
    EXPECT_EQ(t.Set.Row(0).Label, answer == IDCANCEL ? "changed" : "");
    EXPECT_EQ(Label0(a), answer == IDYES ? "changed" : "kept");
    WriteSet("a.wql", "kept");
  }
}

TEST_F(SetEditor, CancelledCloseQuestionAsksAgainNextTime) {
  TTuning& t = Make();
  t.Set.SetCell(0, kLabelColumn, "unsaved");
  t.Modified = true;
  dialogs.AnswerBoxes({IDCANCEL, IDNO});
  EXPECT_EQ(t.AskSave(), IDCANCEL);
  EXPECT_TRUE(t.Modified);
  EXPECT_EQ(t.AskSave(), IDNO);
  EXPECT_FALSE(t.Modified);
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({kQuestion, kQuestion}));
}

TEST_F(SetEditor, NewThenSaveOverwritesTheLoadedFile) {
  const QString a = WriteSet("a.wql", "old");
  TTuning& t = Make();
  dialogs.AnswerFiles({a});
  t.OpenClick();
  EXPECT_EQ(t.Set.Row(0).Label, "old");
  t.NewClick();
  EXPECT_EQ(t.KnownListIndex(), -1);
  EXPECT_TRUE(t.SaveClick());
  EXPECT_EQ(t.windowTitle(), a);
  EXPECT_EQ(ReadBytes(a), SetFileBytes(KeySet()));
  EXPECT_EQ(t.KnownLists(), QStringList({a}));
}

TEST_F(SetEditor, OpenAsksAfterTheDialogAndSavesTheOldRowsToTheOldFile) {
  const QString a = WriteSet("a.wql", "a");
  const QString b = WriteSet("b.wql", "b");
  TTuning& t = Make();
  dialogs.AnswerFiles({a});
  t.OpenClick();
  t.Set.SetCell(0, kLabelColumn, "edited a");
  t.Modified = true;
  dialogs.Clear();
  dialogs.AnswerFiles({b});
  dialogs.AnswerBoxes({IDYES});
  t.OpenClick();
  ASSERT_EQ(dialogs.fileRequests().size(), 1u);
  EXPECT_FALSE(dialogs.fileRequests()[0].save);
  EXPECT_EQ(dialogs.fileRequests()[0].request.directory, dir.path());
  EXPECT_EQ(dialogs.fileRequests()[0].request.fileName, "Default.wql");
  EXPECT_EQ(dialogs.fileRequests()[0].request.defaultSuffix, "wql");
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({kQuestion}));
  EXPECT_EQ(Label0(a), "edited a");
  EXPECT_EQ(Label0(b), "b");
  EXPECT_EQ(t.Set.Row(0).Label, "b");
  EXPECT_EQ(t.FileName, b);
  EXPECT_FALSE(t.Modified);
}

TEST_F(SetEditor, OpenOfAMissingFileWarnsAndKeepsTheRowsForTheNextSave) {
  TTuning& t = Make();
  t.Set.SetCell(2, kFileColumn, "x.wav");
  const QString missing = Path("new.wql");
  dialogs.AnswerFiles({missing});
  t.OpenClick();
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({missing + " : File not Found"}));
  EXPECT_EQ(t.Set.Row(2).File, "x.wav");
  EXPECT_EQ(t.FileName, missing);
  EXPECT_TRUE(t.KnownLists().isEmpty());
  EXPECT_EQ(t.windowTitle(), "Properties ");
  EXPECT_TRUE(t.SaveClick());
  KeySet saved;
  ApplySetFile(saved, ReadSetFile(missing).parsed);
  EXPECT_EQ(saved.Row(2).File, "x.wav");
}

TEST_F(SetEditor, LoadingAskedBeforeAnythingIsReadWithTheCaptionAlreadySet) {
  const QString a = WriteSet("a.wql", "a");
  TTuning& t = Make();
  t.Modified = true;
  QString captionAtQuestion;
  // The caption at question time: captured from the box's owner.
  struct Spy : platform::ScriptedDialogs {
    QString* caption;
    int MessageBox(QWidget* owner, const QString& text, const QString& cap, platform::BoxIcon icon,
                   platform::BoxButtons buttons) override {
      if (owner) *caption = owner->windowTitle();
      return ScriptedDialogs::MessageBox(owner, text, cap, icon, buttons);
    }
  } spy;
  spy.caption = &captionAtQuestion;
  spy.AnswerBoxes({IDNO});
  EXPECT_TRUE(t.LoadSet(a));
  EXPECT_EQ(captionAtQuestion, a);
  EXPECT_EQ(spy.BoxTexts(), QStringList({kQuestion}));
  EXPECT_EQ(t.Set.Row(0).Label, "a");
}

TEST_F(SetEditor, SaveWithoutNameAndCancelledDialogChangesNothing) {
  TTuning& t = Make();
  t.Modified = true;
  dialogs.AnswerFiles({""});
  EXPECT_FALSE(t.SaveClick());
  EXPECT_TRUE(t.Modified);
  EXPECT_TRUE(t.KnownLists().isEmpty());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0);
}

TEST_F(SetEditor, KnownListsStaySortedWithoutDuplicates) {
  TTuning& t = Make();
  for (const char* name : {"m.wql", "B.wql", "a.wql", "m.wql", "z.wql", "B.wql"}) {
    dialogs.AnswerFiles({Path(name)});
    dialogs.AnswerBoxes({IDYES});  // replacing an existing file
    EXPECT_TRUE(t.SaveAsClick());
    EXPECT_EQ(t.Combo->currentText(), Path(name));
  }
  EXPECT_EQ(t.KnownLists(),
            QStringList({Path("a.wql"), Path("B.wql"), Path("m.wql"), Path("z.wql")}));
}

TEST_F(SetEditor, SaveAsAsksBeforeReplacingAFile) {
  const QString a = WriteSet("a.wql", "precious");
  TTuning& t = Make();
  for (int answer : {IDNO, IDCANCEL}) {
    dialogs.Clear();
    dialogs.AnswerFiles({a});
    dialogs.AnswerBoxes({answer});
    EXPECT_FALSE(t.SaveAsClick());
    EXPECT_EQ(dialogs.BoxTexts(), QStringList({a + " already exists. Replace it?"}));
    EXPECT_EQ(Label0(a), "precious");
    EXPECT_EQ(t.FileName, "");
  }
  dialogs.AnswerFiles({a});
  dialogs.AnswerBoxes({IDYES});
  EXPECT_TRUE(t.SaveAsClick());
  EXPECT_EQ(Label0(a), "");
}

TEST_F(SetEditor, AFailedSaveWarnsAndKeepsTheSetModified) {
  QFile plain(Path("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  TTuning& t = Make();
  t.FileName = Path("plain/set.wql");
  t.Modified = true;
  EXPECT_FALSE(t.SaveClick());
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_TRUE(dialogs.boxes()[0].text.startsWith(t.FileName + " : File not Saved\n"));
  EXPECT_GT(dialogs.boxes()[0].text.size(), (t.FileName + " : File not Saved\n").size());
  EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Warning");
  EXPECT_TRUE(t.Modified);
  EXPECT_TRUE(t.KnownLists().isEmpty());

  // Yes to the save question with a save that fails keeps the rows.
  t.Set.SetCell(0, kLabelColumn, "unsaved");
  dialogs.Clear();
  dialogs.AnswerBoxes({IDYES});
  EXPECT_EQ(t.AskSave(), IDCANCEL);
  EXPECT_TRUE(t.Modified);
  dialogs.AnswerBoxes({IDYES});
  EXPECT_FALSE(t.NewClick());
  EXPECT_EQ(t.Set.Row(0).Label, "unsaved");
}

TEST_F(SetEditor, AFailedSaveAsLeavesTheSetWithItsOwnFile) {
  const QString a = WriteSet("a.wql", "old");
  QFile plain(Path("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  // Under a regular file: not even root can create it.
  const QString elsewhere = Path("plain/elsewhere.wql");
  TTuning& t = Make();
  ASSERT_TRUE(t.LoadSet(a));
  const QString caption = t.windowTitle();
  t.Set.SetCell(0, kLabelColumn, "new");
  t.Modified = true;
  // What the windows show while the box is up (their captions follow it).
  struct Watching : platform::ScriptedDialogs {
    TTuning* tuning = nullptr;
    QStringList fileNames;
    int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                   platform::BoxIcon icon, platform::BoxButtons buttons) override {
      fileNames << tuning->FileName;
      return ScriptedDialogs::MessageBox(owner, text, caption, icon, buttons);
    }
  };
  {
    Watching watching;
    watching.tuning = &t;
    watching.AnswerFiles({elsewhere});
    EXPECT_FALSE(t.SaveAsClick());
    EXPECT_EQ(watching.fileNames, QStringList({a}));
    ASSERT_EQ(watching.boxes().size(), 1u);
    EXPECT_TRUE(watching.boxes()[0].text.startsWith(elsewhere + " : File not Saved\n"));
  }
  platform::SetDialogProvider(&dialogs);
  EXPECT_EQ(t.FileName, a);
  EXPECT_EQ(t.KnownLists(), QStringList({a}));
  EXPECT_EQ(t.Combo->currentText(), a);
  EXPECT_EQ(t.windowTitle(), caption);
  EXPECT_TRUE(t.Modified);

  EXPECT_TRUE(t.SaveClick());
  EXPECT_TRUE(dialogs.boxes().empty());
  EXPECT_EQ(Label0(a), "new");
}

TEST_F(SetEditor, AskSaveAnswersOkWithoutAQuestionWhenUnmodified) {
  TTuning& t = Make();
  EXPECT_EQ(t.AskSave(), IDOK);
  EXPECT_TRUE(dialogs.boxes().empty());
  t.Modified = true;
  dialogs.AnswerBoxes({IDNO});
  EXPECT_EQ(t.AskSave(), IDNO);
  EXPECT_FALSE(t.Modified);
}

TEST_F(SetEditor, ClearResetsOnlyTheSelectedRow) {
  TTuning& t = Make();
  t.Set.SetCell(4, kLabelColumn, "snare");
  t.Clear1Click();
  EXPECT_FALSE(t.Modified);
  EXPECT_EQ(t.Set.Row(4).Label, "snare");
  t.SelectRow(4);
  EXPECT_EQ(t.SelectedRow(), 4);
  t.Clear1Click();
  EXPECT_TRUE(t.Modified);
  EXPECT_EQ(t.Set.Row(4).Label, "");
  EXPECT_EQ(t.Grid->model()->index(4, kLabelColumn).data().toString(), "");
}

TEST_F(SetEditor, ReloadSetRereadsTheFile) {
  const QString a = WriteSet("a.wql", "one");
  TTuning& t = Make();
  t.ReloadSet();  // no file: nothing
  EXPECT_TRUE(dialogs.boxes().empty());
  ASSERT_TRUE(t.LoadSet(a));
  WriteSet("a.wql", "two", 90);
  t.ReloadSet();
  EXPECT_EQ(t.Set.Row(0).Label, "two");
  EXPECT_EQ(t.Grid->model()->rowCount(), 90);
  EXPECT_EQ(t.Grid->model()->index(0, kLabelColumn).data().toString(), "two");
}

TEST_F(SetEditor, EditHandsTheSelectedRowToTheKeyEditor) {
  TTuning& t = Make();
  t.AEditExecute();  // nothing selected
  EXPECT_FALSE(Edit1->isVisible());
  EXPECT_EQ(Edit1->Tuning(), nullptr);

  t.Set.SetCell(1, kLabelColumn, "bass");
  t.Set.SetCell(1, kFileColumn, "music\\bass.wav");
  t.Set.SetCell(1, kRateColumn, "80");
  t.Set.SetCell(2, kFileColumn, "plain.wav");
  t.show();
  t.SelectRow(1);
  t.AEditExecute();
  EXPECT_TRUE(Edit1->isVisible());
  EXPECT_EQ(Edit1->Tuning(), &t);
  EXPECT_EQ(Edit1->Label->text(), "bass");
  EXPECT_EQ(Edit1->SFil->text(), "music\\bass.wav");
  EXPECT_EQ(Edit1->Min->text(), "0");
  EXPECT_EQ(Edit1->Max->text(), "10000");
  EXPECT_EQ(Edit1->Rate->text(), "80");
  EXPECT_EQ(Edit1->Stv->Path(), QDir::cleanPath(ProgramFolder() + "/music"));
  EXPECT_EQ(Edit1->windowTitle(), "Set Editor");
  EXPECT_FALSE(t.Modified);

  t.SelectRow(2);
  t.AEditExecute();
  EXPECT_EQ(Edit1->Stv->Path(), QDir::cleanPath(ProgramFolder()));

  // Hiding the set editor turns the key editor into the player.
  t.hide();
  EXPECT_TRUE(Edit1->isVisible());
  EXPECT_EQ(Edit1->Tuning(), nullptr);
  EXPECT_EQ(Edit1->windowTitle(), "Multimedia player");
}

TEST_F(SetEditor, TheKeyEditorOpensClearOfTheSetEditorsToolBar) {
  TTuning& t = Make();
  t.resize(598, 300);
  t.move(60, 330);
  t.show();
  Edit1->resize(400, 200);
  t.SelectRow(0);
  t.AEditExecute();
  ASSERT_TRUE(Edit1->isVisible());
  const QRect band = t.ToolBarBand(), editor = Edit1->frameGeometry();
  EXPECT_FALSE(editor.intersects(band))
      << "the key editor at " << editor.x() << "," << editor.y() << " covers the tool bar from "
      << band.y() << " to " << band.bottom();
}

// Run on a screen shorter than the window (see CMakeLists.txt).
TEST_F(SetEditor, OnAShortScreenOpensWholeOnIt) {
  TTuning& t = Make();
  t.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
  const QRect screen = t.screen()->availableGeometry();
  ASSERT_LT(screen.height(), 834) << "this test needs a screen shorter than the set editor";
  EXPECT_TRUE(screen.contains(t.frameGeometry()))
      << "the set editor at " << t.frameGeometry().y() << " to " << t.frameGeometry().bottom()
      << " runs off a screen " << screen.height() << " high";
}

TEST_F(SetEditor, HidingOffersToSaveAndDestroyingDetachesTheKeyEditor) {
  TTuning& t = Make();
  t.show();
  t.Modified = true;
  dialogs.AnswerBoxes({IDNO});
  t.hide();
  EXPECT_EQ(dialogs.BoxTexts(), QStringList({kQuestion}));
  EXPECT_FALSE(t.Modified);

  Edit1->SetTuning(&t);
  tuning.reset();
  EXPECT_EQ(Edit1->Tuning(), nullptr);
  EXPECT_EQ(dialogs.boxes().size(), 1u);  // destroying asks nothing
}

TEST_F(SetEditor, ShowsThePrintPreviewOnlyOnThePrintPage) {
  TTuning& t = Make();
  t.show();
  EXPECT_FALSE(t.PrintPage->PreviewShown());
  t.CoolPageControl1->setCurrentIndex(2);
  ASSERT_TRUE(t.PrintPage->PreviewShown());
  EXPECT_TRUE(testing_support::WaitFor([&] { return t.PrintPage->Preview()->pageCount() == 3; }));
  EXPECT_EQ(t.PrintPage->PageText(), "Page 1 of 3");
  EXPECT_TRUE(t.PrintPage->ScaleText().startsWith("Scale "));
  QStringList actions;
  for (QAction* a : t.PrintPage->ToolBar()->actions())
    if (!a->isSeparator() && !a->text().isEmpty()) actions << a->text();
  EXPECT_EQ(actions, QStringList({"Print", "Print dialog", "Printer setup", "First page",
                                  "Previous page", "Next page", "Last page", "Whole page",
                                  "Page width", "Zoom out", "Zoom in", "Refresh", "Close"}));
  t.CoolPageControl1->setCurrentIndex(1);
  EXPECT_FALSE(t.PrintPage->PreviewShown());
  EXPECT_TRUE(t.RatioText->Running());
  EXPECT_TRUE(t.FullText->Running());
  t.CoolPageControl1->setCurrentIndex(0);
  EXPECT_FALSE(t.RatioText->Running());
  t.hide();
}

TEST_F(SetEditor, KeepsTheColumnLayoutForAllWindows) {
  {
    TTuning& t = Make(2);
    t.Grid->setColumnWidth(kLabelColumn, 123);
    t.Grid->horizontalHeader()->moveSection(kRateColumn, 0);
    tuning.reset();
  }
  TTuning& t = Make(5);
  EXPECT_EQ(t.Grid->columnWidth(kLabelColumn), 123);
  EXPECT_EQ(t.Grid->horizontalHeader()->visualIndex(kRateColumn), 0);
  platform::SettingsStore store;
  ASSERT_TRUE(store.OpenKeyReadOnly("Software\\Tastivo"));
  EXPECT_TRUE(store.ValueExists(TTuning::kGridLayoutValue));
}

TEST_F(SetEditor, VideoBoxesFollowAndDriveTheVideoWindowActions) {
  TTuning& t = Make();
  EXPECT_FALSE(t.KeepRatio->isChecked());
  EXPECT_TRUE(t.OriginalSize->isChecked());
  EXPECT_FALSE(t.FullScreen->isChecked());
  QAction ratio("Keep Ratio"), orig("Original size"), full("Full Screen");
  for (QAction* a : {&ratio, &orig, &full}) a->setCheckable(true);
  ratio.setChecked(true);
  int fullRuns = 0;
  QObject::connect(&full, &QAction::triggered, [&] { ++fullRuns; });
  t.BindVideoOptions(&ratio, &orig, &full);
  EXPECT_TRUE(t.KeepRatio->isChecked());
  EXPECT_FALSE(t.OriginalSize->isChecked());

  t.show();
  t.CoolPageControl1->setCurrentIndex(1);
  QTest::mouseClick(t.FullScreen, Qt::LeftButton);
  EXPECT_EQ(fullRuns, 1);
  EXPECT_TRUE(full.isChecked());
  EXPECT_TRUE(t.FullScreen->isChecked());
  orig.setChecked(true);  // e.g. from the video window's own menu
  EXPECT_TRUE(t.OriginalSize->isChecked());
  t.hide();
}

TEST_F(SetEditor, DoubleClickOnARowEditsIt) {
  TTuning& t = Make();
  t.Set.SetCell(3, kLabelColumn, "hat");
  t.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
  const QRect cell = t.Grid->visualRect(t.Grid->model()->index(3, kLabelColumn));
  QTest::mouseClick(t.Grid->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(t.Grid->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(t.SelectedRow(), 3);
  EXPECT_TRUE(Edit1->isVisible());
  EXPECT_EQ(Edit1->Label->text(), "hat");
  EXPECT_EQ(t.PopupMenu1->actions().size(), 2);
  // Only a cut-off cell offers its full text as a tool tip.
  t.Set.SetCell(3, kFileColumn, QString(300, 'w'));
  EXPECT_EQ(t.Grid->CutOffText(t.Grid->model()->index(3, kFileColumn)), QString(300, 'w'));
  EXPECT_EQ(t.Grid->CutOffText(t.Grid->model()->index(3, kLabelColumn)), "");
  EXPECT_EQ(t.Clear1->text(), "Clear");
  EXPECT_EQ(t.AEdit->text(), "Edit");
  t.hide();
}
