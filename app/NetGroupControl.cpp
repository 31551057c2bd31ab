#include "app/NetGroupControl.h"

#include "app/FormList.h"
#include "app/morvela1.h"
#include "engine/timing/GroupStart.h"
#include "engine/timing/NetClock.h"
#include "engine/timing/SharedClock.h"
#include "net/GroupFinder.h"
#include "net/NetGroup.h"
#include "remote/RemoteSettings.h"
#include "sets/Prop.h"

#include <QHostInfo>

namespace app {

namespace {

NetGroupControl* instance = nullptr;

QString Ms(std::uint64_t ns) {
  return QString::number(static_cast<double>(ns) / 1e6, 'f', 1);
}

}  // namespace

NetGroupControl::NetGroupControl(QObject* parent) : QObject(parent) {
  instance = this;
  Apply();
}

NetGroupControl::~NetGroupControl() {
  Stop();
  if (instance == this) instance = nullptr;
}

NetGroupControl* NetGroupControl::Instance() {
  return instance;
}

void NetGroupControl::Stop() {
  if (finder_) finder_->Announce(QString(), 0);
  if (group_) group_->Leave();
  group_.reset();
  clock_.reset();
}

void NetGroupControl::SetStatus(const QString& status) {
  status_ = status;
  emit StatusChanged(status_);
}

void NetGroupControl::Apply() {
  Stop();
  settings_ = net::NetSettings::Read();
  TForm11::PublishArmingOrder();
  if (!settings_.shared) {
    SetStatus(QStringLiteral("Network group: off"));
    return;
  }
  if (!finder_) {
    finder_ = std::make_unique<net::GroupFinder>();
    connect(finder_.get(), &net::GroupFinder::FoundChanged, this, &NetGroupControl::FoundChanged);
  }
  if (settings_.hostAddress.isEmpty()) {
    Begin(QHostAddress());
    return;
  }
  if (QHostAddress address; address.setAddress(settings_.hostAddress)) {
    Begin(address);
    return;
  }
  // A name ("stage.local") is looked up off the window thread.
  SetStatus(QStringLiteral("Network group: looking up %1").arg(settings_.hostAddress));
  const QString name = settings_.hostAddress;
  QHostInfo::lookupHost(name, this, [this, name](const QHostInfo& info) {
    if (settings_.hostAddress != name || group_) return;
    for (const QHostAddress& address : info.addresses())
      if (address.protocol() == QAbstractSocket::IPv4Protocol) return Begin(address);
    if (!info.addresses().isEmpty()) return Begin(info.addresses().first());
    SetStatus(QStringLiteral("Network group: %1 not found").arg(name));
  });
}

void NetGroupControl::Begin(const QHostAddress& host) {
  const bool hosting = host.isNull();
  net::NetGroupSettings group;
  group.group = settings_.groupName;
  group.member = QHostInfo::localHostName();
  group.token = hosting ? remote::RemoteSettings::Read().token : settings_.hostToken;
  if (group.token.isEmpty()) {
    SetStatus(hosting ? QStringLiteral("Network group: needs the remote's pairing token (allow "
                                       "other devices)")
                      : QStringLiteral("Network group: type the host's pairing token"));
    return;
  }
  host_ = host;
  group_ = std::make_unique<net::NetGroup>(group, [this] { return clock_ ? clock_->Now() : 0; });
  connect(group_.get(), &net::NetGroup::RemotePress, this, &NetGroupControl::RemotePress);
  connect(group_.get(), &net::NetGroup::RemoteRelease, this,
          [this](int key, const QString&) { RemoteRelease(key); });
  // The caption bar has room for some 25 letters: each notice names the
  // machine first and says the rest in a few words.
  connect(group_.get(), &net::NetGroup::MemberJoined, this, [this](const QString& name) {
    Notice(QStringLiteral("%1 joined the group").arg(name));
    ShowMembers();
  });
  connect(group_.get(), &net::NetGroup::MemberLeft, this, [this](const QString& name) {
    Notice(QStringLiteral("%1 left the group").arg(name));
    ShowMembers();
  });
  connect(group_.get(), &net::NetGroup::MemberLost, this, [this](const QString& name) {
    Notice(QStringLiteral("%1 dropped out").arg(name));
    ShowMembers();
  });
  connect(group_.get(), &net::NetGroup::Refused, this, [this](const QString& why) {
    SetStatus(QStringLiteral("Network group: %1").arg(why));
    Notice(QStringLiteral("Not let in: %1").arg(why));
  });
  connect(group_.get(), &net::NetGroup::Welcomed, this, &NetGroupControl::Follow);
  if (hosting) {
    const quint16 clockPort = static_cast<quint16>(settings_.port + 1);
    clock_ = engine::NetClock::Host(std::string(), clockPort);
    if (!clock_ || !group_->Host(QHostAddress::Any, settings_.port, clockPort)) {
      group_.reset();
      clock_.reset();
      SetStatus(QStringLiteral("Network group: port %1 or %2 is taken")
                    .arg(settings_.port)
                    .arg(clockPort));
      return;
    }
    finder_->Announce(settings_.groupName, settings_.port);
    ShowMembers();
    return;
  }
  if (!group_->Join(host, settings_.port)) {
    group_.reset();
    SetStatus(QStringLiteral("Network group: no UDP port to join from"));
    return;
  }
  SetStatus(QStringLiteral("Network group: joining %1").arg(host.toString()));
}

void NetGroupControl::Follow(quint16 clockPort) {
  // A host that came back may serve its clock anew: follow it again.
  clock_ = engine::NetClock::Follow(host_.toString().toStdString(), clockPort);
  ShowMembers();
  Notice(QStringLiteral("Joined \"%1\"").arg(settings_.groupName));
}

void NetGroupControl::ShowMembers() {
  if (!group_) return;
  if (group_->Hosting()) {
    const QStringList members = group_->Peers();
    SetStatus(QStringLiteral("Network group: hosting \"%1\" on port %2, %3")
                  .arg(settings_.groupName)
                  .arg(settings_.port)
                  .arg(members.isEmpty() ? QStringLiteral("no one else in it yet")
                                         : QStringLiteral("with ") + members.join(", ")) +
              (finder_->Error().isEmpty() ? QString() : QStringLiteral("\n") + finder_->Error()));
  } else if (group_->Connected()) {
    SetStatus(QStringLiteral("Network group: in \"%1\" at %2")
                  .arg(settings_.groupName)
                  .arg(host_.toString()));
  } else {
    SetStatus(QStringLiteral("Network group: %1 lost, asking it in again").arg(host_.toString()));
  }
}

bool NetGroupControl::InGroup(int group) const {
  return group_ && group == settings_.groupNumber;
}

std::optional<std::uint64_t> NetGroupControl::PressHere(int group, int key) {
  if (!InGroup(group) || !group_->Connected() || group_->Peers().isEmpty() || !clock_ ||
      !clock_->Synced())
    return std::nullopt;
  const auto cycle = engine::CurrentServerCycle();
  group_->SetLocalLead(static_cast<std::uint64_t>(engine::GroupStart::Lead().count()));
  const std::uint64_t start = clock_->Now() + group_->MarginNs(cycle ? cycle->periodNs : 0);
  group_->Press(key, start);
  return clock_->ToLocal(start);
}

void NetGroupControl::ReleaseHere(int group, int key) {
  if (InGroup(group) && group_->Connected()) group_->Release(key);
}

void NetGroupControl::RemotePress(int key, std::uint64_t startGroupNs, std::uint64_t lateNs,
                                  const QString& from) {
  group_->SetLocalLead(static_cast<std::uint64_t>(engine::GroupStart::Lead().count()));
  for (TForm11* w : FormList) {
    if (w == nullptr || w->GroupNumber() != settings_.groupNumber) continue;
    // Another machine's set may have more rows than ours.
    if (key < 0 || key >= w->Tuning->Set.RowCount()) return;
    if (!clock_ || !clock_->Synced()) {
      w->StartGroupPress(nullptr, key, std::nullopt);
      Notice(QStringLiteral("%1's key out of sync").arg(from));
    } else if (lateNs > 0) {
      w->StartGroupPress(nullptr, key, std::nullopt);
      Notice(QStringLiteral("%1's key %2 ms late").arg(from, Ms(lateNs)));
    } else {
      w->StartGroupPress(nullptr, key, clock_->ToLocal(startGroupNs));
    }
    return;
  }
}

void NetGroupControl::RemoteRelease(int key) {
  for (TForm11* w : FormList)
    if (w != nullptr && w->GroupNumber() == settings_.groupNumber) {
      if (key >= 0 && key < w->Tuning->Set.RowCount()) w->NetworkRelease(key);
      return;
    }
}

void NetGroupControl::Notice(const QString& text) {
  const QString notice = text;
  for (TForm11* w : FormList)
    if (w != nullptr && w->GroupNumber() == settings_.groupNumber) w->ShowGroupNotice(notice);
}

}  // namespace app
