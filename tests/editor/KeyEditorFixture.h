#pragma once
// The key editor with a set editor to edit, a fresh settings folder and a
// generated folder of clips: two tones, a video, a folder, a folder whose
// name has a dot, an archive with clips, a tone named "x.ZIP" and a text
// file that the mask leaves out.

#include "editor/Edit.h"
#include "editor/ShellBrowser.h"
#include "platform/ScriptedDialogs.h"
#include "sets/Prop.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

namespace key_editor_testing {

class KeyEditor : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The set editor shown with the given row selected (-1 for none), and the
  // key editor shown attached to it, as the set editor's Edit leaves them.
  TTuning& EditRow(int row);
  // Makes the tree go to folder and waits until the list shows count entries.
  void Browse(const QString& folder, int count);
  // The list's row of the entry with this caption; fails the test when none.
  int Row(const QString& caption) const;
  void Click(const QString& caption);
  QString Path(const QString& name) const { return clips.filePath(name); }

  std::unique_ptr<testing_support::TempConfig> config;
  std::unique_ptr<platform::ScriptedDialogs> dialogs;
  std::unique_ptr<TTuning> tuning;
  QTemporaryDir clips;
  QTemporaryDir cache;
  QByteArray previousCache;
  QString toneWav;
  QString redAvi;
};

}  // namespace key_editor_testing
