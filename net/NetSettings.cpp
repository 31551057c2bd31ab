#include "net/NetSettings.h"

#include "platform/SettingsStore.h"

namespace net {

NetSettings NetSettings::Read() {
  NetSettings settings;
  platform::SettingsStore store;
  if (!store.OpenKeyReadOnly(kKey)) return settings;
  try {
    if (store.ValueExists("shared")) settings.shared = store.ReadBool("shared");
    if (store.ValueExists("group")) {
      const int group = store.ReadInteger("group");
      if (group >= 0) settings.groupNumber = group;
    }
    if (store.ValueExists("port")) {
      const int port = store.ReadInteger("port");
      if (port > 0 && port < 65535) settings.port = static_cast<quint16>(port);
    }
    if (store.ValueExists("name")) settings.groupName = store.ReadString("name").left(64);
    settings.hostAddress = store.ReadString("host").trimmed();
    settings.hostToken = store.ReadString("token").trimmed();
  } catch (const platform::SettingsError&) {
  }
  if (settings.groupName.isEmpty()) settings.groupName = QStringLiteral("show");
  return settings;
}

void NetSettings::Write() const {
  platform::SettingsStore store;
  if (!store.OpenKey(kKey, true))
    throw platform::SettingsError("cannot open the network group's settings");
  store.WriteBool("shared", shared);
  store.WriteInteger("group", groupNumber);
  store.WriteString("name", groupName);
  store.WriteString("host", hostAddress);
  store.WriteInteger("port", port);
  store.WriteString("token", hostToken);
  store.CloseKey();
}

}  // namespace net
