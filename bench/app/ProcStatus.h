#pragma once
// A process's own figures from /proc, for the benchmarks.

#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

// A field of a process's /proc status in MB ("VmRSS", "RssShmem"), or -1.
inline double StatusMb(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
  return -1;
}

// utime + stime from a /proc stat file, in clock ticks, or -1; `name`
// gets the command (a thread's name).
inline long long StatTicks(const std::string& path, std::string* name = nullptr) {
  std::ifstream stat(path);
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto open = text.find('(');
  const auto close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos) return -1;
  if (name != nullptr) *name = text.substr(open + 1, close - open - 1);
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  // Fields after the command: state is field 3; utime and stime are 14, 15.
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n == 14) utime = std::stoll(field);
    if (n == 15) stime = std::stoll(field);
  }
  return utime + stime;
}

// utime + stime of a process, in clock ticks, or -1.
inline long long CpuTicks(pid_t pid) {
  return StatTicks("/proc/" + std::to_string(pid) + "/stat");
}

// The CPU time a process has used, in seconds, or -1. The scheduler's own
// count, to the nanosecond: /proc's ticks sample whichever thread runs at
// each tick, which for a process using 2 % of a core in short bursts is a
// matter of luck.
inline double CpuSeconds(pid_t pid) {
  clockid_t clock;
  timespec t{};
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &t) != 0) {
    const long long ticks = CpuTicks(pid);
    return ticks < 0 ? -1 : static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// utime + stime of each of a process's threads, summed by thread name (the
// graph's threads of eight windows share names), in clock ticks. The main
// thread is "window": threads that name themselves not share its name.
inline std::map<std::string, long long> ThreadTicks(pid_t pid) {
  std::map<std::string, long long> ticks;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::string name;
    const long long t = StatTicks(task.path().string() + "/stat", &name);
    if (t < 0) continue;
    ticks[task.path().filename() == std::to_string(pid) ? "window" : name] += t;
  }
  return ticks;
}
