#include "net/NetGroup.h"

#include "remote/RemoteGate.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <algorithm>

namespace net {

NetGroup::NetGroup(NetGroupSettings settings, std::function<std::uint64_t()> groupNow,
                   QObject* parent)
    : QObject(parent), settings_(std::move(settings)), groupNow_(std::move(groupNow)) {
  connect(&beat_, &QTimer::timeout, this, &NetGroup::Beat);
}

NetGroup::~NetGroup() = default;

bool NetGroup::Host(const QHostAddress& address, quint16 port, quint16 clockPort) {
  delete socket_;
  socket_ = new QUdpSocket(this);
  if (!socket_->bind(address, port)) return false;
  connect(socket_, &QUdpSocket::readyRead, this, &NetGroup::Receive);
  hosting_ = true;
  clockPort_ = clockPort;
  beat_.start(settings_.aliveEvery);
  return true;
}

bool NetGroup::Join(const QHostAddress& host, quint16 port) {
  delete socket_;
  socket_ = new QUdpSocket(this);
  const QHostAddress any = host.protocol() == QAbstractSocket::IPv6Protocol
                               ? QHostAddress(QHostAddress::AnyIPv6)
                               : QHostAddress(QHostAddress::AnyIPv4);
  if (!socket_->bind(any, 0)) return false;
  connect(socket_, &QUdpSocket::readyRead, this, &NetGroup::Receive);
  hosting_ = false;
  welcomed_ = false;
  rejoining_ = false;
  hostAddress_ = host;
  hostPort_ = port;
  peers_.assign(1, Peer{host.toString(), host, port, std::chrono::steady_clock::now(), {}, 0});
  NetMessage join = Make(MessageKind::kJoin);
  join.name = settings_.member.toStdString();
  join.stamp = SteadyNs();
  Send(join, host, port);
  beat_.start(settings_.aliveEvery);
  return true;
}

void NetGroup::Leave() {
  if (socket_ != nullptr) SendAll(Make(MessageKind::kLeave));
  beat_.stop();
  peers_.clear();
  welcomed_ = false;
  rejoining_ = false;
  hosting_ = false;
  delete socket_;
  socket_ = nullptr;
}

bool NetGroup::Connected() const {
  return hosting_ || welcomed_;
}

quint16 NetGroup::Port() const {
  return socket_ != nullptr ? socket_->localPort() : 0;
}

QStringList NetGroup::Peers() const {
  QStringList names;
  for (const Peer& p : peers_) names << p.name;
  return names;
}

std::uint64_t NetGroup::OneWay(const Peer& peer) {
  if (peer.oneWayNs.empty()) return 0;
  // The longest of the latest: a margin that fits the usual delay but not
  // its spikes would make every spike a late press.
  return *std::max_element(peer.oneWayNs.begin(), peer.oneWayNs.end());
}

std::uint64_t NetGroup::FarthestOneWayNs() const {
  std::uint64_t farthest = 0;
  for (const Peer& p : peers_)
    farthest = std::max(farthest, OneWay(p) + (hosting_ ? 0 : p.theirFarthestNs));
  return farthest;
}

std::uint64_t NetGroup::MarginNs(std::uint64_t periodNs) const {
  return FarthestOneWayNs() + 2 * periodNs + localLeadNs_;
}

void NetGroup::Press(int key, std::uint64_t startGroupNs) {
  NetMessage m = Make(MessageKind::kPress);
  m.key = key;
  m.groupNs = startGroupNs;
  m.name = settings_.member.toStdString();
  SendAll(m);
}

void NetGroup::Release(int key) {
  NetMessage m = Make(MessageKind::kRelease);
  m.key = key;
  m.name = settings_.member.toStdString();
  SendAll(m);
}

NetMessage NetGroup::Make(MessageKind kind) const {
  NetMessage m;
  m.kind = kind;
  m.group = settings_.group.toStdString();
  m.token = settings_.token.toStdString();
  return m;
}

std::uint64_t NetGroup::SteadyNs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

void NetGroup::Send(const NetMessage& m, const QHostAddress& to, quint16 port) {
  NetMessage numbered = m;
  numbered.seq = ++seq_;
  const std::vector<char> bytes = EncodeMessage(numbered);
  if (socket_ != nullptr && !bytes.empty())
    socket_->writeDatagram(bytes.data(), static_cast<qint64>(bytes.size()), to, port);
}

void NetGroup::SendAll(const NetMessage& m, const Peer* except) {
  for (const Peer& p : peers_)
    if (&p != except) Send(m, p.address, p.port);
}

NetGroup::Peer* NetGroup::FindPeer(const QHostAddress& address, quint16 port) {
  for (Peer& p : peers_)
    if (p.address.isEqual(address, QHostAddress::TolerantConversion) && p.port == port) return &p;
  return nullptr;
}

void NetGroup::Drop(std::size_t index, bool lost) {
  const QString name = peers_[index].name;
  peers_.erase(peers_.begin() + static_cast<std::ptrdiff_t>(index));
  if (hosting_) {
    NetMessage gone = Make(MessageKind::kGone);
    gone.name = name.toStdString();
    gone.key = lost ? 1 : 0;
    SendAll(gone);
  } else {
    // Asks the host in again, every beat, for as long as the show goes on.
    welcomed_ = false;
    rejoining_ = true;
    peers_.insert(peers_.begin(), Peer{name, hostAddress_, hostPort_, {}, {}, 0});
  }
  if (lost)
    emit MemberLost(name);
  else
    emit MemberLeft(name);
}

void NetGroup::Beat() {
  const auto now = std::chrono::steady_clock::now();
  for (std::size_t i = peers_.size(); i-- > 0;) {
    const bool silent = now - peers_[i].heard > settings_.lostAfter;
    if (!hosting_ && !welcomed_) {
      if (silent && !rejoining_) {
        beat_.stop();
        emit Refused(QStringLiteral("no answer from %1").arg(peers_[i].name));
        return;
      }
      NetMessage join = Make(MessageKind::kJoin);
      join.name = settings_.member.toStdString();
      join.stamp = SteadyNs();
      Send(join, peers_[i].address, peers_[i].port);
      continue;
    }
    if (silent) {
      Drop(i, true);
      continue;
    }
    NetMessage alive = Make(MessageKind::kAlive);
    alive.stamp = SteadyNs();
    Send(alive, peers_[i].address, peers_[i].port);
  }
}

void NetGroup::Receive() {
  while (socket_ != nullptr && socket_->hasPendingDatagrams()) {
    const QNetworkDatagram datagram = socket_->receiveDatagram();
    const QByteArray bytes = datagram.data();
    const QString from =
        QStringLiteral("%1:%2").arg(datagram.senderAddress().toString()).arg(datagram.senderPort());
    const auto m = DecodeMessage(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (!m) {
      emit Rejected(from, QStringLiteral("not a group message"));
      continue;
    }
    if (m->group != settings_.group.toStdString()) {
      emit Rejected(from, QStringLiteral("another group"));
      continue;
    }
    // A refusal carries no token (the joiner's may be the wrong one); it can
    // only end a join still waiting for its answer.
    if (m->kind == MessageKind::kRefused) {
      if (!hosting_ && !welcomed_)
        Handle(*m, datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
      continue;
    }
    if (settings_.token.isEmpty() || !remote::SameSecret(m->token, settings_.token.toStdString())) {
      emit Rejected(from, QStringLiteral("wrong pairing token"));
      if (hosting_ && m->kind == MessageKind::kJoin) {
        NetMessage refused = Make(MessageKind::kRefused);
        refused.token.clear();
        refused.name = "wrong pairing token";
        Send(refused, datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
      }
      continue;
    }
    Handle(*m, datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
  }
}

void NetGroup::Handle(const NetMessage& m, const QHostAddress& from, quint16 port) {
  const QString name = QString::fromStdString(m.name);
  if (hosting_ && m.kind == MessageKind::kJoin) {
    Peer* peer = FindPeer(from, port);
    const bool fresh = peer == nullptr;
    if (fresh) {
      peers_.push_back(Peer{name, from, port, {}, {}, 0});
      peer = &peers_.back();
    }
    peer->name = name;
    peer->heard = std::chrono::steady_clock::now();
    NetMessage welcome = Make(MessageKind::kWelcome);
    welcome.port = clockPort_;
    welcome.stamp = m.stamp;
    welcome.name = settings_.member.toStdString();
    Send(welcome, from, port);
    NetMessage alive = Make(MessageKind::kAlive);
    alive.stamp = SteadyNs();
    Send(alive, from, port);
    if (fresh) emit MemberJoined(name);
    return;
  }
  Peer* peer = FindPeer(from, port);
  if (peer == nullptr) return;
  peer->heard = std::chrono::steady_clock::now();
  if (!hosting_ && !welcomed_) {
    if (m.kind == MessageKind::kRefused) {
      beat_.stop();
      emit Refused(name);
    } else if (m.kind == MessageKind::kWelcome) {
      welcomed_ = true;
      peer->name = name;
      emit Welcomed(m.port);
    }
    return;
  }
  switch (m.kind) {
    case MessageKind::kAlive: {
      NetMessage echo = Make(MessageKind::kAliveEcho);
      echo.stamp = m.stamp;
      echo.groupNs = hosting_ ? FarthestOneWayNs() : 0;
      Send(echo, from, port);
      break;
    }
    case MessageKind::kAliveEcho: {
      const std::uint64_t now = SteadyNs();
      if (m.stamp > now) break;
      peer->oneWayNs.push_back((now - m.stamp) / 2);
      if (peer->oneWayNs.size() > kDelaysKept) peer->oneWayNs.pop_front();
      peer->theirFarthestNs = m.groupNs;
      break;
    }
    case MessageKind::kLeave:
      Drop(static_cast<std::size_t>(peer - peers_.data()), false);
      break;
    case MessageKind::kGone:
      if (m.key != 0)
        emit MemberLost(name);
      else
        emit MemberLeft(name);
      break;
    case MessageKind::kPress: {
      if (hosting_) SendAll(m, peer);
      const std::uint64_t due = groupNow_() + localLeadNs_;
      emit RemotePress(m.key, m.groupNs, due > m.groupNs ? due - m.groupNs : 0, name);
      break;
    }
    case MessageKind::kRelease:
      if (hosting_) SendAll(m, peer);
      emit RemoteRelease(m.key, name);
      break;
    default:
      break;
  }
}

}  // namespace net
