// Our one output element over a scripted device that the test runs a
// period at a time, fed a sine by a real pipeline: the device is opened
// and closed with the element, its format is the element's caps, its delay
// is what the output reports as queued, and a cut or a flush fades.

#include "engine/outputs/OutputSink.h"
#include "support/TestSupport.h"

#include <gst/audio/gstaudiobasesink.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace engine;
using testing_support::WaitFor;

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kPeriod = 240;
constexpr unsigned kDelay = 480;  // what the device says it holds
constexpr double kHertz = 440;
// The largest step of a half-scale sine at kHertz from one frame to the next.
const float kSineStep = float(0.5 * 2 * M_PI * kHertz / kRate);

int opens = 0, closes = 0;

class ScriptedDevice : public OutputDevice {
 public:
  explicit ScriptedDevice(const OutputSettings&) { current = this; }
  ~ScriptedDevice() override { current = nullptr; }

  bool Open() override {
    ++opens;
    Reader().Prepare(kChannels, int(std::lround(0.003 * kRate)), kPeriod);
    open_ = true;
    return true;
  }
  void Close() override {
    ++closes;
    open_ = false;
    Reader().Reset();
  }
  OutputFormat Format() const override {
    return open_ ? OutputFormat{kRate, kChannels} : OutputFormat{};
  }
  int SegmentFrames() override { return kPeriod; }
  unsigned Delay() override { return kDelay; }

  // One period to the speakers.
  void Cycle() {
    const float* io = Reader().Read(Ring(), kPeriod);
    for (int f = 0; f < kPeriod; ++f) heard.push_back(io[f * kChannels]);
  }

  static inline ScriptedDevice* current = nullptr;
  std::vector<float> heard;  // the left channel

 private:
  bool open_ = false;
};

const OutputKind kScripted("tastivotestsink", "TastivoTestSink", "Tastivo test output",
                           "Plays on a scripted device", 2, false, false,
                           "The test device went away.", "The sound does not suit the test device.",
                           &MakeDevice<ScriptedDevice>);

class OutputSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gst_init(nullptr, nullptr);
    opens = closes = 0;
    pipeline = gst_parse_launch(
        "audiotestsrc name=source wave=sine freq=440 volume=0.5 samplesperbuffer=240 ! "
        "audio/x-raw,format=F32LE,rate=48000,channels=2 ! audioconvert name=last",
        nullptr);
    ASSERT_NE(pipeline, nullptr);
    sink = MakeOutputSink(kScripted, {});
    ASSERT_NE(sink, nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), sink);
    GstElement* last = gst_bin_get_by_name(GST_BIN(pipeline), "last");
    ASSERT_TRUE(gst_element_link(last, sink));
    gst_object_unref(last);
  }
  void TearDown() override {
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
  }

  GstAudioRingBuffer* Ring() const { return GST_AUDIO_BASE_SINK(sink)->ringbuffer; }

  bool Started() const {
    return Ring() != nullptr &&
           g_atomic_int_get(&Ring()->state) == GST_AUDIO_RING_BUFFER_STATE_STARTED;
  }
  // The ring plays, and holds sound the device has not read.
  bool Playing() const { return Started() && OutputQueued(sink).ring > 0; }

  // Runs the device until it has played `frames` of sound since `from`,
  // a period at a time as the ring holds one: the device never runs ahead
  // of the stream, which would make it play a gap.
  bool PlayFor(std::size_t from, std::size_t frames) {
    ScriptedDevice& device = *ScriptedDevice::current;
    const GstClockTime period = gst_util_uint64_scale_int(kPeriod, GST_SECOND, kRate);
    return WaitFor([&] {
      if (OutputQueued(sink).ring >= period) device.Cycle();
      return device.heard.size() >= from + frames &&
             SoundFrom(from) + frames <= device.heard.size();
    });
  }

  // Where sound begins in what was heard from `from` on.
  std::size_t SoundFrom(std::size_t from) const {
    const auto& heard = ScriptedDevice::current->heard;
    while (from < heard.size() && heard[from] == 0.0f) ++from;
    return from;
  }

  // Runs the device on to where the sine, which came back to its start
  // every 5 periods since `onset`, is in mid-swing: a cut there that did
  // not fade would step by most of its height.
  void CycleToMidSwing(std::size_t onset) {
    ScriptedDevice& device = *ScriptedDevice::current;
    while ((device.heard.size() - onset) / kPeriod % 5 != 1) device.Cycle();
  }

  float LargestStep(std::size_t from) const {
    const auto& heard = ScriptedDevice::current->heard;
    float most = 0;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < heard.size(); ++i)
      most = std::max(most, std::abs(heard[i] - heard[i - 1]));
    return most;
  }

  GstElement* pipeline = nullptr;
  GstElement* sink = nullptr;
};

TEST_F(OutputSinkTest, PlaysItsDeviceFromOpenToCloseReportsItsDelayAndFadesACut) {
  ASSERT_EQ(gst_element_set_state(pipeline, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
  EXPECT_EQ(opens, 1);
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  GstCaps* caps = gst_pad_query_caps(pad, nullptr);
  GstStructure* format = gst_caps_get_structure(caps, 0);
  int rate = 0, channels = 0;
  EXPECT_TRUE(gst_structure_get_int(format, "rate", &rate) && rate == kRate);
  EXPECT_TRUE(gst_structure_get_int(format, "channels", &channels) && channels == kChannels);
  gst_caps_unref(caps);
  gst_object_unref(pad);

  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  ASSERT_TRUE(WaitFor([&] { return Playing(); }));
  ASSERT_TRUE(PlayFor(0, 4800));
  const std::size_t onset = SoundFrom(0);
  EXPECT_LE(LargestStep(onset), 1.01f * kSineStep);
  // The device's own delay, as the output reports it, a frame more.
  EXPECT_EQ(OutputQueued(sink).device,
            gst_util_uint64_scale_int_ceil(kDelay + 1, GST_SECOND, kRate));

  // Paused, what was to come is played on ramped down: no step much
  // larger than the sine's own, and silence within a ramp.
  CycleToMidSwing(onset);
  gst_element_set_state(pipeline, GST_STATE_PAUSED);
  const std::size_t cut = ScriptedDevice::current->heard.size();
  for (int i = 0; i < 10; ++i) ScriptedDevice::current->Cycle();
  EXPECT_LE(LargestStep(cut - 1), 2 * kSineStep);
  EXPECT_EQ(SoundFrom(cut + std::size_t(std::lround(0.003 * kRate))),
            ScriptedDevice::current->heard.size());

  gst_element_set_state(pipeline, GST_STATE_NULL);
  EXPECT_EQ(closes, 1);
}

// A flush between two periods (a seek, the next clip) puts other sound in
// the ring, silence here: what played fades out under it, though the
// device reads the ring on as if nothing happened.
TEST_F(OutputSinkTest, AFlushFadesOutTheSoundItReplaces) {
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  ASSERT_TRUE(WaitFor([&] { return Playing(); }));
  ASSERT_TRUE(PlayFor(0, 4800));
  CycleToMidSwing(SoundFrom(0));
  const std::size_t cut = ScriptedDevice::current->heard.size();
  GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
  g_object_set(source, "volume", 0.0, nullptr);
  gst_object_unref(source);
  ASSERT_TRUE(
      gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH), 0));
  // The silence makes no sound to wait for; the ring plays it once it
  // has started again.
  ASSERT_TRUE(WaitFor([&] { return Started(); }));
  for (int i = 0; i < 10; ++i) ScriptedDevice::current->Cycle();
  EXPECT_LE(LargestStep(cut - 1), 2 * kSineStep);
  EXPECT_EQ(SoundFrom(cut + std::size_t(std::lround(0.003 * kRate))),
            ScriptedDevice::current->heard.size());
}

}  // namespace
