#pragma once
// A combo box listing the MIDI input ports. Each entry carries its port's key
// (MidiPortKey: API and stable name) beside the name it shows, so the entry
// chosen opens exactly that port however the list has moved since. The box
// also keeps the user's choice by key while that device is unplugged, so the
// choice comes back when the device does.

#include "platform/midi/MidiPorts.h"

#include <QString>

class QComboBox;

namespace platform {

// Fills the box with `ports` and selects, in this order of preference: the
// kept choice, the entry that was selected before, the first port that is
// not a through port.
void FillMidiDeviceList(QComboBox* box, const std::vector<MidiInputPort>& ports);

// Keeps `key` as the box's choice (read from the settings, say) and selects
// its entry when it is listed.
void ChooseMidiDevice(QComboBox* box, const QString& key);

// The key to store: the kept choice, else the selected entry's; may be empty.
QString ChosenMidiDeviceKey(const QComboBox* box);

// The port of the selected entry; empty when none is selected.
MidiPortId SelectedMidiDevice(const QComboBox* box);

}  // namespace platform
