#include "TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <cstdio>
#include <stdexcept>

namespace testing_support {

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
