// How an output with a queue ahead of its speakers fills it from a real
// ring buffer, on a scripted device that plays what it is given frame by
// frame: a cut is written over the queue, just ahead of what is heard, and
// fades; a device that can't take sound back hears it at the end of its
// queue, faded all the same; a start waits for the ring's sound.

#include "engine/outputs/QueueFiller.h"

#include <gst/audio/audio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace {

using engine::QueuedDevice;
using engine::QueueFiller;

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kRamp = 144;    // 3 ms
constexpr int kMargin = 96;   // 2 ms: what a device can no longer take back
constexpr int kQueue = 1920;  // 40 ms
constexpr double kHertz = 440;
// A 440 Hz sine at half scale, frame by frame: a fade made of other sound
// than was written at its place jumps out of it.
float Sine(std::uint64_t frame) {
  return float(0.5 * std::sin(2 * M_PI * kHertz * double(frame) / kRate));
}
const float kSineStep = float(0.5 * 2 * M_PI * kHertz / kRate);

QueueFiller* filler = nullptr;  // the one the test ring's callbacks use
// The ring commits through the filler's reader alone, as for a device that
// reads a period at a time (a JACK server).
bool periodDevice = false;

struct TestRing {
  GstAudioRingBuffer parent;
};
struct TestRingClass {
  GstAudioRingBufferClass parent_class;
};
G_DEFINE_TYPE(TestRing, test_ring, GST_TYPE_AUDIO_RING_BUFFER)

gboolean Done(GstAudioRingBuffer*) {
  return TRUE;
}
gboolean Acquire(GstAudioRingBuffer* buf, GstAudioRingBufferSpec* spec) {
  filler->Acquire(buf, spec, 240);
  return TRUE;
}
gboolean Release(GstAudioRingBuffer* buf) {
  const std::atomic<bool> gone{false};
  filler->Reader().Release(buf, gone);
  return TRUE;
}
void ClearAll(GstAudioRingBuffer* buf) {
  GST_AUDIO_RING_BUFFER_CLASS(test_ring_parent_class)->clear_all(buf);
  filler->Cleared();
}
guint Commit(GstAudioRingBuffer* buf, guint64* sample, guint8* data, gint in, gint out,
             gint* accum) {
  const auto parent = GST_AUDIO_RING_BUFFER_CLASS(test_ring_parent_class)->commit;
  if (periodDevice) return filler->Reader().Commit(parent, buf, sample, data, in, out, accum);
  return filler->Commit(parent, buf, sample, data, in, out, accum);
}
void test_ring_class_init(TestRingClass* klass) {
  auto* ring = GST_AUDIO_RING_BUFFER_CLASS(klass);
  ring->acquire = Acquire;
  ring->release = Release;
  ring->start = ring->pause = ring->resume = ring->stop = Done;
  ring->clear_all = ClearAll;
  ring->commit = Commit;
}
void test_ring_init(TestRing*) {}

// A device with a queue: what is written waits there until Play hands it
// to the speakers. It takes back at most `canTakeBack` frames (all but the
// last kMargin queued when negative).
class ScriptedDevice : public QueuedDevice {
 public:
  explicit ScriptedDevice(long canTakeBack = -1) : canTakeBack_(canTakeBack) {}

  std::optional<std::uint64_t> Queued() override { return queue_.size() / kChannels + beyond; }
  std::uint64_t TakeBack(std::uint64_t frames) override {
    const std::uint64_t queued = queue_.size() / kChannels;
    const std::uint64_t most =
        canTakeBack_ < 0 ? (queued > kMargin ? queued - kMargin : 0) : std::uint64_t(canTakeBack_);
    const std::uint64_t n = std::min(frames, most);
    queue_.resize(queue_.size() - n * kChannels);
    return n;
  }
  bool Write(const float* io, int frames) override {
    queue_.insert(queue_.end(), io, io + std::size_t(frames) * kChannels);
    return true;
  }
  // The speakers take `frames`.
  void Play(int frames) {
    for (int f = 0; f < frames && !queue_.empty(); ++f) {
      heard.push_back(queue_.front());
      queue_.erase(queue_.begin(), queue_.begin() + kChannels);
    }
  }
  // What the device has room for: it keeps kQueue frames.
  std::uint64_t Room() const {
    return kQueue - std::min<std::uint64_t>(kQueue, queue_.size() / kChannels);
  }

  std::vector<float> heard;  // the left channel, frame by frame
  // Frames the device counts as queued past its own queue (a sound
  // server's graph, on the way to the speakers).
  std::uint64_t beyond = 0;

 private:
  long canTakeBack_;
  std::deque<float> queue_;
};

class QueueFillerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gst_init(nullptr, nullptr);
    filler = &fill;
    fill.Prepare(kChannels, kRate, kRamp, 4096, rewrites, double(kMargin) / kRate, waitsForSound);
    ring = GST_AUDIO_RING_BUFFER(g_object_new(test_ring_get_type(), nullptr));
    gst_audio_info_set_format(&ring->spec.info, GST_AUDIO_FORMAT_F32, kRate, kChannels, nullptr);
    ring->spec.buffer_time = 200'000;
    ring->spec.latency_time = 5'000;
    ASSERT_TRUE(gst_audio_ring_buffer_open_device(ring));
    ASSERT_TRUE(gst_audio_ring_buffer_acquire(ring, &ring->spec));
    gst_audio_ring_buffer_set_flushing(ring, FALSE);
    gst_audio_ring_buffer_may_start(ring, TRUE);
  }
  void TearDown() override {
    gst_audio_ring_buffer_release(ring);
    gst_audio_ring_buffer_close_device(ring);
    gst_object_unref(ring);
    filler = nullptr;
    periodDevice = false;
  }

  // `frames` more of the sine into the ring, from where it plays next.
  void Give(int frames) {
    std::vector<float> sound(std::size_t(frames) * kChannels);
    for (int f = 0; f < frames; ++f)
      std::fill_n(&sound[std::size_t(f) * kChannels], kChannels, Sine(given + std::uint64_t(f)));
    // Where the sink puts it: after what it gave, as the ring placed that.
    guint64 sample = next;
    gint accum = 0;
    const guint n = gst_audio_ring_buffer_commit(
        ring, &sample, reinterpret_cast<guint8*>(sound.data()), frames, frames, &accum);
    given += n;
    next = sample;
  }

  // The device runs for `frames`, a period at a time, asking for what it
  // has room for.
  void Run(ScriptedDevice& device, int frames) {
    for (int done = 0; done < frames; done += 240) {
      device.Play(240);
      fill.Fill(ring, device, device.Room());
    }
  }

  // A device that reads the ring itself, a period of 240 frames at a time,
  // `count` times; the first channel goes to `heard`.
  void ReadPeriods(std::vector<float>& heard, int count) {
    for (int i = 0; i < count; ++i) {
      const float* io = fill.Reader().Read(ring, 240);
      for (int f = 0; f < 240; ++f) heard.push_back(io[f * kChannels]);
    }
  }

  // The sine plays for 100 ms, then the ring is paused, and the device
  // runs on for 100 ms. Returns the frame heard when it was paused.
  std::size_t PlayThenPause(ScriptedDevice& device) {
    fill.Fill(ring, device, kQueue);  // silence while the ring waits
    Give(9000);
    EXPECT_TRUE(gst_audio_ring_buffer_start(ring));
    Run(device, 4800);
    const std::size_t pausedAt = device.heard.size();
    gst_audio_ring_buffer_pause(ring);
    fill.Fill(ring, device, 0);
    Run(device, 4800);
    return pausedAt;
  }

  float LargestStep(const std::vector<float>& s, std::size_t from) const {
    float most = 0;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < s.size(); ++i)
      most = std::max(most, std::abs(s[i] - s[i - 1]));
    return most;
  }

  // Where the silence that ends `s` begins.
  std::size_t SilentFrom(const std::vector<float>& s) const {
    std::size_t end = s.size();
    while (end > 0 && s[end - 1] == 0.0f) --end;
    return end;
  }

  bool waitsForSound = false;
  bool rewrites = true;
  QueueFiller fill;
  GstAudioRingBuffer* ring = nullptr;
  guint64 given = 0;
  guint64 next = 0;
};

TEST_F(QueueFillerTest, ACutIsWrittenOverTheQueueJustAheadOfWhatIsHeardAndFades) {
  ScriptedDevice device;
  const std::size_t cutAt = PlayThenPause(device);
  const std::size_t silent = SilentFrom(device.heard);
  // Heard 2 ms after the cut, over 3 ms, not after the 40 ms queued.
  EXPECT_NEAR(double(silent), double(cutAt + kMargin + kRamp), 2);
  EXPECT_LE(LargestStep(device.heard, cutAt), 2 * kSineStep);
}

TEST_F(QueueFillerTest, ADeviceThatCantTakeSoundBackHearsTheCutAtItsQueuesEndFadedAllTheSame) {
  ScriptedDevice device(0);
  const std::size_t cutAt = PlayThenPause(device);
  const std::size_t silent = SilentFrom(device.heard);
  EXPECT_GE(silent, cutAt + kQueue - 240);
  EXPECT_LE(silent, cutAt + kQueue + kRamp);
  EXPECT_LE(LargestStep(device.heard, cutAt), 2 * kSineStep);
}

// A start found before the streaming thread has given the ring its sound
// waits (writes nothing) while the queue is long, and is written over it
// once the sound is there: heard whole, from 2 ms after, at full level.
TEST_F(QueueFillerTest, AStartWaitsForTheRingsSoundThenLandsJustAheadOfWhatIsHeard) {
  ScriptedDevice device;
  fill.Fill(ring, device, kQueue);
  Run(device, 2400);
  ASSERT_TRUE(gst_audio_ring_buffer_start(ring));
  device.Play(240);
  EXPECT_FALSE(fill.Fill(ring, device, device.Room()));
  const std::size_t pressedAt = device.heard.size();
  Give(9000);
  EXPECT_TRUE(fill.Fill(ring, device, device.Room()));
  Run(device, 2400);
  // The clip's first frames, as they were given, from 2 ms on.
  const std::size_t onset = pressedAt + kMargin;
  ASSERT_GT(device.heard.size(), onset + 480);
  for (std::size_t f = pressedAt; f < onset; ++f) ASSERT_EQ(device.heard[f], 0.0f) << f;
  for (std::size_t f = 0; f < 480; ++f) ASSERT_EQ(device.heard[onset + f], Sine(f)) << f;
  EXPECT_EQ(fill.Delay(), guint(kQueue));
}

// A start whose sound comes only once the queue has run short while it
// waited keeps the queue from running dry with silence, and is written
// whole when its sound is there: never its first frames, then silence in
// place of those the streaming thread was late with.
TEST_F(QueueFillerTest, AStartStillWaitingWhenTheQueueRunsShortIsWrittenWholeLater) {
  ScriptedDevice device;
  fill.Fill(ring, device, kQueue);
  ASSERT_TRUE(gst_audio_ring_buffer_start(ring));
  Give(240);
  for (int i = 0; i < 12 && !fill.Fill(ring, device, device.Room()); ++i) device.Play(240);
  Run(device, 4800);
  Give(9000);
  Run(device, 9600);
  std::size_t onset = 0;
  while (onset < device.heard.size() && device.heard[onset] == 0.0f) ++onset;
  ASSERT_GT(onset, 0u);
  ASSERT_GT(device.heard.size(), onset + 4800);
  // Sine(0) is silent: the clip begins a frame before the first sound.
  for (std::size_t f = 0; f < 4800; ++f) ASSERT_EQ(device.heard[onset - 1 + f], Sine(f)) << f;
}

// A sound server's stream (which asks again) finds the ring short of sound
// in the middle of a clip while its queue still holds plenty: only what the
// ring holds is written, and the late thread's sound follows it whole,
// never silence in the middle of the sine.
TEST_F(QueueFillerTest, SoundUnderWayWaitsForAShortRingWhileTheQueueHoldsEnough) {
  TearDown();
  waitsForSound = true;
  SetUp();
  ScriptedDevice device;
  fill.Fill(ring, device, kQueue);
  ASSERT_TRUE(gst_audio_ring_buffer_start(ring));
  Give(2400);
  ASSERT_TRUE(fill.Fill(ring, device, device.Room()));
  Run(device, 1440);
  EXPECT_TRUE(fill.Short());
  Give(4800);  // the streaming thread wakes
  Run(device, 4800);
  ASSERT_GT(device.heard.size(), std::size_t(kMargin + 6000));
  for (std::size_t f = 0; f < 6000; ++f) ASSERT_EQ(device.heard[kMargin + f], Sine(f)) << f;
}

// A sound server that can't take sound back (PipeWire's PulseAudio layer)
// asks on while a stop or a re-trigger flushes the ring: the cleared ring
// holds no sound ahead, and waiting for some left the server to run dry
// (heard as a gap just before the cut). The cut is written at once,
// faded, and the queue stays full.
TEST_F(QueueFillerTest, AFlushedRingNeverLeavesAServerThatCantTakeSoundBackToRunDry) {
  TearDown();
  waitsForSound = true;
  rewrites = false;
  SetUp();
  ScriptedDevice device(0);
  device.beyond = 960;
  fill.Fill(ring, device, kQueue);
  ASSERT_TRUE(gst_audio_ring_buffer_start(ring));
  Give(9000);
  Run(device, 4800);
  const std::size_t cutAt = device.heard.size();
  gst_audio_ring_buffer_clear_all(ring);
  Run(device, 4800);
  EXPECT_EQ(device.heard.size(), cutAt + 4800) << "the server ran dry";
  EXPECT_LE(LargestStep(device.heard, cutAt), 2 * kSineStep);
}

// A device that reads a period at a time reads on past the place the
// sink's clock gave a start, before a late streaming thread gives its
// sound: the start is heard late, from its first frame, not from where the
// device had got to.
TEST_F(QueueFillerTest, ALateStartOnAPeriodDeviceIsHeardFromItsFirstFrame) {
  periodDevice = true;
  ASSERT_TRUE(gst_audio_ring_buffer_start(ring));
  std::vector<float> heard;
  ReadPeriods(heard, 3);
  Give(2400);  // placed at the ring's first frame, three periods ago
  ReadPeriods(heard, 10);
  for (std::size_t f = 0; f < 720; ++f) ASSERT_EQ(heard[f], 0.0f) << f;
  for (std::size_t f = 0; f < 2400; ++f) ASSERT_EQ(heard[720 + f], Sine(f)) << f;
}

// A device that reads a period at a time finds the ring short of sound in
// the middle of a clip (a streaming thread the machine kept waiting): the
// sound fades out where the written sound ends, the gap passes in silence,
// and the sound fades back in where the late thread's sound lands, never a
// step out of the sine.
TEST_F(QueueFillerTest, APeriodDeviceStarvedMidClipFadesOutAndBackIn) {
  periodDevice = true;
  fill.Reader().FadeWhenStarved();
  ASSERT_TRUE(gst_audio_ring_buffer_start(ring));
  std::vector<float> heard;
  Give(2000);
  ReadPeriods(heard, 12);
  Give(4800);  // the thread wakes: what it gives for the gap is late
  ReadPeriods(heard, 20);
  EXPECT_LE(LargestStep(heard, 0), 2 * kSineStep);
  const auto loudest = [&](std::size_t from, std::size_t to) {
    float most = 0;
    for (std::size_t f = from; f < to; ++f) most = std::max(most, std::abs(heard[f]));
    return most;
  };
  EXPECT_GT(loudest(1200, 1800), 0.45f) << "played while the ring held sound";
  EXPECT_EQ(loudest(2000, 2880), 0.0f) << "the gap is silent";
  EXPECT_GT(loudest(heard.size() - 1200, heard.size()), 0.45f) << "back once the ring is ahead";
}

// A stream that goes on (a loop's next pass) which the sink places a few
// frames early, as it takes its place from its clock again on a busy
// machine, follows what the ring holds instead of writing over its end.
TEST_F(QueueFillerTest, SoundThatGoesOnIsNeverWrittenOverSoundNotYetHeard) {
  periodDevice = true;
  ASSERT_TRUE(gst_audio_ring_buffer_start(ring));
  std::vector<float> heard;
  Give(2400);
  ReadPeriods(heard, 2);
  next -= 21;
  Give(2400);
  ReadPeriods(heard, 18);
  for (std::size_t f = 0; f < 4800; ++f) ASSERT_EQ(heard[f], Sine(f)) << f;
}

// The sink drops the first frames of a start whose moment on its clock
// fell before the ring began to play (a busy machine woke it late): they
// are taken back, and the start is heard late, from its first frame. The
// frames that lie before the stream's segment stay dropped.
TEST_F(QueueFillerTest, AStartTheSinkFoundLateIsTakenBackWhole) {
  periodDevice = true;
  for (const guint64 beforeSegment : {guint64(0), guint64(35)}) {
    SCOPED_TRACE("before the segment: " + std::to_string(beforeSegment));
    gst_audio_ring_buffer_clear_all(ring);
    ASSERT_TRUE(gst_audio_ring_buffer_start(ring));
    std::vector<float> sound(2400 * kChannels);
    for (std::size_t f = 0; f < 2400; ++f) std::fill_n(&sound[f * kChannels], kChannels, Sine(f));
    const auto* begin = reinterpret_cast<const guint8*>(sound.data());
    constexpr int kDropped = 35;  // what the sink left out of its commit
    fill.Reader().Rendering(begin, 2400, beforeSegment);
    guint64 sample = 0;
    gint accum = 0;
    const guint n = gst_audio_ring_buffer_commit(
        ring, &sample, const_cast<guint8*>(begin) + kDropped * kChannels * sizeof(float),
        2400 - kDropped, 2400 - kDropped, &accum);
    fill.Reader().Rendered();
    EXPECT_EQ(n, guint(2400 - kDropped)) << "the sink is told of what it gave";
    std::vector<float> heard;
    ReadPeriods(heard, 10);
    for (std::size_t f = 0; f < 2000; ++f) ASSERT_EQ(heard[f], Sine(f + beforeSegment)) << f;
    gst_audio_ring_buffer_pause(ring);
  }
}

}  // namespace
