#pragma once
// Network groups announced and found by DNS-SD over mDNS (the Avahi
// daemon): a host announces its group, and machines looking for one list
// what they find. Without a daemon nothing is announced or found and
// Error() says why; a typed address always works.
//
// Window thread; Avahi's own thread only posts to it.

#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

namespace net {

struct FoundGroup {
  QString name;     // the group's name
  QString address;  // the host's, as text
  quint16 port = 0;
  bool operator==(const FoundGroup&) const = default;
};

class GroupFinder : public QObject {
  Q_OBJECT
 public:
  static constexpr const char* kServiceType = "_tastivo-group._udp";

  explicit GroupFinder(QObject* parent = nullptr);
  ~GroupFinder() override;

  // Announces the group hosted here; an empty name withdraws it.
  void Announce(const QString& group, quint16 port);
  // The groups found so far.
  QVector<FoundGroup> Found() const { return found_; }
  // Why nothing can be found or announced; empty when the daemon answers.
  QString Error() const { return error_; }

 signals:
  void FoundChanged();

 private:
  struct Avahi;
  friend struct Avahi;
  void Add(const FoundGroup& group);
  void Remove(const QString& name);

  std::unique_ptr<Avahi> avahi_;
  QVector<FoundGroup> found_;
  QString error_;
};

}  // namespace net
