#include "help/Hh.h"

#include "HelpTestSupport.h"
#include "help/Help.h"
#include "help/HelpViewer.h"
#include "platform/ScriptedDialogs.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QHelpContentModel>
#include <QHelpEngine>
#include <QHelpIndexModel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

using help_test::DestroyClosedWindows;
using help_test::LoadedHelp;

namespace {

QString CollectionPath() {
  return QDir(QCoreApplication::applicationDirPath()).filePath("tastivo.qhc");
}

// Points the engine at another folder for one test and restores it.
class EngineFolder {
 public:
  explicit EngineFolder(const QString& folder) {
    UnloadHtmlHelp();
    SetHelpEngineFolder(folder);
  }
  ~EngineFolder() {
    UnloadHtmlHelp();
    SetHelpEngineFolder(QString());
    DestroyClosedWindows();
  }
};

}  // namespace

TEST_F(LoadedHelp, FindsTheCollectionNextToTheProgramAndLoadsItOnce) {
  EXPECT_EQ(GetPathToHHCtrlOCX(), CollectionPath());
  QHelpEngineCore* engine = HHCtrlHandle();
  ASSERT_NE(engine, nullptr);
  EXPECT_TRUE(engine->registeredDocumentations().contains("org.tastivo.manual"));
  LoadHtmlHelp();
  EXPECT_EQ(HHCtrlHandle(), engine);
}

TEST_F(LoadedHelp, DisplayTopicOpensAViewerAtTheDefaultTopicOwnedByTheGivenWindow) {
  QWidget owner;
  owner.show();
  HelpViewer* viewer = HtmlHelp(&owner, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->parentWidget(), &owner);
  EXPECT_TRUE(viewer->isWindow());
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(viewer->CurrentTopic(), viewer->DefaultTopic());
  EXPECT_EQ(viewer->CurrentTopic().toString(), "qthelp://org.tastivo.manual/manual/index.html");
  EXPECT_EQ(viewer->Browser()->documentTitle(), "Getting started");
  EXPECT_TRUE(viewer->Browser()->toPlainText().contains("Your first set in five steps"));
  EXPECT_TRUE(viewer->windowTitle().contains("Getting started"));
  EXPECT_EQ(HelpViewers(), QList<HelpViewer*>{viewer});
}

TEST_F(LoadedHelp, EmptyFileOpensTheLoadedCollectionAndNoOwnerGivesAWindowOfItsOwn) {
  HelpViewer* viewer = HtmlHelp(nullptr, QString(), HH_DISPLAY_TOPIC, 0);
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->parentWidget(), nullptr);
  EXPECT_EQ(viewer->CurrentTopic(), viewer->DefaultTopic());
  HtmlHelp(nullptr, QString(), HH_CLOSE_ALL, 0);
}

TEST_F(LoadedHelp, DisplayTopicAgainBringsTheOwnersViewerBackToTheDefaultTopic) {
  QWidget first;
  QWidget second;
  HelpViewer* viewer = HtmlHelp(&first, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  ASSERT_NE(viewer, nullptr);
  ASSERT_TRUE(viewer->ShowKeyword("Sustain"));
  EXPECT_NE(viewer->CurrentTopic(), viewer->DefaultTopic());

  EXPECT_EQ(HtmlHelp(&first, CollectionPath(), HH_DISPLAY_TOPIC, 0), viewer);
  EXPECT_EQ(viewer->CurrentTopic(), viewer->DefaultTopic());
  EXPECT_EQ(HelpViewers().size(), 1);

  HelpViewer* other = HtmlHelp(&second, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, viewer);
  EXPECT_EQ(HelpViewers().size(), 2);
}

TEST_F(LoadedHelp, CloseAllClosesEveryViewerAndLeavesTheOwners) {
  QWidget first;
  QWidget second;
  first.show();
  second.show();
  QPointer<HelpViewer> a = HtmlHelp(&first, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  QPointer<HelpViewer> b = HtmlHelp(&second, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  QPointer<HelpViewer> c = HtmlHelp(nullptr, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  ASSERT_TRUE(a && b && c);
  ASSERT_EQ(HelpViewers().size(), 3);

  EXPECT_EQ(HtmlHelp(nullptr, QString(), HH_CLOSE_ALL, 0), nullptr);
  EXPECT_TRUE(HelpViewers().isEmpty());
  EXPECT_FALSE(a->isVisible());
  EXPECT_FALSE(c->isVisible());
  DestroyClosedWindows();
  EXPECT_TRUE(a.isNull());
  EXPECT_TRUE(b.isNull());
  EXPECT_TRUE(c.isNull());
  EXPECT_TRUE(first.isVisible());
  EXPECT_TRUE(second.isVisible());
  EXPECT_TRUE(HtmlHelpLoaded());
}

TEST_F(LoadedHelp, AViewerTheUserClosedIsForgottenAndReplaced) {
  QWidget owner;
  QPointer<HelpViewer> viewer = HtmlHelp(&owner, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  ASSERT_TRUE(viewer);
  viewer->close();
  EXPECT_TRUE(HelpViewers().isEmpty());
  ASSERT_TRUE(testing_support::WaitFor([&] { return viewer.isNull(); }));
  HelpViewer* again = HtmlHelp(&owner, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->isVisible());
}

TEST_F(LoadedHelp, ContentsAndIndexLeadToThePages) {
  HelpViewer* viewer = HtmlHelp(nullptr, CollectionPath(), HH_DISPLAY_TOPIC, 0);
  ASSERT_NE(viewer, nullptr);

  QHelpContentModel* contents = viewer->Engine()->contentModel();
  ASSERT_TRUE(testing_support::WaitFor(
      [&] { return !contents->isCreatingContents() && contents->rowCount() > 0; }));
  QStringList chapters;
  for (int row = 0; row < contents->rowCount(); ++row)
    chapters << contents->data(contents->index(row, 0), Qt::DisplayRole).toString();
  EXPECT_EQ(chapters, (QStringList{"Getting started", "Playing keys", "Sets and set files",
                                   "The key editor", "The video window",
                                   "Groups and several windows", "Settings", "Advanced"}));

  QHelpIndexModel* index = viewer->Engine()->indexModel();
  ASSERT_TRUE(
      testing_support::WaitFor([&] { return !index->isCreatingIndex() && index->rowCount() > 0; }));
  EXPECT_TRUE(index->stringList().contains("Synchronization group"));

  ASSERT_TRUE(viewer->ShowKeyword("Sustain"));
  EXPECT_EQ(viewer->CurrentTopic().fileName(), "playing.html");
  EXPECT_EQ(viewer->CurrentTopic().fragment(), "transport");
  EXPECT_EQ(viewer->Browser()->documentTitle(), "Playing keys");
  EXPECT_FALSE(viewer->ShowKeyword("no such word"));
  EXPECT_EQ(viewer->CurrentTopic().fileName(), "playing.html");
}

TEST_F(LoadedHelp, AMissingHelpFileIsReportedAndOpensNothing) {
  platform::ScriptedDialogs dialogs;
  QTemporaryDir dir;
  const QString missing = dir.filePath("gone.qhc");
  EXPECT_EQ(HtmlHelp(nullptr, missing, HH_DISPLAY_TOPIC, 0), nullptr);
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Warning");
  EXPECT_TRUE(dialogs.boxes()[0].text.contains("gone.qhc"));
  EXPECT_TRUE(HelpViewers().isEmpty());
  EXPECT_FALSE(QFile::exists(missing));  // read-only: nothing was created
}

TEST(HelpEngineMissing, HelpDoesNothingAndNothingElseBreaks) {
  QTemporaryDir empty;
  EngineFolder folder(empty.path());
  LoadHtmlHelp();
  EXPECT_FALSE(HtmlHelpLoaded());
  EXPECT_EQ(HHCtrlHandle(), nullptr);
  EXPECT_TRUE(GetPathToHHCtrlOCX().isEmpty());
  EXPECT_EQ(HtmlHelp(nullptr, CollectionPath(), HH_DISPLAY_TOPIC, 0), nullptr);

  platform::ScriptedDialogs dialogs;
  {
    THelp1 about;
    about.HelpButton->click();
    EXPECT_TRUE(HelpViewers().isEmpty());
    EXPECT_TRUE(dialogs.boxes().empty());
    about.OkButton->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);
  }
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST(HelpEngineMissing, AnUnreadableCollectionLeavesTheEngineUnloaded) {
  QTemporaryDir dir;
  {
    QFile broken(dir.filePath("tastivo.qhc"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("this is not a help collection");
  }
  EngineFolder folder(dir.path());
  EXPECT_EQ(GetPathToHHCtrlOCX(), dir.filePath("tastivo.qhc"));
  LoadHtmlHelp();
  EXPECT_FALSE(HtmlHelpLoaded());
}

TEST(HelpEngineModule, StartLoadsWhenAskedAndEndUnloads) {
  EngineFolder folder{QString()};
  AutoLoadAPI = false;
  {
    HhModule module;
    EXPECT_FALSE(HtmlHelpLoaded());
  }
  AutoLoadAPI = true;
  QPointer<HelpViewer> viewer;
  {
    HhModule module;
    EXPECT_TRUE(HtmlHelpLoaded());
    viewer = HtmlHelp(nullptr, QString(), HH_DISPLAY_TOPIC, 0);
    ASSERT_TRUE(viewer);
  }
  EXPECT_FALSE(HtmlHelpLoaded());
  EXPECT_TRUE(HelpViewers().isEmpty());
  DestroyClosedWindows();
  EXPECT_TRUE(viewer.isNull());
}
