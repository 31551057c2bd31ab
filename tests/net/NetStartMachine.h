#pragma once
// One machine of the agreed-start test: a player and the network
// benchmark's ears on one JACK server. The test runs one in its own process
// and one in a child process (NetStartMachine.cpp) on a second server: a
// process's JACK library serves one server at a time.

#include "NetEars.h"
#include "player/Tplayerbase.h"

#include <QCoreApplication>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

namespace net_start {

// Runs the event loop until `done` holds or `limit` passes.
template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The shared clock is the machine's monotonic clock, as the servers' is.
inline std::uint64_t SharedNow() {
  return std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
}

class Machine {
 public:
  // On `server` (the default one for its player), as the client `name`.
  Machine(const std::string& server, const std::string& name)
      : name_(name), ears_(server, name + "-ears", 0.05f, 2400), player_(&window_, 0) {
    player_.SetOutputName(QString::fromStdString(name));
  }

  // A first press makes the player's JACK client, for the ears to follow.
  bool Ready(const QString& clip) {
    if (!ears_.Ok()) return false;
    Press(clip, std::nullopt);
    const bool ok = WaitFor([&] { return ears_.Follow(name_); }, std::chrono::seconds(10));
    player_.Stop();
    return ok;
  }

  // Plays `clip` so that it sounds at `at` (ns of the shared clock), as a
  // press of a network group; the onset heard, in µs of the monotonic
  // clock, or -1.
  // The last sound is stopped and let die away first, so that the press's
  // sound is an onset of its own; one heard before the press is passed over.
  double PressAt(const QString& clip, std::uint64_t at) {
    player_.Stop();
    if (!WaitFor([&] { return ears_.Quiet(); }, std::chrono::seconds(5))) return -1;
    const double pressedUs = SharedNow() / 1e3;
    int next = ears_.Count();
    Press(clip, at);
    double onset = -1;
    WaitFor(
        [&] {
          for (; next < ears_.Count() && onset < 0; ++next)
            if (ears_.Onset(next) >= pressedUs) onset = ears_.Onset(next);
          return onset >= 0;
        },
        std::chrono::seconds(5));
    return onset;
  }

 private:
  void Press(const QString& clip, std::optional<std::uint64_t> at) {
    TPlayer::GroupStart together(at.has_value());
    if (player_.State == fsPlaying) player_.Stop();
    player_.Open(clip);
    player_.SetRelativePositions(10000, 0, 10000, 0);
    player_.Play();
    if (at) together.StartAt(*at);
  }

  std::string name_;
  bench::NetEars ears_;
  QObject window_;
  TPlayer player_;
};

}  // namespace net_start
