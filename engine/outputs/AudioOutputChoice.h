#pragma once
// How the default sound output is chosen, apart from GStreamer so that the
// order and its fallbacks can be checked without sound devices.

#include <functional>
#include <string>
#include <vector>

namespace engine {

// The sinks tried in turn when none is named: a JACK server, PulseAudio
// (which PipeWire also serves), then ALSA.
inline const std::vector<std::string>& AudioSinkOrder() {
  static const std::vector<std::string> order{"jackaudiosink", "pulsesink", "alsasink"};
  return order;
}

struct AudioOutputChoice {
  std::string Sink;                 // the element name the graphs play through
  bool Real = false;                // sound reaches a device (not the silent sink)
  std::string Requested;            // the sink $TASTIVO_AUDIO_SINK named, "" when unset
  bool UsesRequested = false;       // that sink is the one in use
  std::vector<std::string> Failed;  // sinks tried that could not be opened, in order
};

// Takes the requested sink when it opens (the silent "fakesink" is always
// taken as asked), else the first of AudioSinkOrder that opens, else the
// silent "fakesink", which still keeps time. opens(name) says whether a sink
// of that element name exists and can open its device.
AudioOutputChoice ChooseAudioOutput(const std::string& requested,
                                    const std::function<bool(const std::string&)>& opens);

// The choice this process made for its default output, once.
const AudioOutputChoice& DefaultAudioOutput();

}  // namespace engine
