#include "engine/outputs/AudioOutputChoice.h"

namespace engine {

AudioOutputChoice ChooseAudioOutput(const std::string& requested,
                                    const std::function<bool(const std::string&)>& opens) {
  AudioOutputChoice c;
  c.Requested = requested;
  if (requested == "fakesink") {
    c.Sink = requested;
    c.UsesRequested = true;
    return c;
  }
  if (!requested.empty()) {
    if (opens(requested)) {
      c.Sink = requested;
      c.Real = true;
      c.UsesRequested = true;
      return c;
    }
    c.Failed.push_back(requested);
  }
  for (const std::string& name : AudioSinkOrder()) {
    if (name == requested) continue;  // already failed above
    if (opens(name)) {
      c.Sink = name;
      c.Real = true;
      return c;
    }
    c.Failed.push_back(name);
  }
  c.Sink = "fakesink";
  return c;
}

}  // namespace engine
