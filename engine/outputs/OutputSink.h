#pragma once
// Our one audio output element: a GStreamer audio sink and its ring buffer
// over an OutputDevice, for each kind of device (JackOutput.h,
// PulseOutput.h, AlsaOutput.h). Private to the media layer.
//
// It plays what the stream gives it like any audio sink, with one
// difference that matters on stage: whenever its sound is cut (a stop, a
// pause, a flush for a seek or for the next clip, the clip taken away),
// what was about to sound is played on, ramped down to silence, under
// whatever follows (OutputEdges). A resume after a pause is ramped in; a
// clip that starts anew is not, so its attack stays whole.

#include "engine/outputs/OutputDevice.h"

#include <gst/gst.h>

#include <cstdint>
#include <memory>

namespace engine {

// One kind of output: its element's names and texts, and its device.
struct OutputKind {
  const char* factoryName;  // the element factory's name ("tastivojacksink")
  const char* typeName;     // the element's GType name
  const char* longName;
  const char* description;
  int maxChannels;           // what the pad template takes; 0: any number
  bool hasClientName;        // the element has a "client-name" property
  bool hasDevice;            // the element has a "device" property
  const char* goneText;      // the error when the device went away
  const char* unsuitedText;  // the error when the stream's format is not the device's
  std::unique_ptr<OutputDevice> (*make)(const OutputSettings&);
  bool hasPorts = false;  // the element has a "port-memory" property
};

// The maker of a kind's device.
template <typename Device>
std::unique_ptr<OutputDevice> MakeDevice(const OutputSettings& settings) {
  return std::make_unique<Device>(settings);
}

// A new floating element of `kind` (registered on first use) set to play
// as `settings` say, or nullptr.
GstElement* MakeOutputSink(const OutputKind& kind, const OutputSettings& settings);

// True for an element made by MakeOutputSink, of any kind: an output that
// fades its own cuts.
bool IsOwnOutput(GstElement* element);

// How much sound an audio output holds, measured: what its device holds
// and has not played (its own report), and what waits in its ring buffer.
struct OutputQueue {
  // How far ahead of what the device reads next the sink places the sound
  // due now. The sink takes the time from the samples its device has read,
  // less those it still holds: the device's delay, no more than it has
  // read, and a frame more, because the clock's nanoseconds and the
  // device's frames round apart and a sample a frame late is kept where
  // one a frame early is dropped.
  GstClockTime device = 0;
  // Written into the ring and not read by the device yet.
  GstClockTime ring = 0;
};

// Any thread: the queue of `sink` (any audio sink; nothing when it is not
// one, or is not playing).
OutputQueue OutputQueued(GstElement* sink);

// Window thread: the next start of `sink` sounds at `ns` of the shared
// clock, on its very frame, instead of on the first cycle after its sound
// is ready; 0 takes that back. Only an output whose device knows when its
// cycles fall (a JACK server's) places starts; others ignore it. Returns
// how long before `ns` its graph must start for the sound to be there in
// time (0 when it does not place starts).
std::uint64_t PlaceNextStart(GstElement* sink, std::uint64_t ns);

// Any thread: the audio sink that `pad`'s stream flows into through
// one-input elements, with a new reference, or nullptr.
GstElement* OutputAfter(GstPad* pad);

}  // namespace engine
