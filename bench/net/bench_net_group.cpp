// A network group of two machines, on this one: each "machine" is a process
// of its own with the engine and the group's classes, its own JACK dummy
// server and, where the machine allows, its own network namespace, linked
// through a relay that delays every datagram 5 ms each way. Machine A hosts
// the group and its clock, B joins and follows the clock. A presses a key
// 100 times; each press sounds on both, and the two servers' onsets are
// compared on the monotonic clock (the servers' cycle times). Then the drift
// run: the servers at 48000 and 48010 Hz, one long clip of clicks played on
// both, and how far apart the clicks are at its beginning and its end.
//
// Each machine starts a press as the program does: through a group start on
// the shared clock's time agreed for the press (NetGroupControl's path).
//
// Run as root for namespaces (else loopback). Environment:
// TASTIVO_BENCH_NET_PRESSES (100), TASTIVO_BENCH_NET_DRIFT_SECONDS (120),
// TASTIVO_BENCH_NET_PERIOD (256 frames).

#include "BenchOutput.h"
#include "NetEars.h"
#include "NetRelay.h"
#include "engine/timing/GroupStart.h"
#include "engine/timing/NetClock.h"
#include "engine/timing/SharedClock.h"
#include "net/NetGroup.h"
#include "player/Tplayerbase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr char kToken[] = "bench0123456789abcdef0123456789ab";
constexpr int kPort = 7790;
constexpr float kThreshold = 0.05f;
constexpr int kReady = -1, kDone = -2;

int EnvInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != 0 ? std::atoi(value) : fallback;
}

// What the keyboard window does with its player at a key press.
void PressKey(TPlayer& player, const QString& clip) {
  if (player.State == fsPlaying) player.Stop();
  player.Open(clip);
  player.SetRelativePositions(10000, 0, 10000, 0);
  player.Play();
}

// Runs the event loop until `done` holds or `limit` passes.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// ---- One machine of the group.

struct Role {
  bool host = false;
  std::string server, address, clip, out;
  int presses = 0;
  bool drift = false;
  int seconds = 0;
};

int RunMachine(const Role& role) {
  int argc = 1;
  char name[] = "bench_net_group";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  const std::string me = role.host ? "A" : "B";
  // Clicks a second apart; a press's tone is 100 ms long.
  bench::NetEars ears(role.server, "net-ears-" + me, kThreshold, role.drift ? 4800 : 2400);
  if (!ears.Ok()) {
    std::fprintf(stderr, "%s: no JACK server %s\n", me.c_str(), role.server.c_str());
    return 1;
  }
  QuietWindow window;
  TPlayer player(&window, 0);
  const QString playerName = QString::fromStdString("net-player-" + me);
  player.SetOutputName(playerName);
  const QString clip = QString::fromStdString(role.clip);
  // A first press makes the player's JACK client, for the ears to follow;
  // a loaded machine may take its time over the first graph.
  PressKey(player, clip);
  if (!WaitFor([&] { return ears.Follow(playerName.toStdString()); }, 30s)) {
    std::fprintf(stderr, "%s: the player's port did not come\n", me.c_str());
    return 1;
  }
  WaitFor([] { return false; }, 300ms);
  player.Stop();

  std::unique_ptr<engine::NetClock> clock;
  net::NetGroupSettings settings{QStringLiteral("bench"), QString::fromStdString(me), kToken};
  net::NetGroup group(settings, [&] { return clock ? clock->Now() : 0; });
  const QHostAddress address(QString::fromStdString(role.address));
  bool ready = false, done = false;
  struct Heard {
    int key;
    int before;  // onsets heard when the press was made
    double lateMs;
    // How far this machine's idea of the group's clock is from A's: both
    // run on this one machine's monotonic clock, so it should be nothing.
    double clockErrorUs;
    int xruns;  // the server's missed cycles when the press was made
  };
  std::vector<Heard> presses;
  auto press = [&](int key, std::optional<std::uint64_t> startGroupNs, double lateMs) {
    const double clockError =
        startGroupNs ? (static_cast<double>(*startGroupNs) - clock->ToLocal(*startGroupNs)) / 1e3
                     : 0;
    presses.push_back({key, ears.Count(), lateMs, clockError, ears.Xruns()});
    TPlayer::GroupStart together(startGroupNs.has_value());
    PressKey(player, clip);
    if (startGroupNs)
      together.StartAt(clock->ToLocal(*startGroupNs));
    else
      together.Start();
  };
  QObject::connect(&group, &net::NetGroup::RemotePress,
                   [&](int key, std::uint64_t start, std::uint64_t lateNs, const QString&) {
                     if (key == kReady) ready = true;
                     if (key == kDone) done = true;
                     if (key < 0) return;
                     group.SetLocalLead(engine::GroupStart::Lead().count());
                     if (lateNs > 0)
                       press(key, std::nullopt, lateNs / 1e6);
                     else
                       press(key, start, 0);
                   });
  QObject::connect(&group, &net::NetGroup::MemberLost, [&](const QString& who) {
    std::fprintf(stderr, "%s: lost %s\n", me.c_str(), qPrintable(who));
  });

  if (role.host) {
    clock = engine::NetClock::Host(role.address, kPort + 1);
    if (!clock || !group.Host(address, kPort, kPort + 1)) {
      std::fprintf(stderr, "A: cannot host on %s\n", role.address.c_str());
      return 1;
    }
    if (!WaitFor([&] { return ready; }, 90s)) {
      std::fprintf(stderr, "A: B did not get ready\n");
      return 1;
    }
    const auto cycle = engine::CurrentServerCycle();
    const std::uint64_t period = cycle ? cycle->periodNs : 0;
    std::vector<double> margins;
    for (int i = 0; i < role.presses; ++i) {
      // Presses fall at any moment of the servers' cycles.
      std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 5000));
      group.SetLocalLead(engine::GroupStart::Lead().count());
      const std::uint64_t margin = group.MarginNs(period);
      margins.push_back(margin / 1e6);
      const std::uint64_t start = clock->Now() + margin;
      group.Press(i, start);
      press(i, start, 0);
      const int before = presses.back().before;
      WaitFor([&] { return ears.Count() > before; }, role.drift ? 2s : 1s);
      WaitFor([] { return false; }, role.drift
                                        ? std::chrono::milliseconds(role.seconds * 1000 + 2000)
                                        : std::chrono::milliseconds(250));
      player.Stop();
    }
    std::sort(margins.begin(), margins.end());
    // How far ahead A named the start: the measured delay, two periods and
    // the group start's lead.
    if (!margins.empty() && !role.drift) {
      Print("net_group_margin_p50", margins[margins.size() / 2], "ms");
      Print("net_group_margin_max", margins.back(), "ms");
    }
    group.Press(kDone, 0);
    WaitFor([] { return false; }, 300ms);
  } else {
    bool welcomed = false;
    QObject::connect(&group, &net::NetGroup::Welcomed, [&](quint16 clockPort) {
      clock = engine::NetClock::Follow(role.address, clockPort);
      welcomed = true;
    });
    group.Join(address, kPort);
    if (!WaitFor([&] { return welcomed && clock && clock->Synced(); }, 60s)) {
      std::fprintf(stderr, "B: not in step with A's clock\n");
      return 1;
    }
    // The client clock's first answers are the roughest: it is let settle
    // until it has stayed within 0.1 ms of A's for a second (both run on
    // this machine's monotonic clock, so the bench knows its error), at
    // most a minute. Presses made before that would measure the client
    // clock's start, not the group.
    QElapsedTimer settling;
    settling.start();
    int steady = 0;
    WaitFor(
        [&] {
          constexpr std::uint64_t kAt = 1'000'000'000'000;
          const double errorUs = (static_cast<double>(clock->ToGroup(kAt)) - kAt) / 1e3;
          steady = std::fabs(errorUs) < 100 ? steady + 1 : 0;
          std::this_thread::sleep_for(100ms);
          return steady >= 10;
        },
        60s);
    Print("net_group_clock_settle_B", settling.elapsed() / 1000.0, "s");
    group.Press(kReady, 0);
    if (!WaitFor([&] { return done; }, std::chrono::hours(2))) return 1;
    player.Stop();
  }
  Print("net_group_" + std::string(role.drift ? "drift_" : "") + "xruns_" + me, ears.Xruns(),
        "cycles");
  // How far B's idea of the group's clock was off at the drift run's one
  // press: the offset its first click starts with.
  if (role.drift && !role.host && !presses.empty())
    Print("net_group_drift_clock_error_B", presses.front().clockErrorUs / 1000.0, "ms");
  // Each press's onset, or each click's in the drift run.
  std::ofstream out(role.out);
  if (role.drift) {
    for (int n = presses.empty() ? ears.Count() : presses.front().before; n < ears.Count(); ++n)
      out << n << " " << std::fixed << ears.Onset(n) << " 0 0 0\n";
  } else {
    for (std::size_t p = 0; p < presses.size(); ++p) {
      const int next = p + 1 < presses.size() ? presses[p + 1].before : ears.Count();
      if (presses[p].before < next)
        out << presses[p].key << " " << std::fixed << ears.Onset(presses[p].before) << " "
            << presses[p].lateMs << " " << presses[p].clockErrorUs << " "
            << ears.XrunsAt(presses[p].before) - presses[p].xruns << "\n";
    }
  }
  return 0;
}

// ---- The driver: servers, namespaces, relay, the two machines.

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

pid_t Spawn(const std::vector<std::string>& argv, bool quiet = false) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (quiet) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

struct Servers {
  std::vector<pid_t> pids;
  ~Servers() {
    for (pid_t p : pids) {
      kill(p, SIGTERM);
      waitpid(p, nullptr, 0);
    }
  }
  bool Start(const std::string& name, int rate, int period) {
    pids.push_back(Spawn({"jackd", "-n", name, "-d", "dummy", "-r", std::to_string(rate), "-p",
                          std::to_string(period)},
                         true));
    for (int i = 0; i < 100; ++i) {
      if (Shell("jack_lsp -s " + name) == 0) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
};

// Two namespaces, each linked to this one by a pair of virtual Ethernet
// ends; the relay sits here between them.
struct Namespaces {
  bool ok = false;
  Namespaces() {
    Down();
    ok = true;
    for (const char* side : {"a", "b"}) {
      const std::string ns = std::string("tnet-") + side, net = side[0] == 'a' ? "1" : "2";
      for (const std::string& c :
           {"ip netns add " + ns, "ip link add " + ns + "0 type veth peer name " + ns + "1",
            "ip link set " + ns + "1 netns " + ns,
            "ip addr add 10.77." + net + ".1/24 dev " + ns + "0", "ip link set " + ns + "0 up",
            "ip netns exec " + ns + " ip addr add 10.77." + net + ".2/24 dev " + ns + "1",
            "ip netns exec " + ns + " ip link set " + ns + "1 up",
            "ip netns exec " + ns + " ip link set lo up"})
        ok = ok && Shell(c) == 0;
    }
    if (!ok) Down();
  }
  ~Namespaces() {
    if (ok) Down();
  }
  static void Down() {
    for (const char* side : {"a", "b"}) {
      Shell(std::string("ip link del tnet-") + side + "0");
      Shell(std::string("ip netns del tnet-") + side);
    }
  }
};

struct Onset {
  double at = 0;  // µs of the monotonic clock
  double lateMs = 0;
  double clockErrorUs = 0;
  int xruns = 0;  // cycles the server missed between the press and its onset
};

std::map<int, Onset> ReadOnsets(const std::string& path) {
  std::map<int, Onset> onsets;
  std::ifstream in(path);
  int key;
  Onset o;
  while (in >> key >> o.at >> o.lateMs >> o.clockErrorUs >> o.xruns)
    if (o.at >= 0) onsets[key] = o;
  return onsets;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

bool MakeClip(const std::string& path, bool clicks, int seconds) {
  std::string command = "sox -n -r 48000 -c 2 -b 16 " + path;
  if (clicks)
    command += " synth 0.005 sine 1000 vol 0.8 pad 0 0.995 repeat " + std::to_string(seconds - 1);
  else
    command += " synth 0.1 sine 1000 vol 0.8";
  return Shell(command) == 0;
}

// One run of the two machines; false when it did not complete.
bool RunPair(const std::string& self, bool netns, int rateB, int period, int presses, int seconds,
             const std::string& dir, std::map<int, Onset>& a, std::map<int, Onset>& b) {
  const bool drift = seconds > 0;
  Servers servers;
  if (!servers.Start("net-a", 48000, period) || !servers.Start("net-b", rateB, period)) {
    std::fprintf(stderr, "the JACK dummy servers net-a and net-b did not start\n");
    return false;
  }
  std::optional<Namespaces> spaces;
  if (netns) spaces.emplace();
  const bool inSpaces = spaces && spaces->ok;
  const std::string hostA = inSpaces ? "10.77.1.2" : "127.0.0.1";
  const std::string relayB = inSpaces ? "10.77.2.1" : "127.0.0.2";
  const std::string upstream = inSpaces ? "10.77.1.1" : "127.0.0.1";
  bench::NetRelay relay(relayB, upstream, hostA, {kPort, kPort + 1}, 5ms);
  if (!relay.Ok()) {
    std::fprintf(stderr, "the relay could not bind %s\n", relayB.c_str());
    return false;
  }
  std::fprintf(stderr, "link: %s, 5 ms each way through the relay\n",
               inSpaces ? "two network namespaces" : "loopback");
  const std::string clip = dir + (drift ? "/clicks.wav" : "/tone.wav");
  if (!MakeClip(clip, drift, seconds)) {
    std::fprintf(stderr, "sox could not make %s\n", clip.c_str());
    return false;
  }
  auto machine = [&](bool host) {
    std::vector<std::string> argv;
    if (inSpaces) argv = {"ip", "netns", "exec", host ? "tnet-a" : "tnet-b"};
    const std::vector<std::string> rest = {
        "env",
        "QT_QPA_PLATFORM=offscreen",
        std::string("JACK_DEFAULT_SERVER=") + (host ? "net-a" : "net-b"),
        self,
        "--machine",
        host ? "host" : "follow",
        host ? hostA : relayB,
        clip,
        dir + (host ? "/a.txt" : "/b.txt"),
        std::to_string(presses),
        std::to_string(seconds)};
    argv.insert(argv.end(), rest.begin(), rest.end());
    return Spawn(argv);
  };
  const pid_t follower = machine(false);
  const pid_t host = machine(true);
  int status = 0;
  waitpid(host, &status, 0);
  int followerStatus = 0;
  for (int i = 0; i < 50 && waitpid(follower, &followerStatus, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(100ms);
  if (waitpid(follower, &followerStatus, WNOHANG) == 0) {
    kill(follower, SIGTERM);
    waitpid(follower, &followerStatus, 0);
  }
  a = ReadOnsets(dir + "/a.txt");
  b = ReadOnsets(dir + "/b.txt");
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 8 && std::string(argv[1]) == "--machine") {
    Role role;
    role.host = std::string(argv[2]) == "host";
    role.server = role.host ? "net-a" : "net-b";
    role.address = argv[3];
    role.clip = argv[4];
    role.out = argv[5];
    role.presses = std::atoi(argv[6]);
    role.seconds = std::atoi(argv[7]);
    role.drift = role.seconds > 0;
    if (role.drift) role.presses = 1;
    return RunMachine(role);
  }
  const int presses = EnvInt("TASTIVO_BENCH_NET_PRESSES", 100);
  const int seconds = EnvInt("TASTIVO_BENCH_NET_DRIFT_SECONDS", 120);
  const int period = EnvInt("TASTIVO_BENCH_NET_PERIOD", 256);
  char dir[] = "/tmp/bench-net-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string self = std::string("/proc/") + std::to_string(getpid()) + "/exe";
  const bool netns = geteuid() == 0 && Shell("ip netns list") == 0;
  std::map<int, Onset> a, b;

  int status = 0;
  if (presses == 0) {
  } else if (RunPair(self, netns, 48000, period, presses, 0, dir, a, b)) {
    // Presses during which neither server missed a cycle: what the group's
    // agreement itself achieves, apart from a machine too busy to keep its
    // servers' pace.
    std::vector<double> spread, offset, clockError, onTime, unmissed;
    int late = 0;
    for (const auto& [key, onA] : a) {
      const auto onB = b.find(key);
      if (onB == b.end()) continue;
      offset.push_back((onB->second.at - onA.at) / 1000.0);
      spread.push_back(std::fabs(offset.back()));
      if (onB->second.lateMs > 0) {
        ++late;
        continue;
      }
      onTime.push_back(spread.back());
      if (onA.xruns == 0 && onB->second.xruns == 0) unmissed.push_back(spread.back());
      clockError.push_back(std::fabs(onB->second.clockErrorUs) / 1000.0);
    }
    Print("net_group_presses_heard_on_both", static_cast<double>(spread.size()), "presses");
    Print("net_group_late_presses", late, "presses");
    Print("net_group_onset_spread_p50", Percentile(spread, 0.5), "ms");
    Print("net_group_onset_spread_p99", Percentile(spread, 0.99), "ms");
    Print("net_group_onset_spread_on_time_p99", Percentile(onTime, 0.99), "ms");
    Print("net_group_presses_without_missed_cycles", static_cast<double>(unmissed.size()),
          "presses");
    Print("net_group_onset_spread_without_missed_cycles_p99", Percentile(unmissed, 0.99), "ms");
    Print("net_group_onset_b_minus_a_p50", Percentile(offset, 0.5), "ms");
    Print("net_group_clock_error_p50", Percentile(clockError, 0.5), "ms");
    Print("net_group_clock_error_p99", Percentile(clockError, 0.99), "ms");
    Print("net_group_period", period / 48.0, "ms");
  } else {
    status = 1;
  }
  if (seconds > 0 && RunPair(self, netns, 48010, period, 1, seconds, dir, a, b)) {
    // Each click heard on A with the one heard on B nearest to it.
    std::vector<std::pair<double, double>> pairs;  // A's onset, B minus A (ms)
    for (const auto& [n, onA] : a) {
      const Onset* nearest = nullptr;
      for (const auto& [m, onB] : b)
        if (!nearest || std::fabs(onB.at - onA.at) < std::fabs(nearest->at - onA.at))
          nearest = &onB;
      if (nearest && std::fabs(nearest->at - onA.at) < 400'000)
        pairs.push_back({onA.at, (nearest->at - onA.at) / 1000.0});
    }
    if (pairs.size() >= 2) {
      Print("net_group_drift_clicks_compared", static_cast<double>(pairs.size()), "clicks");
      Print("net_group_drift_seconds", (pairs.back().first - pairs.front().first) / 1e6, "s");
      Print("net_group_drift_offset_first", pairs.front().second, "ms");
      Print("net_group_drift_offset_last", pairs.back().second, "ms");
      Print("net_group_drift_change", pairs.back().second - pairs.front().second, "ms");
    }
  } else if (seconds > 0) {
    status = 1;
  }
  if (std::getenv("TASTIVO_BENCH_NET_KEEP") == nullptr) Shell(std::string("rm -rf ") + dir);
  return status;
}
