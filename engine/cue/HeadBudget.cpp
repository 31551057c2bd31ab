#include "engine/cue/HeadBudget.h"

#include <QPointer>

#include <algorithm>
#include <tuple>

namespace engine {

HeadBudget& HeadBudget::Instance() {
  static HeadBudget* budget = new HeadBudget();  // lives as long as the process
  return *budget;
}

std::set<int> HeadBudget::Name(QObject* owner, std::vector<Want> wants,
                               std::function<void()> renamed) {
  auto [it, added] = owners_.try_emplace(owner);
  if (added) it->second.order = joined_++;
  it->second.wants = std::move(wants);
  it->second.renamed = std::move(renamed);
  Choose(owner);
  return it->second.allowed;
}

void HeadBudget::Forget(QObject* owner) {
  if (owners_.erase(owner) > 0) Choose(nullptr);
}

void HeadBudget::Played(QObject* owner, int key) {
  auto it = owners_.find(owner);
  if (it == owners_.end()) return;
  it->second.lastPlayed[key] = ++plays_;
  // Held already: its place among the others matters only when they change.
  if (!it->second.allowed.count(key)) Choose(nullptr);
}

void HeadBudget::SetLimits(const HeadLimits& limits) {
  limits_ = limits;
  for (auto& [owner, _] : owners_) Tell(owner);
}

std::int64_t HeadBudget::HeldBytes() const {
  std::int64_t bytes = 0;
  for (const auto& [_, o] : owners_)
    for (const Want& w : o.wants)
      if (o.allowed.count(w.key)) bytes += w.bytes;
  return bytes;
}

void HeadBudget::Choose(const QObject* asking) {
  struct Candidate {
    std::uint64_t lastPlayed;
    int key, order;
    QObject* owner;
    std::int64_t bytes;
  };
  std::vector<Candidate> candidates;
  for (auto& [owner, o] : owners_)
    for (const Want& w : o.wants) {
      const auto played = o.lastPlayed.find(w.key);
      candidates.push_back(
          {played == o.lastPlayed.end() ? 0 : played->second, w.key, o.order, owner, w.bytes});
    }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return std::tie(b.lastPlayed, a.key, a.order) < std::tie(a.lastPlayed, b.key, b.order);
  });
  std::map<QObject*, std::set<int>> allowed;
  std::int64_t bytes = 0;
  for (const Candidate& c : candidates) {
    // A head that does not fit is passed over; a smaller one after it may.
    if (bytes + c.bytes > limits_.Bytes) continue;
    bytes += c.bytes;
    allowed[c.owner].insert(c.key);
  }
  for (auto& [owner, o] : owners_) {
    std::set<int>& now = allowed[owner];
    if (now == o.allowed) continue;
    o.allowed = std::move(now);
    if (owner != asking) Tell(owner);
  }
}

void HeadBudget::Tell(QObject* owner) {
  QMetaObject::invokeMethod(
      owner,
      [this, guard = QPointer<QObject>(owner)] {
        if (!guard) return;
        const auto it = owners_.find(guard.data());
        if (it != owners_.end() && it->second.renamed) it->second.renamed();
      },
      Qt::QueuedConnection);
}

}  // namespace engine
