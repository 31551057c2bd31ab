#pragma once
// A video window on a player over the scripted graph, answered by an owner
// that shows and hides it as a keyboard window does.

#include "VideoOwner.h"
#include "engine/ScriptedMediaGraph.h"
#include "platform/WindowMessages.h"
#include "player/Tplayerbase.h"
#include "support/TestSupport.h"
#include "video/Video.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using engine::ScriptedClip;
using engine::ScriptedMediaGraph;

class VideoWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    graph = std::make_shared<ScriptedMediaGraph>();
    player = std::make_unique<TPlayer>(&owner, 0, graph);
    video = std::make_unique<TVideo1>(nullptr, 0);
    owner.video = video.get();
    player->HandleVideo(video->Handle());
    video->Player = player.get();
    graph->AddClip(File("tone.wav").toStdString());
  }

  QString File(const QString& name) { return testing_support::StandInFile(dir, name); }

  QString VideoClip(int width, int height) {
    const QString path = File(QString("clip-%1x%2.avi").arg(width).arg(height));
    ScriptedClip clip;
    clip.HasVideo = true;
    clip.VideoWidth = width;
    clip.VideoHeight = height;
    graph->AddClip(path.toStdString(), clip);
    return path;
  }

  QRect Picture() {
    long l = 0, t = 0, w = 0, h = 0;
    graph->GetWindowPosition(l, t, w, h);
    return QRect(l, t, w, h);
  }

  int Count(const std::string& prefix) {
    return static_cast<int>(
        std::count_if(graph->Calls().begin(), graph->Calls().end(),
                      [&](const std::string& c) { return c.starts_with(prefix); }));
  }

  testing_support::TempConfig config;
  QTemporaryDir dir;
  Owner owner;
  std::shared_ptr<ScriptedMediaGraph> graph;
  std::unique_ptr<TPlayer> player;
  std::unique_ptr<TVideo1> video;
};
