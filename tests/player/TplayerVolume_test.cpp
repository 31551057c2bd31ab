// Relative positions, the volume curve and its inverse, and the two volume
// paths (graph and application-wide output level).

#include "PlayerFixture.h"

#include "engine/MediaGraph.h"

using namespace engine;

namespace {

TEST(VolumeCurve, MapsTheEndsAndBendsInBetween) {
  EXPECT_EQ(VolumeCurve(0), 0);
  EXPECT_EQ(VolumeCurve(10000), 10000);
  EXPECT_EQ(VolumeCurve(5000), 556);
}

TEST(InverseVolumeCurve, HalvesDownToAnInputWithinFive) {
  // 5000, 2500, 1250, 625, 312 (312.5 ties to even), 156.
  EXPECT_EQ(InverseVolumeCurve(6, 10000, 0), 156);
  EXPECT_NEAR(VolumeCurve(InverseVolumeCurve(8522, 10000, 0)), 8522, 4);
}

struct VolumeRow {
  int position;
  int graph;
  int wave;
};

class VolumeTable : public PlayerOnFake, public ::testing::WithParamInterface<VolumeRow> {};

TEST_P(VolumeTable, GraphVolumeOnceAFileIsNamed) {
  player->Open(audio);
  EXPECT_EQ(player->SetRelativeVolume(100, 1, 0, 0, GetParam().position), GetParam().position);
  EXPECT_EQ(graph->Volume(), GetParam().graph);
}

TEST_P(VolumeTable, OutputLevelOnBothChannelsBeforeAnyFile) {
  EXPECT_EQ(player->SetRelativeVolume(100, 1, 0, 0, GetParam().position), GetParam().position);
  std::uint32_t wave = 0;
  ASSERT_EQ(WaveOutGetVolume(0, wave), 0u);
  EXPECT_EQ(wave & 0xFFFF, static_cast<std::uint32_t>(GetParam().wave));
  EXPECT_EQ(wave >> 16, static_cast<std::uint32_t>(GetParam().wave));
  WaveOutSetVolume(0, 0xFFFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(ScrollBarPositions, VolumeTable,
                         ::testing::Values(VolumeRow{0, 0, 65535}, VolumeRow{1, -6, 64873},
                                           VolumeRow{10, -66, 58915}, VolumeRow{20, -147, 52296},
                                           VolumeRow{50, -566, 32437}, VolumeRow{80, -1985, 12577},
                                           VolumeRow{90, -3704, 5958}, VolumeRow{98, -8522, 662},
                                           VolumeRow{99, -10000, 0}));

TEST_F(PlayerOnFake, RelativeVolumeIsClampedAndReadsBackNearby) {
  player->Open(audio);
  EXPECT_EQ(player->SetRelativeVolume(100, 1, 0, 0, 150), 99);
  EXPECT_EQ(graph->Volume(), -10000);
  EXPECT_EQ(player->SetRelativeVolume(100, 1, 0, 0, -3), 0);
  player->SetRelativeVolume(100, 1, 0, 0, 1);
  EXPECT_EQ(player->GetRelativeVolume(100, 1, 0), 2);
  player->SetRelativeVolume(100, 1, 0, 0, 0);
  EXPECT_EQ(player->GetRelativeVolume(100, 1, 0), 0);
  player->SetRelativeVolume(100, 1, 0, 0, 99);
  EXPECT_EQ(player->GetRelativeVolume(100, 1, 0), 99);
}

TEST_F(PlayerOnFake, OutputLevelReadsBackThroughTheMeanOfBothChannels) {
  WaveOutSetVolume(0, (1000u << 16) | 3000u);
  EXPECT_EQ(player->GetVolume(), 2000);
  player->SetRelativeVolume(100, 1, 0, 0, 50);
  EXPECT_EQ(player->GetRelativeVolume(100, 1, 0), 50);
  WaveOutSetVolume(0, 0xFFFFFFFF);
}

TEST_F(PlayerOnFake, ClipWithoutSoundReadsAsFullVolume) {
  ScriptedClip silent;
  silent.HasAudio = false;
  silent.HasVideo = true;
  const QString path = MakeFile("silent.avi");
  graph->AddClip(path.toStdString(), silent);
  player->Open(path);
  EXPECT_EQ(player->GetVolume(), 0);
  EXPECT_EQ(player->GetRelativeVolume(100, 1, 0), 0);
  EXPECT_NO_THROW(player->SetRelativeVolume(100, 1, 0, 0, 40));
}

TEST_F(PlayerOnFake, RelativePositionsCoverTheClip) {
  player->Open(audio);  // 60 s
  player->SetRelativePositions(10000, 2500, 7500, 0);
  EXPECT_EQ(graph->Current(), 150000000);
  EXPECT_EQ(graph->StopAt(), 450000000);
  EXPECT_EQ(player->GetRelativePosition(10000, 0), 2500);

  player->SetRelativePositions(10000, -5, 12000, 0);
  EXPECT_EQ(graph->Current(), 0);
  EXPECT_EQ(graph->StopAt(), 600000000);

  player->SetRelativePosition(1000, 500, 0);
  EXPECT_EQ(graph->Current(), 300000000);
  EXPECT_EQ(graph->StopAt(), 600000000);  // left alone

  player->SetRelativeStop(1000, 100, 0);
  EXPECT_EQ(graph->Current(), 300000000);
  EXPECT_EQ(graph->StopAt(), 60000000);

  // With margins: positions 100..900 of 1000 cover the clip.
  player->SetRelativePosition(1000, 500, 100);
  EXPECT_EQ(graph->Current(), 300000000);
}

TEST_F(PlayerOnFake, MarksOfAClipOfUnknownLengthPlayToTheEndUntilTheLengthIsKnown) {
  ScriptedClip stream;
  stream.Duration = 0;
  const QString path = MakeFile("stream.mp3");
  graph->AddClip(path.toStdString(), stream);
  player->Open(path);
  EXPECT_EQ(player->Duration, 0);
  player->SetRelativePositions(10000, 2500, 7500, 0);
  EXPECT_EQ(graph->Current(), 0);
  EXPECT_EQ(graph->StopAt(), kPlayToEnd);
  EXPECT_EQ(player->GetRelativePosition(10000, 0), 0);

  graph->SetDuration(600000000);  // learnt while playing
  EXPECT_EQ(player->GetRelativePosition(10000, 0), 0);
  EXPECT_EQ(player->Duration, 600000000);
  player->SetRelativePositions(10000, 2500, 7500, 0);
  EXPECT_EQ(graph->Current(), 150000000);
  EXPECT_EQ(graph->StopAt(), 450000000);
  // The length may still be an estimate: the end mark stays the very end.
  player->SetRelativePositions(10000, 2500, 10000, 0);
  EXPECT_EQ(graph->StopAt(), kPlayToEnd);

  // A clip whose length is known from the start maps its end mark to it.
  player->Open(audio);
  player->SetRelativePositions(10000, 0, 10000, 0);
  EXPECT_EQ(graph->StopAt(), 600000000);
}

TEST_F(PlayerOnFake, OutputNameReachesTheGraph) {
  player->SetOutputName("Tastivo 1");
  EXPECT_EQ(graph->OutputName(), "Tastivo 1");
}

TEST_F(PlayerOnFake, RelativePositionIsNotClampedPastTheEnd) {
  player->Open(audio);
  player->SetPosition(660000000);
  EXPECT_EQ(player->GetRelativePosition(10000, 0), 11000);
}

TEST_F(PlayerOnFake, RelativePositionWithoutAClipDoesNotAskTheGraph) {
  graph->ClearCalls();
  EXPECT_EQ(player->GetRelativePosition(10000, 0), 0);
  EXPECT_TRUE(graph->Calls().empty());
}

TEST_F(PlayerOnFake, RateAndTimeFormatGoToTheGraph) {
  player->Open(audio);
  player->SetRate(1.0);
  player->SetRate(2.0);
  EXPECT_DOUBLE_EQ(player->GetRate(), 2.0);
  EXPECT_TRUE(player->IsTimeFormatSupported(TIME_FORMAT_MEDIA_TIME));
  EXPECT_FALSE(player->IsTimeFormatSupported(TIME_FORMAT_FRAME));
  EXPECT_TRUE(player->IsUsingTimeFormat(TIME_FORMAT_MEDIA_TIME));
  EXPECT_TRUE(player->CompareCurTimeFormat(&TIME_FORMAT_MEDIA_TIME));
  EXPECT_FALSE(player->CompareCurTimeFormat(&TIME_FORMAT_BYTE));
  EXPECT_EQ(player->GetTimeFormat(), TIME_FORMAT_MEDIA_TIME);
  EXPECT_THROW(player->SetTimeFormat(TIME_FORMAT_FRAME), EPlayerError);
}

}  // namespace
