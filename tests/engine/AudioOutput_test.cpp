// How the default sound output is chosen and what the user is told about it,
// with the devices answering as a test says.

#include "engine/outputs/AudioOutputChoice.h"
#include "player/Tplayerrenderers.h"

#include <gtest/gtest.h>

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

}  // namespace
