#include "WindowValues.h"

namespace app {

ReadResult ReadKeyboardWindowValues(int instance, KeyboardWindowValues& v) {
  ReadResult result;
  platform::SettingsStore store;
  store.OpenKey(platform::InstanceKey(instance), false);
  try {
    v.top = store.ReadInteger("ftop");
    result.count = 1;
    v.left = store.ReadInteger("fleft");
    result.count = 2;
    v.MiniTop = store.ReadInteger("mtop");
    result.count = 3;
    v.MiniLeft = store.ReadInteger("mleft");
    result.count = 4;
    v.loop = store.ReadBool("loop");
    result.count = 5;
    v.sustain = store.ReadBool("sustain");
    result.count = 6;
    v.midi = store.ReadBool("midi");
    result.count = 7;
  } catch (const platform::SettingsError&) {
    return result;
  }
  try {
    v.group = store.ReadInteger("group");
    result.group = v.group;
  } catch (const platform::SettingsError&) {
  }
  return result;
}

int WriteKeyboardWindowValues(int instance, const KeyboardWindowValues& v) {
  int written = 0;
  try {
    platform::SettingsStore store;
    store.OpenKey(platform::InstanceKey(instance), true);
    store.WriteInteger("ftop", v.top);
    ++written;
    store.WriteInteger("fleft", v.left);
    ++written;
    store.WriteInteger("mtop", v.MiniTop);
    ++written;
    store.WriteInteger("mleft", v.MiniLeft);
    ++written;
    store.WriteBool("loop", v.loop);
    ++written;
    store.WriteBool("sustain", v.sustain);
    ++written;
    store.WriteBool("midi", v.midi);
    ++written;
    store.WriteInteger("group", v.group);
    ++written;
    store.CloseKey();
  } catch (const platform::SettingsError&) {
    // A store that refuses writes must not keep a window from closing.
  }
  return written;
}

}  // namespace app
