#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QtEndian>

#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// A request: this tag, the length of the file name, the name in UTF-8. The
// answer: one byte, once the request was taken.
constexpr quint32 kTag = 0x54535631;  // "TSV1"
constexpr int kHeaderBytes = 8;
constexpr quint32 kMaxNameBytes = 64 * 1024;
constexpr char kTaken = '1';
constexpr int kConnectMs = 2000;
constexpr int kAttempts = 3;

QByteArray Request(const QString& file) {
  const QByteArray name = file.toUtf8();
  QByteArray bytes(kHeaderBytes, '\0');
  qToBigEndian(kTag, bytes.data());
  qToBigEndian(static_cast<quint32>(name.size()), bytes.data() + 4);
  return bytes + name;
}

// Whether the copy at the other end runs as this user: in the temporary
// folder another user could have made a socket of that name.
bool PeerIsThisUser(const QLocalSocket& socket) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                    &size) == 0 &&
         peer.uid == getuid();
}

}  // namespace

QString SingleInstance::SocketPath() {
  QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
  if (display.isEmpty()) {
    display = qEnvironmentVariable("DISPLAY");
    // ":0" and ":0.0" name the same display.
    const qsizetype colon = display.lastIndexOf(u':');
    const qsizetype dot = colon < 0 ? -1 : display.indexOf(u'.', colon);
    if (dot > 0) display.truncate(dot);
  }
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::tempPath();
  // Hashed: a socket's path is limited to about 100 bytes, and a display
  // name may be a path itself.
  const QByteArray key = QByteArray::number(getuid()) + '\n' + display.toUtf8();
  const QByteArray name =
      QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16);
  return folder + QStringLiteral("/tastivo-") + QString::fromLatin1(name) +
         QStringLiteral(".socket");
}

SingleInstance::SingleInstance(const QString& socketPath) : path_(socketPath) {}

SingleInstance::~SingleInstance() = default;

SingleInstance::Start SingleInstance::HandOverOrClaim(const QString& file) {
  // A copy that ends while it is asked closes the connection without an
  // answer; asking again then finds a newer copy, or none.
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // Between finding no copy and listening, a start holds this lock, so
    // that two starts at once can't both become the first. A lock left by a
    // copy that crashed is taken over; one held by a live copy never goes
    // stale with age.
    lock_ = std::make_unique<QLockFile>(path_ + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0);
    const bool locked = lock_->tryLock(kAnswerMs);
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(kConnectMs)) {
      // No socket, or one that no copy listens on any more. A lock that
      // could not even be made (a folder without write access) leaves
      // Listen() to fail and say why.
      const bool waitedInVain = !locked && lock_->error() == QLockFile::LockFailedError;
      return waitedInVain ? Start::kAlone : Start::kFirst;
    }
    lock_.reset();
    if (!PeerIsThisUser(socket)) return Start::kAlone;
    socket.write(Request(file));
    socket.flush();
    const QDeadlineTimer deadline(kAnswerMs);
    while (socket.bytesAvailable() < 1 && socket.state() == QLocalSocket::ConnectedState &&
           !deadline.hasExpired())
      socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    char answer = 0;
    if (socket.getChar(&answer)) return answer == kTaken ? Start::kHandedOver : Start::kAlone;
    if (deadline.hasExpired()) return Start::kAlone;
  }
  return Start::kAlone;
}

bool SingleInstance::Listen() {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  // No copy answered while this start held the lock: a socket still there
  // is one that a crashed copy left behind.
  QLocalServer::removeServer(path_);
  const bool listening = server_->listen(path_);
  if (!listening) error_ = server_->errorString();
  lock_.reset();
  return listening;
}

void SingleInstance::Read(QLocalSocket* socket) {
  if (socket->bytesAvailable() < kHeaderBytes) return;
  char header[kHeaderBytes];
  socket->peek(header, kHeaderBytes);
  const quint32 size = qFromBigEndian<quint32>(header + 4);
  if (qFromBigEndian<quint32>(header) != kTag || size > kMaxNameBytes) {
    socket->abort();
    return;
  }
  if (socket->bytesAvailable() < kHeaderBytes + static_cast<qint64>(size)) return;
  socket->skip(kHeaderBytes);
  const QString file = QString::fromUtf8(socket->read(size));
  // Taken before it is opened: opening may ask the user first, and the
  // start that sent it must not wait for that.
  socket->putChar(kTaken);
  socket->flush();
  socket->disconnectFromServer();
  emit Requested(file);
}

}  // namespace platform
