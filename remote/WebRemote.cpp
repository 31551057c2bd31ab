#include "remote/WebRemote.h"

#include "remote/NetAddress.h"
#include "remote/RemoteCommand.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>

#include <cmath>

// The page is in the library's resources, which a static library's users
// must pull in by name, outside any namespace.
static void LoadRemotePage() {
  Q_INIT_RESOURCE(remote);
}

namespace remote {

namespace {

bool TokenIn(const QUrl& url, const QString& token) {
  const QString given = QUrlQuery(url).queryItemValue(QStringLiteral("t"));
  return !token.isEmpty() && SameSecret(given.toStdString(), token.toStdString());
}

// The remote page sends {"a": address, "v": [values]}: the OSC address
// space, read by the same rules.
std::vector<OscArgument> Arguments(const QJsonArray& values) {
  std::vector<OscArgument> args;
  for (const QJsonValue& value : values) {
    OscArgument arg;
    if (value.isDouble()) {
      const double d = value.toDouble();
      if (d == std::floor(d) && std::abs(d) < 1e9) {
        arg.type = 'i';
        arg.i = static_cast<std::int32_t>(d);
      } else {
        arg.type = 'f';
        arg.f = static_cast<float>(d);
      }
    } else if (value.isString()) {
      arg.type = 's';
      arg.s = value.toString().toStdString();
    } else {
      arg.type = '?';
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace

WebRemote::WebRemote(RemoteTarget& target, QObject* parent)
    : QAbstractHttpServer(parent), target_(target) {
  LoadRemotePage();
  QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));
  connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebRemote::AcceptSockets);
  pushTimer_.setInterval(1000 / kPushHz);
  connect(&pushTimer_, &QTimer::timeout, this, [this] { Push(); });
}

WebRemote::~WebRemote() {
  for (auto& [socket, client] : clients_) {
    socket->disconnect(this);
    for (const auto& [window, key] : client.held) target_.Key(window, key, false);
    socket->deleteLater();
  }
}

bool WebRemote::Start(quint16 port, bool allowOthers, const QString& token, QString* error) {
  allowOthers_ = allowOthers;
  token_ = token;
  if (token_.isEmpty()) {
    if (error) *error = QStringLiteral("no pairing token");
    return false;
  }
  port_ = listen(allowOthers ? QHostAddress::Any : QHostAddress::LocalHost, port);
  if (port_ == 0 && error) *error = QStringLiteral("the port is in use or not allowed");
  return port_ != 0;
}

QString WebRemote::PageUrl(const QString& host) const {
  return QStringLiteral("http://%1:%2/?t=%3").arg(host).arg(port_).arg(token_);
}

bool WebRemote::Allowed(const QHostAddress& from) const {
  return allowOthers_ || PlainAddress(from).isLoopback();
}

bool WebRemote::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  QHttpServerResponder responder = makeResponder(request, socket);
  const QHostAddress from = PlainAddress(request.remoteAddress());
  // A refused upgrade is answered and then closed by the server, which
  // says so in a warning of its own that a flood must not repeat.
  const bool upgrade = request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
  if (!Allowed(from)) {
    responder.write(QHttpServerResponder::StatusCode::Forbidden);
    return !upgrade;
  }
  if (!rates_.WithinRate(from.toString().toStdString(), NowMs())) {
    responder.write(QHttpServerResponder::StatusCode::TooManyRequests);
    return !upgrade;
  }
  if (!TokenIn(request.url(), token_)) {
    responder.write(QHttpServerResponder::StatusCode::Unauthorized);
    return !upgrade;
  }
  if (upgrade) {
    // Another site's page in the same browser may open a WebSocket here;
    // only the remote page's own origin is let through to the upgrade. The
    // server upgrades a request its handler took, and closes the others.
    if (request.url().path() == QLatin1String("/ws") &&
        request.value("origin") == "http://" + request.value("host"))
      return true;
    responder.write(QHttpServerResponder::StatusCode::Forbidden);
    return false;
  }
  if (request.method() != QHttpServerRequest::Method::Get || request.url().path() != u'/') {
    responder.write(QHttpServerResponder::StatusCode::NotFound);
    return true;
  }
  QFile page(QStringLiteral(":/remote/remote.html"));
  if (!page.open(QIODevice::ReadOnly)) {
    responder.write(QHttpServerResponder::StatusCode::InternalServerError);
    return true;
  }
  // Nothing from elsewhere: no frames around it, no address of it passed on.
  responder.write(page.readAll(),
                  {{"Content-Type", "text/html; charset=utf-8"},
                   {"Cache-Control", "no-store"},
                   {"Referrer-Policy", "no-referrer"},
                   {"X-Frame-Options", "DENY"},
                   {"Content-Security-Policy",
                    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                    "connect-src 'self'; frame-ancestors 'none'"}});
  return true;
}

void WebRemote::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

void WebRemote::AcceptSockets() {
  while (hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> owned = nextPendingWebSocketConnection();
    if (!owned) continue;
    QWebSocket* socket = owned.release();
    socket->setParent(this);
    const QUrl url = socket->requestUrl();
    const QHostAddress from = PlainAddress(socket->peerAddress());
    // Checked again on the socket, whatever the server did with the request.
    const QString origin = QStringLiteral("http://%1:%2").arg(url.host()).arg(url.port(port_));
    const bool ok = Allowed(from) && TokenIn(url, token_) && socket->origin() == origin &&
                    rates_.WithinRate(from.toString().toStdString(), NowMs()) &&
                    clients_.size() < static_cast<std::size_t>(kMaxClients);
    if (!ok) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    socket->setMaxAllowedIncomingMessageSize(kMaxPacketBytes);
    clients_[socket] = {from.toString().toStdString(), {}};
    // Handled from the event loop, not from the socket's signal: a press may
    // show a message box, and the socket reads nothing more until its
    // signal returns.
    connect(
        socket, &QWebSocket::textMessageReceived, this,
        [this, socket](const QString& text) { Receive(socket, text); }, Qt::QueuedConnection);
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { Drop(socket); });
    if (clients_.size() == 1) {
      // What the pages were last told is what this one is told now.
      pushedWindows_ = WindowsJson();
      pushedStates_.clear();
      for (const WindowInfo& info : target_.Windows())
        pushedStates_[info.window] = target_.State(info.window);
    }
    Greet(socket);
    Wake();
    pushTimer_.start();
  }
}

void WebRemote::Drop(QWebSocket* socket) {
  auto it = clients_.find(socket);
  if (it == clients_.end()) return;
  // A phone that lost the network lets go of what it held.
  for (const auto& [window, key] : it->second.held) target_.Key(window, key, false);
  clients_.erase(it);
  socket->deleteLater();
  if (clients_.empty()) pushTimer_.stop();
}

void WebRemote::Receive(QWebSocket* socket, const QString& text) {
  auto it = clients_.find(socket);
  if (it == clients_.end() || !rates_.WithinRate(it->second.host, NowMs())) return;
  const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
  const QString address = message.value(QStringLiteral("a")).toString();
  Reach reach;
  for (const WindowInfo& info : target_.Windows()) {
    if (info.window < 0) continue;
    const auto n = static_cast<std::size_t>(info.window);
    if (reach.keysOfWindow.size() <= n) reach.keysOfWindow.resize(n + 1, 0);
    reach.keysOfWindow[n] = info.keys;
  }
  const ParsedCommand parsed = ParseRemoteCommand(
      address.toStdString(), Arguments(message.value(QStringLiteral("v")).toArray()), reach);
  if (!parsed.Ok()) return;
  const RemoteCommand& command = parsed.command;
  if (command.kind == CommandKind::kKey) {
    if (command.value)
      it->second.held.insert({command.window, command.key});
    else
      it->second.held.erase({command.window, command.key});
  }
  // The page sees what its finger did at once.
  if (ApplyToTarget(target_, command)) Push();
}

QByteArray WebRemote::WindowsJson() const {
  QJsonArray windows;
  for (const WindowInfo& info : target_.Windows()) {
    QJsonArray keys;
    for (const KeyInfo& key : target_.Keys(info.window))
      keys.append(QJsonObject{{"k", key.key}, {"l", QString::fromStdString(key.label)}});
    windows.append(QJsonObject{{"w", info.window},
                               {"g", info.group},
                               {"set", QString::fromStdString(info.setName)},
                               {"keys", keys}});
  }
  return QJsonDocument(QJsonObject{{"windows", windows}}).toJson(QJsonDocument::Compact);
}

namespace {

QByteArray StateJson(int window, const WindowState& state) {
  return QJsonDocument(QJsonObject{{"state", QJsonObject{{"w", window},
                                                         {"key", state.key},
                                                         {"l", QString::fromStdString(state.label)},
                                                         {"playing", state.playing},
                                                         {"pos", state.position},
                                                         {"len", state.length}}}})
      .toJson(QJsonDocument::Compact);
}

}  // namespace

void WebRemote::Greet(QWebSocket* socket) {
  // The newcomer alone hears everything; the others' pages stay as they are.
  socket->sendTextMessage(QString::fromUtf8(WindowsJson()));
  for (const WindowInfo& info : target_.Windows())
    socket->sendTextMessage(QString::fromUtf8(StateJson(info.window, target_.State(info.window))));
}

void WebRemote::Push() {
  if (clients_.empty()) return;
  std::vector<QByteArray> messages;
  // The windows and their keys change seldom; they are looked at twice a
  // second, the states at every tick.
  if (++tick_ % (kPushHz / 2) == 0) {
    const QByteArray windows = WindowsJson();
    if (windows != pushedWindows_) {
      pushedWindows_ = windows;
      messages.push_back(windows);
    }
  }
  for (const WindowInfo& info : target_.Windows()) {
    const WindowState state = target_.State(info.window);
    auto last = pushedStates_.find(info.window);
    if (last != pushedStates_.end() && last->second == state) continue;
    pushedStates_[info.window] = state;
    messages.push_back(StateJson(info.window, state));
  }
  for (const QByteArray& message : messages)
    for (auto& [socket, client] : clients_) socket->sendTextMessage(QString::fromUtf8(message));
  // Nothing changing for a second: look less often, so that an idle page
  // costs next to nothing; every tick again at the first change.
  if (!messages.empty()) {
    Wake();
  } else if (++quietTicks_ == kPushHz) {
    pushTimer_.setInterval(kIdlePushMs);
  }
}

void WebRemote::Wake() {
  quietTicks_ = 0;
  if (pushTimer_.interval() != 1000 / kPushHz) pushTimer_.setInterval(1000 / kPushHz);
}

}  // namespace remote
