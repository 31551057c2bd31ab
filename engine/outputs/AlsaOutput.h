#pragma once
// Our output straight to an ALSA device, for a machine with no sound
// server: our output sink (OutputSink.h) whose device is an ALSA playback
// PCM, filled by a thread of its own. Private to the media layer.
//
// Like our JACK and PulseAudio outputs it fades every cut (a stop, a
// pause, a flush for a seek or for the next clip) over a few milliseconds.
// GStreamer's ALSA sink drops what the device holds at whatever sample it
// had reached, which clicks.
//
// The PCM runs from the element's READY to its NULL, in stereo (mono on a
// mono device), at the device's own rate near 48 kHz. Its buffer is kept
// full, tens of milliseconds, so a busy machine does not make it run dry;
// a start or a cut is written over it, from just ahead of what is heard
// (the device is rewound), with the sound it replaces faded out under it.
// A device that can't be rewound gets its starts and cuts at the end of
// its buffer, faded all the same.

#include <gst/gst.h>

#include <string>

namespace engine {

// A new floating element that plays on the ALSA device `device` ("" for
// the default one), or nullptr when it can't be made.
GstElement* MakeAlsaOutput(const std::string& device);

// How much sound the device's buffer holds, in µs
// ($TASTIVO_ALSA_LATENCY_US, for the bench that weighs it).
long AlsaLatencyUs();

}  // namespace engine
