#pragma once
// GStreamer helpers private to the media layer.

#include <gst/gst.h>

#include <string>

namespace platform::media {

// Initializes GStreamer once per process; safe to call repeatedly.
void EnsureGstInitialized();

// The sink element the machine plays through by default, chosen once per
// process: $TASTIVO_AUDIO_SINK when set (an element name), else a JACK
// server when one runs, else PulseAudio (which PipeWire also serves), else
// ALSA, else a fakesink that keeps time, so clips still play and end on time
// on a machine without sound. Returns a new floating element.
GstElement* CreateDefaultAudioSink();
// The element name CreateDefaultAudioSink uses.
std::string DefaultAudioSinkName();
// True when the default output is a real device rather than the fakesink.
bool HasRealAudioOutput();

// A new sink for the device identifier that EnumerateAudioRenderers gave,
// or nullptr when it is unknown.
GstElement* CreateAudioDeviceSink(const std::string& classId);

}  // namespace platform::media
