#pragma once
// What both remotes need of a peer's address and of the time.

#include <QDateTime>
#include <QHostAddress>

#include <cstdint>

namespace remote {

// A peer as the gate knows it: IPv4 peers by their IPv4 address, also when
// the socket listens on both families.
inline QHostAddress PlainAddress(const QHostAddress& address) {
  bool isV4 = false;
  const quint32 v4 = address.toIPv4Address(&isV4);
  return isV4 ? QHostAddress(v4) : address;
}

// The clock the gate's rate limits and the subscriptions count in.
inline std::int64_t NowMs() {
  return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace remote
