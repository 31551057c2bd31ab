#pragma once
// The set editor fixture shared by the set editor's test files: a key editor,
// scripted dialogs, a temporary settings folder and a folder for set files.

#include "editor/Edit.h"
#include "platform/ScriptedDialogs.h"
#include "platform/SettingsStore.h"
#include "sets/Prop.h"
#include "sets/SetFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace set_editor_testing {

constexpr const char* kQuestion = "List modified. Save?";

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// Stores the set editor's values as a closed editor leaves them: the known
// lists, the one selected, and the last list loaded.
inline void WriteKnownLists(const QStringList& lists, int selected, const QString& last) {
  platform::SettingsStore store;
  store.OpenKey("Software\\Tastivo", true);
  store.WriteString("last", last);
  for (const char* name : {"ttop", "tleft"}) store.WriteInteger(name, 5);
  store.WriteInteger("twidth", 598);
  store.WriteInteger("theight", 834);
  QString combo;
  for (const QString& list : lists) combo += list + "\r\n";
  store.WriteString("combo", combo);
  store.WriteInteger("combolast", selected);
  store.WriteBool("staytop", true);
  store.CloseKey();
}

class SetEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    Edit1 = new TEdit1;
    TTuning::Editor = Edit1;
  }
  void TearDown() override {
    tuning.reset();
    delete Edit1;
    Edit1 = nullptr;
  }

  TTuning& Make(int instance = 0) {
    tuning = std::make_unique<TTuning>(nullptr, instance);
    return *tuning;
  }
  QString Path(const QString& name) const { return dir.filePath(name); }
  // A set file whose first row has the given label.
  QString WriteSet(const QString& name, const QString& label, int rows = 77) {
    KeySet set;
    set.GrowTo(rows);
    set.SetCell(0, kLabelColumn, label);
    EXPECT_TRUE(WriteSetFile(Path(name), set, nullptr));
    return Path(name);
  }
  // A file with exactly these bytes.
  QString WriteBytes(const QString& name, const QByteArray& bytes) {
    QFile file(Path(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return Path(name);
  }
  QString Label0(const QString& path) const {
    KeySet set;
    ApplySetFile(set, ReadSetFile(path).parsed);
    return set.Row(0).Label;
  }

  testing_support::TempConfig config;
  platform::ScriptedDialogs dialogs;
  QTemporaryDir dir;
  std::unique_ptr<TTuning> tuning;
};

}  // namespace set_editor_testing
