#include "engine/timing/SharedClock.h"

#include "engine/GstInternal.h"
#include "engine/MediaGraph.h"

#include <gst/audio/gstaudiobasesink.h>
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace engine {

namespace {

std::mutex& ClockMutex() {
  static std::mutex m;
  return m;
}
// A drifting clock for tests, or nullptr for the machine's.
GstClock*& TestClock() {
  static GstClock* clock = nullptr;
  return clock;
}

}  // namespace

void SetClockDriftForTesting(double ppm) {
  EnsureGstInitialized();
  GstClock* made = nullptr;
  if (ppm != 0.0) {
    made = GST_CLOCK(
        g_object_new(GST_TYPE_SYSTEM_CLOCK, "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr));
    gst_object_ref_sink(made);
    // Its time runs at (1e6 + ppm) / 1e6 of the machine's from now on.
    const GstClockTime now = gst_clock_get_internal_time(made);
    const auto num = static_cast<GstClockTime>(std::llround(1e6 + ppm));
    gst_clock_set_calibration(made, now, now, num, 1000000);
  }
  std::lock_guard lock(ClockMutex());
  if (TestClock()) gst_object_unref(TestClock());
  TestClock() = made;
}

GstClock* ObtainSharedClock() {
  EnsureGstInitialized();
  {
    std::lock_guard lock(ClockMutex());
    if (TestClock()) return GST_CLOCK(gst_object_ref(TestClock()));
  }
  // The system clock is one object for the whole process.
  return gst_system_clock_obtain();
}

namespace {

// A client of our own that only reads the server's frame timer: it has no
// ports and is never activated, so the server never waits for it.
class CycleReader {
 public:
  ~CycleReader() { Close(); }

  jack_client_t* Client() {
    // A server that went away leaves every client of it in the process
    // dead. Closing ours, or trying to open another while the outputs still
    // hold theirs, breaks what they share: closing the outputs' clients then
    // crashes. Ours is let go of (its little memory stays behind) and
    // opened again only once an output has since found a server.
    if (gone_.exchange(false)) {
      client_ = nullptr;
      lostAt_ = OutputsFoundWorking();
    }
    if (client_ == nullptr && (!lostAt_ || OutputsFoundWorking() > *lostAt_)) {
      lostAt_.reset();
      jack_status_t status{};
      client_ = jack_client_open("tastivo-cycles", JackNoStartServer, &status);
      if (client_ != nullptr) jack_on_shutdown(client_, &CycleReader::ServerGone, this);
    }
    return client_;
  }

 private:
  // Runs on a JACK thread; only flags it.
  static void ServerGone(void* self) { static_cast<CycleReader*>(self)->gone_ = true; }
  void Close() {
    if (client_ != nullptr && !gone_) jack_client_close(client_);
    client_ = nullptr;
  }

  jack_client_t* client_ = nullptr;
  std::atomic<bool> gone_{false};
  std::optional<std::uint64_t> lostAt_;
};

}  // namespace

std::optional<ServerCycle> CurrentServerCycle() {
  if (DefaultAudioSinkName() != "jackaudiosink") return std::nullopt;
  static CycleReader reader;
  jack_client_t* client = reader.Client();
  if (client == nullptr) return std::nullopt;
  const jack_nframes_t rate = jack_get_sample_rate(client);
  if (rate == 0) return std::nullopt;
  // JACK's times are microseconds of the machine's monotonic clock, the one
  // the graphs run on.
  const jack_time_t start = jack_frames_to_time(client, jack_last_frame_time(client));
  ServerCycle cycle;
  cycle.startNs = static_cast<std::uint64_t>(start) * 1000;
  cycle.periodNs = static_cast<std::uint64_t>(jack_get_buffer_size(client)) * 1000000000u / rate;
  cycle.rate = static_cast<int>(rate);
  return cycle;
}

std::uint64_t ClearOfCycleEdges(const ServerCycle& cycle, std::uint64_t ns, std::uint64_t afterNs,
                                std::uint64_t beforeNs) {
  const std::uint64_t p = cycle.periodNs;
  if (p == 0) return ns;
  const std::uint64_t after = std::min(afterNs, p / 4), before = std::min(beforeNs, p / 4);
  if (ns < cycle.startNs) return cycle.startNs + after;
  const std::uint64_t phase = (ns - cycle.startNs) % p;
  if (phase < after) return ns - phase + after;
  if (phase > p - before) return ns - phase + p + after;
  return ns;
}

void FollowSharedClock(GstElement* element) {
  if (!GST_IS_AUDIO_BASE_SINK(element)) return;
  g_object_set(element, "slave-method", GST_AUDIO_BASE_SINK_SLAVE_NONE, nullptr);
}

}  // namespace engine
