// How the default sound output is chosen and what the user is told about it,
// with the devices answering as a test says.

#include "engine/outputs/AudioOutputChoice.h"
#include "engine/outputs/PortMemory.h"
#include "engine/outputs/SoundOutputList.h"
#include "player/Tplayerrenderers.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

using namespace engine;

namespace {

struct Machine {
  const char* name;
  std::string requested;            // $TASTIVO_AUDIO_SINK
  std::set<std::string> working;    // sinks that open
  std::vector<std::string> probed;  // in this order
  std::string sink;                 // the one chosen
  bool warns;
  std::vector<const char*> warningNames;  // what the warning must name
};

TEST(AudioOutputChoice, ProbesInOrderAndWarnsOnlyWhenSoundGoesNowhereOrNotWhereAsked) {
  const std::string jack = "jackaudiosink", pulse = "pulsesink", alsa = "alsasink";
  const std::vector<Machine> machines{
      {"JACK running", "", {jack, pulse, alsa}, {jack}, jack, false, {}},
      {"PulseAudio only", "", {pulse, alsa}, {jack, pulse}, pulse, false, {}},
      {"bare ALSA is a fine fallback", "", {alsa}, {jack, pulse, alsa}, alsa, false, {}},
      {"no sound at all",
       "",
       {},
       {jack, pulse, alsa},
       "fakesink",
       true,
       {"tried JACK, PulseAudio, ALSA", "clips play silently"}},
      {"silence asked for", "fakesink", {}, {}, "fakesink", false, {}},
      {"a working sink asked for", alsa, {jack, alsa}, {alsa}, alsa, false, {}},
      {"asked for a sink that is not there",
       pulse,
       {jack},
       {pulse, jack},
       jack,
       true,
       {"\"pulsesink\"", "TASTIVO_AUDIO_SINK", "through JACK"}},
      {"asked for an unknown sink on a silent machine",
       "nosuchsink",
       {},
       {"nosuchsink", jack, pulse, alsa},
       "fakesink",
       true,
       {"tried nosuchsink, JACK, PulseAudio, ALSA", "clips play silently"}},
  };
  for (const Machine& m : machines) {
    SCOPED_TRACE(m.name);
    std::vector<std::string> probed;
    const AudioOutputChoice choice = ChooseAudioOutput(m.requested, [&](const std::string& s) {
      probed.push_back(s);
      return m.working.count(s) > 0;
    });
    EXPECT_EQ(probed, m.probed);
    EXPECT_EQ(choice.Sink, m.sink);
    EXPECT_EQ(choice.Real, m.sink != "fakesink");
    const QString warning = AudioOutputWarning(choice);
    EXPECT_EQ(!warning.isEmpty(), m.warns) << warning.toStdString();
    for (const char* name : m.warningNames)
      EXPECT_TRUE(warning.contains(name)) << name << " in " << warning.toStdString();
    EXPECT_FALSE(warning.contains('\n'));  // one paragraph
  }
}

TEST(SoundOutputChoice, StoredByNameSurvivesItsAbsenceAndFallsBackAndReturnsTellingOnce) {
  const std::vector<SoundOutput> present{{"jack:studio", "JACK: studio"},
                                         {"pulse:null", "PulseAudio/PipeWire: Null"}};
  auto entries = SoundOutputEntries(present, "pulse:null");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Label, "Default");
  EXPECT_EQ(SoundOutputIndex(entries, "pulse:null"), 2);
  // Unplugged: still listed, so looking at the page keeps the choice.
  entries = SoundOutputEntries({present[0]}, "pulse:null");
  EXPECT_EQ(SoundOutputIndex(entries, "pulse:null"), 2);
  EXPECT_FALSE(entries[2].Present);
  EXPECT_EQ(DeviceOfSoundOutput("alsa:hw:1,0"), "hw:1,0");

  OutputRoute route;
  route.Choose("pulse:null", "Null");
  route.ChosenOpened(true);
  EXPECT_EQ(route.TakeNotice(), "");
  route.ChosenLost("it went away");
  EXPECT_TRUE(route.FellBack());
  EXPECT_NE(route.TakeNotice().find("\"Null\" is missing"), std::string::npos);
  route.ChosenOpened(false);  // still missing at the next clip: told once
  EXPECT_EQ(route.TakeNotice(), "");
  route.ChosenOpened(true);
  EXPECT_FALSE(route.FellBack());
  EXPECT_NE(route.TakeNotice().find("is back"), std::string::npos);
}

TEST(PortMemory, KeepsAMissingPortAndReconnectsItWhenBackButForgetsWhatTheUserTookApart) {
  PortMemory memory;
  memory.Remember(PortLinksFromText({"out_1>system:playback_1", "out_2>fx:in_2", "bad"}));
  std::map<std::string, std::uint64_t> ports{{"system:playback_1", 1}};
  const auto identity = [&](const std::string& p) { return ports.count(p) ? ports[p] : 0; };
  // At start: what is present is connected, the missing port named once.
  EXPECT_EQ(memory.Look({}, identity), (std::vector<PortLink>{{"out_1", "system:playback_1"}}));
  EXPECT_NE(memory.TakeNotice().find("\"fx:in_2\" is missing"), std::string::npos);
  const std::vector<PortLink> first{{"out_1", "system:playback_1"}};
  EXPECT_TRUE(memory.Look(first, identity).empty());
  EXPECT_EQ(memory.TakeNotice(), "");
  // The client comes back: connected again, the other link untouched.
  ports["fx:in_2"] = 2;
  EXPECT_EQ(memory.Look(first, identity), (std::vector<PortLink>{{"out_2", "fx:in_2"}}));
  const std::vector<PortLink> both{{"out_1", "system:playback_1"}, {"out_2", "fx:in_2"}};
  EXPECT_TRUE(memory.Look(both, identity).empty());
  // It restarts between two looks: a new port of that name is connected too.
  ports["fx:in_2"] = 3;
  EXPECT_EQ(memory.Look(first, identity), (std::vector<PortLink>{{"out_2", "fx:in_2"}}));
  // The user patches out_2 elsewhere and takes out_1 apart.
  const std::vector<PortLink> patched{{"out_2", "fx:in_2"}, {"out_2", "system:playback_1"}};
  EXPECT_TRUE(memory.Look(patched, identity).empty());
  EXPECT_EQ(PortLinksToText(memory.Remembered()),
            (std::vector<std::string>{"out_2>fx:in_2", "out_2>system:playback_1"}));
}

}  // namespace
