#pragma once
// The network group's settings: per user, under "Software\Tastivo\Network",
// shared by every keyboard window. Off until the user switches it on.

#include <QString>

namespace net {

struct NetSettings {
  static constexpr const char* kKey = "Software\\Tastivo\\Network";
  static constexpr quint16 kDefaultPort = 7710;

  bool shared = false;
  // The synchronization group shared, and its name on the network.
  int groupNumber = 0;
  QString groupName = QStringLiteral("show");
  // The host's address; empty: this machine hosts the group.
  QString hostAddress;
  // The group's UDP port; the clock is served on the next one.
  quint16 port = kDefaultPort;
  // The host's pairing token, typed on a machine that joins; the host uses
  // its remote's token.
  QString hostToken;

  // Missing or odd values read as the defaults.
  static NetSettings Read();
  // Throws platform::SettingsError when the store can't be written.
  void Write() const;
};

}  // namespace net
