#pragma once
// One clock for the machines of a network group, over GStreamer's network
// clock: the machine that hosts the group serves its shared clock (the one
// every graph of the process runs on, SharedClock.h) to the others, which
// follow it with a network client clock. Times that travel between the
// machines are on this clock; each machine turns them into its own shared
// clock's time before it starts anything.
//
// The client clock is GStreamer's own: it filters its round trips, drops
// those that took too long and follows the host's rate as well as its
// offset, so no clock protocol of ours is needed. Its defaults suit a
// network whose delay is its only uncertainty; a busy machine adds more,
// so the follower tunes it through its own properties:
// - it asks ten times a second rather than once, so that its estimate
//   settles in seconds instead of half a minute and a stray answer leaves
//   its window sooner;
// - it takes only answers whose round trip is within a millisecond of the
//   shortest it has seen. An answer held up on one leg (a reply read late
//   by a thread the machine kept waiting, a busy link) is off by half the
//   extra time; by default it is taken as long as its round trip is under
//   twice the average, which on a 10 ms link lets through errors of
//   several milliseconds. Should no answer come within the limit for a
//   long while (the route changed), the limit widens and is learnt again;
// - its estimate starts anew once the limit is learnt, and its time is
//   trusted after half a window of answers within it.

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

class NetClock {
 public:
  ~NetClock();
  NetClock(const NetClock&) = delete;
  NetClock& operator=(const NetClock&) = delete;

  // Serves the shared clock on `address` ("" for every address) and `port`
  // (0: any free one); nullptr when the port can't be had.
  static std::unique_ptr<NetClock> Host(const std::string& address, int port);
  // Follows the clock served at `address`:`port`.
  static std::unique_ptr<NetClock> Follow(const std::string& address, int port);

  bool Hosting() const { return provider_ != nullptr; }
  // The port served, or followed.
  int Port() const { return port_; }
  // True once a follower's estimate is made of answers filtered by the
  // shortest round trip (seconds; longer on a busy machine); always for the
  // host.
  bool Synced() const;

  // The group's clock now, in ns.
  std::uint64_t Now() const;
  // A time of the group's clock as a time of this process's shared clock,
  // and back.
  std::uint64_t ToLocal(std::uint64_t groupNs) const;
  std::uint64_t ToGroup(std::uint64_t localNs) const;

  // What a follower learns of its round trips (NetClock.cpp).
  struct Follower;

 private:
  NetClock() = default;
  // Group time minus local time, read back to back.
  std::int64_t Offset() const;

  void* provider_ = nullptr;  // GstNetTimeProvider
  void* clock_ = nullptr;     // GstClock: the shared one, or the client clock
  void* local_ = nullptr;     // GstClock: the shared one
  int port_ = 0;
  std::shared_ptr<Follower> follower_;
  void* watch_ = nullptr;  // GstClockID: the follower's periodic look at its answers
};

}  // namespace engine
