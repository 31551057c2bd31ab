#include "platform/media/SharedClock.h"

#include "platform/media/GstInternal.h"

#include <gst/audio/gstaudiobasesink.h>

#include <cmath>
#include <mutex>

namespace platform::media {

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

void FollowSharedClock(GstElement* element) {
  if (!GST_IS_AUDIO_BASE_SINK(element)) return;
  g_object_set(element, "slave-method", GST_AUDIO_BASE_SINK_SLAVE_NONE, nullptr);
}

}  // namespace platform::media
