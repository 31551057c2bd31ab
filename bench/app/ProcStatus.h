#pragma once
// A process's own figures from /proc, for the benchmarks.

#include <sys/types.h>

#include <fstream>
#include <string>

// A field of a process's /proc status in MB ("VmRSS", "RssShmem"), or -1.
inline double StatusMb(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
  return -1;
}
