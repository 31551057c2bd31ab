#pragma once
// Starting the clips of a group of windows on one sample of the output.
//
// A key press in a group runs every window's Open, seek and Play one after
// the other; started as each comes, the windows' clips would sound that
// far apart. While a GroupStart is open on the window thread, a graph
// asked to run gets its clip cued and ready but holds it; when the
// GroupStart closes, every graph held starts on one base time of the shared
// clock, a little in the future (the lead: what starting them all takes,
// as measured at the previous group start), moved inside a cycle of the
// sound server when it is a JACK server's (CurrentServerCycle). Their
// outputs then put the clips' first samples on the same frame of the
// server.
//
// A graph held alone starts like any graph that runs alone, on a base time
// of its own (SoloBase). Should a nested event loop run before the
// GroupStart closes (a message box of one of the windows), the graphs held
// until then start at once, together, rather than wait for the box.
//
// Window thread only.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;

namespace engine {

class GroupStart {
 public:
  GroupStart();
  // Starts every graph held, unless Start() did.
  ~GroupStart();
  GroupStart(const GroupStart&) = delete;
  GroupStart& operator=(const GroupStart&) = delete;

  // The innermost GroupStart open, or nullptr.
  static GroupStart* Current();

  // Holds a graph's start until the group starts. First every graph held
  // is given the chance to finish cueing (`cue`, which waits at most the
  // time it is given: the whole group shares kCueBudget, so a key press
  // never holds the window long), then `start` is called once with the base
  // time (in ns of the shared clock), or with no value when the graph starts
  // alone. Neither is called when `graph` is gone by then.
  static constexpr std::chrono::milliseconds kCueBudget{100};
  void Hold(QObject* graph, std::function<void(std::chrono::nanoseconds wait)> cue,
            std::function<void(std::optional<std::uint64_t> baseNs)> start);

  // Starts every graph held now; a graph asked to run after this starts
  // alone.
  void Start();
  // Starts every graph held, one alone too, on `baseNs` of the shared clock:
  // a time agreed with other machines, not moved to suit this one's cycles.
  void StartAt(std::uint64_t baseNs);

  // How far in the future the next group start puts its base time.
  static std::chrono::nanoseconds Lead();

  // The base time (ns of the shared clock) for a clip that starts alone,
  // from its beginning or a seek: a little in the future, where its
  // output's streaming thread wakes clear of the server's cycle edges, so
  // that the first sample goes whole into the cycle that follows. A wake
  // right at an edge would race the server for the period being read, and
  // sound due before the output is up loses its beginning. Nothing when
  // the output is no JACK server's: the clip then starts at once.
  static std::optional<std::uint64_t> SoloBase();

 private:
  void StartHeld(std::optional<std::uint64_t> agreedNs = std::nullopt);

  struct Held;
  std::vector<Held> held_;
  GroupStart* outer_ = nullptr;
  std::unique_ptr<QObject> timerContext_;
};

}  // namespace engine
