#include "engine/timing/GroupStart.h"

#include "engine/timing/SharedClock.h"

#include <gst/gst.h>

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace engine {

namespace {

GroupStart* current = nullptr;

// The lead is measured, not chosen: twice what starting every held graph
// took at the previous group start (a state change of a cued pipeline each:
// well under a millisecond on an idle machine, more on a loaded one). The
// bounds only keep one odd measurement from ruling the next start: below a
// millisecond the measurement itself is noise, and a group whose start took
// over 10 ms was starved, so waiting longer than 20 ms would only make
// every next key late too. Should the machine be slower than the lead, the
// graphs started after the base time lose the first moment of their clip
// and the next lead grows to match.
constexpr std::chrono::nanoseconds kMinLead = std::chrono::milliseconds(1);
constexpr std::chrono::nanoseconds kMaxLead = std::chrono::milliseconds(20);
std::atomic<std::int64_t> leadNs{std::chrono::nanoseconds(std::chrono::milliseconds(3)).count()};

// A graph started alone is woken on its base time this long after the
// window thread chose it: its change to playing and its streaming thread's
// wait on the clock take a few hundred microseconds (sound due before the
// wait begins is lost). Half a millisecond before the next cycle edge the
// wake leaves time to write the first samples before the server reads.
// Together they cost a period more to a key that comes in the last
// millisecond of a cycle. Both are set by the kernel's wake-up latency, not
// by this machine's speed, and ClearOfCycleEdges caps each at a quarter of
// the server's period, so a short period never leaves the wake no room.
constexpr std::uint64_t kSoloLeadNs = 500'000, kSoloBeforeEdgeNs = 500'000;
// Half a millisecond past an edge the server has read every output: JACK
// runs its clients one after the other at the start of a cycle (capped, too,
// at a quarter period).
constexpr std::uint64_t kAfterEdgeNs = 500'000;
}  // namespace

struct GroupStart::Held {
  QPointer<QObject> graph;
  std::function<void(std::chrono::nanoseconds)> cue;
  std::function<void(std::optional<std::uint64_t>)> start;
};

GroupStart::GroupStart() : outer_(current), timerContext_(std::make_unique<QObject>()) {
  current = this;
  // Fires only when an event loop runs inside the group's dispatch.
  QTimer::singleShot(0, timerContext_.get(), [this] { StartHeld(); });
}

GroupStart::~GroupStart() {
  Start();
}

void GroupStart::Start() {
  timerContext_.reset();
  if (current == this) current = outer_;
  StartHeld();
}

void GroupStart::StartAt(std::uint64_t baseNs) {
  timerContext_.reset();
  if (current == this) current = outer_;
  StartHeld(baseNs);
}

GroupStart* GroupStart::Current() {
  return current;
}

std::chrono::nanoseconds GroupStart::Lead() {
  return std::chrono::nanoseconds(leadNs.load());
}

std::optional<std::uint64_t> GroupStart::SoloBase() {
  const auto cycle = CurrentServerCycle();
  if (!cycle || cycle->periodNs == 0) return std::nullopt;
  GstClock* clock = ObtainSharedClock();
  const std::uint64_t earliest = gst_clock_get_time(clock) + kSoloLeadNs;
  gst_object_unref(clock);
  return ClearOfCycleEdges(*cycle, earliest, kAfterEdgeNs, kSoloBeforeEdgeNs);
}

void GroupStart::Hold(QObject* graph, std::function<void(std::chrono::nanoseconds)> cue,
                      std::function<void(std::optional<std::uint64_t> baseNs)> start) {
  held_.push_back({graph, std::move(cue), std::move(start)});
}

void GroupStart::StartHeld(std::optional<std::uint64_t> agreedNs) {
  std::vector<Held> held;
  held.swap(held_);
  held.erase(std::remove_if(held.begin(), held.end(), [](const Held& h) { return !h.graph; }),
             held.end());
  if (held.empty()) return;
  const auto budgetEnd = std::chrono::steady_clock::now() + kCueBudget;
  for (auto& h : held)
    if (h.graph)
      h.cue(std::max(std::chrono::nanoseconds(0), budgetEnd - std::chrono::steady_clock::now()));
  if (agreedNs) {
    for (auto& h : held)
      if (h.graph) h.start(*agreedNs);
    return;
  }
  if (held.size() == 1) {
    held.front().start(std::nullopt);
    return;
  }
  GstClock* clock = ObtainSharedClock();
  const GstClockTime now = gst_clock_get_time(clock);
  GstClockTime base = now + static_cast<GstClockTime>(leadNs.load());
  // Each output begins on the server cycle after its thread wakes at the
  // base time. The threads wake a little apart (more on a loaded machine);
  // near a cycle's edge some would catch that cycle and some the next. The
  // middle half of a cycle leaves a quarter period either way.
  if (const auto cycle = CurrentServerCycle(); cycle && cycle->periodNs > 0) {
    const std::uint64_t p = cycle->periodNs;
    const std::uint64_t phase =
        base >= cycle->startNs ? (base - cycle->startNs) % p : p - (cycle->startNs - base) % p;
    if (phase < p / 4)
      base += p / 4 - phase;
    else if (phase > 3 * p / 4)
      base += p - phase + p / 4;
  }
  for (auto& h : held)
    if (h.graph) h.start(base);
  const auto took = std::chrono::nanoseconds(gst_clock_get_time(clock) - now);
  gst_object_unref(clock);
  leadNs = std::clamp(2 * took, kMinLead, kMaxLead).count();
}

}  // namespace engine
