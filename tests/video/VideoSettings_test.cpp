// The video window's seven stored values: read at creation in their order,
// the first missing or mistyped one ending the reading, and written at
// destruction; the key editor's preview (instance 99) keeps its own.

#include "platform/SettingsStore.h"
#include "support/TestSupport.h"
#include "video/Video.h"

#include <QAction>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

void Write(const QString& key, const std::function<void(platform::SettingsStore&)>& body) {
  platform::SettingsStore store;
  ASSERT_TRUE(store.OpenKey(key, true));
  body(store);
  store.CloseKey();
}

struct Stored {
  int top, left, width, height;
  bool ratio, orig, full;
};

Stored Read(const QString& key) {
  platform::SettingsStore store;
  EXPECT_TRUE(store.OpenKeyReadOnly(key));
  return Stored{store.ReadInteger("vtop"),   store.ReadInteger("vleft"),
                store.ReadInteger("vwidth"), store.ReadInteger("vheight"),
                store.ReadBool("ratio"),     store.ReadBool("orig"),
                store.ReadBool("full")};
}

}  // namespace

TEST(VideoSettings, NoKeyLeavesTheDefaults) {
  testing_support::TempConfig config;
  TVideo1 video(nullptr, 0);
  EXPECT_EQ(video.SavedLeft, 0);
  EXPECT_EQ(video.SavedTop, 0);
  EXPECT_EQ(video.SavedWidth, 0);
  EXPECT_EQ(video.SavedHeight, 0);
  EXPECT_FALSE(video.AFull->isChecked());
  EXPECT_FALSE(video.ARatio->isChecked());
  EXPECT_TRUE(video.AOrig->isChecked());
  EXPECT_EQ(video.Ratio, 100);
  EXPECT_EQ(video.windowTitle(), "Tastivo");
}

TEST(VideoSettings, ReadsAllSevenValues) {
  testing_support::TempConfig config;
  Write(platform::InstanceKey(0), [](platform::SettingsStore& s) {
    s.WriteInteger("vtop", 40);
    s.WriteInteger("vleft", 50);
    s.WriteInteger("vwidth", 400);
    s.WriteInteger("vheight", 300);
    s.WriteInteger("ratio", 5);  // any non-zero integer is true
    s.WriteBool("orig", false);
    s.WriteBool("full", true);
  });
  TVideo1 video(nullptr, 0);
  EXPECT_EQ(video.SavedTop, 40);
  EXPECT_EQ(video.SavedLeft, 50);
  EXPECT_EQ(video.SavedWidth, 400);
  EXPECT_EQ(video.SavedHeight, 300);
  EXPECT_TRUE(video.ARatio->isChecked());
  EXPECT_FALSE(video.AOrig->isChecked());
  EXPECT_TRUE(video.AFull->isChecked());
}

TEST(VideoSettings, TheFirstValueThatCannotBeReadEndsTheReading) {
  testing_support::TempConfig config;
  // "vheight" is missing: the bounds before it are read, and the options
  // after it keep their defaults though they are stored.
  Write(platform::InstanceKey(0), [](platform::SettingsStore& s) {
    s.WriteInteger("vtop", 40);
    s.WriteInteger("vleft", 50);
    s.WriteInteger("vwidth", 400);
    s.WriteBool("ratio", true);
    s.WriteBool("orig", false);
    s.WriteBool("full", true);
  });
  {
    TVideo1 video(nullptr, 0);
    EXPECT_EQ(video.SavedTop, 40);
    EXPECT_EQ(video.SavedLeft, 50);
    EXPECT_EQ(video.SavedWidth, 400);
    EXPECT_EQ(video.SavedHeight, 0);
    EXPECT_FALSE(video.ARatio->isChecked());
    EXPECT_TRUE(video.AOrig->isChecked());
    EXPECT_FALSE(video.AFull->isChecked());
  }
  // A text where an integer belongs ends it just the same.
  Write(platform::InstanceKey(2), [](platform::SettingsStore& s) {
    s.WriteInteger("vtop", 1);
    s.WriteInteger("vleft", 2);
    s.WriteInteger("vwidth", 3);
    s.WriteInteger("vheight", 4);
    s.WriteBool("ratio", true);
    s.WriteString("orig", "0");
    s.WriteBool("full", true);
  });
  TVideo1 video(nullptr, 2);
  EXPECT_EQ(video.SavedHeight, 4);
  EXPECT_TRUE(video.ARatio->isChecked());
  EXPECT_TRUE(video.AOrig->isChecked());
  EXPECT_FALSE(video.AFull->isChecked());
}

TEST(VideoSettings, DestructionWritesTheSevenValuesUnderTheInstancesKey) {
  testing_support::TempConfig config;
  for (int instance : {0, 3, 99}) {
    SCOPED_TRACE(instance);
    {
      TVideo1 video(nullptr, instance);
      video.SavedLeft = 10 + instance;
      video.SavedTop = 20 + instance;
      video.SavedWidth = 300;
      video.SavedHeight = 200;
      video.ARatio->setChecked(true);
      video.AOrig->setChecked(false);
    }
    const Stored s = Read(platform::InstanceKey(instance));
    EXPECT_EQ(s.left, 10 + instance);
    EXPECT_EQ(s.top, 20 + instance);
    EXPECT_EQ(s.width, 300);
    EXPECT_EQ(s.height, 200);
    EXPECT_TRUE(s.ratio);
    EXPECT_FALSE(s.orig);
    EXPECT_FALSE(s.full);
  }
  EXPECT_EQ(platform::InstanceKey(99), "Software\\Tastivo\\99");
}

TEST(VideoSettings, ThePreviewAndAWindowNumbered99ShareTheirValues) {
  testing_support::TempConfig config;
  {
    TVideo1 preview(nullptr, 99);
    preview.SavedWidth = 512;
    preview.SavedHeight = 288;
    preview.AFull->setChecked(true);
  }
  TVideo1 window99(nullptr, 99);
  EXPECT_EQ(window99.SavedWidth, 512);
  EXPECT_EQ(window99.SavedHeight, 288);
  EXPECT_TRUE(window99.AFull->isChecked());
  TVideo1 window0(nullptr, 0);
  EXPECT_EQ(window0.SavedWidth, 0);
  EXPECT_FALSE(window0.AFull->isChecked());
}
