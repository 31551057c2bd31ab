#pragma once
// A process's own figures from /proc, for the benchmarks.

#include <sys/types.h>

#include <fstream>
#include <iterator>
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

// utime + stime of a process, in clock ticks, or -1.
inline long long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
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
