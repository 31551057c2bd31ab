#pragma once
// One copy of the program per user and desktop session.
//
// The first copy listens on a local socket named after the user and the
// display it shows on. A later start connects, hands over its set file (or
// nothing, to have the first window brought forward), waits until the
// running copy has taken it, and ends. A socket left behind by a copy that
// crashed answers no one; the next start takes its place.

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace platform {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // The socket for this user and session: in $XDG_RUNTIME_DIR (a folder of
  // the user's own, for the login's lifetime), else in the temporary folder
  // under a name that carries the user id; one per display, as a window can
  // only be raised on the display it is on.
  static QString SocketPath();

  explicit SingleInstance(const QString& socketPath = SocketPath());
  ~SingleInstance() override;

  enum class Start {
    kFirst,       // no copy runs: this one goes on, and Listen() must follow
    kHandedOver,  // a running copy took the request: this start ends
    kAlone,       // a copy holds the socket but did not answer: this one goes on without it
  };
  // Works before the application object exists. Hands file (empty: only
  // bring the first window forward) to a running copy. Otherwise keeps
  // other starts waiting until Listen().
  Start HandOverOrClaim(const QString& file);

  // Needs the application object. Takes the socket over (one of a copy that
  // crashed included) and lets waiting starts go on. False when the socket
  // could not be made; the program then runs without it.
  bool Listen();
  QString Error() const { return error_; }

  // How long a start waits for the running copy to take its request. A copy
  // still building its windows answers once its event loop runs.
  static constexpr int kAnswerMs = 20000;

 signals:
  // On the window thread: a later start asked to open file (empty: only to
  // bring the first window forward).
  void Requested(const QString& file);

 private:
  void Read(QLocalSocket* socket);

  QString path_;
  QString error_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace platform
