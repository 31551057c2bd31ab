#include "engine/timing/NetClock.h"

#include "engine/timing/SharedClock.h"

#include <gst/gst.h>
#include <gst/net/gstnet.h>

#include <atomic>
#include <mutex>

namespace engine {

namespace {

// How often the follower asks the host: ten answers a second fill the
// client clock's window of 32 in about three seconds. Each is one small
// datagram each way.
constexpr GstClockTime kAskEvery = 100 * GST_MSECOND;
// How much longer than the shortest round trip an answer may take and still
// count: half of it is the most such an answer can be off, well inside the
// millisecond a group's onsets may differ by.
constexpr GstClockTime kRoundTripSlack = GST_MSECOND;
// Answers taken before the shortest round trip is trusted as the link's.
constexpr int kAnswersToLearn = 4;
// No answer within the limit for this long (a hundred asks) means the link
// itself got slower, not a busy moment, which the clock rides out on the
// rate it has learnt (tens of microseconds a second at worst): the limit
// then widens by a slack each look until answers come, and is learnt
// again from them.
constexpr GstClockTime kRelearnAfter = 10 * GST_SECOND;
constexpr GstClockTime kLookEvery = kAskEvery;

}  // namespace

// What the follower has learnt of its round trips. Shared by the client
// clock's thread (answers taken) and the system clock's (the periodic
// look), hence the lock; the client clock's properties are set outside it.
// It holds no reference to the client clock: its last reference may go on
// the system clock's thread, where letting the client clock go would wait
// on that very thread. The NetClock lets go of the clock itself, after
// taking it from here under `clientLock`.
struct NetClock::Follower {
  std::mutex clientLock;
  GstClock* client = nullptr;
  int window = 32;  // the answers the client clock's estimate is made of
  std::mutex lock;
  GstClockTime limit = GST_CLOCK_TIME_NONE;  // none set yet
  GstClockTime shortest = GST_CLOCK_TIME_NONE;
  int answers = 0;   // since the shortest was last learnt
  int filtered = 0;  // taken within a learnt limit
  GstClockTime lastAnswer = 0;
  // The client clock's estimate is made of filtered answers only.
  std::atomic<bool> trusted{false};

  static GstClockTime Now() { return static_cast<GstClockTime>(g_get_monotonic_time()) * 1000; }

  // Runs on the client clock's thread, for each answer it took.
  void Answer(GstClockTime roundTrip) {
    std::lock_guard<std::mutex> hold(lock);
    if (shortest == GST_CLOCK_TIME_NONE || roundTrip < shortest) shortest = roundTrip;
    ++answers;
    // Its window starts anew when the limit is first learnt: half a window
    // of answers is a steady estimate, however busy the machine that takes
    // one answer in a few.
    if (limit != GST_CLOCK_TIME_NONE && ++filtered >= window / 2) trusted = true;
    lastAnswer = Now();
  }

  // Runs on the system clock's thread, every kLookEvery.
  void Look() {
    GstClockTime set = GST_CLOCK_TIME_NONE;
    bool first = false;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (limit != GST_CLOCK_TIME_NONE && Now() - lastAnswer > kRelearnAfter) {
        limit += kRoundTripSlack;
        shortest = GST_CLOCK_TIME_NONE;
        answers = 0;
        set = limit;
      } else if (answers >= kAnswersToLearn && shortest + kRoundTripSlack != limit) {
        first = limit == GST_CLOCK_TIME_NONE;
        limit = shortest + kRoundTripSlack;
        set = limit;
      }
    }
    if (set == GST_CLOCK_TIME_NONE) return;
    std::lock_guard<std::mutex> hold(clientLock);
    if (client == nullptr) return;
    g_object_set(client, "round-trip-limit", static_cast<guint64>(set), nullptr);
    if (!first) return;
    // Setting its window's size starts the window anew, leaving out the
    // answers taken before there was a limit.
    GstClock* inner = nullptr;
    g_object_get(client, "internal-clock", &inner, nullptr);
    if (inner == nullptr) return;
    g_object_set(inner, "window-size", window, nullptr);
    gst_object_unref(inner);
  }
};

namespace {

// Runs on the client clock's thread: it posts a statistics message for
// each answer it takes, none for one it drops.
GstBusSyncReply OnClockMessage(GstBus*, GstMessage* message, gpointer data) {
  const GstStructure* s = gst_message_get_structure(message);
  guint64 roundTrip = 0;
  if (s != nullptr && gst_structure_has_name(s, "gst-netclock-statistics") &&
      gst_structure_get_uint64(s, "rtt", &roundTrip))
    (*static_cast<std::shared_ptr<NetClock::Follower>*>(data))->Answer(roundTrip);
  return GST_BUS_DROP;
}

// Runs on the system clock's thread.
gboolean OnLook(GstClock*, GstClockTime, GstClockID, gpointer data) {
  (*static_cast<std::shared_ptr<NetClock::Follower>*>(data))->Look();
  return TRUE;
}

void ForgetFollower(gpointer data) {
  delete static_cast<std::shared_ptr<NetClock::Follower>*>(data);
}

}  // namespace

NetClock::~NetClock() {
  if (follower_ != nullptr) {
    std::lock_guard<std::mutex> hold(follower_->clientLock);
    follower_->client = nullptr;
  }
  if (watch_ != nullptr) {
    gst_clock_id_unschedule(watch_);
    gst_clock_id_unref(watch_);
  }
  if (follower_ != nullptr) g_object_set(clock_, "bus", nullptr, nullptr);
  if (provider_ != nullptr) gst_object_unref(provider_);
  if (clock_ != nullptr) gst_object_unref(clock_);
  if (local_ != nullptr) gst_object_unref(local_);
}

std::unique_ptr<NetClock> NetClock::Host(const std::string& address, int port) {
  std::unique_ptr<NetClock> net(new NetClock());
  GstClock* shared = ObtainSharedClock();
  net->local_ = shared;
  net->clock_ = gst_object_ref(shared);
  GstNetTimeProvider* provider =
      gst_net_time_provider_new(shared, address.empty() ? nullptr : address.c_str(), port);
  if (provider == nullptr) return nullptr;
  net->provider_ = provider;
  gint bound = 0;
  g_object_get(provider, "port", &bound, nullptr);
  net->port_ = bound;
  return net;
}

std::unique_ptr<NetClock> NetClock::Follow(const std::string& address, int port) {
  std::unique_ptr<NetClock> net(new NetClock());
  net->local_ = ObtainSharedClock();
  GstClock* client = gst_net_client_clock_new("tastivo-group", address.c_str(), port, 0);
  if (client == nullptr) return nullptr;
  net->clock_ = client;
  net->port_ = port;

  // The client clock asks on the thread of an inner clock of its own,
  // shared by every client of the same host; how often it asks is that
  // clock's timeout.
  GstClock* inner = nullptr;
  g_object_get(client, "internal-clock", &inner, nullptr);
  auto follower = std::make_shared<Follower>();
  if (inner != nullptr) {
    g_object_set(inner, "timeout", static_cast<guint64>(kAskEvery), nullptr);
    g_object_get(inner, "window-size", &follower->window, nullptr);
    gst_object_unref(inner);
  }
  follower->client = client;
  net->follower_ = follower;

  GstBus* bus = gst_bus_new();
  gst_bus_set_sync_handler(bus, &OnClockMessage, new std::shared_ptr<Follower>(follower),
                           &ForgetFollower);
  g_object_set(client, "bus", bus, nullptr);
  gst_object_unref(bus);

  GstClock* system = gst_system_clock_obtain();
  net->watch_ =
      gst_clock_new_periodic_id(system, gst_clock_get_time(system) + kLookEvery, kLookEvery);
  gst_clock_id_wait_async(net->watch_, &OnLook, new std::shared_ptr<Follower>(follower),
                          &ForgetFollower);
  gst_object_unref(system);
  return net;
}

bool NetClock::Synced() const {
  return provider_ != nullptr ||
         (gst_clock_is_synced(GST_CLOCK(clock_)) && follower_ != nullptr && follower_->trusted);
}

std::uint64_t NetClock::Now() const {
  return gst_clock_get_time(GST_CLOCK(clock_));
}

std::int64_t NetClock::Offset() const {
  if (provider_ != nullptr) return 0;
  // Read the local clock on either side of the group's and take the middle,
  // so that the gap between the two reads does not count as offset. A
  // thread put aside between two reads widens the gap and puts the middle
  // off by half of it: of a few tries, the narrowest counts.
  constexpr int kTries = 5;
  constexpr GstClockTime kNarrow = 20 * GST_USECOND;
  GstClockTime gap = GST_CLOCK_TIME_NONE;
  std::int64_t offset = 0;
  for (int i = 0; i < kTries && gap > kNarrow; ++i) {
    const GstClockTime before = gst_clock_get_time(GST_CLOCK(local_));
    const GstClockTime group = gst_clock_get_time(GST_CLOCK(clock_));
    const GstClockTime after = gst_clock_get_time(GST_CLOCK(local_));
    if (after - before >= gap) continue;
    gap = after - before;
    offset =
        static_cast<std::int64_t>(group) - static_cast<std::int64_t>(before + (after - before) / 2);
  }
  return offset;
}

std::uint64_t NetClock::ToLocal(std::uint64_t groupNs) const {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(groupNs) - Offset());
}

std::uint64_t NetClock::ToGroup(std::uint64_t localNs) const {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(localNs) + Offset());
}

}  // namespace engine
