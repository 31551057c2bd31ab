#pragma once
// Short gain ramps at the edges the program makes in a clip's sound, so a
// stop, a seek or a mark never cuts a waveform mid-swing (a click through a
// PA). Private to the media layer.

#include <gst/gst.h>

#include <chrono>
#include <optional>

namespace platform::media {

// Length of every ramp as heard: long enough that a half-scale tone steps
// no further than it does by itself, short enough not to blur a cut.
constexpr double kRampSeconds = 0.003;

// False when $TASTIVO_NO_FADES is set (to compare against hard cuts).
bool FadesEnabled();

// Gain at x in [0, 1] of a rising raised-cosine ramp: 0 at 0, 1 at 1.
double RampGain(double x);

// A fade-out written into an output's ring buffer, still to be played.
struct SinkFade {
  GstElement* sink = nullptr;  // owned reference
  int lastSegment = 0;         // the fade is out once this segment was read
  std::chrono::steady_clock::time_point deadline;
};

// Window thread: fades the sound already queued in a running output to
// silence over kRampSeconds, starting with the period the device reads next
// when it is surely not reading it now (a JACK server's output between two
// cycle edges), else with the one after, and silences the rest of its
// buffer. Nothing when the output is not running or keeps its
// sound elsewhere (a sound server's own buffer): the cut stays hard there.
std::optional<SinkFade> FadeOutSink(GstElement* sink);

// Window thread: waits until the device has read the fade, at most about
// two periods; a device that stalls does not hold the window longer.
void AwaitFade(SinkFade& fade);

}  // namespace platform::media
