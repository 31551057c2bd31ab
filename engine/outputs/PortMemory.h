#pragma once
// What a window's JACK ports are connected to, remembered by port name, so
// the patch a sound engineer made survives a restart of the window and of
// the clients it feeds. Plain logic over what the JACK graph shows; the
// device looks at the graph and makes the connections it is told to.
//
// Threads: any; one lock guards it.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace engine {

struct PortLink {
  std::string own;    // our port's short name ("out_1")
  std::string other;  // the full name of the port it feeds ("system:playback_1")
  bool operator==(const PortLink&) const = default;
  bool operator<(const PortLink& o) const { return own != o.own ? own < o.own : other < o.other; }
};

class PortMemory {
 public:
  // Replaces what is remembered (from the stored settings); the next look
  // connects every link whose port is present.
  void Remember(const std::vector<PortLink>& links);
  std::vector<PortLink> Remembered() const;
  // True when nothing is remembered: the ports then go to the first
  // physical outputs, as a patchbay would connect a new player.
  bool Empty() const;

  // Which port of a full name there is now: a number that differs between
  // a port and one of the same name made after it went, or 0 when there is
  // none.
  using PortIdentity = std::function<std::uint64_t(const std::string&)>;
  // One look at the graph: `connected` holds the links that exist now. A
  // link made since the last look is remembered. One whose port went away is
  // kept, named once, and made again when a port of that name is there
  // again (a new port, though the look came late). One broken while its
  // very port stayed was taken apart by the user: it is not stored any more.
  // Returns the links to make now.
  std::vector<PortLink> Look(const std::vector<PortLink>& connected, const PortIdentity& identity);
  // A link Look asked for could not be made (a client not active yet): it
  // is tried again at the next look.
  void NotMade(const PortLink& link);
  // A new start: the next look makes every remembered link that is present.
  void Restart();

  // "" or what the window has to be told, once.
  std::string TakeNotice();

 private:
  mutable std::mutex mutex_;
  std::set<PortLink> remembered_;
  std::set<std::string> missing_;  // ports named as missing, until back
  // Links broken while their port stayed: not made again, and not stored,
  // unless a new port of that name comes.
  std::set<PortLink> broken_;
  // The port each link was last made to or seen with.
  std::map<PortLink, std::uint64_t> seen_;
  bool fresh_ = true;
  std::string notice_;
};

// Links as one text per link ("out_1>system:playback_1"), for storing.
std::vector<std::string> PortLinksToText(const std::vector<PortLink>& links);
std::vector<PortLink> PortLinksFromText(const std::vector<std::string>& texts);

}  // namespace engine
