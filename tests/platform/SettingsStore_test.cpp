#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using platform::SettingsError;
using platform::SettingsStore;

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  testing_support::TempConfig config;
};

TEST_F(SettingsStoreTest, MissingKeyMakesEveryReadFail) {
  SettingsStore store;
  EXPECT_FALSE(store.OpenKey("Software\\Tastivo", false));
  EXPECT_THROW(store.ReadInteger("ftop"), SettingsError);
  EXPECT_THROW(store.ReadBool("loop"), SettingsError);
  EXPECT_EQ(store.ReadString("last"), "");
  EXPECT_THROW(store.WriteInteger("ftop", 1), SettingsError);
}

TEST_F(SettingsStoreTest, KindsSurviveARestart) {
  {
    SettingsStore store;
    ASSERT_TRUE(store.OpenKey("Software\\Tastivo\\3", true));
    store.WriteInteger("ftop", -12);
    store.WriteBool("loop", true);
    store.WriteString("group", "5");
    store.WriteString("combo", "a.wql\r\nb,c.wql\r\n");
    store.CloseKey();
  }
  SettingsStore store;
  ASSERT_TRUE(store.OpenKey("Software\\Tastivo\\3", false));
  EXPECT_EQ(store.ReadInteger("ftop"), -12);
  EXPECT_TRUE(store.ReadBool("loop"));
  EXPECT_EQ(store.ReadInteger("loop"), 1);
  // A text "5" is not the integer 5.
  EXPECT_THROW(store.ReadInteger("group"), SettingsError);
  EXPECT_EQ(store.ReadString("group"), "5");
  EXPECT_EQ(store.ReadString("combo"), "a.wql\r\nb,c.wql\r\n");
  // An integer is not text either.
  EXPECT_THROW(store.ReadString("ftop"), SettingsError);
  EXPECT_THROW(store.ReadInteger("missing"), SettingsError);
}

TEST_F(SettingsStoreTest, NonZeroIntegerReadsAsTrue) {
  SettingsStore store;
  store.OpenKey("Software\\Tastivo", true);
  store.WriteInteger("loop", 5);
  store.WriteInteger("sustain", 0);
  EXPECT_TRUE(store.ReadBool("loop"));
  EXPECT_FALSE(store.ReadBool("sustain"));
}

TEST_F(SettingsStoreTest, SubkeysAreSeparateAndCreateTheirParents) {
  SettingsStore store;
  store.OpenKey(platform::InstanceKey(2), true);
  store.WriteInteger("group", 7);
  store.CloseKey();
  EXPECT_EQ(platform::InstanceKey(0), "Software\\Tastivo");
  EXPECT_EQ(platform::InstanceKey(2), "Software\\Tastivo\\2");
  EXPECT_TRUE(store.KeyExists("Software\\Tastivo"));
  ASSERT_TRUE(store.OpenKey("Software\\Tastivo", false));
  EXPECT_THROW(store.ReadInteger("group"), SettingsError);
  ASSERT_TRUE(store.OpenKeyReadOnly("Software\\Tastivo\\2"));
  EXPECT_EQ(store.ReadInteger("group"), 7);
  EXPECT_THROW(store.WriteInteger("group", 1), SettingsError);
}

TEST_F(SettingsStoreTest, LivesUnderTheXdgConfigFolder) {
  {
    SettingsStore store;
    store.OpenKey("Software\\Tastivo", true);
    store.WriteInteger("ftop", 1);
    store.CloseKey();
  }
  EXPECT_TRUE(SettingsStore::FilePath().startsWith(config.path()));
  EXPECT_TRUE(QFile::exists(SettingsStore::FilePath()));
}

TEST_F(SettingsStoreTest, HandEditedValueWithoutKindIsText) {
  QDir().mkpath(QFileInfo(SettingsStore::FilePath()).path());
  QFile file(SettingsStore::FilePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Software]\nTastivo\\ftop=300\nTastivo\\last=/tmp/x.wql\n");
  file.close();
  SettingsStore store;
  ASSERT_TRUE(store.OpenKey("Software\\Tastivo", false));
  EXPECT_THROW(store.ReadInteger("ftop"), SettingsError);
  EXPECT_EQ(store.ReadString("last"), "/tmp/x.wql");
}

}  // namespace
