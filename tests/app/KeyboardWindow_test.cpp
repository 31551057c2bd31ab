#include "StoredPlaces.h"
#include "app/FormList.h"
#include "app/RefreshTimer.h"
#include "app/morvela1.h"
#include "help/HelpViewer.h"
#include "help/Hh.h"
#include "platform/Dialogs.h"
#include "platform/ScriptedDialogs.h"
#include "platform/SettingsStore.h"
#include "support/TestSupport.h"
#include "video/Video.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using platform::IDCANCEL;
using platform::IDNO;
using platform::IDYES;
using platform::SettingsStore;

namespace {

class KeyboardWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Form11 = new TForm11(qApp);
    Form11->show();
  }
  void TearDown() override { delete Form11; }

  static TForm11* Window(int i) { return FormList.at(i); }
  static void New() { Window(0)->Image1Click(); }

  testing_support::TempConfig config;
  platform::ScriptedDialogs dialogs;
};

TEST_F(KeyboardWindowTest, FirstStartMakesOneBorderlessWindowOfGroupZero) {
  ASSERT_EQ(FormList.size(), 1u);
  TForm11* w = Window(0);
  EXPECT_EQ(w->Instance, 0);
  EXPECT_EQ(w->Group->text(), "0");
  EXPECT_EQ(w->UpDown1->Position(), 0);
  EXPECT_FALSE(w->Loop->isChecked());
  EXPECT_FALSE(w->Sustain->isChecked());
  EXPECT_FALSE(w->MidiIn1->isChecked());
  EXPECT_EQ(w->size(), QSize(635, 207));
  EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(w->CoolPanel3->geometry().bottom() + 1, 35);  // caption bar ends 35 px down
  EXPECT_EQ(w->CurrentKey, -1);
  EXPECT_EQ(w->PositionScale, 10000);
  EXPECT_TRUE(w->VolumeEnabled && w->SeekEnabled);
  EXPECT_FALSE(w->ClipLoaded || w->KeyHeld || w->Mini.MiniMode);
  EXPECT_EQ(w->Player->NotifyWindow, w);
  EXPECT_EQ(w->Player->VideoOwner, w->Video->Handle());  // first show
  EXPECT_FALSE(w->Player->AutoPlay);
  EXPECT_EQ(w->Tuning->Instance, 0);
  EXPECT_EQ(w->Video->Instance(), 0);
  EXPECT_EQ(w->CoolLabel1->property("caption").toString(), "");
  EXPECT_EQ(w->Slider1->width(), 556);
  EXPECT_EQ(w->Keys1->size(), QSize(565, 76));
}

TEST_F(KeyboardWindowTest, AnEmptySetSaysWhatToDoUntilAKeyHasAClip) {
  TForm11* w = Window(0);
  const QLabel* hint = w->EmptySetHint;
  EXPECT_TRUE(hint->isVisible());
  EXPECT_TRUE(hint->text().startsWith("Drop clips on the keys"));
  EXPECT_LE(hint->fontMetrics().horizontalAdvance(hint->text()), hint->contentsRect().width());
  w->Tuning->Set.SetCell(9, kFileColumn, "kick.wav");
  EXPECT_FALSE(hint->isVisible());
  ASSERT_TRUE(w->Tuning->NewClick());
  EXPECT_TRUE(hint->isVisible());
}

TEST_F(KeyboardWindowTest, NewReusesTheLowestHiddenWindowElseMakesTheNext) {
  New();
  New();
  ASSERT_EQ(FormList.size(), 3u);
  EXPECT_EQ(Window(2)->Instance, 2);
  EXPECT_EQ(Window(2)->Group->text(), "2");
  EXPECT_EQ(Window(2)->Owner(), Window(0));
  EXPECT_EQ(Window(2)->CoolLabel1->property("caption").toString(), "2");

  Window(1)->CoolCaptionBtn1Click();  // Quit in a secondary window hides it
  EXPECT_FALSE(Window(1)->isVisible());
  Window(2)->Image1Click();
  EXPECT_EQ(FormList.size(), 3u);
  EXPECT_TRUE(Window(1)->isVisible());

  Window(1)->Image1Click();  // all visible: window 3, owned by window 0
  ASSERT_EQ(FormList.size(), 4u);
  EXPECT_EQ(Window(3)->Instance, 3);
  EXPECT_EQ(Window(3)->Owner(), Window(0));
}

TEST_F(KeyboardWindowTest, NewWindowTakesItsGroupFromItsOwnSubkey) {
  {
    SettingsStore store;
    store.OpenKey("Software\\Tastivo\\1", true);
    for (const char* name : {"ftop", "fleft", "mtop", "mleft", "loop", "sustain", "midi"})
      store.WriteInteger(name, 0);
    store.WriteInteger("group", 0);
    store.CloseKey();
  }
  New();
  New();
  EXPECT_EQ(Window(1)->Group->text(), "0");
  EXPECT_EQ(Window(1)->UpDown1->Position(), 0);
  EXPECT_EQ(Window(2)->Group->text(), "2");
}

TEST_F(KeyboardWindowTest, CloseWritesAllEightValuesEvenAfterCancel) {
  TForm11* w = Window(0);
  w->move(40, 60);
  w->Loop->setChecked(true);
  w->Tuning->Modified = true;
  dialogs.AnswerBoxes({IDCANCEL});
  EXPECT_FALSE(w->close());
  EXPECT_TRUE(w->isVisible());
  ASSERT_EQ(dialogs.BoxTexts(), QStringList{"List modified. Save?"});
  EXPECT_EQ(StoredPlaces("Software\\Tastivo"), (std::array{60, 40, 0, 0}));
  SettingsStore store;
  ASSERT_TRUE(store.OpenKey("Software\\Tastivo", false));
  EXPECT_TRUE(store.ReadBool("loop"));
  EXPECT_FALSE(store.ReadBool("sustain"));
  EXPECT_FALSE(store.ReadBool("midi"));
  EXPECT_EQ(store.ReadInteger("group"), 0);
}

TEST_F(KeyboardWindowTest, MiniModeWindowWritesItsFullAndMiniPlaces) {
  New();
  New();
  New();
  TForm11* w = Window(3);
  w->move(400, 300);
  w->minimizeClick();
  EXPECT_EQ(w->height(), 40);
  w->move(100, 50);
  w->close();
  EXPECT_EQ(StoredPlaces("Software\\Tastivo\\3"), (std::array{300, 400, 50, 100}));
}

TEST_F(KeyboardWindowTest, RestoresPositionAndGroupAtTheNextStart) {
  TForm11* w = Window(0);
  w->move(210, 120);
  w->Sustain->setChecked(true);
  w->close();
  {
    SettingsStore store;  // a group above the window count still restores
    store.OpenKey("Software\\Tastivo", true);
    store.WriteInteger("group", 5);
    store.CloseKey();
  }
  delete Form11;
  Form11 = new TForm11(qApp);
  TForm11* again = Window(0);
  EXPECT_EQ(again->pos(), QPoint(210, 120));
  EXPECT_EQ(again->Mini.FullTop, 120);
  EXPECT_EQ(again->Mini.FullLeft, 210);
  EXPECT_TRUE(again->Sustain->isChecked());
  EXPECT_EQ(again->Group->text(), "5");
  EXPECT_EQ(again->UpDown1->Position(), 5);
}

TEST_F(KeyboardWindowTest, MainCloseAsksEveryWindowInOrderAndCancelKeepsTheProgram) {
  New();
  New();
  for (int i = 0; i < 3; ++i) Window(i)->Tuning->Modified = true;

  // Cancel in window 2: nothing closes, and every window's values are written.
  dialogs.AnswerBoxes({IDNO, IDNO, IDCANCEL});
  EXPECT_FALSE(Window(0)->close());
  EXPECT_EQ(dialogs.boxes().size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Window(i)->isVisible());
  {
    SettingsStore store;
    EXPECT_TRUE(store.OpenKey("Software\\Tastivo\\2", false));
    EXPECT_EQ(store.ReadInteger("group"), 2);
  }

  // Asked again: the main window's question first, then windows 1 and 2;
  // window 1's Yes saves its set.
  for (int i = 0; i < 3; ++i) Window(i)->Tuning->Modified = true;
  dialogs.Clear();
  QTemporaryDir folder;
  const QString saved = folder.filePath("one.wql");
  dialogs.AnswerBoxes({IDNO, IDYES, IDNO});
  dialogs.AnswerFiles({saved});
  EXPECT_TRUE(Window(0)->close());
  EXPECT_EQ(dialogs.boxes().size(), 3u);
  EXPECT_TRUE(QFile::exists(saved));
  EXPECT_FALSE(Window(1)->Tuning->Modified);
  // The program's end does not ask a second time.
  dialogs.Clear();
  delete Form11;
  Form11 = nullptr;
  EXPECT_TRUE(dialogs.boxes().empty());
  EXPECT_TRUE(FormList.empty());
  Form11 = new TForm11(qApp);  // for TearDown
}

TEST_F(KeyboardWindowTest, DraggingTheCaptionBarNeedsTheLeftButton) {
  TForm11* w = Window(0);
  w->move(100, 100);
  QTest::mousePress(w->CoolPanel3, Qt::RightButton, {}, QPoint(50, 10));
  EXPECT_EQ(w->DragX, 0);
  QTest::mousePress(w->CoolPanel3, Qt::LeftButton, {}, QPoint(50, 10));
  EXPECT_EQ(w->DragX, 50);
  EXPECT_EQ(w->DragY, 10);
  QMouseEvent move(QEvent::MouseMove, QPointF(60, 25), w->CoolPanel3->mapToGlobal(QPointF(60, 25)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w->CoolPanel3, &move);
  EXPECT_EQ(w->pos(), QPoint(110, 115));
  QMouseEvent hover(QEvent::MouseMove, QPointF(90, 25), w->CoolPanel3->mapToGlobal(QPointF(90, 25)),
                    Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w->CoolPanel3, &hover);
  EXPECT_EQ(w->pos(), QPoint(110, 115));
}

TEST_F(KeyboardWindowTest, ClickOnTheLogoIsNewButADragFromItIsNot) {
  TForm11* w = Window(0);
  QTest::mouseClick(w->Image1, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(FormList.size(), 2u);
  QTest::mousePress(w->Image1, Qt::LeftButton, {}, QPoint(5, 5));
  QMouseEvent move(QEvent::MouseMove, QPointF(9, 8), w->Image1->mapToGlobal(QPointF(9, 8)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w->Image1, &move);
  QTest::mouseRelease(w->Image1, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(FormList.size(), 2u);
}

TEST_F(KeyboardWindowTest, ActiveLookSwapsTheTitleLabels) {
  TForm11* w = Window(0);
  w->FormDeactivate();
  EXPECT_FALSE(w->PaintTransparently);
  EXPECT_TRUE(w->CoolLabel1->isHidden());
  EXPECT_FALSE(w->CoolLabel2->isHidden());
  w->FormActivate();
  EXPECT_TRUE(w->PaintTransparently);
  EXPECT_FALSE(w->CoolLabel1->isHidden());
  EXPECT_TRUE(w->CoolLabel2->isHidden());
}

TEST_F(KeyboardWindowTest, ApplicationActivationGoesToTheNewestWindow) {
  New();
  New();
  for (int i = 0; i < 3; ++i) Window(i)->FormActivate();
  emit qApp->applicationStateChanged(Qt::ApplicationInactive);
  EXPECT_TRUE(Window(0)->PaintTransparently);
  EXPECT_TRUE(Window(1)->PaintTransparently);
  EXPECT_FALSE(Window(2)->PaintTransparently);
}

TEST_F(KeyboardWindowTest, StayTopFollowsTheSetEditorBoxAndRenewsThePlayerHandle) {
  TForm11* w = Window(0);
  w->Player->NotifyWindow = nullptr;
  w->Tuning->StayTop->click();  // unticks
  EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->Player->NotifyWindow, w);
  w->Tuning->StayTop->click();
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(KeyboardWindowTest, GroupArrowsStayWithinTheWindowCount) {
  New();
  New();
  TForm11* w = Window(2);
  w->UpDown1->Step(updUp);  // 3 windows: group 3 refused
  EXPECT_EQ(w->Group->text(), "2");
  EXPECT_EQ(w->UpDown1->Position(), 2);
  w->UpDown1->Step(updDown);
  EXPECT_EQ(w->Group->text(), "1");
  TForm11* first = Window(0);
  first->UpDown1->Step(updDown);  // -1 refused
  EXPECT_EQ(first->Group->text(), "0");
}

}  // namespace

namespace {

TEST_F(KeyboardWindowTest, HelpButtonShowsTheAboutWindowModallyOwnedByTheWindow) {
  QString title;
  QWidget* owner = nullptr;
  QTimer::singleShot(0, [&] {
    if (QWidget* shown = QApplication::activeModalWidget()) {
      title = shown->windowTitle();
      owner = shown->parentWidget();
      shown->close();
    }
  });
  Window(0)->CoolCaptionBtn2->click();  // returns when the modal window closes
  EXPECT_EQ(title, "Help");
  EXPECT_EQ(owner, Window(0));
}

TEST_F(KeyboardWindowTest, F1ShowsTheManualInFrontOfTheWindowThatStaysOnTop) {
  LoadHtmlHelp();
  ASSERT_TRUE(HtmlHelpLoaded());
  InstallHelpKey();
  Window(0)->activateWindow();
  QTest::keyClick(Window(0), Qt::Key_F1);
  const QList<HelpViewer*> viewers = HelpViewers();
  ASSERT_EQ(viewers.size(), 1);
  HelpViewer* manual = viewers.first();
  EXPECT_TRUE(manual->isVisible());
  EXPECT_EQ(manual->parentWidget(), nullptr);
  EXPECT_TRUE(manual->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(testing_support::WaitFor([&] { return QApplication::activeWindow() == manual; }));
  UnloadHtmlHelp();
}

// The windows' refresh timers share one tick: a window's refresh may stop
// or close another window in the middle of it.
TEST(RefreshTimer, ATickMayStopOrDeleteAnotherTimerOfTheSamePass) {
  app::RefreshTimer first, second;
  auto third = std::make_unique<app::RefreshTimer>();
  int firstTicks = 0, secondTicks = 0, thirdTicks = 0;
  QObject::connect(&first, &app::RefreshTimer::timeout, [&] {
    if (++firstTicks > 1) return;
    second.stop();
    third.reset();
  });
  QObject::connect(&second, &app::RefreshTimer::timeout, [&] { ++secondTicks; });
  QObject::connect(third.get(), &app::RefreshTimer::timeout, [&] { ++thirdTicks; });
  for (app::RefreshTimer* timer : {&first, &second, third.get()}) {
    timer->setInterval(5);
    timer->start();
  }
  ASSERT_TRUE(testing_support::WaitFor([&] { return firstTicks >= 3; }));
  EXPECT_EQ(secondTicks, 0);
  EXPECT_EQ(thirdTicks, 0);
  second.start();
  EXPECT_TRUE(testing_support::WaitFor([&] { return secondTicks >= 2; }));
}

}  // namespace
