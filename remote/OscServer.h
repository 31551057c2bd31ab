#pragma once
// The OSC remote: a UDP socket on the window thread, read without ever
// waiting, that turns packets into calls of the RemoteTarget and pushes
// each window's state to subscribers when it changes, at most kPushHz times
// a second.

#include "remote/RejectionLog.h"
#include "remote/RemoteGate.h"
#include "remote/RemoteTarget.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace remote {

class OscServer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kPushHz = 30;
  static constexpr int kMaxSubscribers = 16;
  // A subscription lasts this long unless it is renewed.
  static constexpr std::int64_t kSubscriptionMs = 10 * 60 * 1000;
  // Packets handled in one turn of the event loop; the rest wait for the
  // next turn, so a flood never holds the windows up.
  static constexpr int kPacketsPerTurn = 64;

  explicit OscServer(RemoteTarget& target, QObject* parent = nullptr);
  ~OscServer() override;

  // Listens on port (0: any free one) of the loopback address, or of every
  // address when the gate allows other devices. False with the reason when
  // the port can't be had.
  bool Start(quint16 port, const GateSettings& gate, QString* error = nullptr);
  // Releases the keys the remote holds down and closes the socket.
  void Stop();
  bool Listening() const;
  quint16 Port() const;
  const RejectionLog& Rejections() const { return log_; }
  std::uint64_t Handled() const { return handled_; }

  // Where the lines about refused messages go; stderr when unset.
  std::function<void(const std::string&)> Log;

 private:
  void ReadPending();
  void HandleReceived();
  void HandlePacket(const QByteArray& data, const QHostAddress& from, quint16 port);
  void Execute(const RemoteCommand& command, const QHostAddress& from, quint16 port);
  void Reply(const QHostAddress& to, quint16 port, const std::vector<char>& bytes);
  void ReplyWindows(const QHostAddress& to, quint16 port);
  void PushStates();
  void Refuse(Rejection why);
  Reach CurrentReach() const;

  RemoteTarget& target_;
  QUdpSocket* socket_;
  QTimer pushTimer_;
  bool readQueued_ = false;
  // Packets read and not yet handled.
  std::deque<QNetworkDatagram> received_;
  bool handleQueued_ = false;
  RemoteGate gate_;
  RejectionLog log_;
  std::uint64_t handled_ = 0;
  // Keys pressed from here and not yet released, by window.
  std::set<std::pair<int, int>> held_;
  struct Subscriber {
    QHostAddress address;
    quint16 port = 0;
    std::int64_t untilMs = 0;
  };
  std::vector<Subscriber> subscribers_;
  std::map<int, WindowState> pushed_;
};

}  // namespace remote
