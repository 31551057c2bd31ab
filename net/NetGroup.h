#pragma once
// One machine's part in a network group: the windows of one group on
// several machines, whose key presses sound on all of them at once.
//
// The first machine hosts the group: the others join it at its address
// with the pairing token and hear every press through it (a star, so that
// each member needs to know only the host). A press names a start time on
// the group's clock (NetClock.h) far enough ahead for every member to have
// it in time: the farthest one-way delay measured to any member, plus what
// starting takes on the machine (MarginNs). A press that arrives after its
// start can be met plays at once, told with how late it was
// (RemotePress), so that the performer sees the group out of step rather
// than hearing it.
//
// Each side sends a message every AliveEvery; its echo measures the round
// trip, half of which is taken as the one-way delay (the client clock takes
// the two directions as alike too). A machine not heard for LostAfter is
// lost: it is named (MemberLost) and the others go on. A member that lost
// its host asks it in again until it answers.
//
// Window thread.

#include "net/NetMessage.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class QUdpSocket;

namespace net {

struct NetGroupSettings {
  QString group;   // the group's name on the network
  QString member;  // this machine's name in it
  QString token;   // the pairing token every message must carry
  std::chrono::milliseconds aliveEvery{250};
  std::chrono::milliseconds lostAfter{2000};
};

class NetGroup : public QObject {
  Q_OBJECT
 public:
  // `groupNow` reads the group's clock, in ns.
  NetGroup(NetGroupSettings settings, std::function<std::uint64_t()> groupNow,
           QObject* parent = nullptr);
  // Says nothing to the others: a machine that goes away without Leave is
  // lost to them after LostAfter.
  ~NetGroup() override;

  // Hosts the group on `address`:`port` (0: any free port), telling
  // joiners the clock's port; false when the port can't be had.
  bool Host(const QHostAddress& address, quint16 port, quint16 clockPort);
  // Asks the host at `host`:`port` in; Welcomed or Refused follows.
  bool Join(const QHostAddress& host, quint16 port);
  // Tells the others this machine leaves, and stops.
  void Leave();

  bool Hosting() const { return hosting_; }
  // The host always; a member once welcomed, until it leaves or loses the
  // host.
  bool Connected() const;
  quint16 Port() const;
  const NetGroupSettings& Settings() const { return settings_; }
  // The names of the machines this one hears directly.
  QStringList Peers() const;

  // What starting a clip takes on this machine once the start time is
  // known (the group start's lead); a press due sooner than that is late.
  void SetLocalLead(std::uint64_t ns) { localLeadNs_ = ns; }
  // How far ahead of now a press must name its start: the farthest one-way
  // delay to any machine of the group plus two periods of the output and
  // the local lead.
  std::uint64_t MarginNs(std::uint64_t periodNs) const;
  // The longest one-way delay from here to any machine of the group,
  // through the host for a member.
  std::uint64_t FarthestOneWayNs() const;

  // Tells every other machine of the group of a key pressed or released
  // here.
  void Press(int key, std::uint64_t startGroupNs);
  void Release(int key);

 signals:
  void Welcomed(quint16 clockPort);
  void Refused(const QString& why);
  void MemberJoined(const QString& name);
  void MemberLeft(const QString& name);
  void MemberLost(const QString& name);
  // A key pressed on another machine: to start at `startGroupNs`, or at
  // once when it came `lateNs` (more than 0) too late for that.
  void RemotePress(int key, std::uint64_t startGroupNs, std::uint64_t lateNs, const QString& from);
  void RemoteRelease(int key, const QString& from);
  // A datagram refused: not ours, a wrong token or another group.
  void Rejected(const QString& from, const QString& why);

 private:
  struct Peer {
    QString name;
    QHostAddress address;
    quint16 port = 0;
    std::chrono::steady_clock::time_point heard;
    std::deque<std::uint64_t> oneWayNs;  // the latest measurements
    std::uint64_t theirFarthestNs = 0;
  };
  static constexpr std::size_t kDelaysKept = 16;

  void Receive();
  void Handle(const NetMessage& m, const QHostAddress& from, quint16 port);
  void Beat();
  void Send(const NetMessage& m, const QHostAddress& to, quint16 port);
  void SendAll(const NetMessage& m, const Peer* except = nullptr);
  NetMessage Make(MessageKind kind) const;
  Peer* FindPeer(const QHostAddress& address, quint16 port);
  void Drop(std::size_t index, bool lost);
  static std::uint64_t SteadyNs();
  static std::uint64_t OneWay(const Peer& peer);

  NetGroupSettings settings_;
  std::function<std::uint64_t()> groupNow_;
  QUdpSocket* socket_ = nullptr;
  QTimer beat_;
  bool hosting_ = false;
  bool welcomed_ = false;
  bool rejoining_ = false;  // the host was lost: asking it in again
  QHostAddress hostAddress_;
  quint16 hostPort_ = 0;
  quint16 clockPort_ = 0;
  std::uint64_t localLeadNs_ = 0;
  std::uint32_t seq_ = 0;
  std::vector<Peer> peers_;
};

}  // namespace net
