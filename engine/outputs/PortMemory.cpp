#include "engine/outputs/PortMemory.h"

#include <utility>

namespace engine {

void PortMemory::Remember(const std::vector<PortLink>& links) {
  std::lock_guard lock(mutex_);
  remembered_ = {links.begin(), links.end()};
  missing_.clear();
  fresh_ = true;
}

std::vector<PortLink> PortMemory::Remembered() const {
  std::lock_guard lock(mutex_);
  return {remembered_.begin(), remembered_.end()};
}

bool PortMemory::Empty() const {
  std::lock_guard lock(mutex_);
  return remembered_.empty();
}

void PortMemory::Restart() {
  std::lock_guard lock(mutex_);
  missing_.clear();
  fresh_ = true;
}

std::vector<PortLink> PortMemory::Look(const std::vector<PortLink>& connected,
                                       const std::function<bool(const std::string&)>& exists) {
  std::lock_guard lock(mutex_);
  const std::set<PortLink> now(connected.begin(), connected.end());
  std::vector<PortLink> make;
  std::vector<std::string> newlyMissing;
  for (auto it = remembered_.begin(); it != remembered_.end();) {
    if (now.count(*it) != 0) {
      missing_.erase(it->other);
      ++it;
    } else if (!exists(it->other)) {
      if (missing_.insert(it->other).second) newlyMissing.push_back(it->other);
      ++it;
    } else if (fresh_ || missing_.count(it->other) != 0) {
      missing_.erase(it->other);
      make.push_back(*it++);
    } else {
      it = remembered_.erase(it);  // the user took it apart
    }
  }
  remembered_.insert(now.begin(), now.end());
  fresh_ = false;
  if (!newlyMissing.empty()) {
    std::string names;
    for (const std::string& port : newlyMissing)
      names += (names.empty() ? "\"" : ", \"") + port + "\"";
    const bool one = newlyMissing.size() == 1;
    notice_ = std::string(one ? "The JACK port " : "The JACK ports ") + names +
              (one ? " is" : " are") +
              " missing; this window's other connections are kept, and the window connects "
              "to it again when it comes back.";
  }
  return make;
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
