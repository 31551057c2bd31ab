#include "AppHarness.h"

#include <QSettings>
#include <QString>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (extra.count(name) == 0) env.push_back(entry);
  }
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  return env;
}

// Forks and runs argv with the given environment; stdout to `outFd`, stderr
// to `errFd` (-1 leaves them as they are). Returns the child's pid or -1.
pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            int outFd, int errFd) {
  std::vector<std::string> envStrings = MergedEnvironment(env);
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (outFd >= 0) dup2(outFd, STDOUT_FILENO);
  if (errFd >= 0) dup2(errFd, STDERR_FILENO);
  const int devNull = open("/dev/null", O_RDONLY);
  if (devNull >= 0) dup2(devNull, STDIN_FILENO);
  execvpe(args[0], args.data(), envp.data());
  _exit(127);
}

// Waits for the child until the deadline; true when it ended (status set).
bool WaitChild(pid_t pid, std::chrono::milliseconds deadline, int* status) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    const pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

QString KeyPath(int instance, const std::string& name) {
  QString key = "Software/Tastivo/";
  if (instance != 0) key += QString::number(instance) + "/";
  return key + QString::fromStdString(name);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         std::chrono::milliseconds deadline) {
  CommandResult result;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = Spawn(argv, env, pipeFds[1], devNull);
  close(pipeFds[1]);
  if (devNull >= 0) close(devNull);
  if (pid < 0) {
    close(pipeFds[0]);
    return result;
  }
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  const auto end = std::chrono::steady_clock::now() + deadline;
  int status = 0;
  bool ended = false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0) {
      result.out.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0 && ended) break;
    if (!ended) ended = waitpid(pid, &status, WNOHANG) == pid;
    if (ended && n == 0) break;
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      close(pipeFds[0]);
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  close(pipeFds[0]);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::string& logPath) {
  Stop();
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_ = Spawn(argv, env, log, log);
  if (log >= 0) close(log);
  return pid_ > 0;
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void ChildProcess::Stop() {
  if (pid_ <= 0) return;
  int status = 0;
  kill(pid_, SIGTERM);
  if (!WaitChild(pid_, std::chrono::seconds(5), &status)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

RunFolder::RunFolder(const std::string& what) {
  const char* base = std::getenv("TASTIVO_E2E_DIR");
  std::filesystem::path root = base && *base ? base : std::filesystem::temp_directory_path();
  std::filesystem::create_directories(root);
  const std::string pattern = (root / (what + "-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) != nullptr) path_ = name.data();
}

RunFolder::~RunFolder() {
  if (!keep_ && !path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
}

std::string MakeTone(const std::string& path, double seconds, double hertz, double silence) {
  const CommandResult r = RunCommand(
      {"sox", "-n", "-r", "48000", "-c", "2", "-b", "16", path, "synth", std::to_string(seconds),
       "sine", std::to_string(hertz), "vol", "0.8", "pad", "0", std::to_string(silence)});
  if (r.status != 0) return "sox could not make " + path;
  return {};
}

std::string MakeTwoTones(const std::string& path, double seconds, double lowHertz,
                         double highHertz) {
  const std::string low = path + ".low.wav", high = path + ".high.wav";
  if (std::string why = MakeTone(low, seconds, lowHertz); !why.empty()) return why;
  if (std::string why = MakeTone(high, seconds, highHertz); !why.empty()) return why;
  const CommandResult r = RunCommand({"sox", low, high, path});
  std::remove(low.c_str());
  std::remove(high.c_str());
  if (r.status != 0) return "sox could not join the tones into " + path;
  return {};
}

bool WriteSet(const std::string& path, const std::vector<SetRow>& rows) {
  std::ofstream file(path, std::ios::binary);
  const auto line = [&](const std::string& text) { file << text << "\r\r\n"; };
  line("5");
  line(std::to_string(rows.size()));
  for (const SetRow& row : rows) {
    line(row.label);
    line(row.file);
    line(row.min);
    line(row.max);
    line(row.rate);
  }
  return static_cast<bool>(file);
}

void StoredSettings::SetInteger(int instance, const std::string& name, int value) {
  QSettings ini(QString::fromStdString(IniPath()), QSettings::IniFormat);
  ini.setValue(KeyPath(instance, name),
               QString("dword:%1").arg(static_cast<uint32_t>(value), 8, 16, QChar('0')));
}

void StoredSettings::SetText(int instance, const std::string& name, const std::string& text) {
  QSettings ini(QString::fromStdString(IniPath()), QSettings::IniFormat);
  ini.setValue(KeyPath(instance, name), "sz:" + QString::fromStdString(text));
}

void StoredSettings::PreloadSet(int instance, const std::string& setPath) {
  // The set editor reads its place and size before the known lists and stops
  // at the first one missing, so those come along.
  SetInteger(instance, "ttop", 300);
  SetInteger(instance, "tleft", 300);
  SetInteger(instance, "twidth", 598);
  SetInteger(instance, "theight", 500);
  SetText(instance, "combo", setPath + "\r\n");
  SetInteger(instance, "combolast", 0);
}

void StoredSettings::SetWindow(int instance, const WindowSettings& values) {
  SetInteger(instance, "ftop", values.top);
  SetInteger(instance, "fleft", values.left);
  SetInteger(instance, "mtop", 0);
  SetInteger(instance, "mleft", 0);
  SetInteger(instance, "loop", values.loop ? 1 : 0);
  SetInteger(instance, "sustain", values.sustain ? 1 : 0);
  SetInteger(instance, "midi", values.midi ? 1 : 0);
  SetInteger(instance, "group", values.group);
}

Desktop::~Desktop() {
  openbox_.Stop();
  xvfb_.Stop();
}

std::string Desktop::Start() {
  // A display number that Xvfb takes for free may still be another
  // server's in a way it cannot see (another user's socket), so a display
  // that no client can open is given up and another one started.
  std::string why;
  for (int attempt = 0; attempt < 3; ++attempt) {
    why = TryStart();
    if (why.empty()) return why;
    openbox_.Stop();
    xvfb_.Stop();
  }
  return why;
}

std::string Desktop::TryStart() {
  // Xvfb writes the display number it picked to the descriptor it is given
  // once it accepts connections.
  const std::string displayFile = folder_.File("display");
  const int fd = open(displayFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return "cannot create " + displayFile;
  const int numbered = fcntl(fd, F_DUPFD, 10);
  close(fd);
  const bool started = xvfb_.Start({"Xvfb", "-displayfd", std::to_string(numbered), "-screen", "0",
                                    "1280x1024x24", "-nolisten", "tcp"},
                                   {}, folder_.File("xvfb.log"));
  close(numbered);
  if (!started) return "cannot start Xvfb";
  std::string number;
  WaitUntil(
      [&] {
        std::ifstream in(displayFile);
        std::getline(in, number);
        return !number.empty() || !xvfb_.Running();
      },
      30s);
  if (number.empty()) return "Xvfb did not come up (see " + folder_.File("xvfb.log") + ")";
  display_ = ":" + number;
  if (RunCommand({"xdotool", "getdisplaygeometry"}, Env(), 10s).status != 0)
    return "no client can open the display " + display_ + " that Xvfb took";
  if (!openbox_.Start({"openbox"}, Env(), folder_.File("openbox.log")))
    return "cannot start openbox";
  CommandResult wm;
  if (!WaitUntil(
          [&] {
            wm = RunCommand({"wmctrl", "-m"}, Env(), 5s);
            return wm.status == 0 || !openbox_.Running();
          },
          30s) ||
      wm.status != 0)
    return "openbox did not take the display " + display_ + " (openbox " +
           (openbox_.Running() ? "running" : "ended") + ", see " + folder_.File("openbox.log") +
           ")";
  return {};
}

CommandResult Desktop::Xdo(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, Env(), 10s);
}

std::vector<std::string> Desktop::FindWindows(const std::string& titlePattern) const {
  const CommandResult r = Xdo({"search", "--onlyvisible", "--name", titlePattern});
  std::vector<std::string> ids;
  std::istringstream lines(r.out);
  for (std::string id; std::getline(lines, id);)
    if (!id.empty()) ids.push_back(id);
  return ids;
}

std::string Desktop::WindowTitle(const std::string& window) const {
  std::string title = Xdo({"getwindowname", window}).out;
  while (!title.empty() && title.back() == '\n') title.pop_back();
  return title;
}

std::optional<std::string> Desktop::FindWindow(const std::string& title) const {
  const std::vector<std::string> ids = FindWindows("^" + title + "$");
  if (ids.empty()) return std::nullopt;
  return ids.front();
}

std::optional<std::string> Desktop::WaitForWindow(const std::string& title,
                                                  std::chrono::milliseconds deadline) const {
  std::optional<std::string> id;
  WaitUntil([&] { return (id = FindWindow(title)).has_value(); }, deadline);
  return id;
}

bool Desktop::Activate(const std::string& window) const {
  Xdo({"windowactivate", window});
  return WaitUntil([&] {
    const CommandResult r = Xdo({"getwindowfocus"});
    if (r.out.empty()) return false;
    if (std::stoul(r.out) == std::stoul(window)) return true;
    Xdo({"windowactivate", window});
    return false;
  });
}

bool Desktop::KeyDown(const std::string& key) const {
  return Xdo({"keydown", key}).status == 0;
}

bool Desktop::KeyUp(const std::string& key) const {
  return Xdo({"keyup", key}).status == 0;
}

bool Desktop::Click(const std::string& window, int x, int y) const {
  return Xdo({"mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "1"})
             .status == 0;
}

std::optional<std::string> Desktop::ClickForNewWindow(const std::string& window, int x, int y,
                                                      const std::string& titlePattern) const {
  const std::vector<std::string> before = FindWindows(titlePattern);
  if (!Click(window, x, y)) return std::nullopt;
  std::optional<std::string> made;
  WaitUntil([&] {
    for (const std::string& id : FindWindows(titlePattern))
      if (std::find(before.begin(), before.end(), id) == before.end()) made = id;
    return made.has_value();
  });
  return made;
}

Program::Program(std::string executable, const RunFolder& folder, std::string logName)
    : executable_(std::move(executable)), logPath_(folder.File(logName)) {}

bool Program::Start(const std::map<std::string, std::string>& env,
                    const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{executable_};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return process_.Start(argv, env, logPath_);
}

std::string Program::LogTail() const {
  std::ifstream in(logPath_);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::string tail;
  for (std::size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); ++i)
    tail += "  | " + lines[i] + "\n";
  return tail.empty() ? "  (the program printed nothing)\n" : tail;
}

std::string ProgramPath() {
  if (const char* exe = std::getenv("TASTIVO_EXE"); exe && *exe) return exe;
  std::error_code ignored;
  return (std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path() / "tastivo")
      .string();
}

void RunsBesideTheProgram() {
  if (std::getenv("TASTIVO_E2E_DIR") != nullptr) return;
  const auto runs = std::filesystem::path(ProgramPath()).parent_path().parent_path() / "bench-runs";
  setenv("TASTIVO_E2E_DIR", runs.c_str(), 1);
}

int FreePort(int type) {
  const int fd = socket(AF_INET, type, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

}  // namespace e2e
