// Start-up time as the user sees it: from starting the program to its first
// keyboard window mapped on the X display, with empty settings. Watches the
// root window's map notifications, so no polling sits in the figure.
//
// Needs an X display (./bench.sh provides Xvfb) and no window manager.

#include "ProcStatus.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>
#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string WindowName(xcb_connection_t* c, xcb_window_t w) {
  auto cookie = xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 64);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
  if (reply == nullptr) return {};
  std::string name(static_cast<const char*>(xcb_get_property_value(reply)),
                   xcb_get_property_value_length(reply));
  std::free(reply);
  return name;
}

// Milliseconds from spawning the program to its "Tastivo" window mapped, or
// a negative value when it did not come within 20 s.

// With `atRest`, the program's resident memory 2 s after its window came,
// without the JACK server's shared memory (not the program's own).
double StartOnce(xcb_connection_t* c, const std::string& program, const std::string& config,
                 double* atRest = nullptr) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("QT_QPA_PLATFORM=", 0) == 0 || entry.rfind("XDG_CONFIG_HOME=", 0) == 0)
      continue;
    env.push_back(entry);
  }
  env.push_back("QT_QPA_PLATFORM=xcb");
  env.push_back("XDG_CONFIG_HOME=" + config);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};

  const auto start = Clock::now();
  // The program's own chatter would drown the figures.
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &quiet, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return -1;
  double ms = -1;
  while (Clock::now() - start < std::chrono::seconds(20)) {
    xcb_generic_event_t* event = xcb_poll_for_event(c);
    if (event == nullptr) {
      pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
      poll(&fd, 1, 50);
      continue;
    }
    const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
    const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
    std::free(event);
    if (mapped && WindowName(c, window) == "Tastivo") {
      ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      break;
    }
  }
  if (atRest != nullptr && ms >= 0) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    *atRest = StatusMb(pid, "VmRSS") - std::max(0.0, StatusMb(pid, "RssShmem"));
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path program = fs::path(argv[0]).parent_path() / "tastivo";
  const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "bench_startup: needs an X display\n");
    return 1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);

  char pattern[] = "/tmp/tastivo-bench-startup-XXXXXX";
  const std::string config = mkdtemp(pattern);
  std::vector<double> times;
  double atRest = -1;
  StartOnce(c, program, config);  // warms the file cache; not counted
  for (int i = 0; i < runs; ++i) {
    fs::remove_all(config);
    fs::create_directories(config);
    const double ms = StartOnce(c, program, config, i == runs - 1 ? &atRest : nullptr);
    if (ms < 0) {
      std::fprintf(stderr, "bench_startup: no window within 20 s\n");
      return 1;
    }
    times.push_back(ms);
  }
  fs::remove_all(config);
  std::sort(times.begin(), times.end());
  std::printf("startup_to_first_window_p50: %.1f ms\n", times[times.size() / 2]);
  std::printf("startup_to_first_window_max: %.1f ms\n", times.back());
  std::printf("rss_at_rest_own: %.1f MB\n", atRest);
  xcb_disconnect(c);
  return 0;
}
