#pragma once
// Short gain ramps at the edges the program makes in a clip's sound, so a
// stop, a seek or a mark never cuts a waveform mid-swing (a click through a
// PA). Every ramp has the one shape and length below (RampGain,
// kRampSeconds). Private to the media layer.
//
// Where each edge is faded, and by which code; no edge is faded twice:
//
//   edge                        faded by                       on the thread of
//   start mark (a start inside  Varispeed (RampEdges, ramp in)  the streaming thread
//     the clip, a seek)
//   stop mark                   Varispeed (RampEdges, ramp out, the streaming thread
//                                 the tail held back)
//   loop seam                   Varispeed (HoldTail, Crossfade) the streaming thread
//   rate change                 Varispeed (Duck: out, then      the streaming thread
//                                 in at the new rate)
//   release at a segment's end  Varispeed (the held tail played the streaming thread
//                                 out, already ramped down)
//   cut: stop, pause, a flush   our outputs: OutputEdges (JACK) the device's own thread
//     for a seek or the next      or QueueFiller (PulseAudio,
//     clip, a re-triggered key    ALSA), from a copy of what was
//                                 about to sound
//   resume after a pause        our outputs: OutputEdges /      the device's own thread
//                                 QueueFiller, ramp in
//   cut on an output not ours   FadeOutSink, into its ring      the window thread
//     (a GStreamer sink chosen
//     by $TASTIVO_AUDIO_SINK)
//
// A clip that starts from its beginning is never ramped: its own sound
// decides how it begins, and its attack stays whole.

#include <gst/gst.h>

#include <chrono>
#include <optional>

namespace engine {

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

}  // namespace engine
