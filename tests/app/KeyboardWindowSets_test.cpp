#include "app/FormList.h"
#include "app/RemoteTarget.h"
#include "app/morvela1.h"
#include "editor/KeyEditRules.h"
#include "engine/cue/CuePool.h"
#include "platform/ScriptedDialogs.h"
#include "platform/SettingsStore.h"
#include "sets/LocalPath.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QSpinBox>
#include <QUdpSocket>
#include <QUrl>
#include <QWheelEvent>

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
  using engine::CuePool;
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

// A point on the face of a white key.
QPoint OnKey(const TKeys* keys, int note) {
  const int y = keys->height() - 4;
  for (int x = 0; x < keys->width(); ++x)
    if (keys->NoteAtPoint(x, y, nullptr) == note) return keys->mapTo(keys->window(), QPoint(x, y));
  return {};
}

// Files dragged from a file manager and dropped at a point of the window.
// Returns the key highlighted while the files were over the point. Some
// sources no longer hand the files over at the drop itself (`late`).
int DropFiles(TForm11* w, QPoint at, const QStringList& files, bool late = false) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& file : files) urls << QUrl::fromLocalFile(file);
  data.setUrls(urls);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &enter);
  QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &move);
  const int highlighted = w->Keys1->DropNote();
  QMimeData gone;
  gone.setData("text/uri-list", {});
  QDropEvent drop(at, Qt::CopyAction, late ? &gone : &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &drop);
  EXPECT_TRUE(drop.isAccepted());
  return highlighted;
}

QString Tone(const QTemporaryDir& folder, const QString& name) {
  const QString path = folder.filePath(name);
  EXPECT_EQ(QProcess::execute(
                "sox", {"-n", "-r", "48000", "-c", "1", path, "synth", "0.2", "sine", "440"}),
            0);
  return path;
}

TEST_F(KeyboardWindowSetsTest, DroppedClipsFillTheKeyDroppedOnAndTheKeysAfterItAsAddDoes) {
  TForm11* w = Window(0);
  const QStringList clips = {Tone(folder, "kick.wav"), Tone(folder, "snare.wav"),
                             Tone(folder, "hat.wav")};
  EXPECT_EQ(DropFiles(w, OnKey(w->Keys1, 4), clips, /*late=*/true), 4);
  EXPECT_EQ(w->Keys1->DropNote(), -1);
  const KeySet& set = w->Tuning->Set;
  ASSERT_TRUE(testing_support::WaitFor([&] { return !set.Row(6).File.isEmpty(); }));
  for (int i = 0; i < 3; ++i) {
    const KeyRow& row = set.Row(4 + i);
    EXPECT_EQ(row.File, keyedit::RelativeToProgram(clips[i], ProgramFolder()));
    EXPECT_EQ(row.Label, QFileInfo(clips[i]).fileName());
    EXPECT_EQ(QStringList({row.Min, row.Max, row.Rate}), QStringList({"0", "10000", "100"}));
  }
  EXPECT_TRUE(set.Row(3).File.isEmpty() && set.Row(7).File.isEmpty());
  EXPECT_TRUE(w->Tuning->Modified);
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(KeyboardWindowSetsTest, AClipGStreamerCantPlayRefusesTheDropAndLeavesTheSet) {
  TForm11* w = Window(0);
  const QString broken = folder.filePath("notes.mp3");
  QFile text(broken);
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("shopping list: strings, rosin, a new bow\n");
  text.close();
  DropFiles(w, OnKey(w->Keys1, 0), {Tone(folder, "kick.wav"), broken});
  ASSERT_TRUE(testing_support::WaitFor([&] { return !dialogs.boxes().empty(); }));
  EXPECT_TRUE(dialogs.boxes()[0].text.startsWith(broken + " : can't be played: "));
  EXPECT_TRUE(dialogs.boxes()[0].text.endsWith("The drop was refused: no key was changed."));
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(w->Tuning->Set.Row(i).File.isEmpty());
  EXPECT_FALSE(w->Tuning->Modified);
}

TEST_F(KeyboardWindowSetsTest, ADroppedSetFileOpensAfterTheSaveQuestion) {
  TForm11* w = Window(0);
  const QString show = folder.filePath("show.wql");
  w->Tuning->Set.SetCell(0, kLabelColumn, "Kick");
  ASSERT_TRUE(w->Tuning->SaveSet(show));
  const QString notSet = folder.filePath("notes.wql");
  QFile text(notSet);
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("not a set\n");
  text.close();
  w->Tuning->Set.SetCell(0, kLabelColumn, "unsaved");
  w->Tuning->Modified = true;

  DropFiles(w, QPoint(300, 70), {notSet});  // anywhere on the window
  ASSERT_TRUE(testing_support::WaitFor([&] { return !dialogs.boxes().empty(); }));
  EXPECT_EQ(dialogs.BoxTexts(), QStringList{notSet + " : Not a set file"});
  EXPECT_EQ(w->Tuning->Set.Row(0).Label, "unsaved");
  EXPECT_TRUE(w->Tuning->Modified);

  dialogs.Clear();
  dialogs.AnswerBoxes({platform::IDNO});
  DropFiles(w, QPoint(300, 70), {show});
  ASSERT_TRUE(testing_support::WaitFor([&] { return w->Tuning->FileName == show; }));
  EXPECT_EQ(dialogs.BoxTexts(), QStringList{"List modified. Save?"});
  EXPECT_EQ(w->Tuning->Set.Row(0).Label, "Kick");
  EXPECT_EQ(w->CoolLabel3->text(), "show.wql");
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

// The remote's switch is one for the user, whichever window's Options page
// shows it.
TEST(KeyboardWindowRemote, TheOscSwitchIsTheSameInEveryWindowsOptionsAndStartsTheRemote) {
  testing_support::TempConfig config;
  remote::RemoteSettings stored;
  {
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress::LocalHost, 0));
    stored.oscPort = probe.localPort();
  }
  stored.Write();
  TTuning::ExtraOptions = app::RemoteOptionsSection;
  Form11 = new TForm11(qApp);
  Form11->show();
  Form11->Image1Click();
  // The program starts its remote after the first window and its page.
  app::RemoteControl control;
  auto oscBox = [](TForm11* w) {
    for (QCheckBox* box : w->Tuning->findChildren<QCheckBox*>())
      if (box->text() == QLatin1String("OSC remote, UDP port")) return box;
    return static_cast<QCheckBox*>(nullptr);
  };
  QCheckBox* first = oscBox(FormList.at(0));
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->isChecked());
  first->click();
  EXPECT_TRUE(remote::RemoteSettings::Read().osc);
  EXPECT_TRUE(control.Status().startsWith(QStringLiteral("OSC: listening on 127.0.0.1 only")))
      << control.Status().toStdString();
  QStringList shown;
  for (QLabel* label : FormList.at(0)->Tuning->findChildren<QLabel*>()) shown << label->text();
  EXPECT_TRUE(shown.contains(control.Status()))
      << "the page shows another status than the remote's";
  TForm11* second = FormList.at(1);
  second->Tuning->show();
  second->Tuning->CoolPageControl1->setCurrentIndex(1);
  EXPECT_TRUE(oscBox(second)->isChecked());
  // A wheel turned over the page, passing the port's box, leaves the port.
  QSpinBox* port = nullptr;
  for (QSpinBox* box : second->Tuning->findChildren<QSpinBox*>())
    if (box->value() == stored.oscPort) port = box;
  ASSERT_NE(port, nullptr);
  QWheelEvent wheel(QPointF(5, 5), port->mapToGlobal(QPointF(5, 5)), {}, {0, 120}, Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(port, &wheel);
  EXPECT_EQ(port->value(), stored.oscPort) << "the wheel changed the port";
  delete Form11;
  TTuning::ExtraOptions = nullptr;
}

}  // namespace
