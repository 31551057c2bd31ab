// Starting the program from a desktop: the command line that a menu entry or
// a file manager gives it, and the set file it names opened in the first
// keyboard window.

#include "app/CommandLine.h"
#include "app/FormList.h"
#include "app/StartSet.h"
#include "app/morvela1.h"
#include "platform/ScriptedDialogs.h"
#include "sets/SetFile.h"
#include "sets/SetGrid.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

using Action = app::CommandLine::Action;

const QString kStartFolder = QStringLiteral("/home/user/shows");

app::CommandLine Parse(const QStringList& arguments) {
  return app::ParseCommandLine(arguments, kStartFolder);
}

TEST(DesktopCommandLine, NoArgumentsStartsAsAlways) {
  const app::CommandLine command = Parse({});
  EXPECT_EQ(command.action, Action::kRun);
  EXPECT_TRUE(command.setFile.isEmpty());
  EXPECT_TRUE(command.error.isEmpty());
}

TEST(DesktopCommandLine, ASetFileIsTakenFromTheFolderTheProgramStartedIn) {
  EXPECT_EQ(Parse({"live.wql"}).setFile, "/home/user/shows/live.wql");
  EXPECT_EQ(Parse({"../old/live.wql"}).setFile, "/home/user/old/live.wql");
  EXPECT_EQ(Parse({"/media/usb/My Show.wql"}).setFile, "/media/usb/My Show.wql");
  // "--" ends the options, for a file whose name starts with a dash.
  const app::CommandLine dashed = Parse({"--", "-live.wql"});
  EXPECT_EQ(dashed.action, Action::kRun);
  EXPECT_EQ(dashed.setFile, "/home/user/shows/-live.wql");
}

TEST(DesktopCommandLine, HelpAndVersionEndBeforeAnythingStarts) {
  EXPECT_EQ(Parse({"--help"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"-h"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"--version"}).action, Action::kVersion);
  EXPECT_EQ(Parse({"live.wql", "--version"}).action, Action::kVersion);
  EXPECT_EQ(Parse({"--version", "--help"}).action, Action::kVersion);
  EXPECT_TRUE(app::UsageText().startsWith("Usage: tastivo [SET.wql]\n"));
  EXPECT_TRUE(app::UsageText().contains("--version"));
  EXPECT_TRUE(app::VersionText().startsWith("tastivo "));
  EXPECT_FALSE(app::VersionText().contains("unknown"));
  EXPECT_TRUE(app::VersionText().endsWith("\n"));
}

TEST(DesktopCommandLine, QtOptionsAreLeftToTheApplicationObject) {
  for (const QStringList& arguments :
       {QStringList{"-style", "fusion"}, QStringList{"-style=fusion"},
        QStringList{"--platform", "xcb"}, QStringList{"-reverse"},
        QStringList{"-display", ":1", "-geometry", "640x480"}}) {
    const app::CommandLine command = Parse(arguments);
    EXPECT_EQ(command.action, Action::kRun) << arguments.join(' ').toStdString();
    EXPECT_TRUE(command.setFile.isEmpty()) << arguments.join(' ').toStdString();
  }
  // The value of a Qt option is not a set file.
  EXPECT_EQ(Parse({"-style", "fusion", "live.wql"}).setFile, "/home/user/shows/live.wql");
}

TEST(DesktopCommandLine, TheRemoteIsSwitchedOnForOneRunOnTheStoredOrAGivenPort) {
  const app::CommandLine both = Parse({"--osc", "--web=8080", "live.wql"});
  EXPECT_EQ(both.action, Action::kRun);
  EXPECT_TRUE(both.osc);
  EXPECT_EQ(both.oscPort, 0);
  EXPECT_TRUE(both.web);
  EXPECT_EQ(both.webPort, 8080);
  EXPECT_EQ(both.setFile, "/home/user/shows/live.wql");
  for (const char* bad : {"--osc=0", "--osc=65536", "--web=", "--web=80x"})
    EXPECT_EQ(Parse({bad}).action, Action::kError) << bad;
}

TEST(DesktopCommandLine, WhatCannotBeUnderstoodIsOneLineOfError) {
  for (const QStringList& arguments :
       {QStringList{"--bogus"}, QStringList{"-x", "live.wql"}, QStringList{"a.wql", "b.wql"},
        QStringList{"-"}, QStringList{""}, QStringList{"-style"}, QStringList{"--help", "--bogus"},
        QStringList{"--bad\noption"}}) {
    const app::CommandLine command = Parse(arguments);
    EXPECT_EQ(command.action, Action::kError) << arguments.join(' ').toStdString();
    EXPECT_TRUE(command.error.startsWith("tastivo: ")) << command.error.toStdString();
    EXPECT_FALSE(command.error.contains('\n')) << command.error.toStdString();
  }
  EXPECT_EQ(Parse({"--bogus"}).error,
            "tastivo: unknown option --bogus (tastivo --help lists the options)");
}

TEST(DesktopCommandLine, SetFileProblemSaysWhyAFileCannotBeRead) {
  QTemporaryDir folder;
  const QString set = folder.filePath("live.wql");
  QFile file(set);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("5\r\r\n");
  file.close();
  EXPECT_EQ(app::SetFileProblem(set), "");

  EXPECT_EQ(app::SetFileProblem(folder.filePath("gone.wql")),
            "tastivo: " + folder.filePath("gone.wql") + ": no such file");
  ASSERT_TRUE(QDir(folder.path()).mkdir("folder.wql"));
  EXPECT_TRUE(
      app::SetFileProblem(folder.filePath("folder.wql")).endsWith(": is a folder, not a set file"));
  // A pipe would block the start until something wrote into it.
  const QString pipe = folder.filePath("pipe.wql");
  ASSERT_EQ(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
  EXPECT_TRUE(app::SetFileProblem(pipe).endsWith(": is not a regular file"));
  // A name with a line end still gives one line.
  EXPECT_FALSE(app::SetFileProblem(folder.filePath("two\nlines.wql")).contains('\n'));
}

// Writes a set whose first rows carry the given labels.
void WriteSet(const QString& path, const QStringList& labels) {
  KeySet set;
  for (int row = 0; row < labels.size(); ++row) set.SetCell(row, kLabelColumn, labels[row]);
  ASSERT_TRUE(WriteSetFile(path, set, nullptr));
}

class DesktopStartSet : public ::testing::Test {
 protected:
  void StartFirstWindow() {
    Form11 = new TForm11(qApp);
    Form11->show();
  }
  void TearDown() override { delete Form11; }
  QString GridText(int row, int column) const {
    const QAbstractItemModel* model = Form11->Tuning->Grid->model();
    return model->data(model->index(row, column)).toString();
  }

  testing_support::TempConfig config;
  platform::ScriptedDialogs dialogs;
  QTemporaryDir folder;
};

TEST_F(DesktopStartSet, TheSetIsShownAndComesBackAtTheNextStart) {
  const QString before = folder.filePath("before.wql");
  const QString opened = folder.filePath("opened.wql");
  WriteSet(before, {"old"});
  WriteSet(opened, {"Kick", "Snare", "Intro video"});
  // The window restores the set it had last time, then the one named on the
  // command line replaces it.
  StartFirstWindow();
  ASSERT_TRUE(Form11->Tuning->LoadSet(before));
  delete Form11;
  StartFirstWindow();
  ASSERT_EQ(Form11->Tuning->FileName, before);

  ASSERT_TRUE(app::OpenStartSet(*Form11, opened));
  EXPECT_TRUE(dialogs.boxes().empty());
  EXPECT_EQ(Form11->Tuning->FileName, opened);
  EXPECT_EQ(Form11->Tuning->Combo->currentText(), opened);
  EXPECT_EQ(Form11->Tuning->KnownLists(), (QStringList{before, opened}));
  EXPECT_EQ(Form11->CoolLabel3->text(), "opened.wql");
  Form11->CoolBtn1->click();
  ASSERT_TRUE(Form11->Tuning->isVisible());
  EXPECT_EQ(GridText(0, kLabelColumn), "Kick");
  EXPECT_EQ(GridText(1, kLabelColumn), "Snare");
  EXPECT_EQ(GridText(2, kLabelColumn), "Intro video");

  delete Form11;
  StartFirstWindow();
  EXPECT_EQ(Form11->Tuning->FileName, opened);
  EXPECT_EQ(Form11->Tuning->Set.Row(1).Label, "Snare");
}

TEST_F(DesktopStartSet, AFileThatIsNotASetIsToldAndChangesNothing) {
  const QString before = folder.filePath("before.wql");
  WriteSet(before, {"old"});
  const QString text = folder.filePath("notes.wql");
  QFile file(text);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("shopping list\n");
  file.close();
  StartFirstWindow();
  ASSERT_TRUE(Form11->Tuning->LoadSet(before));

  EXPECT_FALSE(app::OpenStartSet(*Form11, text));
  EXPECT_EQ(dialogs.BoxTexts(), QStringList{text + " : Not a set file"});
  EXPECT_EQ(Form11->Tuning->FileName, before);
  EXPECT_EQ(Form11->Tuning->KnownLists(), QStringList{before});
  EXPECT_EQ(Form11->Tuning->Set.Row(0).Label, "old");
}

}  // namespace
