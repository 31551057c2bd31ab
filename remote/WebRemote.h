#pragma once
// The web remote: a page for a phone, served by the program, with each
// window's keys as buttons that are pressed and released as the finger
// touches and leaves them, and live state over a WebSocket.
//
// Every request carries the pairing token (?t=...); one without it, or with
// a wrong one, gets 401 and nothing else. A WebSocket must also come from
// the page's own origin. Each client address has the same allowance of
// requests and messages as an OSC sender. Runs on the window thread.

#include "remote/RemoteGate.h"
#include "remote/RemoteTarget.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QTimer>

#include <map>
#include <memory>
#include <set>
#include <utility>

class QWebSocket;

namespace remote {

class WebRemote : public QAbstractHttpServer {
  Q_OBJECT
 public:
  static constexpr int kPushHz = 30;
  static constexpr int kMaxClients = 16;
  // How often the state is looked at while nothing changes.
  static constexpr int kIdlePushMs = 250;

  WebRemote(RemoteTarget& target, QObject* parent = nullptr);
  ~WebRemote() override;

  // Listens on port (0: any free one) of the loopback address, or of every
  // address when other devices are allowed. token must not be empty.
  bool Start(quint16 port, bool allowOthers, const QString& token, QString* error = nullptr);
  quint16 Port() const { return port_; }
  // The page's address for a device that reaches this machine as host.
  QString PageUrl(const QString& host) const;
  int Clients() const { return static_cast<int>(clients_.size()); }

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  struct Client {
    std::string host;
    std::set<std::pair<int, int>> held;
  };
  bool Allowed(const QHostAddress& from) const;
  void AcceptSockets();
  void Receive(QWebSocket* socket, const QString& text);
  void Drop(QWebSocket* socket);
  // Everything to a page that just connected.
  void Greet(QWebSocket* socket);
  // What changed, to every page.
  void Push();
  void Wake();
  QByteArray WindowsJson() const;

  RemoteTarget& target_;
  RemoteGate rates_;
  bool allowOthers_ = false;
  QString token_;
  quint16 port_ = 0;
  std::map<QWebSocket*, Client> clients_;
  QTimer pushTimer_;
  int tick_ = 0;
  int quietTicks_ = 0;
  QByteArray pushedWindows_;
  std::map<int, WindowState> pushedStates_;
};

}  // namespace remote
