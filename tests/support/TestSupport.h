#pragma once
// Helpers shared by every test executable.

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace testing_support {

// Points XDG_CONFIG_HOME at a fresh temporary folder for its lifetime, so the
// settings store starts empty and never touches the user's own settings.
class TempConfig {
 public:
  TempConfig();
  ~TempConfig();
  QString path() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
  QByteArray previous_;
  bool hadPrevious_;
};

// Keeps the machine busy for its lifetime, as a stage laptop is with a
// browser or a DAW beside us: a process per core that spins at normal
// priority, and one that writes and syncs a file over and over. They die
// with it, and with the test process should it crash. Only with
// TASTIVO_TEST_LOAD=1; otherwise the machine is left as it is.
class MachineLoad {
 public:
  MachineLoad();
  ~MachineLoad();
  MachineLoad(const MachineLoad&) = delete;
  MachineLoad& operator=(const MachineLoad&) = delete;

 private:
  std::vector<pid_t> pids_;
  std::string file_;
};

// Processes events until condition() holds or the deadline passes. Returns
// the last value of condition().
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Writes a file of one byte named `name` in `dir`, standing in for a clip
// that a scripted graph plays, and returns its path.
QString StandInFile(const QTemporaryDir& dir, const QString& name);

// A folder for generated media files shared by the tests of one run
// ($TASTIVO_TEST_DATA, created on demand).
QString TestDataDir();

// A generated file in TestDataDir(), made once and kept between runs. Its
// name carries a hash of the generator's text (the pipeline, say), so a
// changed generator makes a new file instead of reusing a stale one. make()
// writes to a name of its own, renamed into place when done, so tests running
// in parallel never see half a file. Throws std::runtime_error when make()
// fails or writes nothing.
QString CachedFile(const QString& name, const QString& generator,
                   const std::function<void(const QString& partial)>& make);

}  // namespace testing_support
