#pragma once
// The one clock that every graph of the process runs on, and how the audio
// outputs follow it.
//
// All graphs run on one clock so that their base times mean the same
// instant: a group of windows can then start its clips on one chosen base
// time (GroupStart.h). The clock is the machine's monotonic clock, not the
// sound server's: a sound server's clock moves once per server cycle, which
// would hold every start and position reading back by up to a period.
//
// The sound device's crystal never runs at exactly the rate of the machine's
// clock (tens of parts per million off is common). An audio output told to
// follow a clock that is not its own corrects the difference, by default, by
// skipping or repeating a piece of sound once it passes a tolerance: a click
// every few minutes of a long clip. Its other method, "resample", does not
// resample the sound in this GStreamer: it moves the output's clock and
// breaks the sound all the same. Our outputs are told not to correct it
// at all (FollowSharedClock): within one start they write their samples one
// after the other at the device's own pace, as the device asks for them, so
// nothing is ever skipped or repeated. What drifts instead is the clip's
// position against the clock, by the crystal's error: a few milliseconds per
// minute of an unbroken play, caught up at every start, seek and resume,
// where the output takes its place on the clock again. Outputs of one sound
// server share its crystal, so the windows of a group, started on one base
// time, stay sample-aligned with one another however long they play.

#include <cstdint>
#include <optional>

typedef struct _GstClock GstClock;
typedef struct _GstElement GstElement;

namespace engine {

// For tests: graphs made from now on run on a clock that goes `ppm` parts
// per million faster (negative: slower) than the machine's, as a sound
// card's crystal may run against it; 0 returns to the machine's clock.
void SetClockDriftForTesting(double ppm);

// The clock every graph uses, with a new reference.
GstClock* ObtainSharedClock();

// The sound server's cycles, on the shared clock: when the current one
// began and how long each lasts; nothing when the default output is no JACK
// server's. The outputs of a JACK server begin a clip on the first cycle
// after their streaming thread wakes for it. Window thread; the first call
// connects to the server.
struct ServerCycle {
  std::uint64_t startNs = 0;
  std::uint64_t periodNs = 0;
  int rate = 0;  // frames a second
};
std::optional<ServerCycle> CurrentServerCycle();

// The first moment at or after `ns` that lies clear of the server's cycle
// edges: `afterNs` past the moment the server reads a period from the
// outputs, and `beforeNs` short of the next edge (each at most a quarter
// period), time to write one. Sound written there reaches the next cycle
// whole, never torn by a read under way.
std::uint64_t ClearOfCycleEdges(const ServerCycle& cycle, std::uint64_t ns, std::uint64_t afterNs,
                                std::uint64_t beforeNs);

// Tells an audio output (any element derived from GstAudioBaseSink; others
// are left alone) to write its samples back to back instead of skipping or
// repeating sound to follow the shared clock.
void FollowSharedClock(GstElement* element);

}  // namespace engine
