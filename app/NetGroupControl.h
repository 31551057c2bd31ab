#pragma once
// The program's part in a network group: the synchronization group of the
// settings (net/NetSettings.h) played on several machines at once. Keys
// pressed here in that group are told to the other machines with a start
// time on the group's clock; keys pressed there start here on that time,
// through the group start every press already goes through. What happens
// to the group is named in the caption bar of its windows.
//
// Window thread.

#include "net/NetSettings.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

namespace engine {
class NetClock;
}
namespace net {
class GroupFinder;
class NetGroup;
}  // namespace net

namespace app {

class NetGroupControl : public QObject {
  Q_OBJECT
 public:
  explicit NetGroupControl(QObject* parent = nullptr);
  ~NetGroupControl() override;

  // The one of the program, while there is one.
  static NetGroupControl* Instance();

  // Reads the settings again and hosts, joins or leaves the group.
  void Apply();
  // "Network group: hosting "show" on port 7710, with stage, booth", or
  // why not.
  QString Status() const { return status_; }

  // A key pressed here in synchronization group `group`: when that group is
  // shared and other machines are in it, tells them, and returns the time
  // of this process's shared clock when every machine starts it.
  std::optional<std::uint64_t> PressHere(int group, int key);
  void ReleaseHere(int group, int key);
  // Group `group` is the one the settings share, whether or not other
  // machines are in it now.
  bool Shares(int group) const { return settings_.shared && group == settings_.groupNumber; }

  // The groups announced on the network, while the group is shared;
  // nullptr before.
  const net::GroupFinder* Finder() const { return finder_.get(); }

 signals:
  void StatusChanged(const QString& status);
  void FoundChanged();

 private:
  bool InGroup(int group) const;
  void Begin(const QHostAddress& host);
  void Follow(quint16 clockPort);
  void RemotePress(int key, std::uint64_t startGroupNs, std::uint64_t lateNs, const QString& from);
  void RemoteRelease(int key);
  void Notice(const QString& text);
  // The status with who is in the group now.
  void ShowMembers();
  void SetStatus(const QString& status);
  void Stop();

  net::NetSettings settings_;
  QHostAddress host_;
  std::unique_ptr<engine::NetClock> clock_;
  std::unique_ptr<net::NetGroup> group_;
  std::unique_ptr<net::GroupFinder> finder_;
  QString status_;
};

// The network group's part of a set editor's Options page: the group
// shared and its name, the host's address (none: this machine hosts), the
// port and the host's pairing token, and how the group stands.
QWidget* NetGroupOptionsSection(QWidget* page);

}  // namespace app
