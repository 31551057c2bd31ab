#include "platform/media/GroupStart.h"

#include "platform/media/SharedClock.h"

#include <gst/gst.h>

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace platform::media {

namespace {

GroupStart* current = nullptr;

// Starting a held graph is a state change of a cued pipeline: well under a
// millisecond each on an idle machine, more on a loaded one. The lead is
// twice what starting them all took the last time, within these bounds; a
// graph started after its base time has passed loses the first moment of
// its clip, which the margin keeps rare.
constexpr std::chrono::nanoseconds kMinLead = std::chrono::microseconds(1500);
constexpr std::chrono::nanoseconds kMaxLead = std::chrono::milliseconds(20);
std::atomic<std::int64_t> leadNs{std::chrono::nanoseconds(std::chrono::milliseconds(3)).count()};

}  // namespace

struct GroupStart::Held {
  QPointer<QObject> graph;
  std::function<void()> cue;
  std::function<void(std::optional<std::uint64_t>)> start;
};

GroupStart::GroupStart() : outer_(current), timerContext_(std::make_unique<QObject>()) {
  current = this;
  // Fires only when an event loop runs inside the group's dispatch.
  QTimer::singleShot(0, timerContext_.get(), [this] { StartHeld(); });
}

GroupStart::~GroupStart() {
  timerContext_.reset();
  current = outer_;
  StartHeld();
}

GroupStart* GroupStart::Current() {
  return current;
}

std::chrono::nanoseconds GroupStart::Lead() {
  return std::chrono::nanoseconds(leadNs.load());
}

void GroupStart::Hold(QObject* graph, std::function<void()> cue,
                      std::function<void(std::optional<std::uint64_t> baseNs)> start) {
  held_.push_back({graph, std::move(cue), std::move(start)});
}

void GroupStart::StartHeld() {
  std::vector<Held> held;
  held.swap(held_);
  held.erase(std::remove_if(held.begin(), held.end(), [](const Held& h) { return !h.graph; }),
             held.end());
  if (held.empty()) return;
  for (auto& h : held)
    if (h.graph) h.cue();
  if (held.size() == 1) {
    held.front().start(std::nullopt);
    return;
  }
  GstClock* clock = ObtainSharedClock();
  const GstClockTime now = gst_clock_get_time(clock);
  const GstClockTime base = now + static_cast<GstClockTime>(leadNs.load());
  for (auto& h : held)
    if (h.graph) h.start(base);
  const auto took = std::chrono::nanoseconds(gst_clock_get_time(clock) - now);
  gst_object_unref(clock);
  leadNs = std::clamp(2 * took, kMinLead, kMaxLead).count();
}

}  // namespace platform::media
