#include "help/Help.h"

#include "HelpTestSupport.h"
#include "help/HelpViewer.h"
#include "help/Hh.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

using help_test::DestroyClosedWindows;
using help_test::LoadedHelp;

struct CentringCase {
  QRect area;
  QSize size;
  QPoint expected;
};

class Centring : public ::testing::TestWithParam<CentringCase> {};

TEST_P(Centring, PlacesTheWindowInTheMiddleOfTheArea) {
  EXPECT_EQ(CentredTopLeft(GetParam().area, GetParam().size), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AboutWindow, Centring,
    ::testing::Values(CentringCase{{0, 0, 1920, 1080}, {360, 253}, {780, 413}},
                      CentringCase{{0, 0, 800, 600}, {360, 253}, {220, 173}},
                      CentringCase{{1920, 0, 1280, 1024}, {360, 253}, {2380, 385}},
                      // A screen smaller than the window: the window overhangs evenly.
                      CentringCase{{0, 0, 300, 200}, {360, 253}, {-30, -26}}));

TEST(AboutWindow, HasItsCaptionSizeTitleAndButtons) {
  THelp1 about;
  EXPECT_EQ(about.windowTitle(), "Help");
  EXPECT_EQ(about.size(), QSize(360, 253));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_EQ(about.Title->text(), "Tastivo");

  QStringList captions;
  for (QPushButton* button : about.findChildren<QPushButton*>()) captions << button->text();
  EXPECT_EQ(captions, (QStringList{"Ok", "Help"}));
  EXPECT_TRUE(about.OkButton->isDefault());
}

TEST(AboutWindow, IsCentredOnTheScreen) {
  QWidget owner;
  THelp1 about(&owner);
  about.show();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(about.pos(), CentredTopLeft(screen, QSize(360, 253)));
}

TEST(AboutWindow, RunsModallyForItsOwnerAndOkClosesIt) {
  QWidget owner;
  owner.show();
  THelp1 about(&owner);
  QWidget* modal = nullptr;
  QTimer::singleShot(0, &about, [&] {
    modal = QApplication::activeModalWidget();
    about.OkButton->click();
  });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  EXPECT_EQ(modal, &about);
  EXPECT_EQ(about.windowModality(), Qt::WindowModal);
  EXPECT_EQ(about.parentWidget(), &owner);
}

TEST(AboutWindow, ShowsTheVersion) {
  THelp1 about;
  EXPECT_EQ(about.Version->text(), "Version " TASTIVO_VERSION);
}

TEST_F(LoadedHelp, AboutWindowHelpOpensTheManualWhichOutlivesIt) {
  QWidget owner;
  owner.show();
  QPointer<HelpViewer> viewer;
  QUrl shown;
  {
    THelp1 about(&owner);
    QTimer::singleShot(0, &about, [&] {
      about.HelpButton->click();
      const QList<HelpViewer*> viewers = HelpViewers();
      if (viewers.size() == 1) {
        viewer = viewers.first();
        shown = viewer->CurrentTopic();
      }
      about.OkButton->click();
    });
    about.exec();
  }
  DestroyClosedWindows();
  ASSERT_TRUE(viewer);
  EXPECT_EQ(shown, viewer->DefaultTopic());
  // A window of its own, still open.
  EXPECT_EQ(viewer->parentWidget(), nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(HelpViewers(), QList<HelpViewer*>{viewer.data()});
  EXPECT_TRUE(owner.isVisible());
}

namespace {

// Clicks the viewer's Home button the way the window system does, so that
// modal blocking applies; returns whether the viewer went home.
bool HomeClickReaches(HelpViewer* viewer) {
  viewer->ShowKeyword("Sustain");
  if (viewer->CurrentTopic() == viewer->DefaultTopic()) return false;
  QToolButton* home = viewer->HomeButton();
  const QPoint at = home->mapTo(viewer, home->rect().center());
  QTest::mouseClick(viewer->windowHandle(), Qt::LeftButton, {}, at);
  return viewer->CurrentTopic() == viewer->DefaultTopic();
}

}  // namespace

TEST_F(LoadedHelp, TheManualOpenedFromTheModalAboutWindowTakesInput) {
  QWidget owner;
  owner.show();
  THelp1 about(&owner);
  bool fromAbout = false;
  QTimer::singleShot(0, &about, [&] {
    about.HelpButton->click();
    HelpViewer* viewer = HelpViewers().value(0);
    if (viewer && QTest::qWaitForWindowExposed(viewer)) fromAbout = HomeClickReaches(viewer);
    about.OkButton->click();
  });
  about.exec();
  EXPECT_TRUE(fromAbout);
}

TEST_F(LoadedHelp, ASingleClickInContentsOpensThePage) {
  HelpViewer* viewer = HtmlHelp(nullptr, QString(), HH_DISPLAY_TOPIC, 0);
  ASSERT_TRUE(viewer);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
  auto* contents = viewer->findChild<QHelpContentWidget*>();
  ASSERT_TRUE(contents);
  QHelpContentModel* model = viewer->Engine()->contentModel();
  // The engine fills the contents on a thread of its own.
  QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() > 1 && !model->isCreatingContents(), 20000);
  // "Playing keys" is the second page of the manual.
  const QModelIndex playing = model->index(1, 0);
  const QHelpContentItem* item = model->contentItemAt(playing);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->url().fileName(), "playing.html");
  ASSERT_NE(viewer->CurrentTopic(), item->url());
  contents->scrollTo(playing);
  const QPoint at = contents->visualRect(playing).center();
  QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(viewer->CurrentTopic(), item->url());
  // A double click on it leaves one step in the history, back to the start.
  QTest::mouseDClick(contents->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(viewer->CurrentTopic(), item->url());
  viewer->Browser()->backward();
  EXPECT_EQ(viewer->CurrentTopic(), viewer->DefaultTopic());
  viewer->close();
}
