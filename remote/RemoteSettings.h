#pragma once
// The remote's settings: per user, with the program's other settings under
// "Software\Tastivo\Remote", shared by every keyboard window. Off until the
// user switches it on; loopback only until other devices are allowed.

#include "remote/RemoteGate.h"

#include <QString>
#include <QStringList>

namespace remote {

struct RemoteSettings {
  static constexpr const char* kKey = "Software\\Tastivo\\Remote";
  static constexpr quint16 kDefaultOscPort = 7700;
  static constexpr quint16 kDefaultWebPort = 7780;

  bool osc = false;
  quint16 oscPort = kDefaultOscPort;
  bool web = false;
  quint16 webPort = kDefaultWebPort;
  bool allowOthers = false;
  // The pairing token; empty until other devices are first allowed.
  QString token;
  static constexpr qsizetype kMinTokenLength = 16;
  // Addresses of other devices let in without the token.
  QStringList allowList;

  // Missing or odd values read as the defaults.
  static RemoteSettings Read();
  // Throws platform::SettingsError when the store can't be written.
  void Write() const;

  // Makes a token when there is none; true when it did (and the settings
  // want writing).
  bool MakeTokenIfNone();

  GateSettings Gate() const;
};

// 128 random bits as 32 lowercase hex digits.
QString NewPairingToken();
// "192.168.1.20, 10.0.0.7" or one per line: the addresses, cleaned of
// blanks; anything that is not an address is left out.
QStringList ParseAllowList(const QString& text);

}  // namespace remote
