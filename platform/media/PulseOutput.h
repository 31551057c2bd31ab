#pragma once
// Our output to a PulseAudio server (or PipeWire's PulseAudio layer): a
// GStreamer audio sink whose device is a playback stream of its own. Private
// to the media layer.
//
// Like our JACK output it fades every cut (a stop, a pause, a flush for a
// seek or for the next clip) over a few milliseconds instead of cutting the
// waveform mid-swing. GStreamer's own PulseAudio sink hands its sound to
// the server as it comes, and a cut drops what the server holds at
// whatever sample it had reached, which clicks.
//
// The stream runs from the element's READY to its NULL, at the server's
// own rate, in stereo (mono on a mono server), and keeps a short buffer in
// the server: the server asks for sound as it plays, and each request is
// filled from the sink's ring buffer (or with silence), with the cut's fade
// played from a copy made at the request before. A cut is therefore heard
// as late as a start is, one server buffer later, and nothing waits for it.

#include <gst/gst.h>

#include <string>

namespace platform::media {

// A new floating element whose stream is named `clientName` on the server,
// or nullptr when no PulseAudio library is at hand.
GstElement* MakePulseOutput(const std::string& clientName);

// True for an element made by MakePulseOutput.
bool IsPulseOutput(GstElement* element);

// How much sound the stream keeps in the server, in µs
// ($TASTIVO_PULSE_LATENCY_US, for the bench that weighs it).
long PulseLatencyUs();

}  // namespace platform::media
