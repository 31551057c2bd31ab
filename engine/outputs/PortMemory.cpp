#include "engine/outputs/PortMemory.h"

#include <utility>

namespace engine {

void PortMemory::Remember(const std::vector<PortLink>& links) {
  std::lock_guard lock(mutex_);
  remembered_ = {links.begin(), links.end()};
  missing_.clear();
  broken_.clear();
  seen_.clear();
  fresh_ = true;
}

std::vector<PortLink> PortMemory::Remembered() const {
  std::lock_guard lock(mutex_);
  std::vector<PortLink> kept;
  for (const PortLink& l : remembered_)
    if (broken_.count(l) == 0) kept.push_back(l);
  return kept;
}

bool PortMemory::Empty() const {
  std::lock_guard lock(mutex_);
  return remembered_.empty();
}

void PortMemory::Restart() {
  std::lock_guard lock(mutex_);
  for (const PortLink& l : broken_) remembered_.erase(l);
  broken_.clear();
  missing_.clear();
  fresh_ = true;
}

std::vector<PortLink> PortMemory::Look(const std::vector<PortLink>& connected,
                                       const PortIdentity& identity) {
  std::lock_guard lock(mutex_);
  const std::set<PortLink> now(connected.begin(), connected.end());
  std::vector<PortLink> make;
  std::vector<std::string> newlyMissing;
  for (const PortLink& link : remembered_) {
    const std::uint64_t port = identity(link.other);
    const auto seen = seen_.find(link);
    const bool newPort = seen == seen_.end() || seen->second != port;
    if (now.count(link) != 0) {
      missing_.erase(link.other);
      broken_.erase(link);
    } else if (port == 0) {
      if (missing_.insert(link.other).second) newlyMissing.push_back(link.other);
    } else if (fresh_ || newPort || missing_.count(link.other) != 0) {
      missing_.erase(link.other);
      broken_.erase(link);
      make.push_back(link);
    } else {
      broken_.insert(link);
    }
    if (port != 0) seen_[link] = port;
  }
  for (const PortLink& link : now) seen_[link] = identity(link.other);
  remembered_.insert(now.begin(), now.end());
  fresh_ = false;
  if (!newlyMissing.empty()) {
    std::string names;
    for (const std::string& port : newlyMissing)
      names += (names.empty() ? "\"" : ", \"") + port + "\"";
    const bool one = newlyMissing.size() == 1;
    notice_ = names + (one ? " is" : " are") +
              " missing: this window's other JACK connections are kept, and it connects to " +
              (one ? "it" : "them") + " again when back.";
  }
  return make;
}

void PortMemory::NotMade(const PortLink& link) {
  std::lock_guard lock(mutex_);
  seen_.erase(link);
}

std::string PortMemory::TakeNotice() {
  std::lock_guard lock(mutex_);
  return std::exchange(notice_, {});
}

std::vector<std::string> PortLinksToText(const std::vector<PortLink>& links) {
  std::vector<std::string> texts;
  for (const PortLink& l : links) texts.push_back(l.own + ">" + l.other);
  return texts;
}

std::vector<PortLink> PortLinksFromText(const std::vector<std::string>& texts) {
  std::vector<PortLink> links;
  for (const std::string& t : texts) {
    const auto at = t.find('>');
    if (at == std::string::npos || at == 0 || at + 1 == t.size()) continue;
    links.push_back({t.substr(0, at), t.substr(at + 1)});
  }
  return links;
}

}  // namespace engine
