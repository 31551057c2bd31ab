// How far a network group's follower reads the group's clock off, over a
// minute: the host serves this process's shared clock and the follower
// follows it through a relay that holds each datagram 5 ms each way, so
// both ends read the same clock and the follower's error is known at every
// moment. Read every 10 ms from the start of its following, as a press
// could come any time; the first seconds, before the follower trusts its
// answers, are counted apart.
//
// TASTIVO_BENCH_NET_CLOCK_SECONDS (60) sets the length.

#include "BenchOutput.h"
#include "NetRelay.h"
#include "engine/timing/NetClock.h"
#include "engine/timing/SharedClock.h"

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kPort = 7795;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  const char* env = std::getenv("TASTIVO_BENCH_NET_CLOCK_SECONDS");
  const int seconds = env != nullptr && *env != 0 ? std::atoi(env) : 60;
  auto host = engine::NetClock::Host("127.0.0.1", kPort);
  if (!host) {
    std::fprintf(stderr, "cannot serve the clock on 127.0.0.1:%d\n", kPort);
    return 1;
  }
  bench::NetRelay relay("127.0.0.3", "127.0.0.1", "127.0.0.1", {kPort}, 5ms);
  if (!relay.Ok()) {
    std::fprintf(stderr, "the relay could not bind 127.0.0.3\n");
    return 1;
  }
  auto follower = engine::NetClock::Follow("127.0.0.3", kPort);
  const auto begin = std::chrono::steady_clock::now();
  std::vector<double> trusted, early;  // |error| in ms
  double trustedAfter = -1;
  while (std::chrono::steady_clock::now() - begin < std::chrono::seconds(seconds)) {
    std::this_thread::sleep_for(10ms);
    const double since =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (!follower->Synced()) continue;
    if (trustedAfter < 0) trustedAfter = since;
    // Any moment of the shared clock will do: both ends read the same one.
    constexpr std::uint64_t kAt = 1'000'000'000'000;
    const double errorMs = std::fabs(static_cast<double>(follower->ToGroup(kAt)) - kAt) / 1e6;
    (since < trustedAfter + 5 ? early : trusted).push_back(errorMs);
  }
  Print("net_clock_trusted_after", trustedAfter, "s");
  Print("net_clock_error_first_5s_max", early.empty() ? 0 : Percentile(early, 1), "ms");
  Print("net_clock_error_p50", Percentile(trusted, 0.5), "ms");
  Print("net_clock_error_p99", Percentile(trusted, 0.99), "ms");
  Print("net_clock_error_max", Percentile(trusted, 1), "ms");
  return 0;
}
