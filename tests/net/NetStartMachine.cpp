// The second machine of the agreed-start test, in a process of its own on
// the JACK server $JACK_DEFAULT_SERVER: `net_start_machine <server> <name>
// <clip>`. Says "ready" once its ears hear its player, then reads one agreed
// time a line (ns of the monotonic clock), presses at it and answers with
// the onset heard (µs, -1 when none).

#include "NetStartMachine.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  QCoreApplication app(argc, argv);
  net_start::Machine machine(argv[1], argv[2]);
  const QString clip = QString::fromLocal8Bit(argv[3]);
  if (!machine.Ready(clip)) return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
    const double onset = machine.PressAt(clip, std::stoull(line));
    std::printf("%.3f\n", onset);
    std::fflush(stdout);
  }
  return 0;
}
