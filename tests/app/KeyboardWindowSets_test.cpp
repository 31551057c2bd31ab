#include "app/FormList.h"
#include "app/morvela1.h"
#include "platform/ScriptedDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/media/CuePool.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

class KeyboardWindowSetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Form11 = new TForm11(qApp);
    Form11->show();
    Form11->Image1Click();
    Form11->Image1Click();
  }
  void TearDown() override { delete Form11; }
  static TForm11* Window(int i) { return FormList.at(i); }
  static int VisibleSetEditors() {
    int n = 0;
    for (TForm11* w : FormList) n += w->Tuning->isVisible() ? 1 : 0;
    return n;
  }

  testing_support::TempConfig config;
  platform::ScriptedDialogs dialogs;
  QTemporaryDir folder;
};

TEST_F(KeyboardWindowSetsTest, ConfigurationShowsOneSetEditorAtATime) {
  Window(1)->CoolBtn1->click();
  EXPECT_TRUE(Window(1)->Tuning->isVisible());
  Window(2)->CoolBtn1->click();
  EXPECT_TRUE(Window(2)->Tuning->isVisible());
  EXPECT_FALSE(Window(1)->Tuning->isVisible());
  EXPECT_EQ(VisibleSetEditors(), 1);
  Window(2)->CoolBtn1->click();  // a second click hides it
  EXPECT_EQ(VisibleSetEditors(), 0);
}

TEST_F(KeyboardWindowSetsTest, ShowingASetEditorReloadsEveryWindowsSetFromItsFile) {
  const QString path = folder.filePath("shared.wql");
  TTuning* first = Window(0)->Tuning;
  first->Set.SetCell(0, kLabelColumn, "Kick");
  ASSERT_TRUE(first->SaveSet(path));
  for (int i : {0, 2}) Window(i)->Tuning->FileName = path;
  Window(2)->Tuning->Set.SetCell(0, kLabelColumn, "stale");
  Window(0)->Tuning->Set.SetCell(0, kLabelColumn, "also stale");

  Window(1)->CoolBtn1->click();
  EXPECT_EQ(Window(0)->Tuning->Set.Row(0).Label, "Kick");
  EXPECT_EQ(Window(2)->Tuning->Set.Row(0).Label, "Kick");
  EXPECT_TRUE(dialogs.boxes().empty());
}

// The window names its set's clips to its player, which opens them ahead:
// the set as it is now, after a row's file changed too.
TEST_F(KeyboardWindowSetsTest, TheClipsOfTheSetAreCuedAsTheRowsChange) {
  using platform::media::CuePool;
  QStringList clips;
  for (const char* name : {"one.wav", "two.wav", "three.wav"}) {
    clips << folder.filePath(name);
    ASSERT_EQ(QProcess::execute("sox", {"-n", "-r", "48000", "-c", "2", clips.back(), "synth",
                                        "0.5", "sine", "440"}),
              0);
  }
  const auto status = [](const QString& clip) {
    return CuePool::Instance().StatusOf(clip.toStdString());
  };
  TTuning* tuning = Window(0)->Tuning;
  tuning->Set.SetCell(0, kFileColumn, clips[0]);
  tuning->Set.SetCell(1, kFileColumn, clips[1]);
  EXPECT_TRUE(testing_support::WaitFor([&] {
    return status(clips[0]) == CuePool::Status::Ready && status(clips[1]) == CuePool::Status::Ready;
  }));
  tuning->Set.SetCell(1, kFileColumn, clips[2]);
  EXPECT_TRUE(testing_support::WaitFor([&] {
    return status(clips[2]) == CuePool::Status::Ready && status(clips[1]) == CuePool::Status::None;
  }));
  EXPECT_EQ(status(clips[0]), CuePool::Status::Ready);
  // A window that is gone holds nothing.
  delete Form11;
  Form11 = nullptr;
  EXPECT_TRUE(testing_support::WaitFor([&] { return CuePool::Instance().Ready() == 0; }));
}

TEST_F(KeyboardWindowSetsTest, SetNameShowsTheFileNamePart) {
  TForm11* w = Window(1);
  w->Tuning->FileName = "C:\\Sets\\live.wql";  // made on another system
  w->CoolBtn1->click();
  EXPECT_EQ(w->CoolLabel3->text(), "live.wql");
  w->Tuning->FileName = folder.filePath("next.wql");
  w->Timer2Timer();
  EXPECT_EQ(w->CoolLabel3->text(), "next.wql");
  w->CoolBtn1->click();
  w->Tuning->FileName = folder.filePath("hidden.wql");
  w->Timer2Timer();  // only while the set editor is visible
  EXPECT_EQ(w->CoolLabel3->text(), "next.wql");
}

// Answers every box only after running the event loop for longer than the
// keyboard window's one-second timer, as a user reading the box would.
class SlowDialogs : public platform::ScriptedDialogs {
 public:
  int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                 platform::BoxIcon icon, platform::BoxButtons buttons) override {
    QElapsedTimer open;
    open.start();
    while (open.elapsed() < 1200) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return ScriptedDialogs::MessageBox(owner, text, caption, icon, buttons);
  }
};

void RememberSetOf(int instance, const QString& path) {
  platform::SettingsStore store;
  store.OpenKey(platform::InstanceKey(instance), true);
  store.WriteInteger("ttop", 100);
  store.WriteInteger("tleft", 100);
  store.WriteInteger("twidth", 598);
  store.WriteInteger("theight", 500);
  store.WriteString("combo", path + "\r\n");
  store.WriteInteger("combolast", 0);
  store.CloseKey();
}

TEST(KeyboardWindowStart, AWarningDuringCreationNeverReachesAHalfBuiltWindow) {
  testing_support::TempConfig config;
  QTemporaryDir folder;
  QDir(folder.path()).mkdir("folder.wql");
  SlowDialogs dialogs;
  RememberSetOf(0, folder.filePath("gone.wql"));
  RememberSetOf(1, folder.filePath("folder.wql"));
  Form11 = new TForm11(qApp);
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_TRUE(dialogs.boxes()[0].text.endsWith(" : File not Found"));
  EXPECT_TRUE(Form11->IsWhole());
  EXPECT_TRUE(Form11->Timer1->isActive() && Form11->Timer2->isActive());
  Form11->show();
  Form11->Image1Click();  // New, whose set is a folder
  ASSERT_EQ(FormList.size(), 2u);
  EXPECT_EQ(dialogs.boxes().size(), 2u);
  EXPECT_TRUE(FormList[1]->isVisible());
  delete Form11;
}

}  // namespace
