// Which MIDI input port a choice names: stable names across plugging,
// the stored form of a choice, the default that skips through ports, the
// device list's kept choice, and the ring that carries messages off the MIDI
// system's thread.

#include "platform/midi/MidiPorts.h"
#include "platform/midi/MidiDeviceList.h"
#include "platform/midi/SpscRing.h"

#include <gtest/gtest.h>

#include <QComboBox>

#include <thread>

using platform::MidiApi;
using platform::MidiInputPort;
using platform::MidiPortId;

namespace {

MidiInputPort Alsa(const std::string& listed) {
  return {platform::MidiPortIdOf(MidiApi::Alsa, listed), listed};
}
MidiInputPort Jack(const std::string& listed) {
  return {platform::MidiPortIdOf(MidiApi::Jack, listed), listed};
}

TEST(MidiPortId, AlsaNamesLoseTheAddressThatChangesAtEachPlugButJackNamesAreKeptWhole) {
  EXPECT_EQ(Alsa("USB Keyboard:USB Keyboard MIDI 1 24:0").id.name,
            "USB Keyboard:USB Keyboard MIDI 1");
  EXPECT_EQ(Alsa("USB Keyboard:USB Keyboard MIDI 1 24:0").id,
            Alsa("USB Keyboard:USB Keyboard MIDI 1 28:0").id);
  EXPECT_NE(Alsa("Synth:Port 1 20:0").id, Alsa("Synth:Port 2 20:1").id);
  // Only a trailing "number:number" is an address.
  EXPECT_EQ(Alsa("Odd name 24:x").id.name, "Odd name 24:x");
  EXPECT_EQ(Alsa("Plain").id.name, "Plain");
  EXPECT_EQ(Jack("a2j:Keys 24:0").id.name, "a2j:Keys 24:0");
  EXPECT_NE(Jack("x:y").id, Alsa("x:y").id);  // the kind is part of the id
}

TEST(MidiPortId, StoredKeysRoundTripAndNothingElseParses) {
  for (const MidiPortId& id : {MidiPortId{MidiApi::Jack, "system:midi_capture_1"},
                               MidiPortId{MidiApi::Alsa, "USB Keyboard:MIDI 1"}}) {
    const std::string key = platform::MidiPortKey(id);
    ASSERT_TRUE(platform::ParseMidiPortKey(key));
    EXPECT_EQ(*platform::ParseMidiPortKey(key), id);
  }
  EXPECT_EQ(platform::MidiPortKey(MidiPortId{MidiApi::Jack, "a:b"}), "jack:a:b");
  EXPECT_EQ(platform::MidiPortKey(MidiPortId{}), "");
  for (const char* bad : {"", "jack:", "alsa:", "oss:dev", "Midi Through"})
    EXPECT_FALSE(platform::ParseMidiPortKey(bad)) << bad;
}

TEST(MidiPortDefault, TheFirstPortThatIsNotAThroughPortIsChosen) {
  const std::vector<MidiInputPort> alsa = {Alsa("Midi Through:Midi Through Port-0 14:0"),
                                           Alsa("USB Keyboard:USB Keyboard MIDI 1 24:0")};
  EXPECT_EQ(platform::DefaultMidiPortIndex(alsa), 1);
  // Through ports bridged into JACK (a2j) and PipeWire are through ports too.
  EXPECT_TRUE(platform::IsThroughPort("a2j:Midi Through [14] (capture): Midi Through Port-0"));
  EXPECT_TRUE(platform::IsThroughPort("Midi-Bridge:Midi Through:(capture_0) Midi Through Port-0"));
  EXPECT_FALSE(platform::IsThroughPort("USB Keyboard:USB Keyboard MIDI 1 24:0"));
  EXPECT_EQ(platform::DefaultMidiPortIndex({Alsa("Midi Through:Midi Through Port-0 14:0")}), 0);
  EXPECT_EQ(platform::DefaultMidiPortIndex({}), -1);
}

class DeviceList : public ::testing::Test {
 protected:
  const std::vector<MidiInputPort> throughAndKeys = {Alsa("Midi Through:Midi Through Port-0 14:0"),
                                                     Alsa("USB Keyboard:USB Keyboard MIDI 1 24:0")};
  const std::vector<MidiInputPort> padAhead = {Alsa("Midi Through:Midi Through Port-0 14:0"),
                                               Alsa("Pad:Pad MIDI 1 20:0"),
                                               Alsa("USB Keyboard:USB Keyboard MIDI 1 28:0")};
  const QString keysKey = "alsa:USB Keyboard:USB Keyboard MIDI 1";
  QComboBox box;
};

TEST_F(DeviceList, EntriesCarryTheirPortAndTheDefaultSkipsTheThroughPort) {
  platform::FillMidiDeviceList(&box, throughAndKeys);
  ASSERT_EQ(box.count(), 2);
  EXPECT_EQ(box.itemText(0), "Midi Through:Midi Through Port-0 14:0");
  EXPECT_EQ(box.currentIndex(), 1);
  EXPECT_EQ(platform::SelectedMidiDevice(&box), throughAndKeys[1].id);
  EXPECT_EQ(platform::ChosenMidiDeviceKey(&box), keysKey);
}

TEST_F(DeviceList, TheSelectedPortStaysSelectedWhenAnotherComesBeforeIt) {
  platform::FillMidiDeviceList(&box, throughAndKeys);
  platform::FillMidiDeviceList(&box, padAhead);  // replugged: new address, new number
  EXPECT_EQ(box.currentIndex(), 2);
  EXPECT_EQ(platform::SelectedMidiDevice(&box), throughAndKeys[1].id);
}

TEST_F(DeviceList, AStoredChoiceIsSelectedAndKeptWhileItsDeviceIsAway) {
  platform::FillMidiDeviceList(&box, {throughAndKeys[0]});
  platform::ChooseMidiDevice(&box, keysKey);
  EXPECT_EQ(box.currentIndex(), 0);                         // not there: the list as it is
  EXPECT_EQ(platform::ChosenMidiDeviceKey(&box), keysKey);  // and still the choice
  platform::FillMidiDeviceList(&box, padAhead);
  EXPECT_EQ(box.currentIndex(), 2);
}

TEST_F(DeviceList, WhatTheUserPicksIsTheChoice) {
  platform::FillMidiDeviceList(&box, padAhead);
  platform::ChooseMidiDevice(&box, keysKey);
  box.setCurrentIndex(1);
  emit box.activated(1);  // what a pick in the open list raises
  EXPECT_EQ(platform::ChosenMidiDeviceKey(&box), "alsa:Pad:Pad MIDI 1");
  platform::FillMidiDeviceList(&box, padAhead);
  EXPECT_EQ(box.currentIndex(), 1);
}

TEST_F(DeviceList, NoPortsSelectNothingAndOpenNothing) {
  platform::FillMidiDeviceList(&box, {});
  EXPECT_EQ(box.currentIndex(), -1);
  EXPECT_TRUE(platform::SelectedMidiDevice(&box).Empty());
  EXPECT_EQ(platform::ChosenMidiDeviceKey(&box), "");
}

TEST(SpscRing, RefusesWhenFullAndKeepsOrderAcrossTheWrap) {
  platform::SpscRing<int> ring(3);  // rounded up to 4
  EXPECT_EQ(ring.Capacity(), 4u);
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(ring.TryPush(round * 10 + i));
    EXPECT_FALSE(ring.TryPush(99));
    int value = -1;
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(ring.TryPop(value));
      EXPECT_EQ(value, round * 10 + i);
    }
    EXPECT_FALSE(ring.TryPop(value));
  }
}

TEST(SpscRing, OneProducerAndOneConsumerPassEveryItemInOrder) {
  platform::SpscRing<long> ring(64);
  constexpr long kItems = 200000;
  std::thread producer([&] {
    for (long i = 0; i < kItems;)
      if (ring.TryPush(i)) ++i;
  });
  long expected = 0;
  long value = 0;
  long outOfOrder = 0;
  while (expected < kItems)
    if (ring.TryPop(value)) {
      if (value != expected) ++outOfOrder;
      expected = value + 1;
    }
  producer.join();
  EXPECT_EQ(outOfOrder, 0);
}

}  // namespace
