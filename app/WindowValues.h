#pragma once
// The values a keyboard window keeps in its settings key, and the rules for
// reading and writing them: the first read that fails ends the reading, and
// "group" is read only when all seven values before it were. The MIDI input
// device chosen ("mididevice") is kept beside them and read on its own, so a
// missing one changes nothing of those rules.

#include "platform/SettingsStore.h"

#include <QString>

#include <optional>

namespace app {

struct KeyboardWindowValues {
  int top = 0;
  int left = 0;
  int MiniTop = 0;
  int MiniLeft = 0;
  bool loop = false;
  bool sustain = false;
  bool midi = false;
  int group = 0;
  // The MIDI input port chosen, as platform::MidiPortKey(); empty for none.
  QString midiDevice = QString();
};

// Which values a read found. Values not found keep what the window had.
struct ReadResult {
  int count = 0;  // values read in order: 0 to 7
  std::optional<int> group;
  std::optional<QString> midiDevice;  // set when a non-empty one was stored

  bool Has(int index) const { return count > index; }
};

// Reads into `values` from the key of `instance`. Never throws.
ReadResult ReadKeyboardWindowValues(int instance, KeyboardWindowValues& values);

// Writes the eight values, then "mididevice"; the first failing write ends
// the writing. Never throws. Returns the number of the eight written.
int WriteKeyboardWindowValues(int instance, const KeyboardWindowValues& values);

}  // namespace app
