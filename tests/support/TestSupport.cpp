#include "TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace testing_support {

namespace {

// The child of a fork in a process with threads: only plain system calls
// from here on.
[[noreturn]] void Spin() {
  volatile unsigned long n = 0;
  for (;;) n = n + 1;
}

[[noreturn]] void WriteOverAndOver(const char* path, const char* block, std::size_t size) {
  for (;;) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (int i = 0; fd >= 0 && i < 32; ++i)
      if (write(fd, block, size) < 0) break;
    if (fd >= 0) {
      fsync(fd);
      close(fd);
    }
    unlink(path);
  }
}

}  // namespace

MachineLoad::MachineLoad() {
  // Only when asked (TASTIVO_TEST_LOAD=1): the loaded runs of the edge,
  // attack and loop tests, and bench_edges, which asks for itself.
  if (qEnvironmentVariable("TASTIVO_TEST_LOAD") != "1") return;
  file_ = QDir(TestDataDir()).filePath(QString("load-%1").arg(getpid())).toStdString();
  const std::vector<char> block(1 << 20, 'x');
  const unsigned spinners = std::max(1u, std::thread::hardware_concurrency());
  const pid_t parent = getpid();
  for (unsigned i = 0; i <= spinners; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(0);
      if (i < spinners) Spin();
      WriteOverAndOver(file_.c_str(), block.data(), block.size());
    }
    if (pid > 0) pids_.push_back(pid);
  }
}

MachineLoad::~MachineLoad() {
  for (const pid_t pid : pids_) kill(pid, SIGKILL);
  for (const pid_t pid : pids_) waitpid(pid, nullptr, 0);
  if (!file_.empty()) unlink(file_.c_str());
}

TempConfig::TempConfig() {
  hadPrevious_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
  previous_ = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
}

TempConfig::~TempConfig() {
  if (hadPrevious_)
    qputenv("XDG_CONFIG_HOME", previous_);
  else
    qunsetenv("XDG_CONFIG_HOME");
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  QDeadlineTimer timer(deadline);
  while (!condition()) {
    if (timer.hasExpired()) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

QString StandInFile(const QTemporaryDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write("x");
  return path;
}

QString TestDataDir() {
  QString dir = qEnvironmentVariable("TASTIVO_TEST_DATA");
  if (dir.isEmpty()) dir = QDir::temp().filePath("tastivo-testdata");
  QDir().mkpath(dir);
  return dir;
}

QString CachedFile(const QString& name, const QString& generator,
                   const std::function<void(const QString& partial)>& make) {
  const QString key =
      QCryptographicHash::hash(generator.toUtf8(), QCryptographicHash::Sha1).toHex().left(10);
  const QFileInfo named(name);
  const QString suffix = named.suffix().isEmpty() ? QString() : "." + named.suffix();
  const QString path = QDir(TestDataDir()).filePath(named.completeBaseName() + "-" + key + suffix);
  if (QFileInfo(path).size() > 0) return path;
  const QString partial = path + QStringLiteral(".%1.%2.part")
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(QRandomGenerator::global()->generate());
  make(partial);
  if (QFileInfo(partial).size() <= 0) {
    QFile::remove(partial);
    throw std::runtime_error("could not make test file " + name.toStdString());
  }
  // rename() replaces atomically; a twin made by a parallel test is the same.
  if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) !=
      0) {
    QFile::remove(partial);
    throw std::runtime_error("could not store test file " + name.toStdString());
  }
  return path;
}

}  // namespace testing_support
