#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

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

QString TestDataDir() {
  QString dir = qEnvironmentVariable("TASTIVO_TEST_DATA");
  if (dir.isEmpty()) dir = QDir::temp().filePath("tastivo-testdata");
  QDir().mkpath(dir);
  return dir;
}

}  // namespace testing_support
