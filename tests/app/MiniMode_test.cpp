#include "app/MiniMode.h"

#include <gtest/gtest.h>

using app::MiniModeState;
using app::ToggleMiniMode;
using app::WindowPlace;

TEST(MiniMode, FirstEntryKeepsTheBottomEdgeAndLeavingRestores) {
  MiniModeState s;
  WindowPlace mini = ToggleMiniMode(s, {120, 500, 207});
  EXPECT_TRUE(s.MiniMode);
  EXPECT_EQ(mini.top, 667);
  EXPECT_EQ(mini.left, 120);
  EXPECT_EQ(mini.height, 40);

  // Moved while mini, then back to full size.
  WindowPlace full = ToggleMiniMode(s, {300, 20, 40});
  EXPECT_FALSE(s.MiniMode);
  EXPECT_EQ(full.top, 500);
  EXPECT_EQ(full.left, 120);
  EXPECT_EQ(full.height, 207);
  EXPECT_EQ(s.MiniTop, 20);
  EXPECT_EQ(s.MiniLeft, 300);

  // The next entry goes to the remembered mini place.
  WindowPlace again = ToggleMiniMode(s, full);
  EXPECT_EQ(again.top, 20);
  EXPECT_EQ(again.left, 300);
  EXPECT_EQ(again.height, 40);
}

TEST(MiniMode, ZeroMiniTopIgnoresMiniLeft) {
  MiniModeState s;
  s.MiniTop = 0;
  s.MiniLeft = 300;
  WindowPlace mini = ToggleMiniMode(s, {50, 100, 207});
  EXPECT_EQ(mini.left, 50);
  EXPECT_EQ(mini.top, 267);
}
