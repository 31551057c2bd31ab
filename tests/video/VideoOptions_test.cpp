// The set editor's three video boxes act on the video window.

#include "VideoFixture.h"
#include "sets/Prop.h"

#include <QAction>
#include <QCheckBox>

TEST_F(VideoWindow, TheSetEditorsBoxesActOnTheWindow) {
  TTuning tuning(nullptr, 0);
  tuning.BindVideoOptions(video->ARatio, video->AOrig, video->AFull);
  EXPECT_TRUE(tuning.OriginalSize->isChecked());
  EXPECT_FALSE(tuning.KeepRatio->isChecked());
  player->Open(VideoClip(640, 480));
  tuning.OriginalSize->click();
  EXPECT_FALSE(video->AOrig->isChecked());
  video->resize(400, 100);
  tuning.KeepRatio->click();
  EXPECT_TRUE(video->ARatio->isChecked());
  EXPECT_EQ(video->size(), QSize(400, 300));
  tuning.FullScreen->click();
  EXPECT_TRUE(video->isFullScreen());
  // The menu and the boxes agree.
  video->MFull->trigger();
  EXPECT_FALSE(tuning.FullScreen->isChecked());
  EXPECT_FALSE(video->isFullScreen());
}
