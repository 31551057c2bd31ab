#include "remote/RemoteSettings.h"

#include "platform/SettingsStore.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace remote {

QString NewPairingToken() {
  QString token;
  for (int k = 0; k < 4; ++k)
    token += QStringLiteral("%1").arg(QRandomGenerator::system()->generate(), 8, 16, QChar(u'0'));
  return token;
}

QStringList ParseAllowList(const QString& text) {
  QStringList addresses;
  for (const QString& part :
       text.split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts)) {
    QHostAddress address;
    if (address.setAddress(part) && !addresses.contains(address.toString()))
      addresses << address.toString();
  }
  return addresses;
}

RemoteSettings RemoteSettings::Read() {
  RemoteSettings settings;
  platform::SettingsStore store;
  if (store.OpenKeyReadOnly(kKey)) {
    auto readBool = [&](const char* name, bool& value) {
      try {
        if (store.ValueExists(name)) value = store.ReadBool(name);
      } catch (const platform::SettingsError&) {
      }
    };
    readBool("osc", settings.osc);
    readBool("web", settings.web);
    readBool("allowothers", settings.allowOthers);
    auto readPort = [&](const char* name, quint16& port) {
      try {
        if (store.ValueExists(name)) {
          const int value = store.ReadInteger(name);
          if (value > 0 && value <= 65535) port = static_cast<quint16>(value);
        }
      } catch (const platform::SettingsError&) {
      }
    };
    readPort("oscport", settings.oscPort);
    readPort("webport", settings.webPort);
    try {
      settings.token = store.ReadString("token");
      settings.allowList = ParseAllowList(store.ReadString("allowlist"));
    } catch (const platform::SettingsError&) {
    }
  }
  // A token short enough to guess is no token.
  if (settings.token.size() < kMinTokenLength) settings.token.clear();
  return settings;
}

void RemoteSettings::Write() const {
  platform::SettingsStore store;
  if (!store.OpenKey(kKey, true))
    throw platform::SettingsError("cannot open the remote's settings");
  store.WriteBool("osc", osc);
  store.WriteInteger("oscport", oscPort);
  store.WriteBool("web", web);
  store.WriteInteger("webport", webPort);
  store.WriteBool("allowothers", allowOthers);
  store.WriteString("token", token);
  store.WriteString("allowlist", allowList.join(u' '));
  store.CloseKey();
}

bool RemoteSettings::MakeTokenIfNone() {
  if (!token.isEmpty()) return false;
  token = NewPairingToken();
  return true;
}

GateSettings RemoteSettings::Gate() const {
  GateSettings gate;
  gate.allowOthers = allowOthers;
  gate.token = token.toStdString();
  for (const QString& address : allowList) gate.allowList.push_back(address.toStdString());
  return gate;
}

}  // namespace remote
