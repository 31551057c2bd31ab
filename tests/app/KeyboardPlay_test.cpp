// Playing keyboard windows on scripted media graphs: the group dispatch, the
// computer keys, the end-of-clip rules, the transport and the marks.

#include "app/FormList.h"
#include "app/morvela1.h"
#include "editor/Edit.h"
#include "engine/ScriptedMediaGraph.h"
#include "engine/cue/ArmedStart.h"
#include "engine/cue/HeadBudget.h"
#include "platform/ScriptedDialogs.h"
#include "platform/WindowMessages.h"
#include "support/MediaFiles.h"
#include "support/TestSupport.h"
#include "video/Video.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <map>

using engine::FilterState;
using engine::ScriptedClip;
using engine::ScriptedMediaGraph;

namespace {

// A scripted graph with an output where keys are armed.
struct ArmableGraph : ScriptedMediaGraph, engine::IArmedStart {
  std::shared_ptr<engine::ArmedStart> armed = std::make_shared<engine::ArmedStart>();
  std::shared_ptr<engine::ArmedStart> Armed() override { return armed; }
  void ContinueFromHead(std::int64_t, std::uint64_t) override {}
};

class KeyboardPlay : public ::testing::Test {
 protected:
  void SetUp() override {
    TForm11::MakeGraph = [this](int instance) {
      auto graph =
          armable ? std::make_shared<ArmableGraph>() : std::make_shared<ScriptedMediaGraph>();
      for (const auto& [path, clip] : clips_) graph->AddClip(path.toStdString(), clip);
      graphs[instance] = graph;
      return graph;
    };
    Form11 = new TForm11(qApp);
    Form11->show();
  }
  void TearDown() override {
    delete Form11;
    TForm11::MakeGraph = nullptr;
  }

  // A clip on disk that every window's graph can play (add before New).
  QString Clip(const QString& name, ScriptedClip clip = {}) {
    const QString path = testing_support::StandInFile(dir, name);
    clips_[path] = clip;
    for (auto& [instance, graph] : graphs) graph->AddClip(path.toStdString(), clip);
    return path;
  }

  static TForm11* W(int i) { return FormList.at(i); }
  static void New() { W(0)->Image1Click(); }
  static void SetGroup(int window, int group) { W(window)->Group->setText(QString::number(group)); }
  static void SetRow(int window, int row, const QString& file, const QString& label = "L",
                     const QString& min = "0", const QString& max = "10000",
                     const QString& rate = "100") {
    KeySet& set = W(window)->Tuning->Set;
    set.SetCell(row, kLabelColumn, label);
    set.SetCell(row, kFileColumn, file);
    set.SetCell(row, kMinColumn, min);
    set.SetCell(row, kMaxColumn, max);
    set.SetCell(row, kRateColumn, rate);
  }
  bool Running(int window) { return graphs[window]->Target() == FilterState::State_Running; }
  int Count(int window, const std::string& call) {
    const auto& calls = graphs[window]->Calls();
    return static_cast<int>(std::count_if(
        calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(call, 0) == 0; }));
  }
  // Types one character into a window, through the window's key preview.
  static void Type(TForm11* w, QChar c, bool autoRepeat = false, bool release = true,
                   quint64 time = 0) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : w;
    const int code = c.isLetter() ? Qt::Key_A + (c.toUpper().unicode() - 'A') : c.unicode();
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, QString(c), autoRepeat);
    press.setTimestamp(time ? time : ++clock_);
    QApplication::sendEvent(target, &press);
    if (!release) return;
    QKeyEvent up(QEvent::KeyRelease, code, Qt::NoModifier, QString(c), autoRepeat);
    up.setTimestamp(++clock_);
    QApplication::sendEvent(target, &up);
    LetReleasesThrough();
  }
  // Releases a letter ("a"); returns the release's timestamp.
  static quint64 Release(TForm11* w, bool autoRepeat = false, char letter = 'a') {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : w;
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_A + (letter - 'a'), Qt::NoModifier,
                 QString(QChar(letter)), autoRepeat);
    up.setTimestamp(++clock_);
    QApplication::sendEvent(target, &up);
    return clock_;
  }
  // A release takes effect once no repeat press has followed it for a moment.
  static void LetReleasesThrough() { QTest::qWait(60); }
  static inline quint64 clock_ = 1000;
  // The clip reaches its stop position in window i.
  void ReachStopMark(int window) {
    graphs[window]->QueueEvent(1);
    QCoreApplication::processEvents();
  }

  testing_support::TempConfig config;
  platform::ScriptedDialogs dialogs;
  QTemporaryDir dir;
  std::map<int, std::shared_ptr<ScriptedMediaGraph>> graphs;
  bool armable = false;  // windows made from now on

 private:
  std::map<QString, ScriptedClip> clips_;
};

TEST_F(KeyboardPlay, AKeyInOneWindowPlaysEveryWindowOfItsGroupAndNoOther) {
  const QString tone = Clip("tone.wav");
  New();
  New();
  SetGroup(1, 0);
  for (int w : {0, 1, 2}) SetRow(w, 0, tone);
  Type(W(1), 'a', false, false);
  EXPECT_TRUE(Running(0));
  EXPECT_TRUE(Running(1));
  EXPECT_FALSE(Running(2));
  EXPECT_EQ(W(0)->CurrentKey, 0);
  EXPECT_EQ(W(2)->CurrentKey, -1);
  EXPECT_TRUE(W(0)->KeyHeld && W(1)->KeyHeld && !W(2)->KeyHeld);
  // The release stops both (Sustain off) and frees the typed keys again.
  Release(W(1));
  LetReleasesThrough();
  EXPECT_FALSE(Running(0) || Running(1));
  EXPECT_FALSE(W(0)->KeyHeld || W(1)->KeyHeld);
}

TEST_F(KeyboardPlay, AMissingFileInTheMiddleOfAGroupShowsOneBoxAndTheOthersPlay) {
  const QString tone = Clip("tone.wav");
  New();
  New();
  SetGroup(1, 0);
  SetGroup(2, 0);
  SetRow(0, 3, tone);
  SetRow(1, 3, dir.filePath("gone.wav"), "Gone");
  SetRow(2, 3, tone);
  W(0)->Keys1->NoteOn(3, 0, true);
  EXPECT_TRUE(Running(0));
  EXPECT_TRUE(Running(2));
  EXPECT_FALSE(Running(1));
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Information");
  // The player's text first, then where the clip was looked for.
  EXPECT_TRUE(dialogs.boxes()[0].text.startsWith("The specified file can not be found.\n" +
                                                 dir.filePath("gone.wav") + " : Clip not found"))
      << dialogs.boxes()[0].text.toStdString();
  EXPECT_FALSE(W(1)->ClipLoaded);
  // The key shows as the current one all the same.
  EXPECT_EQ(W(1)->CurrentKey, 3);
  EXPECT_EQ(W(1)->Label1->text(), "Gone");
}

TEST_F(KeyboardPlay, ALongLabelEndsInAnEllipsisInsteadOfBeingCutOnBothSides) {
  SetRow(0, 0, Clip("tone.wav"), "Opening fanfare, second take, louder & longer");
  W(0)->Keys1->NoteOn(0, 0, true);
  const QPushButton* label = W(0)->Label1;
  EXPECT_TRUE(label->text().startsWith("Opening")) << label->text().toStdString();
  EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
  EXPECT_LT(label->fontMetrics().horizontalAdvance(label->text()), label->width());
}

TEST_F(KeyboardPlay, AKeyBeyondAWindowsRowsEndsTheDispatchSilently) {
  const QString tone = Clip("tone.wav");
  New();
  SetGroup(1, 0);
  W(0)->Tuning->Set.GrowTo(100);
  SetRow(0, 90, tone);
  W(0)->Keys1->NoteOn(90, 0, true);
  EXPECT_TRUE(Running(0));
  EXPECT_EQ(W(1)->CurrentKey, -1);
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(KeyboardPlay, ComputerKeysFollowTheMapAndAHeldKeyPlaysOnce) {
  const QString tone = Clip("tone.wav");
  for (int row : {0, 39, 40}) SetRow(0, row, tone, QString::number(row));
  Type(W(0), 'A');
  EXPECT_EQ(W(0)->CurrentKey, 40);
  Type(W(0), '*');
  EXPECT_EQ(W(0)->CurrentKey, 39);
  Type(W(0), '=');
  EXPECT_EQ(W(0)->CurrentKey, 39);
  EXPECT_FALSE(W(0)->KeyHeld);

  // Held "a": the system repeats it as release and press pairs.
  graphs[0]->ClearCalls();
  Type(W(0), 'a', false, false);
  for (int i = 0; i < 5; ++i) {
    Release(W(0), true);
    Type(W(0), 'a', true, false);
  }
  EXPECT_EQ(Count(0, "RenderFile"), 1);
  EXPECT_TRUE(Running(0));
  // Pairs that Qt did not mark: the press carries the release's timestamp.
  for (int i = 0; i < 5; ++i) Type(W(0), 'a', false, false, Release(W(0)));
  LetReleasesThrough();
  EXPECT_EQ(Count(0, "RenderFile"), 1);
  EXPECT_TRUE(Running(0));
  Release(W(0));
  EXPECT_TRUE(Running(0));  // not yet: a repeat press may follow
  LetReleasesThrough();
  EXPECT_FALSE(Running(0));
}

TEST_F(KeyboardPlay, AnotherKeyRightAfterAReleaseLetsTheReleaseGoFirst) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone);
  SetRow(0, 1, tone);
  Type(W(0), 'a', false, false);
  Release(W(0));
  Type(W(0), 'b', false, false);  // plays at once: "a" was let go before it
  EXPECT_EQ(W(0)->CurrentKey, 1);
  EXPECT_TRUE(Running(0));
}

TEST_F(KeyboardPlay, AHeldKeyBlocksTypedKeysInTheGroupButSpaceStillStops) {
  const QString tone = Clip("tone.wav");
  New();
  SetGroup(1, 0);
  for (int w : {0, 1}) {
    SetRow(w, 0, tone);
    SetRow(w, 1, tone);
  }
  W(0)->Keys1->NoteOn(0, 0, true);  // the mouse holds key 0 in window 0
  Type(W(1), 'b', false, false);
  EXPECT_EQ(W(1)->CurrentKey, 0);
  Type(W(1), ' ', false, false);
  EXPECT_FALSE(Running(0) || Running(1));
  EXPECT_TRUE(W(0)->KeyHeld);  // Stop does not let the key go
}

TEST_F(KeyboardPlay, AKeyWithoutAFileTogglesItsSetEditorAndHidesAnyOther) {
  New();
  W(1)->CoolBtn1Click();
  ASSERT_TRUE(W(1)->Tuning->isVisible());
  W(0)->Keys1->NoteOn(7, 0, true);
  EXPECT_TRUE(W(0)->Tuning->isVisible());
  EXPECT_FALSE(W(1)->Tuning->isVisible());
  EXPECT_EQ(W(0)->CurrentKey, -1);
  W(0)->Keys1->NoteOff(7, 0, true);
  W(0)->Keys1->NoteOn(7, 0, true);
  EXPECT_FALSE(W(0)->Tuning->isVisible());
}

TEST_F(KeyboardPlay, ATypedKeyWhoseSetEditorComesUpIsLetGoWhenTheWindowLosesFocus) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 1, tone);
  QApplication::setActiveWindow(W(0));
  ASSERT_TRUE(testing_support::WaitFor([] { return W(0)->isActiveWindow(); }));
  Type(W(0), 'a', false, false);  // no clip: the set editor comes up
  ASSERT_TRUE(W(0)->Tuning->isVisible());
  QApplication::setActiveWindow(W(0)->Tuning);  // and takes the release
  ASSERT_TRUE(testing_support::WaitFor([] { return !W(0)->KeyHeld; }));
  QApplication::setActiveWindow(W(0));
  Type(W(0), 'b', false, false);
  EXPECT_EQ(W(0)->CurrentKey, 1);
}

// A typed key without a clip here plays the group's other windows; its
// release lets that key go in every window, not the key current here.
TEST_F(KeyboardPlay, ATypedKeyWithoutAClipHereIsLetGoInTheGroupOnItsRelease) {
  const QString tone = Clip("tone.wav");
  New();
  SetGroup(1, 0);
  SetRow(1, 1, tone);
  Type(W(0), 'b', false, false);
  ASSERT_TRUE(Running(1));
  Release(W(0), false, 'b');
  LetReleasesThrough();
  EXPECT_FALSE(Running(1)) << "window 1 plays on after the key was let go";
  EXPECT_FALSE(W(0)->Keys1->IsPressed(1)) << "the key is drawn held";
}

// Window activation is the window manager's to give: these run on a real X
// server under openbox (app_desktop_test), with keys typed through it.
class KeyboardPlayOnDesktop : public KeyboardPlay {
 protected:
  static void TypeOnDesktop(const char* key) {
    ASSERT_EQ(QProcess::execute("xdotool", {"key", key}), 0);
  }
};

TEST_F(KeyboardPlayOnDesktop, ASetEditorShownByTheGroupLeavesTheKeysToThePlayedWindow) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  const QString tone = Clip("tone.wav");
  New();
  SetGroup(1, 0);
  SetRow(0, 0, tone);  // window 1 has no clip for "a" and "b"
  SetRow(0, 1, tone);
  // The key editor is up: the set editor that hides shows it again,
  // detached, and that must not take the keys either.
  TEdit1 keyEditor;
  TTuning::Editor = &keyEditor;
  keyEditor.show();
  W(0)->activateWindow();
  ASSERT_TRUE(testing_support::WaitFor([] { return W(0)->isActiveWindow(); }));
  TypeOnDesktop("a");
  ASSERT_TRUE(testing_support::WaitFor(
      [] { return W(1)->Tuning->isVisible() && W(1)->Tuning->windowHandle()->isExposed(); }));
  TypeOnDesktop("b");
  EXPECT_TRUE(testing_support::WaitFor([] { return W(0)->CurrentKey == 1; }));
  EXPECT_FALSE(W(1)->Tuning->isVisible());
  TypeOnDesktop("a");
  EXPECT_TRUE(testing_support::WaitFor([] { return W(0)->CurrentKey == 0; }));
  EXPECT_TRUE(W(0)->isActiveWindow());
  TTuning::Editor = nullptr;
}

// A box takes the keyboard: the key's release goes to it, and closing it may
// leave the focus elsewhere in the window. The key must neither play twice
// nor stay held, so that the next key typed sounds.
TEST_F(KeyboardPlay, AKeyWhoseClipFailsShowsOneBoxAndTheNextTypedKeyPlays) {
  struct FocusMovingBoxes : platform::ScriptedDialogs {
    QWidget* focusAfter = nullptr;
    int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                   platform::BoxIcon icon, platform::BoxButtons buttons) override {
      const int answer = ScriptedDialogs::MessageBox(owner, text, caption, icon, buttons);
      focusAfter->setFocus();
      return answer;
    }
  };
  const QString tone = Clip("tone.wav");
  const QString bad =
      Clip("bad.mp3", ScriptedClip{.RenderResult = engine::VFW_E_INVALID_FILE_FORMAT});
  SetRow(0, 0, tone);
  SetRow(0, 1, bad);
  {
    FocusMovingBoxes boxes;
    boxes.focusAfter = W(0);
    W(0)->Loop->setFocus();
    Type(W(0), 'b', false, /*release=*/false);
    EXPECT_EQ(boxes.boxes().size(), 1u) << boxes.BoxTexts().join("\n").toStdString();
  }
  platform::SetDialogProvider(&dialogs);
  Type(W(0), 'a');
  EXPECT_EQ(W(0)->CurrentKey, 0);
  EXPECT_EQ(Count(0, "Run"), 1);
}

// The real box, closed with the mouse as a user does: the window is
// activated again while the key typed is still climbing to its parents.
TEST_F(KeyboardPlayOnDesktop, ATypedKeyWhoseClipFailsShowsOneRealBox) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  const QString bad =
      Clip("bad.mp3", ScriptedClip{.RenderResult = engine::VFW_E_INVALID_FILE_FORMAT});
  SetRow(0, 1, bad);
  platform::SetDialogProvider(nullptr);
  int boxes = 0;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    ++boxes;
    QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
  });
  closer.start(50);
  W(0)->activateWindow();
  ASSERT_TRUE(testing_support::WaitFor([] { return W(0)->isActiveWindow(); }));
  TypeOnDesktop("b");
  // A second box would come up before the first one's key is done with.
  EXPECT_TRUE(testing_support::WaitFor([&] { return boxes > 0; }));
  EXPECT_EQ(boxes, 1);
  platform::SetDialogProvider(&dialogs);
}

TEST_F(KeyboardPlay, PressingThePlayingKeyAgainStartsItFromItsStartMark) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone, "L", "2500", "7500");
  W(0)->Keys1->NoteOn(0, 0, true);
  W(0)->Keys1->NoteOff(0, 0, true);
  W(0)->Sustain->setChecked(true);
  W(0)->Keys1->NoteOn(0, 0, true);
  EXPECT_TRUE(Running(0));
  EXPECT_EQ(graphs[0]->Current(), 150000000);  // 25 % of 60 s
  EXPECT_EQ(graphs[0]->StopAt(), 450000000);
  EXPECT_EQ(W(0)->LcdTot->Value(), "6000");
  EXPECT_EQ(W(0)->LcdMin->Value(), "2500");
  EXPECT_EQ(W(0)->LcdMax->Value(), "7500");
  EXPECT_EQ(W(0)->LKey1->text(), "a");
}

TEST_F(KeyboardPlay, MinAboveMaxPutsBothMarksAtMaxAndTheRateBarClamps) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone, "L", "9000", "1000", "0");
  SetRow(0, 1, tone, "L", "0", "10000", "500");
  W(0)->Keys1->NoteOn(0, 0, true);
  EXPECT_EQ(W(0)->Slider1->MinPosition(), 1000);
  EXPECT_EQ(W(0)->Slider1->MaxPosition(), 1000);
  EXPECT_EQ(graphs[0]->Current(), 60000000);
  EXPECT_EQ(W(0)->Rate1->value(), 1);
  EXPECT_DOUBLE_EQ(graphs[0]->Rate(), 0.01);
  W(0)->Keys1->NoteOff(0, 0, true);
  W(0)->Keys1->NoteOn(1, 0, true);
  EXPECT_EQ(W(0)->Rate1->value(), 300);
  EXPECT_DOUBLE_EQ(graphs[0]->Rate(), 3.0);
  EXPECT_EQ(W(0)->BarHint(W(0)->Rate1), "Rate 300/100");
  // Loading the row's values writes nothing back into the set.
  EXPECT_FALSE(W(0)->Tuning->Modified);
}

TEST_F(KeyboardPlay, ANonNumericMarkIsShownAndTheKeyStaysSilent) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone, "L", "abc");
  W(0)->Keys1->NoteOn(0, 0, true);
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_TRUE(dialogs.boxes()[0].text.contains("abc"));
  EXPECT_FALSE(Running(0));
}

// A note may be armed on the output while a row is being changed: the
// change reaches the output at once, before this window handles any note.
TEST_F(KeyboardPlay, AChangedRowIsToldToTheOutputBeforeAnyNoteIsHandled) {
  armable = true;
  New();
  const auto armed = std::dynamic_pointer_cast<ArmableGraph>(graphs[1])->armed;
  SetRow(1, 0, Clip("tone.wav"));
  ASSERT_TRUE(testing_support::WaitFor(
      [&] { return armed->VerdictOf(0) == engine::ArmedStart::Verdict::Plays; }));
  W(1)->Tuning->Set.SetCell(0, kMinColumn, "abc");
  EXPECT_EQ(armed->VerdictOf(0), engine::ArmedStart::Verdict::Silent);
}

// Every key holds a head of its clip, within the heads' memory: over it
// the key played last keeps its head. A clip replaced on disk has its head
// read again.
TEST_F(KeyboardPlay, KeysHoldHeadsWithinTheirMemoryAndAReplacedClipIsReadAgain) {
  armable = true;
  New();
  SetGroup(1, 1);  // pressed alone
  const auto armed = std::dynamic_pointer_cast<ArmableGraph>(graphs[1])->armed;
  armed->Prepare(4, 48000, 2);
  // Real clips behind the scripted ones: heads are decoded for real.
  const auto real = [&](const QString& name, const QString& from) {
    const QString path = Clip(name);
    QFile::remove(path);
    EXPECT_TRUE(QFile::copy(from, path));
    return path;
  };
  const QString first = real("first.wav", media_files::ToneWav());
  SetRow(1, 0, first, "A", "0", "10000", "150");
  SetRow(1, 1, real("second.wav", media_files::ToneWav()));
  ASSERT_TRUE(testing_support::WaitFor([&] { return armed->Armable(0) && armed->Armable(1); }));
  // The loudest sample of key `key`'s head in its first cycle; -1 when it
  // can't be armed.
  std::uint64_t at = 0;  // the output's cycles, one after the other
  const auto headLevel = [&](int key) {
    if (!armed->Arm(key)) return -1.0f;
    std::vector<float> ring(512 * 2, 0.0f), out(ring.size()), fade(ring.size());
    armed->Mix(ring.data(), out.data(), 512, at, false, std::uint32_t(at));
    armed->Withdraw();
    armed->Mix(ring.data(), fade.data(), 512, at + 512, false, std::uint32_t(at + 512));
    at += 1024;
    float level = 0;
    for (std::size_t i = 0; i < 400 * 2; ++i) level = std::max(level, std::abs(out[i]));
    return level;
  };
  EXPECT_GT(headLevel(0), 0.1f);

  auto& budget = engine::HeadBudget::Instance();
  const engine::HeadLimits before = budget.Limits();
  engine::HeadLimits one = before;
  one.Bytes = 48000 * one.Milliseconds / 1000 * 2 * 4;
  budget.SetLimits(one);
  EXPECT_TRUE(testing_support::WaitFor([&] { return armed->Armable(0) && !armed->Armable(1); }));
  W(1)->Keys1->NoteOn(1, 0, true);
  W(1)->Keys1->NoteOff(1, 0, true);
  EXPECT_TRUE(testing_support::WaitFor([&] { return !armed->Armable(0) && armed->Armable(1); }));
  budget.SetLimits(before);
  ASSERT_TRUE(testing_support::WaitFor([&] { return armed->Armable(0); }));
  QTest::qWait(500);  // every read asked for meanwhile is back
  EXPECT_GT(headLevel(0), 0.1f);

  QFile::remove(first);
  ASSERT_TRUE(QFile::copy(media_files::SilentWav(), first));
  EXPECT_TRUE(testing_support::WaitFor([&] { return headLevel(0) == 0.0f; }))
      << "the replaced clip's old head still sounds";
}

struct EndRow {
  bool loop, sustain, held;
  const char* outcome;  // "restart", "stop", "rest"
};

class EndOfClipInWindow : public KeyboardPlay, public ::testing::WithParamInterface<EndRow> {};

TEST_P(EndOfClipInWindow, FollowsTheLoopAndSustainTable) {
  const EndRow row = GetParam();
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone, "L", "1000", "2000");
  W(0)->Loop->setChecked(row.loop);
  W(0)->Sustain->setChecked(row.sustain);
  W(0)->Keys1->NoteOn(0, 0, true);
  if (!row.held) W(0)->Keys1->NoteOff(0, 0, true);
  if (!row.held && !row.sustain) {
    // Released without Sustain, the clip has stopped already: nothing to do.
    ASSERT_FALSE(Running(0));
    return;
  }
  graphs[0]->ClearCalls();
  ReachStopMark(0);
  const std::string outcome = row.outcome;
  EXPECT_EQ(Count(0, "SetPositions") > 0, outcome == "restart");
  EXPECT_EQ(Running(0), outcome != "stop");
  EXPECT_EQ(W(0)->Player->State, outcome == "stop" ? fsStopped : fsPlaying);
  EXPECT_TRUE(W(0)->Timer1->isActive());
}

INSTANTIATE_TEST_SUITE_P(
    Table, EndOfClipInWindow,
    ::testing::Values(EndRow{true, false, true, "restart"}, EndRow{true, true, false, "restart"},
                      EndRow{true, true, true, "restart"}, EndRow{false, true, true, "stop"},
                      EndRow{false, true, false, "stop"}, EndRow{false, false, true, "rest"}));

TEST_F(KeyboardPlay, OtherMediaEventsDoNothingAndPlayDoesNothingAtTheEnd) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone);
  W(0)->Keys1->NoteOn(0, 0, true);
  graphs[0]->ClearCalls();
  graphs[0]->QueueEvent(3);
  QCoreApplication::processEvents();
  ReachStopMark(0);  // resting at the end, still "playing"
  W(0)->CoolBtn2Click();
  EXPECT_EQ(Count(0, "Run"), 0);
  EXPECT_EQ(Count(0, "SetPositions"), 0);
}

TEST_F(KeyboardPlay, StopStopsTheWholeGroupAndLeavesLoopAsItWas) {
  const QString tone = Clip("tone.wav");
  New();
  New();
  SetGroup(1, 0);
  for (int w : {0, 1, 2}) {
    SetRow(w, 0, tone);
    W(w)->Loop->setChecked(true);
    W(w)->Sustain->setChecked(true);
  }
  W(0)->Keys1->NoteOn(0, 0, true);
  W(2)->Keys1->NoteOn(0, 0, true);
  W(1)->hide();  // a hidden window keeps its part in the group
  W(0)->StopClick();
  EXPECT_FALSE(Running(0) || Running(1));
  EXPECT_TRUE(Running(2));
  for (int w : {0, 1, 2}) EXPECT_TRUE(W(w)->Loop->isChecked());
  // Play resumes the clip of the window whose button is pressed.
  W(0)->CoolBtn2Click();
  EXPECT_TRUE(Running(0));
  EXPECT_FALSE(Running(1));
}

TEST_F(KeyboardPlay, UntickingLoopStopsThisWindowOnly) {
  const QString tone = Clip("tone.wav");
  New();
  SetGroup(1, 0);
  for (int w : {0, 1}) SetRow(w, 0, tone);
  W(0)->Keys1->NoteOn(0, 0, true);
  W(0)->Loop->setChecked(false);
  W(0)->LoopClick();
  EXPECT_FALSE(Running(0));
  EXPECT_TRUE(Running(1));
}

TEST_F(KeyboardPlay, UntickingSustainReleasesKeyOneInTheGroup) {
  const QString tone = Clip("tone.wav");
  New();
  SetRow(0, 5, tone);
  SetRow(1, 1, tone);
  W(0)->Sustain->setChecked(true);
  W(0)->Keys1->NoteOn(5, 0, true);  // window 0 holds key 5
  W(1)->Keys1->NoteOn(1, 0, true);  // window 1, in a group of its own, key 1
  SetGroup(1, 0);
  ASSERT_TRUE(Running(0) && Running(1));
  W(0)->Sustain->setChecked(false);
  W(0)->SustainClick();
  EXPECT_FALSE(W(0)->KeyHeld || W(1)->KeyHeld);
  EXPECT_TRUE(Running(0));   // its key is 5, not 1
  EXPECT_FALSE(Running(1));  // current key 1, Sustain off, held
}

TEST_F(KeyboardPlay, MovingTheMarksWritesTheCurrentRowAndResetsTheRate) {
  const QString tone = Clip("tone.wav");
  TForm11* w = W(0);
  // Before any key: only the displays change, though the rate bar marks the
  // set modified all the same.
  w->Slider1->SetMaxPosition(8000);
  EXPECT_EQ(w->LcdMax->Value(), "8000");
  EXPECT_FALSE(w->Tuning->Modified);
  w->Rate1->setValue(150);
  EXPECT_TRUE(w->Tuning->Modified);
  EXPECT_EQ(w->Tuning->Set.Row(0).Rate, "100");
  w->Tuning->Modified = false;

  SetRow(0, 0, tone, "L", "0", "10000", "150");
  w->Keys1->NoteOn(0, 0, true);
  ASSERT_EQ(w->Rate1->value(), 150);
  graphs[0]->ClearCalls();
  w->Slider1->SetMaxPosition(5000);
  EXPECT_EQ(w->Tuning->Set.Row(0).Max, "5000");
  EXPECT_EQ(w->Tuning->Set.Row(0).Rate, "100");
  EXPECT_EQ(w->Rate1->value(), 100);
  EXPECT_DOUBLE_EQ(graphs[0]->Rate(), 1.0);
  EXPECT_TRUE(w->Tuning->Modified);
  EXPECT_EQ(graphs[0]->StopAt(), 300000000);
  EXPECT_EQ(graphs[0]->Current(), 0);  // back to the start mark
  // The clip plays on past the new start mark, undisturbed.
  w->Player->SetRelativePosition(10000, 3000, 0);
  ASSERT_TRUE(testing_support::WaitFor([&] { return w->Slider1->Position() == 3000; }));
  graphs[0]->ClearCalls();
  w->Slider1->SetMinPosition(1000);
  EXPECT_EQ(w->Tuning->Set.Row(0).Min, "1000");
  EXPECT_EQ(Count(0, "SetPositions"), 0);  // takes effect at the next start
  EXPECT_EQ(w->LcdMin->Value(), "1000");
}

TEST_F(KeyboardPlay, TheVolumeBarSetsTheVolumeAndItsHint) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone);
  TForm11* w = W(0);
  EXPECT_EQ(w->BarHint(w->CoolScrollbar1), "Volume");
  w->Keys1->NoteOn(0, 0, true);
  const long before = graphs[0]->Volume();
  w->CoolScrollbar1->setValue(30);
  EXPECT_EQ(w->BarHint(w->CoolScrollbar1), "Volume 70/100");
  EXPECT_LT(graphs[0]->Volume(), before);
  w->CoolScrollbar1->setValue(100);
  EXPECT_EQ(w->BarHint(w->CoolScrollbar1), "Volume 0/100");
  // Neither bar shows a system tooltip.
  EXPECT_TRUE(w->CoolScrollbar1->toolTip().isEmpty());
  EXPECT_TRUE(w->Rate1->toolTip().isEmpty());
}

TEST_F(KeyboardPlay, TheDisplayRefreshFollowsThePlayingClip) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone, "L", "0", "10000");
  TForm11* w = W(0);
  w->Keys1->NoteOn(0, 0, true);
  w->Player->SetRelativePosition(10000, 2500, 0);
  ASSERT_TRUE(testing_support::WaitFor([&] { return w->LcdCurp->Value() == "2500"; }));
  EXPECT_EQ(w->LcdCur->Value(), "1500");
  EXPECT_EQ(w->Slider1->Position(), 2500);
}

TEST_F(KeyboardPlay, ACurrentKeyDisplayClickReplaysTheKeyOnceOneWasPlayed) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 2, tone, "Two");
  TForm11* w = W(0);
  w->LKey1MouseDown();
  w->LKey1MouseUp();
  EXPECT_EQ(Count(0, "RenderFile"), 0);
  EXPECT_FALSE(w->KeyHeld);
  w->Keys1->NoteOn(2, 0, true);
  w->Keys1->NoteOff(2, 0, true);
  graphs[0]->ClearCalls();
  w->LKey1MouseDown();
  EXPECT_TRUE(Running(0));
  EXPECT_EQ(Count(0, "RenderFile"), 1);
  w->LKey1MouseUp();
  EXPECT_FALSE(Running(0));
}

TEST_F(KeyboardPlay, AClipWithAPictureShowsTheVideoWindowWithItsCaption) {
  ScriptedClip picture;
  picture.HasVideo = true;
  const QString avi = Clip("red.avi", picture);
  const QString tone = Clip("tone.wav");
  New();
  New();
  SetRow(0, 0, avi, "Intro");
  SetRow(2, 0, avi, "Intro");
  SetRow(0, 1, tone);
  W(0)->Keys1->NoteOn(0, 0, true);
  EXPECT_TRUE(W(0)->Video->isVisible());
  EXPECT_EQ(W(0)->Video->windowTitle(), "Tastivo : Intro");
  W(2)->Keys1->NoteOn(0, 0, true);
  EXPECT_EQ(W(2)->Video->windowTitle(), "Tastivo 2: Intro");
  W(0)->Keys1->NoteOff(0, 0, true);
  W(0)->Keys1->NoteOn(1, 0, true);
  EXPECT_FALSE(W(0)->Video->isVisible());
}

TEST_F(KeyboardPlay, TheKeyHintHidesOnceTheMouseHasLeftTheKeyboard) {
  SetRow(0, 4, QString(), "Drums");
  TForm11* w = W(0);
  w->Keys1MouseOn(w->Keys1, 4, 0);
  EXPECT_TRUE(w->HintWindow->isVisible());
  EXPECT_EQ(w->HintWindow->text(), "Drums");
  EXPECT_TRUE(w->KTHint->isActive());
  QCursor::setPos(w->mapToGlobal(w->Cool1->geometry().center()));
  w->KTHintTimer();
  EXPECT_TRUE(w->HintWindow->isVisible());
  QCursor::setPos(w->mapToGlobal(QPoint(5, 5)));
  w->KTHintTimer();
  EXPECT_FALSE(w->HintWindow->isVisible());
  EXPECT_FALSE(w->KTHint->isActive());
  // A note without a row shows nothing and raises nothing.
  w->Keys1MouseOn(w->Keys1, 120, 0);
  EXPECT_FALSE(w->HintWindow->isVisible());
}

TEST_F(KeyboardPlay, AKeyWithoutALabelShowsNoHintBox) {
  SetRow(0, 4, QString(), "Drums");
  TForm11* w = W(0);
  w->Keys1MouseOn(w->Keys1, 4, 0);
  EXPECT_TRUE(w->HintWindow->isVisible());
  w->Keys1MouseOn(w->Keys1, 5, 0);
  EXPECT_FALSE(w->HintWindow->isVisible());
}

TEST_F(KeyboardPlay, MidiKeyMessagesPressAndReleaseTheKeyboard) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 2, tone);
  platform::SendMessage(W(0), platform::WM_PLAYERNOTIFY, 2, platform::PN_KEYDOWN);
  EXPECT_TRUE(Running(0));
  EXPECT_TRUE(W(0)->Keys1->IsPressed(2));
  platform::SendMessage(W(0), platform::WM_PLAYERNOTIFY, 2, platform::PN_KEYUP);
  EXPECT_FALSE(Running(0));
}

}  // namespace

namespace {

TEST(KeyboardVideoOptions, TheSetEditorsVideoBoxesActOnTheWindowsOwnVideoWindow) {
  testing_support::TempConfig config;
  platform::ScriptedDialogs dialogs;
  Form11 = new TForm11(qApp);
  Form11->Image1Click();
  TForm11* second = FormList.at(1);
  const bool before = second->Video->ARatio->isChecked();
  second->Tuning->KeepRatio->click();
  EXPECT_NE(second->Video->ARatio->isChecked(), before);
  EXPECT_EQ(Form11->Video->ARatio->isChecked(), before);
  EXPECT_EQ(second->Tuning->KeepRatio->isChecked(), second->Video->ARatio->isChecked());
  delete Form11;
}

}  // namespace

namespace {

TEST_F(KeyboardPlay, AClipWithoutSoundLeavesTheVolumeBarWhereItWas) {
  ScriptedClip silent;
  silent.HasAudio = false;
  silent.HasVideo = true;
  const QString avi = Clip("silent.avi", silent);
  SetRow(0, 0, avi);
  TForm11* w = W(0);
  w->CoolScrollbar1->setValue(40);
  w->Keys1->NoteOn(0, 0, true);
  QTest::qWait(3 * TForm11::kRefreshIntervalMs);
  EXPECT_EQ(w->CoolScrollbar1->value(), 40);
}

}  // namespace

namespace {

TEST_F(KeyboardPlay, KeysTypedIntoAClipsPictureWindowPlayItsKeyboardWindow) {
  ScriptedClip picture;
  picture.HasVideo = true;
  const QString avi = Clip("red.avi", picture);
  SetRow(0, 0, avi);
  SetRow(0, 1, avi);
  TForm11* w = W(0);
  w->Keys1->NoteOn(0, 0, true);
  w->Keys1->NoteOff(0, 0, true);
  ASSERT_TRUE(w->Video->isVisible());
  EXPECT_TRUE(w->Video->testAttribute(Qt::WA_ShowWithoutActivating));
  QApplication::setActiveWindow(w->Video);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "b");
  QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : w->Video,
                          &press);
  EXPECT_EQ(w->CurrentKey, 1);
}

}  // namespace

namespace {

TEST_F(KeyboardPlay, ALostSoundOutputIsToldInTheCaptionBarWithoutABox) {
  const QString tone = Clip("tone.wav");
  SetRow(0, 0, tone);
  TForm11* w = W(0);
  w->Keys1->NoteOn(0, 0, true);  // the first clip's own notice, if any
  w->Keys1->NoteOff(0, 0, true);
  dialogs.Clear();
  engine::ReportOutputLost("the sound server went away");
  w->Keys1->NoteOn(0, 0, true);
  EXPECT_TRUE(dialogs.boxes().empty());
  EXPECT_NE(w->CoolLabel3->text(), "Set name");
  EXPECT_FALSE(w->CoolLabel3->text().isEmpty());
}

}  // namespace
