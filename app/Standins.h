#pragma once
// Stand-ins for the companions and controls of the keyboard window whose real
// classes are being built in their own folders. Each has the name,
// constructor and members the keyboard window uses, and nothing more; each is
// deleted here when its real class lands.

#include "platform/Dialogs.h"

#include <QCheckBox>
#include <QFrame>
#include <QString>
#include <QWidget>

// Piano keyboard.
class TKeys : public QFrame {
 public:
  explicit TKeys(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setStyleSheet("background: #F3F3F3;");
  }
};

// Seven-segment display.
class TLCD99 : public QFrame {
 public:
  explicit TLCD99(QWidget* parent) : QFrame(parent) { setStyleSheet("background: #DDE1CF;"); }
  QString Value = "0";
  int DigitNum = 5;
};

// Range slider.
class TmkRangeSlider : public QFrame {
 public:
  explicit TmkRangeSlider(QWidget* parent) : QFrame(parent) {
    setStyleSheet("background: #D1D5C8;");
  }
  int Min = 0, Max = 10000, MinPosition = 0, MaxPosition = 10000, Position = 20;
};

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
