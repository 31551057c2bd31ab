#pragma once
// Stand-ins for the companions and controls of the keyboard window whose real
// classes are being built in their own folders. Each has the name,
// constructor and members the keyboard window uses, and nothing more; each is
// deleted here when its real class lands.

#include "platform/Dialogs.h"

#include <QString>
#include <QWidget>

// Player.
class TPlayer {
 public:
  TPlayer(QObject* notifyWindow, int messageOffset)
      : NotifyWindow(notifyWindow), MessageOffset(messageOffset) {}
  void Handle(QObject* window) { NotifyWindow = window; }
  void HandleVideo(QWidget* window) { VideoOwner = window; }
  QObject* NotifyWindow;
  QWidget* VideoOwner = nullptr;
  int MessageOffset;
  bool AutoPlay = false;
  bool UseAudioDevice = false;
};
