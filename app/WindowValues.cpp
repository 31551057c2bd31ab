#include "WindowValues.h"

namespace app {

namespace {

// Apart from the eight values: whatever became of them, the device is
// chosen by name at the next start.
void ReadMidiDevice(platform::SettingsStore& store, KeyboardWindowValues& v, ReadResult& result) {
  try {
    const QString key = store.ReadString("mididevice");
    if (key.isEmpty()) return;
    v.midiDevice = key;
    result.midiDevice = key;
  } catch (const platform::SettingsError&) {
  }
}

}  // namespace

ReadResult ReadKeyboardWindowValues(int instance, KeyboardWindowValues& v) {
  ReadResult result;
  platform::SettingsStore store;
  store.OpenKey(platform::InstanceKey(instance), false);
  // Each read counts only once it succeeded; the first failure throws out.
  const auto integer = [&](const char* name, int& into) {
    into = store.ReadInteger(name);
    ++result.count;
  };
  const auto boolean = [&](const char* name, bool& into) {
    into = store.ReadBool(name);
    ++result.count;
  };
  try {
    integer("ftop", v.top);
    integer("fleft", v.left);
    integer("mtop", v.MiniTop);
    integer("mleft", v.MiniLeft);
    boolean("loop", v.loop);
    boolean("sustain", v.sustain);
    boolean("midi", v.midi);
  } catch (const platform::SettingsError&) {
    ReadMidiDevice(store, v, result);
    return result;
  }
  try {
    v.group = store.ReadInteger("group");
    result.group = v.group;
  } catch (const platform::SettingsError&) {
  }
  ReadMidiDevice(store, v, result);
  return result;
}

int WriteKeyboardWindowValues(int instance, const KeyboardWindowValues& v) {
  int written = 0;
  try {
    platform::SettingsStore store;
    store.OpenKey(platform::InstanceKey(instance), true);
    const auto integer = [&](const char* name, int value) {
      store.WriteInteger(name, value);
      ++written;
    };
    integer("ftop", v.top);
    integer("fleft", v.left);
    integer("mtop", v.MiniTop);
    integer("mleft", v.MiniLeft);
    integer("loop", v.loop ? 1 : 0);
    integer("sustain", v.sustain ? 1 : 0);
    integer("midi", v.midi ? 1 : 0);
    integer("group", v.group);
    store.WriteString("mididevice", v.midiDevice);
    store.CloseKey();
  } catch (const platform::SettingsError&) {
    // A store that refuses writes must not keep a window from closing.
  }
  return written;
}

}  // namespace app
