// The video window driven by a player on the scripted graph: how it lays out
// the window and the picture, its menu, and that
// toggling full screen leaves the clip alone.

#include "VideoFixture.h"
#include "video/VideoLayout.h"

#include <QAction>
#include <QActionGroup>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

TEST_F(VideoWindow, FirstShowWithOriginalSizeGivesTheClientThePicturesSize) {
  player->Open(VideoClip(640, 480));
  ASSERT_TRUE(video->isVisible());
  EXPECT_EQ(video->size(), QSize(640, 480));
  EXPECT_EQ(Picture(), QRect(0, 0, 640, 480));
  EXPECT_EQ(video->Ratio, 133);
  EXPECT_EQ(video->Tag, 1);
  // Somewhere on the screen, not tucked into its corner.
  const QRect area = video->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(video->geometry())) << video->geometry().x();
  EXPECT_NE(video->pos(), QPoint(0, 0))
      << video->SavedLeft << " " << video->SavedTop << " " << video->SavedWidth << " " << area.x()
      << "," << area.y() << " " << area.width() << "x" << area.height();
}

TEST_F(VideoWindow, KeepRatioFollowsTheClientWidth) {
  video->AOrig->setChecked(false);
  video->ARatio->setChecked(true);
  player->Open(VideoClip(640, 480));
  video->resize(400, 100);
  EXPECT_EQ(video->size(), QSize(400, 300));
  EXPECT_EQ(Picture(), QRect(0, 0, 400, 300));
  // Saved as it goes, for the next show and the settings.
  EXPECT_EQ(video->SavedWidth, 400);
  EXPECT_EQ(video->SavedHeight, 300);
}

TEST_F(VideoWindow, WithoutKeepRatioThePictureFillsTheClient) {
  video->AOrig->setChecked(false);
  player->Open(VideoClip(640, 480));
  video->resize(500, 200);
  EXPECT_EQ(Picture(), QRect(0, 0, 500, 200));
}

TEST_F(VideoWindow, ANewClipInAVisibleWindowTakesItsOriginalSizeInPlace) {
  player->Open(VideoClip(640, 480));
  video->move(100, 80);
  const QPoint place = video->pos();
  player->Open(VideoClip(320, 240));
  EXPECT_TRUE(video->isVisible());
  EXPECT_EQ(video->pos(), place);
  EXPECT_EQ(video->size(), QSize(320, 240));
  EXPECT_EQ(video->Ratio, 133);
}

TEST_F(VideoWindow, AnAudioClipHidesTheWindowAndTheNextPictureShowsItWhereItWas) {
  player->Open(VideoClip(640, 480));
  video->move(120, 90);
  const QPoint place = video->pos();
  player->Open(File("tone.wav"));
  EXPECT_FALSE(video->isVisible());
  EXPECT_EQ(video->Tag, 0);
  // Options changed meanwhile (from the set editor) must not fail on a
  // player without a picture.
  video->ARatio->trigger();
  video->AOrig->trigger();
  video->AOrig->trigger();
  video->ARatio->trigger();
  player->Open(VideoClip(640, 480));
  EXPECT_TRUE(video->isVisible());
  EXPECT_EQ(video->pos(), place);
}

TEST_F(VideoWindow, ShownWithoutAPlayerOrPictureGetsASensibleSize) {
  video->Player = nullptr;
  video->show();
  EXPECT_EQ(video->size(), ::video::kDefaultClient);
  EXPECT_EQ(video->Ratio, 100);
}

TEST_F(VideoWindow, FullScreenFitsThePictureInsideTheMonitor) {
  player->Open(VideoClip(480, 640));
  video->ARatio->setChecked(true);
  video->AFull->trigger();
  const QRect monitor = video->screen()->geometry();
  EXPECT_TRUE(video->isFullScreen());
  ASSERT_TRUE(testing_support::WaitFor([&] { return video->geometry() == monitor; }));
  const int width = monitor.height() * 480 / 640;
  EXPECT_EQ(Picture(), QRect((monitor.width() - width) / 2, 0, width, monitor.height()));
  // Keep ratio off: the picture covers the monitor.
  video->ARatio->trigger();
  EXPECT_FALSE(video->ARatio->isChecked());
  video->FormHide();
  video->FormShow();
  EXPECT_EQ(Picture(), QRect(QPoint(0, 0), monitor.size()));
}

TEST_F(VideoWindow, LeavingFullScreenReturnsToTheSavedBounds) {
  video->AOrig->setChecked(false);
  player->Open(VideoClip(640, 480));
  video->setGeometry(150, 120, 400, 250);
  video->AFullExecute();
  EXPECT_TRUE(video->AFull->isChecked());
  EXPECT_EQ(video->SavedWidth, 400);
  video->AFullExecute();
  EXPECT_FALSE(video->isFullScreen());
  ASSERT_TRUE(testing_support::WaitFor([&] { return video->size() == QSize(400, 250); }));
  EXPECT_EQ(Picture(), QRect(0, 0, 400, 250));
}

TEST_F(VideoWindow, EscLeavesFullScreenAndDoesNothingInAWindow) {
  player->Open(VideoClip(640, 480));
  QTest::keyClick(video.get(), Qt::Key_Escape);
  EXPECT_FALSE(video->AFull->isChecked());
  EXPECT_TRUE(video->isVisible());
  video->AFull->trigger();
  ASSERT_TRUE(video->isFullScreen());
  QTest::keyClick(video.get(), Qt::Key_Escape);
  EXPECT_FALSE(video->AFull->isChecked());
  EXPECT_FALSE(video->isFullScreen());
}

TEST_F(VideoWindow, TogglingFullScreenLeavesTheClipAsItPlays) {
  player->Open(VideoClip(640, 480));
  player->SetRelativePositions(10000, 1000, 5000, 0);
  player->SetRelativeVolume(100, 1, 0, 0, 40);
  player->SetRate(1.5);
  player->Play();
  graph->ClearCalls();
  owner.codes.clear();
  video->AFull->trigger();
  video->AFull->trigger();
  for (const char* call : {"Stop", "RenderFile", "SetPositions", "SetRate", "put_Volume", "Run"})
    EXPECT_EQ(Count(call), 0) << call;
  EXPECT_TRUE(owner.codes.empty());
  EXPECT_EQ(graph->Rate(), 1.5);
  EXPECT_EQ(player->State, fsPlaying);
}

TEST_F(VideoWindow, TogglingFullScreenLeavesAStoppedClipAtRest) {
  player->Open(VideoClip(640, 480));
  player->SetRelativePositions(10000, 1000, 5000, 0);
  player->Play();
  player->Stop();
  graph->ClearCalls();
  video->AFull->trigger();
  EXPECT_NE(player->State, fsPlaying);
  EXPECT_EQ(Count("SetPositions"), 0);
  EXPECT_EQ(Count("Run"), 0);
}

TEST_F(VideoWindow, OriginalSizeAppliesAtOnceInAWindow) {
  video->AOrig->setChecked(false);
  player->Open(VideoClip(320, 240));
  video->resize(500, 500);
  video->AOrig->trigger();
  EXPECT_TRUE(video->AOrig->isChecked());
  EXPECT_EQ(video->size(), QSize(320, 240));
  EXPECT_EQ(Picture(), QRect(0, 0, 320, 240));
}

TEST_F(VideoWindow, KeepRatioInFullScreenOnlyChangesTheMark) {
  player->Open(VideoClip(640, 480));
  video->AFull->trigger();
  graph->ClearCalls();
  video->ARatioExecute();
  EXPECT_TRUE(video->ARatio->isChecked());
  EXPECT_EQ(Count("SetWindowPosition"), 0);
}

TEST_F(VideoWindow, TheMenuMirrorsTheThreeOptionsWithRadioMarks) {
  const QList<QAction*> items = video->PopupMenu1->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0], video->MFull);
  EXPECT_EQ(items[1], video->MRation1);
  EXPECT_EQ(items[2], video->Originalsize1);
  EXPECT_EQ(video->MFull->text(), "Full Screen");
  EXPECT_EQ(video->MRation1->text(), "Keep Ratio");
  EXPECT_EQ(video->Originalsize1->text(), "Original size");
  for (QAction* item : items) {
    ASSERT_NE(item->actionGroup(), nullptr);
    EXPECT_TRUE(item->actionGroup()->isExclusive());  // drawn as a radio mark
  }
  EXPECT_TRUE(video->Originalsize1->isChecked());
  // Each item flips its own option and no other.
  video->MRation1->trigger();
  EXPECT_TRUE(video->ARatio->isChecked());
  EXPECT_TRUE(video->MRation1->isChecked());
  EXPECT_TRUE(video->AOrig->isChecked());
  video->Originalsize1->trigger();
  EXPECT_FALSE(video->AOrig->isChecked());
  EXPECT_FALSE(video->Originalsize1->isChecked());
  EXPECT_TRUE(video->ARatio->isChecked());
  // And follows the option when it changes elsewhere.
  video->ARatioExecute();
  EXPECT_FALSE(video->MRation1->isChecked());
}

TEST_F(VideoWindow, ClosingOnlyHidesTheWindowAndThePlayerPlaysOn) {
  player->Open(VideoClip(640, 480));
  player->Play();
  video->move(200, 100);
  video->close();
  EXPECT_FALSE(video->isVisible());
  EXPECT_EQ(player->State, fsPlaying);
  EXPECT_EQ(video->SavedLeft, video->x());
  EXPECT_EQ(video->Tag, 0);
  EXPECT_FALSE(video->testAttribute(Qt::WA_QuitOnClose));
}
