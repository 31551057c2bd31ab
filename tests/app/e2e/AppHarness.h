#pragma once
// Runs the real program as a user would meet it: generated clips, a set
// file, stored settings in a config folder of its own, an X display with a
// window manager, and typed keys and clicks through xdotool.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;

// Polls `condition` every few milliseconds until it holds or the deadline
// passes; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 10s);

struct CommandResult {
  int status = -1;  // exit code, or -1 when it could not run or was killed
  std::string out;
};
// Runs a command (no shell) with extra environment values and returns its
// exit code and standard output. A command still running at the deadline is
// killed.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {},
                         std::chrono::milliseconds deadline = 20s);

// A child process that is ended when this object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with the environment plus `env`, its output to `logPath`.
  bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& logPath);
  bool Running();
  pid_t Pid() const { return pid_; }
  // SIGTERM, then SIGKILL when it does not end in time.
  void Stop();

 private:
  pid_t pid_ = -1;
};

// A per-run folder under $TASTIVO_E2E_DIR (or the temp folder), removed when
// `keep` is false at destruction.
class RunFolder {
 public:
  explicit RunFolder(const std::string& what);
  ~RunFolder();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

// Writes a 48 kHz stereo WAV: a sine of `hertz` at 0.8 of full scale that
// starts at full level in its first cycle, lasting `seconds`, followed by
// `silence` seconds of silence. Returns an empty text on success, else why.
std::string MakeTone(const std::string& path, double seconds, double hertz, double silence = 0);

// Writes a clip of `seconds` of a low tone followed by as much of a high one
// (same level and format as MakeTone), so that a recording shows where each
// pass of the clip begins.
std::string MakeTwoTones(const std::string& path, double seconds, double lowHertz,
                         double highHertz);

struct SetRow {
  std::string label, file, min = "0", max = "10000", rate = "100";
};
// Writes a set file of the rows given (row 0 is key "a").
bool WriteSet(const std::string& path, const std::vector<SetRow>& rows);

// The values a keyboard window reads at start; all seven that guard "group"
// are written.
struct WindowSettings {
  bool loop = false;
  bool sustain = false;
  bool midi = false;
  int group = 0;
  int top = 100;
  int left = 100;
};

// The program's settings file in a config folder of the run's own.
class StoredSettings {
 public:
  explicit StoredSettings(const std::string& configHome) : configHome_(configHome) {}
  const std::string& ConfigHome() const { return configHome_; }
  std::string IniPath() const { return configHome_ + "/Tastivo/Tastivo.ini"; }

  void SetInteger(int instance, const std::string& name, int value);
  void SetText(int instance, const std::string& name, const std::string& text);
  // Makes window `instance` load `setPath` when it is made: the set as the
  // only known list, selected.
  void PreloadSet(int instance, const std::string& setPath);
  void SetWindow(int instance, const WindowSettings& values);

 private:
  std::string configHome_;
};

// An X display of the run's own (Xvfb) with openbox, so focus and key
// presses behave as on a desktop and no other test's windows interfere.
class Desktop {
 public:
  explicit Desktop(const RunFolder& folder) : folder_(folder) {}
  ~Desktop();
  // Empty on success, else why not.
  std::string Start();
  const std::string& Display() const { return display_; }
  std::map<std::string, std::string> Env() const { return {{"DISPLAY", display_}}; }

  // The visible windows whose title matches the regular expression.
  std::vector<std::string> FindWindows(const std::string& titlePattern) const;
  std::string WindowTitle(const std::string& window) const;
  // The visible window with exactly this title.
  std::optional<std::string> FindWindow(const std::string& title) const;
  std::optional<std::string> WaitForWindow(const std::string& title,
                                           std::chrono::milliseconds deadline = 20s) const;
  // Raises and focuses the window and waits until it has the focus.
  bool Activate(const std::string& window) const;
  bool KeyDown(const std::string& key) const;
  bool KeyUp(const std::string& key) const;
  // A left click at (x, y) in the window's coordinates.
  bool Click(const std::string& window, int x, int y) const;
  // Clicks and returns the visible window, titled to match `titlePattern`,
  // that appears because of it; nothing when none does.
  std::optional<std::string> ClickForNewWindow(const std::string& window, int x, int y,
                                               const std::string& titlePattern) const;

 private:
  CommandResult Xdo(const std::vector<std::string>& args) const;
  std::string TryStart();

  const RunFolder& folder_;
  std::string display_;
  ChildProcess xvfb_;
  ChildProcess openbox_;
};

// The program under test: bin/tastivo with a config folder of its own.
class Program {
 public:
  Program(std::string executable, const RunFolder& folder, std::string logName = "tastivo.log");
  bool Start(const std::map<std::string, std::string>& env,
             const std::vector<std::string>& arguments = {});
  bool Running() { return process_.Running(); }
  pid_t Pid() const { return process_.Pid(); }
  void Stop() { process_.Stop(); }
  // The last lines the program printed, for failure messages.
  std::string LogTail() const;

 private:
  std::string executable_;
  std::string logPath_;
  ChildProcess process_;
};

// The program's executable: $TASTIVO_EXE, or "tastivo" next to this
// executable.
std::string ProgramPath();

// Benchmarks: their run folders go beside bin/ in the build folder
// ("bench-runs", where a failed run's files stay) unless $TASTIVO_E2E_DIR
// says otherwise.
void RunsBesideTheProgram();

// A UDP (or, with SOCK_STREAM, TCP) port of the loopback address that
// nobody uses now; 0 when none could be found.
int FreePort(int type);

}  // namespace e2e
