#include "app/WindowValues.h"
#include "StoredPlaces.h"
#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace app;
using platform::SettingsStore;

namespace {

class WindowValuesTest : public ::testing::Test {
 protected:
  void Store(int instance, const std::function<void(SettingsStore&)>& fill) {
    SettingsStore store;
    store.OpenKey(platform::InstanceKey(instance), true);
    fill(store);
    store.CloseKey();
  }
  testing_support::TempConfig config;
};

TEST_F(WindowValuesTest, MissingKeyReadsNothing) {
  KeyboardWindowValues v;
  v.top = 11;
  const ReadResult r = ReadKeyboardWindowValues(0, v);
  EXPECT_EQ(r.count, 0);
  EXPECT_FALSE(r.group);
  EXPECT_EQ(v.top, 11);
}

TEST_F(WindowValuesTest, FirstFailingReadEndsTheReadingAndSkipsGroup) {
  Store(0, [](SettingsStore& s) {
    s.WriteInteger("ftop", 300);
    s.WriteInteger("fleft", 400);
    s.WriteBool("loop", true);  // after the missing "mtop": never read
    s.WriteInteger("group", 9);
  });
  KeyboardWindowValues v;
  const ReadResult r = ReadKeyboardWindowValues(0, v);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(v.top, 300);
  EXPECT_EQ(v.left, 400);
  EXPECT_FALSE(v.loop);
  EXPECT_FALSE(r.group);
}

TEST_F(WindowValuesTest, GroupStoredAsTextLeavesTheGroupAlone) {
  Store(2, [](SettingsStore& s) {
    for (const char* name : {"ftop", "fleft", "mtop", "mleft"}) s.WriteInteger(name, 1);
    s.WriteInteger("loop", 5);
    s.WriteBool("sustain", false);
    s.WriteBool("midi", true);
    s.WriteString("group", "7");
  });
  KeyboardWindowValues v;
  const ReadResult r = ReadKeyboardWindowValues(2, v);
  EXPECT_EQ(r.count, 7);
  EXPECT_TRUE(v.loop);  // any non-zero integer
  EXPECT_TRUE(v.midi);
  EXPECT_FALSE(r.group);
}

TEST_F(WindowValuesTest, WritesAllEightInTheInstanceKey) {
  KeyboardWindowValues v{300, 400, 50, 100, true, false, true, 4};
  EXPECT_EQ(WriteKeyboardWindowValues(3, v), 8);
  EXPECT_EQ(StoredPlaces("Software\\Tastivo\\3"), (std::array{300, 400, 50, 100}));
  SettingsStore store;
  ASSERT_TRUE(store.OpenKey("Software\\Tastivo\\3", false));
  EXPECT_EQ(store.ReadInteger("loop"), 1);
  EXPECT_EQ(store.ReadInteger("sustain"), 0);
  EXPECT_EQ(store.ReadInteger("midi"), 1);
  EXPECT_EQ(store.ReadInteger("group"), 4);
  EXPECT_FALSE(store.KeyExists("Software\\Tastivo\\0"));
}

}  // namespace
