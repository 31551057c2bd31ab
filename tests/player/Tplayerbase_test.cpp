// The player's notice orders, states and failure paths, on the scripted graph.

#include "PlayerFixture.h"
#include "support/TestSupport.h"

#include <QDir>

using namespace platform;
using engine::E_FAIL;
using engine::FilterState;

namespace {

using Codes = std::vector<int>;

TEST_F(PlayerOnFake, MissingFileFailsWithoutTouchingFileNameGraphOrState) {
  graph->ClearCalls();
  EXPECT_EQ(OpenError(dir.filePath("gone.wav")), "The specified file can not be found.");
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_OPENFAILED}));
  EXPECT_TRUE(player->FileName.isEmpty());
  EXPECT_EQ(player->State, fsStopped);
  EXPECT_TRUE(graph->Calls().empty());
}

TEST_F(PlayerOnFake, AudioClipWithVideoOwnerAnnouncesNoVideoThenPlays) {
  player->HandleVideo(&owner);
  player->AutoPlay = true;
  player->Open(audio);
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_NOVIDEO, PN_LOADED, PN_OPENED, PN_PLAYING}));
  EXPECT_FALSE(player->IsVideo());
  EXPECT_EQ(player->State, fsPlaying);
  EXPECT_EQ(player->FileName, audio);
  EXPECT_EQ(player->Duration, 600000000);

  window.Clear();
  player->Open(audio);
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_STOPPING, PN_STOPPED, PN_NOVIDEO, PN_LOADED,
                                 PN_OPENED, PN_PLAYING}));
}

TEST_F(PlayerOnFake, VideoClipAttachesThePictureBeforeLoaded) {
  int videoWidth = 0, videoHeight = 0;
  window.onNotice = [&](int code) {
    // The owner asks for the size from inside the notice.
    if (code == PN_VIDEO) player->GetVideoSize(videoWidth, videoHeight);
  };
  player->HandleVideo(&owner);
  player->Open(video);
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_VIDEO, PN_LOADED, PN_OPENED}));
  EXPECT_TRUE(player->IsVideo());
  EXPECT_EQ(videoWidth, 320);
  EXPECT_EQ(videoHeight, 240);
  EXPECT_EQ(graph->Owner(), &owner);
  EXPECT_EQ(graph->WindowStyle(), 0x46000000);
  EXPECT_EQ(player->VideoOwner, &owner);

  player->Play();
  EXPECT_TRUE(graph->Visible());
  EXPECT_EQ(graph->Drain(), &owner);
}

TEST_F(PlayerOnFake, VideoClipWithoutOwnerPlaysWithoutPicture) {
  player->Open(video);
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_NOVIDEO, PN_LOADED, PN_OPENED}));
  EXPECT_FALSE(player->IsVideo());
}

TEST_F(PlayerOnFake, OpenAfterOpenStopsFullyFirst) {
  player->Open(audio);
  EXPECT_EQ(player->State, fsOpened);
  window.Clear();
  graph->ClearCalls();
  player->Open(video);
  EXPECT_EQ(window.codes,
            (Codes{PN_OPENING, PN_STOPPING, PN_STOPPED, PN_NOVIDEO, PN_LOADED, PN_OPENED}));
  // StopFMC leaves the graph stopped, not cued.
  EXPECT_EQ(graph->Calls().front(), "Stop");
  EXPECT_EQ(std::count(graph->Calls().begin(), graph->Calls().end(), "Pause"), 0);
}

TEST_F(PlayerOnFake, CloseOnOpenedOrPausedEmptiesTheGraphButKeepsStateAndFileName) {
  player->Open(audio);
  window.Clear();
  player->Close();
  EXPECT_EQ(window.codes, (Codes{PN_CLOSED}));
  EXPECT_EQ(player->State, fsOpened);
  EXPECT_EQ(player->FileName, audio);
  EXPECT_TRUE(graph->FilterNames().empty());

  player->Open(audio);
  player->Play();
  player->Pause();
  EXPECT_EQ(player->State, fsPaused);
  window.Clear();
  player->Close();
  EXPECT_EQ(window.codes, (Codes{PN_CLOSED}));
  EXPECT_EQ(player->State, fsPaused);
  EXPECT_EQ(graph->Target(), FilterState::State_Stopped);
}

TEST_F(PlayerOnFake, CloseWhilePlayingStopsWithNotices) {
  player->Open(audio);
  player->Play();
  window.Clear();
  player->Close();
  EXPECT_EQ(window.codes, (Codes{PN_STOPPING, PN_STOPPED, PN_CLOSED}));
  EXPECT_EQ(player->State, fsStopped);
}

TEST_F(PlayerOnFake, StopLeavesTheGraphCuedAndPlayGoesOnFromThere) {
  player->Open(audio);
  player->Play();
  player->SetPosition(123456789);
  window.Clear();
  player->Stop();
  EXPECT_EQ(window.codes, (Codes{PN_STOPPING, PN_STOPPED}));
  EXPECT_EQ(player->State, fsStopped);
  EXPECT_EQ(graph->Target(), FilterState::State_Paused);
  player->Play();
  EXPECT_EQ(player->GetPosition(), 123456789);
}

TEST_F(PlayerOnFake, OwnerClosingInsideOpenFailedRunsNested) {
  engine::ScriptedClip broken;
  broken.RenderResult = E_FAIL;
  const QString path = MakeFile("broken.mp3");
  graph->AddClip(path.toStdString(), broken);
  window.onNotice = [&](int code) {
    if (code == PN_OPENFAILED) player->Close();
  };
  EXPECT_EQ(OpenError(path), "Player encountered unrecognized error value.");
  EXPECT_EQ(window.codes, (Codes{PN_OPENING, PN_OPENFAILED, PN_CLOSED}));
  EXPECT_EQ(player->FileName, path);
}

TEST_F(PlayerOnFake, FileTheGraphCannotFindGetsTheMissingFileText) {
  const QString unscripted = MakeFile("unknown.ogg");
  EXPECT_EQ(OpenError(unscripted), "The specified file can not be found.");
}

TEST_F(PlayerOnFake, LongPathsReachTheGraphWhole) {
  QString folder = dir.path();
  while (folder.size() < 400) folder += "/a-rather-long-folder-name";
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString path = folder + "/tone.wav";
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  graph->AddClip(path.toStdString());
  player->Open(path);
  EXPECT_NE(
      std::find(graph->Calls().begin(), graph->Calls().end(), "RenderFile " + path.toStdString()),
      graph->Calls().end());
}

TEST_F(PlayerOnFake, FailuresSendTheirNoticeBeforeTheException) {
  player->Open(audio);
  window.Clear();

  graph->SetResult("Run", E_FAIL);
  EXPECT_THROW(player->Play(), EPlayerError);
  graph->ClearResult("Run");
  graph->SetResult("GetCurrentPosition", E_FAIL);
  EXPECT_THROW(player->GetPosition(), EPlayerError);
  graph->SetResult("GetRate", E_FAIL);
  EXPECT_THROW(player->GetRate(), EPlayerError);
  graph->SetResult("get_Volume", E_FAIL);
  EXPECT_THROW(player->GetVolume(), EPlayerError);
  graph->SetResult("Stop", E_FAIL);
  EXPECT_THROW(player->Stop(), EPlayerError);
  graph->SetResult("SetPositions", E_FAIL);
  EXPECT_THROW(player->Rewind(), EPlayerError);
  EXPECT_EQ(window.codes, (Codes{PN_PLAYFAILED, PN_POSITIONFAILED, PN_RATEFAILED, PN_VOLUMEFAILED,
                                 PN_STOPPING, PN_STOPFAILED, PN_REWINDFAILED}));
}

TEST_F(PlayerOnFake, GraphThatNeverGetsThereEndsTheWaitWithAClearText) {
  player->Open(audio);
  graph->StickState(FilterState::State_Paused);
  try {
    player->Play();
    FAIL();
  } catch (const EPlayerError& e) {
    EXPECT_EQ(e.Text(), TPlayer::kStateTimeoutText);
  }
  EXPECT_EQ(window.codes.back(), PN_PLAYFAILED);
}

TEST_F(PlayerOnFake, MediaEventsArePostedAndFetchedOneAtATime) {
  EXPECT_EQ(player->GetMediaEvent(), 0);
  EXPECT_EQ(graph->FreedEvents(), 0);
  player->Open(audio);
  window.Clear();
  graph->QueueEvent(1);
  graph->QueueEvent(3);
  EXPECT_TRUE(window.codes.empty());  // posted, not sent
  ASSERT_TRUE(testing_support::WaitFor([&] { return window.Count(PN_MEDIAEVENT) == 2; }));
  EXPECT_EQ(player->GetMediaEvent(), 1);
  EXPECT_EQ(player->GetMediaEvent(), 3);
  EXPECT_EQ(player->GetMediaEvent(), 0);
  EXPECT_EQ(graph->FreedEvents(), 2);
}

TEST_F(PlayerOnFake, NoticesCarryTheMessageOffset) {
  NoticeRecorder offsetWindow(7);
  TPlayer offsetPlayer(&offsetWindow, 7, graph);
  offsetPlayer.Open(audio);
  ASSERT_FALSE(offsetWindow.messages.empty());
  for (int m : offsetWindow.messages) EXPECT_EQ(m, WM_PLAYERNOTIFY + 7);
}

TEST_F(PlayerOnFake, HandleMovesNoticesAndEventsToTheNewWindow) {
  NoticeRecorder other;
  player->Handle(&other);
  player->Open(audio);
  EXPECT_TRUE(window.codes.empty());
  EXPECT_EQ(other.codes.back(), PN_OPENED);
  graph->QueueEvent(1);
  EXPECT_TRUE(testing_support::WaitFor([&] { return other.Count(PN_MEDIAEVENT) == 1; }));
}

TEST_F(PlayerOnFake, RewindSeeksToTheStart) {
  player->Open(audio);
  player->SetPosition(5000);
  window.Clear();
  player->Rewind();
  EXPECT_EQ(graph->Current(), 0);
  EXPECT_EQ(window.codes, (Codes{PN_REWOUND}));
}

TEST_F(PlayerOnFake, ChangeDeviceWithNothingToChangeDoesNothing) {
  graph->ClearCalls();
  player->ChangeDevice();  // no file name yet
  player->Open(audio);
  window.Clear();
  graph->ClearCalls();
  player->RequestedDevice = player->DeviceIndex;
  player->ChangeDevice();
  EXPECT_TRUE(window.codes.empty());
  EXPECT_TRUE(graph->Calls().empty());
}

TEST_F(PlayerOnFake, OnOpenedAndOnCleanUpAreCalledWhileTheGraphIsFull) {
  int opened = 0;
  size_t filtersAtCleanUp = 0;
  player->OnOpened = [&](TPlayer* sender) {
    EXPECT_EQ(sender, player.get());
    ++opened;
  };
  player->OnCleanUp = [&](TPlayer*) { filtersAtCleanUp = graph->FilterNames().size(); };
  player->Open(audio);
  player->Close();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(filtersAtCleanUp, 2u);
}

}  // namespace
