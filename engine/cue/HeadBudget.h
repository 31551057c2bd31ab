#pragma once
// How many clip heads (ClipHead) the windows hold in all: a budget of
// memory, not of clips. Every window names the keys it would hold a head
// for, with the memory each head takes; the budget says which of them it
// may hold. Within the budget every key of every window has its head. Over
// it, the heads of keys played most recently are held first, then those
// never played, lowest key first across the windows; the keys played least
// lately go without, and their first press starts as the graph plays it.
//
// Window thread only. A window whose share shrinks because another's grew
// (a key played, a set loaded) is told, on its own thread, to name its keys
// again.

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace engine {

struct HeadLimits {
  // The length of each head: the window and the graph have this long to
  // take over from it, with a quarter of it to spare for a graph late on a
  // busy machine.
  int Milliseconds = 250;
  std::int64_t Bytes = std::int64_t{128} << 20;
  static constexpr int kShortest = 100, kLongest = 2000;
};

class HeadBudget {
 public:
  static HeadBudget& Instance();

  struct Want {
    int key = 0;
    std::int64_t bytes = 0;
  };
  // The keys of `owner` that may hold a head, of those in `wants`; replaces
  // what it named before. `renamed` runs on `owner`'s thread, soon after,
  // when the keys it may hold have changed since (the window then names
  // them again).
  std::set<int> Name(QObject* owner, std::vector<Want> wants, std::function<void()> renamed);
  void Forget(QObject* owner);
  // A key of `owner` was played: it is held before those played earlier.
  void Played(QObject* owner, int key);

  HeadLimits Limits() const { return limits_; }
  // Every window is told to name its keys again.
  void SetLimits(const HeadLimits& limits);
  // The memory the heads that may be held take.
  std::int64_t HeldBytes() const;

 private:
  HeadBudget() = default;
  struct Owner {
    std::vector<Want> wants;
    std::map<int, std::uint64_t> lastPlayed;
    std::set<int> allowed;
    std::function<void()> renamed;
    int order = 0;  // when it first named its keys
  };
  // Chooses for every owner; tells those whose keys changed, but `asking`.
  void Choose(const QObject* asking);
  void Tell(QObject* owner);

  HeadLimits limits_;
  std::map<QObject*, Owner> owners_;
  std::uint64_t plays_ = 0;
  int joined_ = 0;
};

}  // namespace engine
