// Every key of eight windows ready: eight windows, each with a set of 77
// distinct clips of mixed formats (616 clips), some starting at a mark and
// some at rate 150. Once the program has settled after loading them, every
// key but the first of each window is pressed once, in a random order over
// all the windows, over OSC: from the frame the server was at when the
// press was sent to the first frame of the key's own clip on its window's
// JACK output. Beside it the program's memory, once ready and after.
//
// Runs under scripts/with-test-services.sh (a JACK dummy server at
// 48 kHz / 256 frames), on an X display of its own with a window manager:
// New needs a click.

#include "AppHarness.h"
#include "JackProbe.h"
#include "ProcStatus.h"
#include "SoundEvents.h"
#include "ToneSets.h"

#include <lo/lo.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace e2e;

constexpr float kThreshold = 0.05f;
constexpr int kWindows = 8, kRows = 77;

void Print(const std::string& name, double value, const char* unit) {
  std::printf("%s: %.2f %s\n", name.c_str(), value, unit);
  std::fflush(stdout);
}

// Waits until input `input` has been silent for `seconds`.
bool WaitForSilence(const JackProbe& probe, int input, double seconds) {
  const auto quiet = static_cast<uint64_t>(seconds * probe.SampleRate());
  return WaitUntil(
      [&] {
        const uint64_t now = probe.RecordedUntil();
        return now >= quiet &&
               CountSounding(probe.Level(now - quiet, now, input, 1), kThreshold) == 0;
      },
      5s);
}

// The first frame of sound on input `input` from `at` on, within two
// seconds.
std::optional<uint64_t> OnsetAfter(const JackProbe& probe, int input, uint64_t at) {
  std::optional<uint64_t> onset;
  WaitUntil(
      [&] {
        onset = FindOnset(probe.Level(at, probe.RecordedUntil(), input, 1), kThreshold, 0, at, at);
        return onset.has_value();
      },
      2s);
  return onset;
}

// Waits until the program has used under 3 % of a core over a whole
// second: its heads read and its clips cued, as while a performer gets
// ready. False when it is still busy at the deadline.
bool WaitUntilSettled(pid_t pid, std::chrono::seconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    const long long before = CpuTicks(pid);
    std::this_thread::sleep_for(1s);
    const long long after = CpuTicks(pid);
    if (before < 0 || after < 0) return false;
    if (100.0 * double(after - before) / double(sysconf(_SC_CLK_TCK)) < 3.0) return true;
  }
  return false;
}

std::string WindowClient(int window) {
  return window == 0 ? "Tastivo" : "Tastivo " + std::to_string(window);
}

}  // namespace

int main() {
  RunsBesideTheProgram();
  RunFolder folder("bench-every-key");
  const std::string tag = std::to_string(getpid());
  StoredSettings settings(folder.File("config"));
  std::vector<std::vector<int>> leads(kWindows);
  for (int n = 0; n < kWindows; ++n) {
    const std::string set = folder.File("window" + std::to_string(n) + ".wql");
    const ToneSet tones{"w" + std::to_string(n) + "k", kRows, 200.0 + 10 * n, 20, 5};
    if (const std::string why = MakeToneSet(folder, set, tones, kThreshold, leads[n]);
        !why.empty()) {
      std::cerr << "every_key: not measured, " << why << "\n";
      return 1;
    }
    settings.PreloadSet(n, set);
    // A group of its own each: a press plays one window.
    settings.SetWindow(n, {.group = n, .top = 10 + 110 * n, .left = n == 0 ? 10 : 600});
  }
  std::cerr << "every_key: " << kWindows * kRows << " clips made\n";
  Desktop desktop(folder);
  if (const std::string why = desktop.Start(); !why.empty()) {
    std::cerr << "every_key: not measured, " << why << "\n";
    return 1;
  }
  const int port = FreePort(SOCK_DGRAM);
  Program app(ProgramPath(), folder, "every-key.log");
  // The program's peaks go into the run's folder, not the user's cache.
  const std::map<std::string, std::string> env{{"XDG_CONFIG_HOME", settings.ConfigHome()},
                                               {"XDG_CACHE_HOME", folder.File("cache")},
                                               {"QT_QPA_PLATFORM", "xcb"},
                                               {"DISPLAY", desktop.Display()}};
  const auto first = port != 0 && app.Start(env, {"--osc=" + std::to_string(port)})
                         ? desktop.WaitForWindow("Tastivo")
                         : std::nullopt;
  bool made = first.has_value();
  for (int n = 1; made && n < kWindows; ++n)
    made = desktop.ClickForNewWindow(*first, 517, 11, "^Tastivo").has_value();
  if (!made) {
    std::cerr << "every_key: not measured, the eight windows did not appear; the program's "
                 "output:\n"
              << app.LogTail();
    folder.Keep();
    return 1;
  }
  const auto loadStart = std::chrono::steady_clock::now();
  const bool settled = WaitUntilSettled(app.Pid(), 300s);
  Print("every_key_seconds_to_settle",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count(), "s");
  if (!settled) std::cerr << "every_key: the program was still busy after 300 s\n";
  Print("every_key_rss_ready", StatusMb(app.Pid(), "VmRSS"), "MB");
  Print("every_key_rss_ready_own", StatusMb(app.Pid(), "VmRSS") - StatusMb(app.Pid(), "RssShmem"),
        "MB");

  JackProbe ears("bench-every-" + tag, kWindows, 60);
  if (!ears.Ok()) {
    std::cerr << ears.Error() << "\n";
    return 1;
  }
  for (int n = 0; n < kWindows; ++n) ears.Follow(WindowClient(n), n, 1);
  lo_address osc = lo_address_new("127.0.0.1", std::to_string(port).c_str());
  const auto press = [&](int window, int key) -> std::optional<double> {
    WaitForSilence(ears, window, 0.05);
    const uint64_t at = ears.FrameNow();
    const std::string address =
        "/tastivo/" + std::to_string(window) + "/key/" + std::to_string(key);
    if (lo_send(osc, address.c_str(), "i", 1) < 0) return std::nullopt;
    const std::optional<uint64_t> onset = OnsetAfter(ears, window, at);
    lo_send(osc, address.c_str(), "i", 0);
    if (!onset) return std::nullopt;
    return double(*onset - at) - leads[std::size_t(window)][std::size_t(key)];
  };
  // Key 0 of each window opens its output, which appears with its first
  // clip; it is not counted.
  for (int n = 0; n < kWindows; ++n) {
    press(n, 0);
    WaitUntil([&] { return ears.FollowedConnections(WindowClient(n)) > 0; }, 5s);
  }
  std::vector<std::pair<int, int>> keys;
  for (int n = 0; n < kWindows; ++n)
    for (int key = 1; key < kRows; ++key) keys.emplace_back(n, key);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(20261211));
  std::vector<double> frames, atRate;
  int missed = 0;
  for (const auto& [window, key] : keys) {
    const std::optional<double> heard = press(window, key);
    if (!heard) {
      ++missed;
      continue;
    }
    frames.push_back(*heard);
    if (key % 5 == 4) atRate.push_back(*heard);
  }
  lo_address_free(osc);
  const double rate = ears.SampleRate(), period = ears.Period();
  for (const auto& [name, found] :
       {std::pair{std::string("every_key_first_press"), frames},
        std::pair{std::string("every_key_first_press_at_rate_150"), atRate}}) {
    if (found.empty()) continue;
    Print(name + "_p50", Percentile(found, 50) / rate * 1000, "ms");
    Print(name + "_p99", Percentile(found, 99) / rate * 1000, "ms");
    Print(name + "_p50_periods", Percentile(found, 50) / period, "periods");
    Print(name + "_p99_periods", Percentile(found, 99) / period, "periods");
  }
  Print("every_key_first_press_missed", missed, "presses");
  Print("every_key_rss_after", StatusMb(app.Pid(), "VmRSS"), "MB");
  Print("every_key_rss_after_own", StatusMb(app.Pid(), "VmRSS") - StatusMb(app.Pid(), "RssShmem"),
        "MB");
  return frames.empty() ? 1 : 0;
}
