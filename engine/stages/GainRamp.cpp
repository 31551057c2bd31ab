#include "engine/stages/GainRamp.h"

#include "engine/timing/SharedClock.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <thread>

namespace engine {

bool FadesEnabled() {
  static const bool enabled = std::getenv("TASTIVO_NO_FADES") == nullptr;
  return enabled;
}

double RampGain(double x) {
  if (x <= 0.0) return 0.0;
  if (x >= 1.0) return 1.0;
  return 0.5 - 0.5 * std::cos(std::numbers::pi * x);
}

namespace {

template <typename T>
void Scale(guint8* data, int frames, int channels, int firstFrame, int rampFrames) {
  auto* samples = reinterpret_cast<T*>(data);
  for (int f = 0; f < frames; ++f) {
    const int at = firstFrame + f;
    const double gain = at >= rampFrames ? 0.0 : RampGain(1.0 - double(at) / rampFrames);
    for (int c = 0; c < channels; ++c) {
      T& s = samples[f * channels + c];
      s = static_cast<T>(s * gain);
    }
  }
}

// True when the output is a JACK server's and the server is clear of its
// cycle edges now (ClearOfCycleEdges), so that it reads nothing from the
// output until the next edge.
bool NextSegmentIsFree(GstElement* sink) {
  GstElementFactory* factory = gst_element_get_factory(sink);
  if (factory == nullptr || g_strcmp0(GST_OBJECT_NAME(factory), "jackaudiosink") != 0) return false;
  const auto cycle = CurrentServerCycle();
  if (!cycle) return false;
  GstClock* clock = ObtainSharedClock();
  const std::uint64_t now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  // Half a millisecond covers the server's reading of every output on a
  // busy graph; a ramp written into a period under way would click, so a
  // whole millisecond is kept before the next edge.
  return ClearOfCycleEdges(*cycle, now, 500'000, 1'000'000) == now;
}

}  // namespace

std::optional<SinkFade> FadeOutSink(GstElement* sink) {
  if (sink == nullptr || !FadesEnabled() || !GST_IS_AUDIO_BASE_SINK(sink)) return std::nullopt;
  // Past the end of its data the output plays silence already.
  if (GST_BASE_SINK(sink)->eos) return std::nullopt;
  auto* base = GST_AUDIO_BASE_SINK(sink);
  GST_OBJECT_LOCK(sink);
  GstAudioRingBuffer* ring =
      base->ringbuffer ? GST_AUDIO_RING_BUFFER(gst_object_ref(base->ringbuffer)) : nullptr;
  GST_OBJECT_UNLOCK(sink);
  if (ring == nullptr) return std::nullopt;
  std::optional<SinkFade> fade;
  const GstAudioRingBufferSpec& spec = ring->spec;
  const GstAudioFormat format = GST_AUDIO_INFO_FORMAT(&spec.info);
  const int channels = GST_AUDIO_INFO_CHANNELS(&spec.info);
  const int bpf = GST_AUDIO_INFO_BPF(&spec.info);
  const int rate = GST_AUDIO_INFO_RATE(&spec.info);
  // A ring buffer that hands its data on as it comes (a sound server's
  // stream) has no memory of its own to fade.
  const bool usable = ring->memory != nullptr && ring->acquired && bpf > 0 && rate > 0 &&
                      spec.segtotal >= 2 && spec.segsize > 0 &&
                      g_atomic_int_get(&ring->state) == GST_AUDIO_RING_BUFFER_STATE_STARTED &&
                      (format == GST_AUDIO_FORMAT_F32 || format == GST_AUDIO_FORMAT_S16 ||
                       format == GST_AUDIO_FORMAT_S32);
  if (usable) {
    const int segFrames = spec.segsize / bpf;
    const int rampFrames = std::max(1, int(std::lround(kRampSeconds * rate)));
    // The segment the device reads next may be being read right now; the
    // ramp starts at the one after, so it is never torn. A JACK server's
    // output reads at the edges of the server's cycles: clear of them the
    // next segment is not being read, and the ramp starts there, a period
    // sooner.
    const int next = g_atomic_int_get(&ring->segdone) - ring->segbase;
    const int first = NextSegmentIsFree(sink) ? next : next + 1;
    for (int k = 0; k < spec.segtotal - 1; ++k) {
      const int segment = (first + k) % spec.segtotal;
      guint8* data = ring->memory + std::size_t(segment) * spec.segsize;
      const int firstFrame = k * segFrames;
      if (format == GST_AUDIO_FORMAT_F32)
        Scale<float>(data, segFrames, channels, firstFrame, rampFrames);
      else if (format == GST_AUDIO_FORMAT_S16)
        Scale<gint16>(data, segFrames, channels, firstFrame, rampFrames);
      else
        Scale<gint32>(data, segFrames, channels, firstFrame, rampFrames);
    }
    const int rampSegments = (rampFrames + segFrames - 1) / segFrames;
    const double period = double(segFrames) / rate;
    fade = SinkFade{};
    fade->sink = GST_ELEMENT(gst_object_ref(sink));
    fade->lastSegment = first + rampSegments - 1 + ring->segbase;
    fade->deadline = std::chrono::steady_clock::now() +
                     std::chrono::microseconds(std::lround((rampSegments + 1.5) * period * 1e6));
  }
  gst_object_unref(ring);
  return fade;
}

void AwaitFade(SinkFade& fade) {
  if (fade.sink == nullptr) return;
  auto* base = GST_AUDIO_BASE_SINK(fade.sink);
  GST_OBJECT_LOCK(fade.sink);
  GstAudioRingBuffer* ring =
      base->ringbuffer ? GST_AUDIO_RING_BUFFER(gst_object_ref(base->ringbuffer)) : nullptr;
  GST_OBJECT_UNLOCK(fade.sink);
  if (ring != nullptr) {
    while (g_atomic_int_get(&ring->segdone) <= fade.lastSegment &&
           g_atomic_int_get(&ring->state) == GST_AUDIO_RING_BUFFER_STATE_STARTED &&
           std::chrono::steady_clock::now() < fade.deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    gst_object_unref(ring);
  }
  gst_object_unref(fade.sink);
  fade.sink = nullptr;
}

}  // namespace engine
