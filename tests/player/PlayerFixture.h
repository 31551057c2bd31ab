#pragma once
// A player on the scripted graph, with files on disk for Open to find.

#include "engine/ScriptedMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

class PlayerOnFake : public ::testing::Test {
 protected:
  void SetUp() override {
    graph = std::make_shared<engine::ScriptedMediaGraph>();
    player = std::make_unique<TPlayer>(&window, 0, graph);
    audio = MakeFile("tone.wav");
    graph->AddClip(audio.toStdString());
    engine::ScriptedClip withPicture;
    withPicture.HasVideo = true;
    video = MakeFile("colour.avi");
    graph->AddClip(video.toStdString(), withPicture);
  }

  QString MakeFile(const QString& name) { return testing_support::StandInFile(dir, name); }

  std::string OpenError(const QString& path) {
    try {
      player->Open(path);
    } catch (const EPlayerError& e) {
      return e.Text();
    }
    return "opened";
  }

  QTemporaryDir dir;
  NoticeRecorder window;
  QWidget owner;
  std::shared_ptr<engine::ScriptedMediaGraph> graph;
  std::unique_ptr<TPlayer> player;
  QString audio, video;
};
