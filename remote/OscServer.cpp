#include "remote/OscServer.h"

#include "remote/NetAddress.h"
#include "remote/OscHandler.h"
#include "remote/OscPacket.h"

#include <QNetworkDatagram>

#include <algorithm>
#include <cstdio>

namespace remote {

namespace {

Sender SenderOf(const QHostAddress& address) {
  const QHostAddress plain = PlainAddress(address);
  return {plain.toString().toStdString(), plain.isLoopback()};
}

OscArgument Int(int value) {
  OscArgument arg;
  arg.type = 'i';
  arg.i = value;
  return arg;
}

OscArgument Float(double value) {
  OscArgument arg;
  arg.type = 'f';
  arg.f = static_cast<float>(value);
  return arg;
}

OscArgument Text(std::string value) {
  OscArgument arg;
  arg.type = 's';
  arg.s = std::move(value);
  return arg;
}

}  // namespace

OscServer::OscServer(RemoteTarget& target, QObject* parent)
    : QObject(parent), target_(target), socket_(new QUdpSocket(this)) {
  connect(socket_, &QUdpSocket::readyRead, this, &OscServer::ReadPending);
  pushTimer_.setInterval(1000 / kPushHz);
  connect(&pushTimer_, &QTimer::timeout, this, &OscServer::PushStates);
}

OscServer::~OscServer() {
  Stop();
}

bool OscServer::Start(quint16 port, const GateSettings& gate, QString* error) {
  Stop();
  gate_.SetSettings(gate);
  const QHostAddress where = gate.allowOthers ? QHostAddress::Any : QHostAddress::LocalHost;
  if (!socket_->bind(where, port)) {
    if (error) *error = socket_->errorString();
    return false;
  }
  return true;
}

void OscServer::Stop() {
  // Keys held from here would otherwise sound on for ever.
  received_.clear();
  const auto held = std::exchange(held_, {});
  for (const auto& [window, key] : held) target_.Key(window, key, false);
  socket_->close();
  subscribers_.clear();
  pushed_.clear();
  pushTimer_.stop();
}

bool OscServer::Listening() const {
  return socket_->state() == QAbstractSocket::BoundState;
}

quint16 OscServer::Port() const {
  return socket_->localPort();
}

Reach OscServer::CurrentReach() const {
  Reach reach;
  for (const WindowInfo& info : target_.Windows()) {
    if (info.window < 0) continue;
    const auto n = static_cast<std::size_t>(info.window);
    if (reach.keysOfWindow.size() <= n) reach.keysOfWindow.resize(n + 1, 0);
    reach.keysOfWindow[n] = info.keys;
  }
  return reach;
}

void OscServer::ReadPending() {
  readQueued_ = false;
  for (int n = 0; n < kPacketsPerTurn && socket_->hasPendingDatagrams(); ++n) {
    const qint64 size = socket_->pendingDatagramSize();
    // Longer packets are read no further than needed to say so.
    QNetworkDatagram datagram = socket_->receiveDatagram(static_cast<qint64>(kMaxPacketBytes) + 4);
    if (size > static_cast<qint64>(kMaxPacketBytes)) {
      Refuse(Rejection::kOversized);
      continue;
    }
    received_.push_back(std::move(datagram));
  }
  if (socket_->hasPendingDatagrams() && !readQueued_) {
    readQueued_ = true;
    QTimer::singleShot(0, this, &OscServer::ReadPending);
  }
  // Handled from the event loop, not from the socket's signal: a press may
  // show a message box, and the socket tells of no further packet until its
  // signal returns, so every press and release after it would wait for the
  // box to be closed.
  if (!received_.empty() && !handleQueued_) {
    handleQueued_ = true;
    QMetaObject::invokeMethod(this, &OscServer::HandleReceived, Qt::QueuedConnection);
  }
}

void OscServer::HandleReceived() {
  handleQueued_ = false;
  while (!received_.empty()) {
    const QNetworkDatagram datagram = std::move(received_.front());
    received_.pop_front();
    HandlePacket(datagram.data(), datagram.senderAddress(),
                 static_cast<quint16>(datagram.senderPort()));
  }
}

void OscServer::Refuse(Rejection why) {
  const std::string line = log_.Count(why, NowMs());
  if (line.empty()) return;
  if (Log)
    Log(line);
  else
    std::fprintf(stderr, "%s\n", line.c_str());
}

void OscServer::HandlePacket(const QByteArray& data, const QHostAddress& from, quint16 port) {
  const ParsedCommand parsed =
      HandleOscPacket(data.constData(), static_cast<std::size_t>(data.size()), SenderOf(from),
                      CurrentReach(), gate_, NowMs());
  if (!parsed.Ok()) {
    Refuse(parsed.rejection);
    return;
  }
  ++handled_;
  Execute(parsed.command, from, port);
}

void OscServer::Execute(const RemoteCommand& command, const QHostAddress& from, quint16 port) {
  if (command.kind == CommandKind::kKey) {
    if (command.value)
      held_.insert({command.window, command.key});
    else
      held_.erase({command.window, command.key});
  }
  if (ApplyToTarget(target_, command)) return;
  switch (command.kind) {
    case CommandKind::kSet:
      if (!target_.LoadSet(command.window, command.text)) Refuse(Rejection::kOutOfRange);
      break;
    case CommandKind::kWindows:
      ReplyWindows(from, port);
      break;
    case CommandKind::kSubscribe:
    case CommandKind::kUnsubscribe: {
      const quint16 to = command.value ? static_cast<quint16>(command.value) : port;
      auto same = [&](const Subscriber& s) { return s.address == from && s.port == to; };
      subscribers_.erase(std::remove_if(subscribers_.begin(), subscribers_.end(), same),
                         subscribers_.end());
      if (command.kind == CommandKind::kSubscribe) {
        if (subscribers_.size() >= static_cast<std::size_t>(kMaxSubscribers))
          subscribers_.erase(subscribers_.begin());
        subscribers_.push_back({from, to, NowMs() + kSubscriptionMs});
        // The newcomer hears every window's state at once.
        pushed_.clear();
        PushStates();
        pushTimer_.start();
      } else if (subscribers_.empty()) {
        pushTimer_.stop();
      }
      break;
    }
    default:
      break;
  }
}

void OscServer::Reply(const QHostAddress& to, quint16 port, const std::vector<char>& bytes) {
  if (!bytes.empty())
    socket_->writeDatagram(bytes.data(), static_cast<qint64>(bytes.size()), to, port);
}

void OscServer::ReplyWindows(const QHostAddress& to, quint16 port) {
  const std::vector<WindowInfo> windows = target_.Windows();
  Reply(to, port, EncodeOscMessage({"/tastivo/windows", {Int(static_cast<int>(windows.size()))}}));
  for (const WindowInfo& info : windows)
    Reply(to, port,
          EncodeOscMessage(
              {"/tastivo/window",
               {Int(info.window), Int(info.group), Text(info.setName), Int(info.keys)}}));
}

void OscServer::PushStates() {
  const std::int64_t now = NowMs();
  subscribers_.erase(std::remove_if(subscribers_.begin(), subscribers_.end(),
                                    [&](const Subscriber& s) { return s.untilMs < now; }),
                     subscribers_.end());
  if (subscribers_.empty()) {
    pushTimer_.stop();
    return;
  }
  for (const WindowInfo& info : target_.Windows()) {
    const WindowState state = target_.State(info.window);
    auto last = pushed_.find(info.window);
    if (last != pushed_.end() && last->second == state) continue;
    pushed_[info.window] = state;
    const std::vector<char> bytes =
        EncodeOscMessage({"/tastivo/" + std::to_string(info.window) + "/state",
                          {Int(state.key), Text(state.label), Int(state.playing ? 1 : 0),
                           Float(state.position), Float(state.length)}});
    for (const Subscriber& s : subscribers_) Reply(s.address, s.port, bytes);
  }
}

}  // namespace remote
