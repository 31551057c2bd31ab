// The output's edges, cycle by cycle, on constant signals: a cut is heard
// as the sound that was to come, ramped down; a resume ramps up; a new
// sound starts whole.

#include "engine/outputs/OutputEdges.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using engine::OutputEdges;

constexpr int kChannels = 2;
constexpr int kRamp = 8;
constexpr int kPeriod = 16;

// One cycle: the ring gave `value` on every sample when `read`; afterwards
// the ring holds `next` for what comes after.
std::vector<float> Cycle(OutputEdges& edges, bool read, bool refilled, float value, float next) {
  std::vector<float> io(std::size_t(kPeriod) * kChannels, read ? value : 0.0f);
  edges.Cycle(io.data(), kPeriod, read, refilled);
  if (read) {
    std::fill_n(edges.AheadBuffer(), edges.RampFrames() * kChannels, next);
    edges.SetAhead(edges.RampFrames());
  }
  return io;
}

float At(const std::vector<float>& io, int frame) {
  EXPECT_EQ(io[std::size_t(frame) * kChannels], io[std::size_t(frame) * kChannels + 1]);
  return io[std::size_t(frame) * kChannels];
}

TEST(OutputEdges, ACutPlaysWhatWasToComeRampedDownThenSilence) {
  OutputEdges edges(kChannels, kRamp);
  Cycle(edges, true, true, 0.5f, 0.5f);
  Cycle(edges, true, false, 0.5f, 0.5f);
  const auto cut = Cycle(edges, false, false, 0, 0);
  EXPECT_FLOAT_EQ(At(cut, 0), 0.5f);  // goes on from where the sound was
  for (int f = 1; f < kRamp; ++f) EXPECT_LT(At(cut, f), At(cut, f - 1)) << f;
  EXPECT_GT(At(cut, kRamp - 1), 0.0f);
  for (int f = kRamp; f < kPeriod; ++f) EXPECT_EQ(At(cut, f), 0.0f) << f;
  // Only once: the next silent cycle is silent.
  for (float s : Cycle(edges, false, false, 0, 0)) EXPECT_EQ(s, 0.0f);
}

TEST(OutputEdges, ANewSoundStartsWholeWithTheOldFadingUnderIt) {
  OutputEdges edges(kChannels, kRamp);
  Cycle(edges, true, true, 0.5f, 0.5f);
  // Flushed and started again within one cycle: the new sound at full gain,
  // the old one's fade added.
  const auto retrigger = Cycle(edges, true, true, 0.25f, 0.25f);
  EXPECT_FLOAT_EQ(At(retrigger, 0), 0.75f);
  EXPECT_FLOAT_EQ(At(retrigger, kRamp), 0.25f);
  EXPECT_FLOAT_EQ(At(retrigger, kPeriod - 1), 0.25f);
  // After a silent gap, a refilled ring starts at full gain too.
  Cycle(edges, false, false, 0, 0);
  Cycle(edges, false, false, 0, 0);
  EXPECT_FLOAT_EQ(At(Cycle(edges, true, true, 0.25f, 0.25f), 0), 0.25f);
}

TEST(OutputEdges, AResumeRampsUpAndAHardEdgedOutputChangesNothing) {
  OutputEdges edges(kChannels, kRamp);
  Cycle(edges, true, true, 0.5f, 0.5f);
  Cycle(edges, false, false, 0, 0);
  const auto resume = Cycle(edges, true, false, 0.5f, 0.5f);
  EXPECT_FLOAT_EQ(At(resume, 0), 0.0f);
  for (int f = 1; f < kRamp; ++f) EXPECT_GT(At(resume, f), At(resume, f - 1)) << f;
  EXPECT_FLOAT_EQ(At(resume, kRamp), 0.5f);

  OutputEdges hard(kChannels, 0);
  Cycle(hard, true, true, 0.5f, 0.5f);
  for (float s : Cycle(hard, false, false, 0, 0)) EXPECT_EQ(s, 0.0f);
  for (float s : Cycle(hard, true, false, 0.5f, 0.5f)) EXPECT_EQ(s, 0.5f);
}

TEST(OutputEdges, ARampLongerThanAPeriodGoesOnInTheNextCycle) {
  constexpr int kLong = kPeriod + kPeriod / 2;
  OutputEdges edges(kChannels, kLong);
  std::vector<float> io(std::size_t(kPeriod) * kChannels, 0.5f);
  edges.Cycle(io.data(), kPeriod, true, true);
  std::fill_n(edges.AheadBuffer(), kLong * kChannels, 0.5f);
  edges.SetAhead(kLong);
  std::vector<float> first(std::size_t(kPeriod) * kChannels, 0.0f), second = first;
  edges.Cycle(first.data(), kPeriod, false, false);
  edges.Cycle(second.data(), kPeriod, false, false);
  EXPECT_GT(At(first, kPeriod - 1), At(second, 0));
  EXPECT_GT(At(second, kLong - kPeriod - 1), 0.0f);
  EXPECT_EQ(At(second, kLong - kPeriod), 0.0f);
}

}  // namespace

// A device that writes a cycle over sound it had queued: that sound fades
// out under the cycle, whatever the cycle plays, so a fade still under way
// in it goes on down instead of being cut off.
TEST(OutputEdges, SoundWrittenOverFadesUnderWhatReplacesIt) {
  OutputEdges edges(kChannels, kRamp);
  Cycle(edges, true, true, 0.5f, 0.5f);
  // Queued: the old sound's fade, a few frames in.
  std::vector<float> queued(std::size_t(kRamp) * kChannels, 0.3f);
  edges.FadeUnder(queued.data(), kRamp);
  // The ring plays on (no edge of its own): the queued sound is added,
  // ramped down from where it was.
  const auto over = Cycle(edges, true, false, 0.25f, 0.25f);
  EXPECT_FLOAT_EQ(At(over, 0), 0.55f);
  for (int f = 1; f < kRamp; ++f) EXPECT_LT(At(over, f), At(over, f - 1)) << f;
  EXPECT_FLOAT_EQ(At(over, kRamp), 0.25f);
  // Written over silence: only silence fades.
  edges.FadeUnder(std::vector<float>(std::size_t(kRamp) * kChannels, 0.0f).data(), kRamp);
  for (float s : Cycle(edges, false, false, 0, 0)) EXPECT_EQ(s, 0.0f);
}
