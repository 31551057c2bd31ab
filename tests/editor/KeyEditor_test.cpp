// The key editor with a set editor: its two modes, the boxes and their
// corrections, Add, and the preview's captions and lifetime.

#include "KeyEditorFixture.h"

#include "support/MediaFiles.h"

#include "editor/KeyEditRules.h"
#include "player/Tplayerbase.h"
#include "sets/LocalPath.h"
#include "sets/SetGrid.h"
#include "video/Video.h"
#include "waveform/WaveformView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFocusEvent>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace key_editor_testing {
namespace {

using testing_support::WaitFor;

void Leave(QLineEdit* box, const QString& text) {
  box->setText(text);
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(box, &out);
}

TEST_F(KeyEditor, ComesUpAsThePlayerUnlessAttachedToAVisibleSetEditor) {
  Edit1->show();
  EXPECT_EQ(Edit1->windowTitle(), "Multimedia player");
  for (QWidget* control : Edit1->SetEditorControls()) EXPECT_FALSE(control->isVisible());
  EXPECT_EQ(Edit1->SetEditorControls().size(), 11);
  EXPECT_EQ(Edit1->CoolPanel1->x(), 73);

  EditRow(2);
  EXPECT_EQ(Edit1->windowTitle(), "Set Editor");
  for (QWidget* control : Edit1->SetEditorControls()) EXPECT_TRUE(control->isVisible());
  EXPECT_EQ(Edit1->CoolPanel1->x(), 492);

  // Attached, but the set editor was hidden meanwhile: the player again.
  tuning->hide();
  EXPECT_TRUE(Edit1->isVisible());
  Edit1->hide();
  Edit1->SetTuning(tuning.get());
  Edit1->show();
  EXPECT_EQ(Edit1->windowTitle(), "Multimedia player");
  EXPECT_FALSE(Edit1->Label->isVisible());
}

TEST_F(KeyEditor, LeavingABoxCorrectsItStoresItAndMarksTheSetModified) {
  TTuning& t = EditRow(3);
  t.Modified = false;
  Leave(Edit1->Rate, "abc");
  EXPECT_EQ(Edit1->Rate->text(), "100");
  EXPECT_EQ(t.Set.Row(3).Rate, "100");
  EXPECT_TRUE(t.Modified);
  Leave(Edit1->Rate, "0");
  EXPECT_EQ(t.Set.Row(3).Rate, "1");
  Leave(Edit1->Rate, "301");
  EXPECT_EQ(Edit1->Rate->text(), "300");
  EXPECT_EQ(t.Set.Row(3).Rate, "300");
  Leave(Edit1->Min, "-5");
  EXPECT_EQ(Edit1->Min->text(), "0");
  EXPECT_EQ(t.Set.Row(3).Min, "0");
  Leave(Edit1->Max, "12000");
  EXPECT_EQ(t.Set.Row(3).Max, "10000");
  Leave(Edit1->Max, "-5");
  EXPECT_EQ(Edit1->Max->text(), "-5");
  EXPECT_EQ(t.Set.Row(3).Max, "-5");

  // Leaving a box unchanged still marks the set.
  t.Modified = false;
  Leave(Edit1->Min, Edit1->Min->text());
  EXPECT_TRUE(t.Modified);
}

TEST_F(KeyEditor, BoxesChangeNothingWhileHiddenOrWithoutASelectedRow) {
  TTuning& t = EditRow(3);
  EXPECT_FALSE(t.Modified);  // the set editor filled the boxes while hidden
  Edit1->hide();
  Leave(Edit1->Rate, "50");
  Edit1->Label->setText("hidden");
  EXPECT_EQ(t.Set.Row(3).Rate, "100");
  EXPECT_EQ(t.Set.Row(3).Label, "");
  EXPECT_FALSE(t.Modified);

  Edit1->show();
  t.SelectRow(-1);
  Leave(Edit1->Rate, "50");
  EXPECT_FALSE(t.Modified);
}

TEST_F(KeyEditor, EachKeystrokeOfTheLabelShowsInTheSetEditorsRow) {
  TTuning& t = EditRow(3);
  Edit1->Label->clear();
  QTest::keyClicks(Edit1->Label, "hat");
  EXPECT_EQ(t.Set.Row(3).Label, "hat");
  EXPECT_EQ(t.Grid->model()->index(3, kLabelColumn).data().toString(), "hat");
  EXPECT_TRUE(t.Modified);
}

TEST_F(KeyEditor, TheRowChosenInTheSetEditorIsTheRowShownAndEdited) {
  KeySet& set = tuning->Set;
  set.SetCell(1, kLabelColumn, "kick");
  set.SetCell(4, kLabelColumn, "snare");
  set.SetCell(4, kFileColumn, "drums\\snare.wav");
  set.SetCell(4, kMinColumn, "200");
  set.SetCell(4, kMaxColumn, "9000");
  set.SetCell(4, kRateColumn, "80");
  TTuning& t = EditRow(1);
  const QRect row4 = t.Grid->visualRect(t.Grid->model()->index(4, kLabelColumn));
  QTest::mouseClick(t.Grid->viewport(), Qt::LeftButton, {}, row4.center());
  ASSERT_EQ(t.SelectedRow(), 4);
  EXPECT_EQ(Edit1->Label->text(), "snare");
  EXPECT_EQ(Edit1->SFil->text(), "drums\\snare.wav");
  EXPECT_EQ(Edit1->Min->text(), "200");
  EXPECT_EQ(Edit1->Max->text(), "9000");
  EXPECT_EQ(Edit1->Rate->text(), "80");
  EXPECT_FALSE(t.Modified);
  Edit1->Label->setText("clap");
  EXPECT_EQ(set.Row(4).Label, "clap");
  EXPECT_EQ(set.Row(1).Label, "kick");

  // A value typed for the row shown stays with it when another row is chosen
  // before the box is left.
  Edit1->Min->clear();
  QTest::keyClicks(Edit1->Min, "300");
  QTest::keyClick(t.Grid, Qt::Key_Up);
  ASSERT_EQ(t.SelectedRow(), 3);
  EXPECT_EQ(set.Row(4).Min, "300");
  EXPECT_EQ(Edit1->Min->text(), "0");
  EXPECT_EQ(Edit1->Label->text(), "");
}

TEST_F(KeyEditor, AddFillsSuccessiveRowsFromTheFirstWhenNoneIsSelected) {
  TTuning& t = EditRow(-1);
  Browse(clips.path(), 7);
  Edit1->flist->SelectEntry(Row("a.wav"));
  Edit1->CoolBtn4->click();
  EXPECT_EQ(t.Set.Row(0).Label, "a.wav");
  EXPECT_EQ(t.Set.Row(0).File, keyedit::RelativeToProgram(Path("a.wav"), ProgramFolder()));
  EXPECT_EQ(LocalFilePath(t.Set.Row(0).File), Path("a.wav"));
  EXPECT_EQ(t.SelectedRow(), 1);
  EXPECT_TRUE(t.Modified);

  t.Set.SetCell(1, kMinColumn, "5");
  t.Set.SetCell(1, kRateColumn, "50");
  t.Set.SetCell(2, kRateColumn, "77");
  Edit1->flist->SelectEntry(Row("b.wav"));
  Edit1->flistDblClick();
  EXPECT_EQ(t.Set.Row(1).Label, "b.wav");
  EXPECT_EQ(t.Set.Row(1).Min, "0");
  EXPECT_EQ(t.Set.Row(1).Max, "10000");
  EXPECT_EQ(t.Set.Row(1).Rate, "100");
  EXPECT_EQ(t.SelectedRow(), 2);
  // The boxes show the row that Add moved on to, which they now edit.
  EXPECT_EQ(Edit1->Rate->text(), "77");
  EXPECT_EQ(Edit1->Label->text(), "");
}

TEST_F(KeyEditor, AddOnTheLastRowKeepsTheSelectionAndAFolderIsEnteredNotAdded) {
  TTuning& t = EditRow(76);
  Browse(clips.path(), 7);
  Edit1->flist->SelectEntry(Row("a.wav"));
  Edit1->flistDblClick();
  EXPECT_EQ(t.Set.Row(76).Label, "a.wav");
  EXPECT_EQ(Edit1->SFil->text(), Path("a.wav"));
  EXPECT_EQ(t.SelectedRow(), 76);

  t.Modified = false;
  Edit1->flist->SelectEntry(Row("sub"));
  Edit1->flistDblClick();
  EXPECT_EQ(Edit1->Stv->Path(), Path("sub"));
  EXPECT_FALSE(t.Modified);
}

TEST_F(KeyEditor, AddWithNoEntrySelectedTakesTheFirstAndAnEmptyListDoesNothing) {
  TTuning& t = EditRow(0);
  Browse(Path("sub"), 1);
  Edit1->flistDblClick();
  EXPECT_EQ(t.Set.Row(0).Label, "c.wav");

  QDir(clips.path()).mkdir("empty");
  Browse(Path("empty"), 0);
  t.Modified = false;
  Edit1->flistDblClick();
  EXPECT_FALSE(t.Modified);
}

TEST_F(KeyEditor, AddOfAnArchivesEntryStoresThePathThroughTheArchive) {
  TTuning& t = EditRow(4);
  Browse(Path("drums.zip"), 2);  // loops and kick.wav; readme.txt is left out
  Edit1->flist->SelectEntry(Row("kick.wav"));
  Edit1->flistDblClick();
  const QString stored = t.Set.Row(4).File;
  EXPECT_TRUE(stored.endsWith("\\drums.zip\\kick.wav")) << stored.toStdString();
  EXPECT_EQ(LocalFilePath(stored), Path("drums.zip/kick.wav"));
  EXPECT_FALSE(TEdit1::PlayableFile(LocalFilePath(stored)).contains("drums.zip"));
}

TEST_F(KeyEditor, OpeningAnAudioClipSaysSoAndHidesTheVideoWindow) {
  Edit1->show();
  Browse(clips.path(), 7);
  Edit1->Auto->setChecked(true);
  Click("a.wav");
  ASSERT_NE(Edit1->Player, nullptr);
  EXPECT_EQ(Edit1->windowTitle(), "Tastivo audio: " + Path("a.wav"));
  EXPECT_FALSE(Edit1->Video->isVisible());
  EXPECT_TRUE(WaitFor([] { return Edit1->Player->State == fsPlaying; }));
}

TEST_F(KeyEditor, OpeningAVideoClipShowsItsWindowCaptionedWithThePath) {
  Edit1->show();
  Browse(clips.path(), 7);
  Edit1->flist->SelectEntry(Row("red.avi"));
  Edit1->CoolBtn2->click();
  ASSERT_NE(Edit1->Video, nullptr);
  EXPECT_TRUE(Edit1->Video->isVisible());
  EXPECT_EQ(Edit1->Video->windowTitle(), "Tastivo video: " + Path("red.avi"));
  EXPECT_EQ(Edit1->windowTitle(), "Tastivo video: " + Path("red.avi"));

  // Back to sound only.
  Edit1->flist->SelectEntry(Row("b.wav"));
  Edit1->CoolBtn2->click();
  EXPECT_FALSE(Edit1->Video->isVisible());
  EXPECT_EQ(Edit1->windowTitle(), "Tastivo audio: " + Path("b.wav"));
}

TEST_F(KeyEditor, HidingTheEditorEndsThePreview) {
  Edit1->show();
  Browse(clips.path(), 7);
  Edit1->flist->SelectEntry(Row("a.wav"));
  Edit1->CoolBtn2->click();
  ASSERT_TRUE(WaitFor([] { return Edit1->Player->State == fsPlaying; }));
  EXPECT_TRUE(Edit1->Timer1->isActive());
  Edit1->hide();
  EXPECT_EQ(Edit1->Player, nullptr);
  EXPECT_EQ(Edit1->Video, nullptr);
  EXPECT_FALSE(Edit1->Timer1->isActive());
  // The next show starts with a fresh player.
  Edit1->show();
  ASSERT_NE(Edit1->Player, nullptr);
  EXPECT_EQ(Edit1->Player->State, fsStopped);
}

TEST_F(KeyEditor, PlayStopAndTheBarsDriveThePreview) {
  Edit1->show();
  Browse(clips.path(), 7);
  Edit1->CoolBtn2->click();  // nothing selected: nothing happens
  EXPECT_TRUE(Edit1->Player->FileName.isEmpty());
  Edit1->flist->SelectEntry(Row("sub"));
  Edit1->CoolBtn2->click();  // a folder does not play
  EXPECT_TRUE(Edit1->Player->FileName.isEmpty());

  Edit1->flist->SelectEntry(Row("a.wav"));
  Edit1->CoolScrollbar1->setValue(30);
  Edit1->CoolBtn2->click();
  ASSERT_TRUE(WaitFor([] { return Edit1->Player->State == fsPlaying; }));
  EXPECT_NEAR(Edit1->Player->GetRelativeVolume(100, 1, 0), 30, 1);
  // The timer follows the clip without seeking it.
  EXPECT_TRUE(WaitFor([] { return Edit1->Slider1->value() > 0; }));
  Edit1->Slider1->setValue(900);
  EXPECT_TRUE(WaitFor([] { return Edit1->Slider1->value() >= 900; }));
  Edit1->CoolBtn3->click();
  EXPECT_EQ(Edit1->Player->State, fsStopped);
}

TEST_F(KeyEditor, TheVolumeBarsHandleTravelsMostOfItsLength) {
  Edit1->show();
  const auto picture = [](int value) {
    Edit1->CoolScrollbar1->setValue(value);
    return Edit1->CoolScrollbar1->grab().toImage();
  };
  const QImage loudest = picture(0), silent = picture(100);
  int first = loudest.height(), last = -1;
  for (int y = 0; y < loudest.height(); ++y) {
    for (int x = 0; x < loudest.width(); ++x) {
      if (loudest.pixel(x, y) != silent.pixel(x, y)) {
        first = std::min(first, y);
        last = std::max(last, y);
      }
    }
  }
  EXPECT_GE(last - first, loudest.height() * 2 / 3)
      << "the handle moves over rows " << first << " to " << last << " of " << loudest.height();
}

TEST_F(KeyEditor, OpensCutToItsScreenWithTheWholeToolPanelInSight) {
  Edit1->resize(2000, 1500);
  EditRow(0);
  EXPECT_TRUE(Edit1->screen()->availableGeometry().contains(Edit1->frameGeometry()));

  // A 640-wide screen (1280 pixels at a 2x scale) less the frame.
  Edit1->resize(624, Edit1->height());
  const QList<QWidget*> panel = Edit1->SetEditorControls() << Edit1->CoolPanel1;
  for (QWidget* w : panel) {
    EXPECT_TRUE(Edit1->ToolPanel->rect().contains(w->geometry())) << w->metaObject()->className();
    const bool besidePlayer = w != Edit1->CoolPanel1 && w->parentWidget() == Edit1->ToolPanel;
    if (besidePlayer) {
      EXPECT_FALSE(w->geometry().intersects(Edit1->CoolPanel1->geometry()));
    }
  }
  EXPECT_GE(Edit1->Slider1->width(), 60);

  // At the window's first width, nothing moves.
  Edit1->resize(718, Edit1->height());
  EXPECT_EQ(Edit1->SFil->geometry(), QRect(200, 18, 150, 24));
  EXPECT_EQ(Edit1->CoolPanel1->geometry(), QRect(492, 0, 220, 50));
}

TEST_F(KeyEditor, DraggingAMarkOnTheWaveformStoresWhatTypingItsValueStores) {
  KeySet& set = tuning->Set;
  for (int row : {2, 3}) set.SetCell(row, kFileColumn, media_files::SineBurst());
  TTuning& t = EditRow(2);
  waveform::WaveformView* view = Edit1->Waveform;
  ASSERT_TRUE(WaitFor([&] { return view->GetState() == waveform::WaveformView::State::kReady; }));
  const waveform::WaveformGeometry g = view->Geometry();
  const int y = view->height() / 2;
  auto drag = [&](int from, int to) {
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(from, y));
    QTest::mouseMove(view, QPoint((from + to) / 2, y));
    QTest::mouseMove(view, QPoint(to, y));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(to, y));
  };
  t.Modified = false;
  drag(int(g.PixelOf(0)) + 1, view->width() / 4);
  EXPECT_TRUE(t.Modified);
  t.Modified = false;
  drag(int(g.PixelOf(waveform::kScale)) - 1, view->width() * 3 / 4);
  EXPECT_TRUE(t.Modified);
  const KeyRow dragged = set.Row(2);
  EXPECT_EQ(dragged.Min, QString::number(g.MarkAt(view->width() / 4)));
  EXPECT_EQ(dragged.Max, QString::number(g.MarkAt(view->width() * 3 / 4)));
  EXPECT_EQ(Edit1->Min->text(), dragged.Min);
  EXPECT_EQ(Edit1->Max->text(), dragged.Max);

  t.SelectRow(3);
  t.Modified = false;
  Leave(Edit1->Min, dragged.Min);
  EXPECT_TRUE(t.Modified);
  Leave(Edit1->Max, dragged.Max);
  EXPECT_EQ(set.Row(3).Min, dragged.Min);
  EXPECT_EQ(set.Row(3).Max, dragged.Max);
  // The marks drawn are the boxes' values.
  EXPECT_EQ(view->Start(), dragged.Min.toInt());
  EXPECT_EQ(view->Stop(), dragged.Max.toInt());
}

TEST_F(KeyEditor, AClipThatCantBeDecodedShowsNoWaveformAndNoBox) {
  tuning->Set.SetCell(1, kFileColumn, media_files::Corrupt());
  EditRow(1);
  EXPECT_TRUE(WaitFor(
      [&] { return Edit1->Waveform->GetState() == waveform::WaveformView::State::kNoWaveform; }));
  EXPECT_TRUE(dialogs->boxes().empty());
  for (QWidget* window : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<QMessageBox*>(window) && window->isVisible());
}

TEST_F(KeyEditor, AClipThatFailsToOpenIsClosedAndTheTimerLeavesItAlone) {
  QFile::copy(media_files::Corrupt(), Path("broken.mp3"));
  Edit1->show();
  Browse(clips.path(), 8);
  Edit1->Auto->setChecked(true);
  Edit1->flist->SelectEntry(Row("broken.mp3"));
  // The player's error ends the command and reaches the standard error box.
  EXPECT_THROW(Edit1->flistClick(), EPlayerError);
  EXPECT_FALSE(Edit1->Player->FileName.isEmpty());
  // No error every 10 ms from a graph that holds nothing.
  EXPECT_NO_THROW(Edit1->Timer1Timer());
  EXPECT_EQ(Edit1->Slider1->value(), 0);
  int ticks = 0;
  QObject::connect(Edit1->Timer1, &QTimer::timeout, [&ticks] { ++ticks; });
  EXPECT_TRUE(WaitFor([&] { return ticks >= 5; }));
  EXPECT_TRUE(dialogs->boxes().empty());
}

TEST_F(KeyEditor, ItsPlaceAutoPlayAndLastFolderComeBackAtTheNextStart) {
  Edit1->move(40, 30);
  Edit1->resize(650, 420);
  Edit1->Auto->setChecked(true);
  Browse(Path("sub"), 1);
  delete Edit1;
  Edit1 = new TEdit1;
  TTuning::Editor = Edit1;
  EXPECT_EQ(Edit1->pos(), QPoint(40, 30));
  EXPECT_EQ(Edit1->size(), QSize(650, 420));
  EXPECT_TRUE(Edit1->Auto->isChecked());
  EXPECT_EQ(Edit1->Stv->Path(), Path("sub"));
  EXPECT_EQ(Edit1->flist->Mask(), TEdit1::kMask);
}

}  // namespace
}  // namespace key_editor_testing
