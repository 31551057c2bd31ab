#pragma once
// A window's choice of sound output, apart from any device: the entries a
// user picks from, how a stored choice is found among what is present, and
// what the window plays through while its choice is missing. The choice is
// kept by name ("pulse:<sink>", "alsa:<device>", "jack:<server>"; "" for the
// default output), never by position, since positions move as devices come
// and go.

#include <string>
#include <vector>

namespace engine {

enum class SoundOutputKind { Default, Jack, Pulse, Alsa };

struct SoundOutput {
  std::string Key;    // what is stored
  std::string Label;  // what the user sees
  bool Present = true;
};

// The key of an output of `kind` on `device` (a JACK server's name, a
// PulseAudio/PipeWire sink's name, an ALSA device).
std::string SoundOutputKey(SoundOutputKind kind, const std::string& device);
SoundOutputKind KindOfSoundOutput(const std::string& key);
// The device part of a key ("" for the default output).
std::string DeviceOfSoundOutput(const std::string& key);

// The entries of the choice: "Default", then the outputs present in the order
// given; a stored choice that is not present stays listed after them, marked,
// so that looking at the page does not lose it.
std::vector<SoundOutput> SoundOutputEntries(const std::vector<SoundOutput>& present,
                                            const std::string& stored);
// The entry holding `key`, or 0 (the default output).
int SoundOutputIndex(const std::vector<SoundOutput>& entries, const std::string& key);

// What a window plays through across the losses of its chosen output: the
// chosen one whenever it opens, else the default output, and back to the
// chosen one at the first clip it opens again. Each change is told once.
class OutputRoute {
 public:
  // A new choice: tried at the next clip; nothing is due to be told.
  void Choose(const std::string& key, const std::string& label);
  const std::string& Chosen() const { return chosen_; }
  // True while the window plays through the default output in place of its
  // chosen one.
  bool FellBack() const { return fellBack_; }
  // The outcome of opening the chosen output (not asked for the default).
  void ChosenOpened(bool opened, const std::string& detail = {});
  // The chosen output went away while it played.
  void ChosenLost(const std::string& detail);
  // What the window has to be told, once; "" when nothing.
  std::string TakeNotice();

 private:
  std::string chosen_, label_, notice_;
  bool fellBack_ = false;
};

}  // namespace engine
