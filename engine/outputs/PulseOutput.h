#pragma once
// Our output to a PulseAudio server (or PipeWire's PulseAudio layer): our
// output sink (OutputSink.h) whose device is a playback stream of its own.
// Private to the media layer.
//
// Like our JACK output it fades every cut (a stop, a pause, a flush for a
// seek or for the next clip) over a few milliseconds instead of cutting the
// waveform mid-swing. GStreamer's own PulseAudio sink hands its sound to
// the server as it comes, and a cut drops what the server holds at
// whatever sample it had reached, which clicks.
//
// The stream runs from the element's READY to its NULL, at the rate of the
// server's sink, in stereo (mono on a mono server). The server asks for
// sound as it plays, and each request is filled from the sink's ring buffer
// (or with silence). The stream keeps tens of milliseconds queued in the
// server, so a busy machine does not make it run dry; a start or a cut is
// written over that queue, from just ahead of what the speakers play, with
// the sound it replaces faded out under it, so it is heard as soon as on
// GStreamer's sink. PipeWire's PulseAudio layer can't take back what it
// was given: there the queue is short, and a start or a cut is heard at
// its end.

#include <gst/gst.h>

#include <string>

namespace engine {

// A new floating element whose stream is named `clientName` on the server,
// or nullptr when no PulseAudio library is at hand.
GstElement* MakePulseOutput(const std::string& clientName);

// How much sound the stream keeps in the server, in µs
// ($TASTIVO_PULSE_LATENCY_US, for the bench that weighs it), on a server
// that plays what is written over its queue (PulseAudio) or not
// (PipeWire's PulseAudio layer).
long PulseLatencyUs(bool serverRewrites);

}  // namespace engine
