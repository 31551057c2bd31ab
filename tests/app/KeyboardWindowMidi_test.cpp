#include "app/FormList.h"
#include "app/morvela1.h"
#include "platform/ScriptedDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/WindowMessages.h"
#include "support/TestSupport.h"
#include "support/VirtualMidiSource.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTabWidget>

#include <memory>
#include <string>
#include <vector>

using platform::PN_KEYDOWN;
using platform::PN_KEYUP;
using platform::WM_PLAYERNOTIFY;

namespace {

class KeyboardWindowMidiTest : public ::testing::Test {
 protected:
  void Start() {
    Form11 = new TForm11(qApp);
    Keys(0)->OnNoteOn = [this](QObject*, int note, int) { notes.push_back(note); };
    Keys(0)->OnNoteOff = [this](QObject*, int note, int) { notes.push_back(-1 - note); };
    Form11->show();
  }
  void TearDown() override { delete Form11; }
  static TForm11* Window(int i) { return FormList.at(i); }
  static controls::TKeys* Keys(int i) { return Window(i)->Keys1; }

  testing_support::TempConfig config;
  platform::ScriptedDialogs dialogs;
  std::vector<int> notes;  // note-on n as n, note-off n as -1 - n
};

TEST_F(KeyboardWindowMidiTest, KeyMessagesPressAndReleaseTheKeyboard) {
  Start();
  platform::SendMessage(Form11, WM_PLAYERNOTIFY, 5, PN_KEYDOWN);
  EXPECT_TRUE(Keys(0)->IsPressed(5));
  platform::SendMessage(Form11, WM_PLAYERNOTIFY, 5, PN_KEYDOWN);  // notifies again
  platform::SendMessage(Form11, WM_PLAYERNOTIFY, 5, PN_KEYUP);
  EXPECT_FALSE(Keys(0)->IsPressed(5));
  EXPECT_EQ(notes, (std::vector<int>{5, 5, -6}));
}

TEST_F(KeyboardWindowMidiTest, NoDeviceShowsTheMessageAndUnticks) {
  Start();
  Form11->Tuning->Device1->clear();
  Form11->MidiIn1->click();
  EXPECT_EQ(dialogs.BoxTexts(), QStringList{"Midi In Failed: Busy or not found"});
  EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo:  Information");
  EXPECT_FALSE(Form11->MidiIn1->isChecked());
  ASSERT_TRUE(Form11->MidiDevice);  // kept, closed, until the box changes again
  EXPECT_EQ(Form11->MidiDevice->GetState(), midi::CMIDIInDevice::closed);
}

TEST_F(KeyboardWindowMidiTest, RestoredTickSwitchesInputOnAtTheFirstShow) {
  {
    platform::SettingsStore store;
    store.OpenKey("Software\\Tastivo", true);
    for (const char* name : {"ftop", "fleft", "mtop", "mleft", "loop", "sustain"})
      store.WriteInteger(name, 0);
    store.WriteBool("midi", true);
    store.CloseKey();
  }
  Form11 = new TForm11(qApp);
  EXPECT_TRUE(Form11->MidiIn1->isChecked());
  Form11->Tuning->Device1->clear();
  Form11->show();
  EXPECT_EQ(dialogs.BoxTexts(), QStringList{"Midi In Failed: Busy or not found"});
  EXPECT_FALSE(Form11->MidiIn1->isChecked());
}

TEST_F(KeyboardWindowMidiTest, NotesFromADevicePlayTheKeysOfTheWindowHoldingInput) {
  testing_support::VirtualMidiSource source("tastivo-app-test");
  Start();
  Form11->Image1Click();
  for (int i : {0, 1}) {
    // The device list is read when the set editor is made; this port already
    // existed then.
    ASSERT_GE(source.DeviceNumber(), 0);
    Window(i)->Tuning->Device1->setCurrentIndex(source.DeviceNumber());
  }
  Window(0)->MidiIn1->click();
  ASSERT_TRUE(Window(0)->MidiIn1->isChecked());
  ASSERT_EQ(Window(0)->MidiDevice->GetState(), midi::CMIDIInDevice::started);

  ASSERT_TRUE(source.Send(0x90, 37, 100));  // note 37 is key 1
  ASSERT_TRUE(testing_support::WaitFor([&] { return Keys(0)->IsPressed(1); }));
  ASSERT_TRUE(source.Send(0x80, 37, 0));
  ASSERT_TRUE(testing_support::WaitFor([&] { return !Keys(0)->IsPressed(1); }));
  EXPECT_EQ(notes, (std::vector<int>{1, -2}));

  // Window 1 takes input over; window 0 lets its device go.
  Window(1)->MidiIn1->click();
  EXPECT_FALSE(Window(0)->MidiIn1->isChecked());
  EXPECT_FALSE(Window(0)->MidiDevice);
  ASSERT_TRUE(Window(1)->MidiIn1->isChecked());
  ASSERT_TRUE(source.Send(0x91, 72, 90));  // channel 2, note 72 is key 0
  ASSERT_TRUE(testing_support::WaitFor([&] { return Keys(1)->IsPressed(0); }));
  EXPECT_FALSE(Keys(0)->IsPressed(0));
  EXPECT_TRUE(dialogs.boxes().empty());

  // Input switched off while key 0 is held: the key is released, not stuck.
  Window(1)->MidiIn1->click();
  EXPECT_FALSE(Window(1)->MidiDevice);
  EXPECT_FALSE(Keys(1)->IsPressed(0));
}

TEST_F(KeyboardWindowMidiTest, ADevicePluggedInLaterShowsUpOnTheOptionsPage) {
  Start();
  TTuning* t = Form11->Tuning;
  EXPECT_EQ(t->Device1->findText("tastivo-late", Qt::MatchContains), -1);
  testing_support::VirtualMidiSource source("tastivo-late");
  t->CoolPageControl1->setCurrentIndex(1);  // "Options"
  const int index = t->Device1->findText("tastivo-late", Qt::MatchContains);
  ASSERT_GE(index, 0);
  EXPECT_EQ(index, source.DeviceNumber());
  t->Device1->setCurrentIndex(index);
  t->CoolPageControl1->setCurrentIndex(0);
  t->CoolPageControl1->setCurrentIndex(1);
  EXPECT_EQ(t->Device1->currentIndex(), index);  // the choice is kept
}

// The entry of Device1 that lists our source `name`, or -1.
int EntryOf(TForm11* window, const std::string& name) {
  QComboBox* list = window->Tuning->Device1;
  for (int i = 0; i < list->count(); ++i)
    if (list->itemText(i).endsWith(QString::fromStdString(":" + name))) return i;
  return -1;
}

std::string SourceName(const char* what) {
  return "tastivo-app-" + std::string(what) + "-" +
         std::to_string(QCoreApplication::applicationPid());
}

TEST_F(KeyboardWindowMidiTest, ADeviceLostWhileAKeyIsHeldLetsGoAndPlaysAgainWhenItReturns) {
  const std::string name = SourceName("hotplug");
  auto source = std::make_unique<testing_support::VirtualMidiSource>(name);
  Start();
  Form11->Loop->setChecked(true);
  Form11->Tuning->RefreshDevices();
  const int entry = EntryOf(Form11, name);
  ASSERT_GE(entry, 0);
  Form11->Tuning->Device1->setCurrentIndex(entry);
  Form11->MidiIn1->click();
  ASSERT_EQ(Form11->MidiDevice->GetState(), midi::CMIDIInDevice::started);
  // A fresh JACK connection may carry notes only from a later cycle.
  ASSERT_TRUE(testing_support::WaitFor([&] {
    source->Send(0x90, 37, 100);
    return testing_support::WaitFor([&] { return Keys(0)->IsPressed(1); },
                                    std::chrono::milliseconds(200));
  }));

  // Pulled out while key 1 is held: no note-off will ever come for it.
  source.reset();
  ASSERT_TRUE(testing_support::WaitFor([&] { return !Keys(0)->IsPressed(1); }));
  EXPECT_EQ(notes.back(), -2);
  EXPECT_TRUE(Form11->CoolLabel3->text().startsWith("MIDI device lost: "));
  EXPECT_TRUE(Form11->CoolLabel3->text().endsWith(QString::fromStdString(name)));
  EXPECT_TRUE(Form11->MidiIn1->isChecked());

  // Plugged in again under the same name: notes play with no click on the box.
  source = std::make_unique<testing_support::VirtualMidiSource>(name);
  EXPECT_TRUE(testing_support::WaitFor([&] {
    source->Send(0x90, 38, 100);
    return testing_support::WaitFor([&] { return Keys(0)->IsPressed(2); },
                                    std::chrono::milliseconds(200));
  }));
  EXPECT_TRUE(Form11->CoolLabel3->text().startsWith("MIDI device back: "));
  EXPECT_TRUE(Form11->MidiIn1->isChecked());
  EXPECT_TRUE(dialogs.boxes().empty());  // nothing stopped the performance
  // The notice gives the set name its place back after a few seconds.
  EXPECT_TRUE(testing_support::WaitFor(
      [&] { return !Form11->CoolLabel3->text().startsWith("MIDI device"); }));
}

TEST_F(KeyboardWindowMidiTest, TheChosenDeviceIsOpenedAgainByNameAtTheNextStart) {
  const std::string firstName = SourceName("first");
  const std::string chosenName = SourceName("chosen");
  auto first = std::make_unique<testing_support::VirtualMidiSource>(firstName);
  testing_support::VirtualMidiSource chosen(chosenName);
  Start();
  const int entry = EntryOf(Form11, chosenName);
  ASSERT_GT(entry, EntryOf(Form11, firstName));
  Form11->Tuning->Device1->setCurrentIndex(entry);
  Form11->MidiIn1->click();
  ASSERT_EQ(Form11->MidiDevice->GetState(), midi::CMIDIInDevice::started);
  const platform::MidiPortId port = Form11->MidiDevice->PortId();
  Form11->WriteSettings();
  delete Form11;

  // The device before it is gone, so the chosen one has moved up the list.
  first.reset();
  ASSERT_TRUE(testing_support::WaitFor([&] { return chosen.DeviceNumber() == entry - 1; }));
  Form11 = new TForm11(qApp);
  Form11->show();
  ASSERT_TRUE(Form11->MidiIn1->isChecked());
  ASSERT_TRUE(Form11->MidiDevice);
  EXPECT_EQ(Form11->MidiDevice->PortId(), port);
  EXPECT_EQ(Form11->MidiDevice->GetState(), midi::CMIDIInDevice::started);
  EXPECT_EQ(Form11->Tuning->Device1->currentIndex(), entry - 1);
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(KeyboardWindowMidiTest, WithNoStoredChoiceAThroughPortIsPassedOver) {
  testing_support::VirtualMidiSource through("Midi Through Port-0");
  testing_support::VirtualMidiSource keys(SourceName("keys"));
  Start();
  const int entry = EntryOf(Form11, SourceName("keys"));
  ASSERT_GE(entry, 0);
  ASSERT_GE(EntryOf(Form11, "Midi Through Port-0"), 0);
  // A JACK server lists the through port first, being older; PipeWire's
  // order may differ, and the choice must not depend on it.
  EXPECT_EQ(Form11->Tuning->Device1->currentIndex(), entry);
}

}  // namespace
