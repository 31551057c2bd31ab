// Device lists and the renderer helpers, on the scripted graph.

#include "PlayerFixture.h"

#include "player/Tplayerrenderers.h"

using namespace engine;

namespace {

// Restores the process-wide device lists after a test that rebuilds them.
class DeviceLists : public PlayerOnFake {
 protected:
  void SetUp() override {
    PlayerOnFake::SetUp();
    savedNames_ = TPlayerDeviceList;
    savedIds_ = TPlayerDeviceGUIDList;
  }
  void TearDown() override {
    TPlayerDeviceList = savedNames_;
    TPlayerDeviceGUIDList = savedIds_;
  }

 private:
  QStringList savedNames_, savedIds_;
};

const std::string kSpeakersId = "{11111111-2222-3333-4444-555555555555}";
const std::string kHeadsetId = "{66666666-7777-8888-9999-AAAAAAAAAAAA}";

TEST_F(DeviceLists, FollowTheEnumerationRules) {
  AudioDeviceMoniker speakers{true, kSpeakersId, "Speakers"};
  AudioDeviceMoniker noId{true, std::nullopt, "Mystery"};
  AudioDeviceMoniker noName{true, kHeadsetId, std::nullopt};
  AudioDeviceMoniker unreadable{false, "{00000000-0000-0000-0000-000000000001}", "Later"};
  AudioDeviceMoniker afterUnreadable{true, "{00000000-0000-0000-0000-000000000002}", "Never"};
  BuildPlayerDeviceLists({speakers, noId, noName, unreadable, afterUnreadable});
  EXPECT_EQ(TPlayerDeviceList, QStringList({"Speakers", QString::fromStdString(kHeadsetId)}));
  EXPECT_EQ(TPlayerDeviceGUIDList,
            QStringList({QString::fromStdString(kSpeakersId), QString::fromStdString(kHeadsetId)}));
}

TEST_F(DeviceLists, NoDevicesMeansNoValidIndexAndDeviceIndexMinusOne) {
  BuildPlayerDeviceLists({});
  EXPECT_TRUE(TPlayerDeviceList.isEmpty());
  std::shared_ptr<IBaseFilter> filter;
  std::shared_ptr<IGraphBuilder> builder = graph;
  for (int index : {-1, 0, 3}) {
    try {
      AddAudioRenderer(builder, filter, index);
      FAIL() << index;
    } catch (const EPlayerError& e) {
      EXPECT_STREQ(e.what(), "Not a valid audio device specified.");
    }
  }
  player->Open(audio);
  EXPECT_EQ(player->DeviceIndex, -1);
}

TEST_F(DeviceLists, DeviceIndexFindsTheRendererByItsNameOrItsShortenedName) {
  BuildPlayerDeviceLists({{true, kHeadsetId, "Headset"}, {true, kSpeakersId, "Speakers"}});
  player->Open(audio);  // renderer "Default Audio Device"
  EXPECT_EQ(player->DeviceIndex, -1);

  ScriptedClip named;
  named.AudioRendererName = "Speakers";
  const QString a = MakeFile("a.wav");
  graph->AddClip(a.toStdString(), named);
  player->Open(a);
  EXPECT_EQ(player->DeviceIndex, 1);

  named.AudioRendererName = "Speakers (#2)";  // five characters more than a device
  const QString b = MakeFile("b.wav");
  graph->AddClip(b.toStdString(), named);
  player->Open(b);
  EXPECT_EQ(player->DeviceIndex, 1);
}

TEST_F(DeviceLists, UseAudioDeviceInsertsTheChosenRenderer) {
  BuildPlayerDeviceLists({{true, kSpeakersId, "Speakers"}});
  graph->AddDeviceClass(*Guid::Parse(kSpeakersId));
  player->UseAudioDevice = true;
  player->DeviceIndex = 0;
  player->Open(audio);
  EXPECT_EQ(player->DeviceIndex, 0);
  const auto names = graph->FilterNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "Speakers"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "Default Audio Device"), names.end());

  ScriptedClip silent;
  silent.HasAudio = false;
  silent.HasVideo = true;
  const QString path = MakeFile("silent.avi");
  graph->AddClip(path.toStdString(), silent);
  EXPECT_EQ(OpenError(path), "Specified file doesn't have any audio stream.");
}

TEST_F(DeviceLists, RendererTheGraphRefusesGetsTheAddFilterText) {
  BuildPlayerDeviceLists({{true, kSpeakersId, "Speakers"}});
  graph->AddDeviceClass(*Guid::Parse(kSpeakersId));
  graph->SetResult("AddFilter", E_FAIL);
  std::shared_ptr<IBaseFilter> filter;
  std::shared_ptr<IGraphBuilder> builder = graph;
  try {
    AddAudioRenderer(builder, filter, 0);
    FAIL();
  } catch (const EPlayerError& e) {
    EXPECT_STREQ(e.what(), "Couldn't add the specified audio filter.");
  }
  EXPECT_FALSE(filter);
}

TEST_F(PlayerOnFake, LookingForTheAudioRendererReplacesThePictureByANullRenderer) {
  player->HandleVideo(&owner);
  player->Open(video);
  std::shared_ptr<IGraphBuilder> builder = graph;
  std::vector<std::shared_ptr<IBaseFilter>> filters;
  graph->EnumFilters(filters);
  std::shared_ptr<IBaseFilter> videoRenderer;
  for (auto& f : filters) {
    std::string name;
    f->QueryFilterInfo(name);
    if (name == "Video Renderer") videoRenderer = f;
  }
  ASSERT_TRUE(videoRenderer);
  EXPECT_FALSE(CheckFilter(builder, videoRenderer, true));
  const auto names = graph->FilterNames();
  EXPECT_EQ(std::find(names.begin(), names.end(), "Video Renderer"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "Null Renderer"), names.end());

  // The null renderer is fed from the decoder's video output.
  graph->EnumFilters(filters);
  for (auto& f : filters) {
    std::string name;
    f->QueryFilterInfo(name);
    if (name != "Null Renderer") continue;
    EXPECT_TRUE(IsFilterConnected(f));
    std::vector<std::shared_ptr<IPin>> pins;
    f->EnumPins(pins);
    Guid major;
    ASSERT_EQ(pins.front()->ConnectionMediaType(major), S_OK);
    EXPECT_EQ(major, MEDIATYPE_Video);
  }

  std::shared_ptr<IBaseFilter> audioRenderer;
  GetAudioRenderer(builder, audioRenderer);
  ASSERT_TRUE(audioRenderer);
  std::string name;
  audioRenderer->QueryFilterInfo(name);
  EXPECT_EQ(name, "Default Audio Device");
}

TEST_F(PlayerOnFake, VideoOnlySilencesTheClip) {
  player->VideoOnly = true;
  player->HandleVideo(&owner);
  player->Open(video);
  const auto names = graph->FilterNames();
  EXPECT_EQ(std::find(names.begin(), names.end(), "Default Audio Device"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "Video Renderer"), names.end());
}

TEST_F(PlayerOnFake, FirstRendererNameOfAnEmptyGraphMatchesNoDevice) {
  std::shared_ptr<IGraphBuilder> builder = graph;
  EXPECT_EQ(GetFirstAudioRendererName(builder), std::string(1, '\0'));
  graph->SetResult("EnumFilters", E_FAIL);
  EXPECT_EQ(GetFirstAudioRendererName(builder), std::string(1, '\0'));
}

TEST_F(PlayerOnFake, NullRenderersAreMadeOnThisMachineOnly) {
  std::shared_ptr<IGraphBuilder> builder = graph;
  EXPECT_TRUE(CoNullRenderer::Create(builder));
  EXPECT_TRUE(CoNullRenderer::CreateRemote(builder, "localhost"));
  EXPECT_THROW(CoNullRenderer::CreateRemote(builder, "elsewhere.example"), EPlayerError);
}

}  // namespace
