#pragma once
// Stand-ins for the companions and controls of the keyboard window whose real
// classes are being built in their own folders. Each has the name,
// constructor and members the keyboard window uses, and nothing more; each is
// deleted here when its real class lands.

#include "platform/Dialogs.h"

#include <QCheckBox>
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

// Set editor: holds the key set and asks before unsaved changes are lost.
class TTuning : public QWidget {
 public:
  TTuning(QWidget* owner, int instance) : QWidget(nullptr), Instance(instance) {
    Q_UNUSED(owner);
    StayTop = new QCheckBox("Stay on top", this);
    StayTop->setChecked(true);
    setWindowTitle("Properties " + QString::number(instance));
  }
  int AskSave() {
    if (!Modified) return platform::IDNO;
    const int answer = platform::AskQuestion("List modified. Save?", this);
    if (answer == platform::IDYES) Modified = false;
    return answer;
  }
  int Instance;
  QString FileName;
  bool Modified = false;
  QCheckBox* StayTop;
};

// The window's MIDI receiver.
class MyReceiver {
 public:
  QObject* Window = nullptr;
};
