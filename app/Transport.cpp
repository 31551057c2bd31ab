// The keyboard window's player notices, the end-of-clip rules, and the
// transport: Play, Stop over the group, Loop and Sustain.

#include "app/FormList.h"
#include "app/PlayRules.h"
#include "app/morvela1.h"
#include "platform/WindowMessages.h"
#include "video/Video.h"

#include <QCheckBox>
#include <QSlider>
#include <QTimer>

bool TForm11::event(QEvent* event) {
  if (auto* message = platform::AsWindowMessage(event)) {
    // Nothing reaches a window that is still being built, not even from a
    // message box's event loop during its construction.
    if (whole_ && message->Msg == platform::WM_PLAYERNOTIFY) PlayerNotify(*message);
    return true;
  }
  return QWidget::event(event);
}

void TForm11::PlayerNotify(platform::WindowMessageEvent& message) {
  switch (message.LParam) {
    case platform::PN_OPENED:
      ClipLoaded = true;
      break;
    case platform::PN_CLOSED:
      ClipLoaded = false;
      break;
    case platform::PN_VIDEO: {
      // A visible video window adapts to the new clip and stays up.
      if (Video->isVisible()) {
        Video->FormHide();
        Video->FormShow();
      } else {
        Video->show();
      }
      QString label;
      if (CurrentKey >= 0 && CurrentKey < Tuning->Set.RowCount())
        label = Tuning->Set.Row(CurrentKey).Label;
      VideoCaption = app::VideoCaptionFor(Instance, label);
      Video->setWindowTitle(VideoCaption);
      break;
    }
    case platform::PN_NOVIDEO:
      if (Video->isVisible()) Video->hide();
      break;
    case platform::PN_MEDIAEVENT:
      EndOfClipRules();
      break;
    case platform::PN_KEYDOWN:
      midiHeld_.insert(static_cast<int>(message.WParam));
      Keys1->NoteOn(static_cast<int>(message.WParam), 0, true);
      // A note armed on the way here that no window played is withdrawn.
      WithdrawArmed();
      break;
    case platform::PN_KEYUP:
      midiHeld_.erase(static_cast<int>(message.WParam));
      Keys1->NoteOff(static_cast<int>(message.WParam), 0, true);
      break;
    case platform::PN_OPENFAILED:
      // Empties the graph; its PN_CLOSED clears ClipLoaded.
      Player->Close();
      break;
    case platform::PN_VOLUMEFAILED:
      VolumeEnabled = false;
      break;
    case platform::PN_POSITIONFAILED:
      SeekEnabled = false;
      break;
    default:
      break;  // PN_PLAYING, PN_STOPPED, PN_LOADED and the rest need nothing
  }
}

void TForm11::EndOfClipRules() {
  if (Player->GetMediaEvent() != 1) return;  // only the stop position counts
  Timer1->stop();
  // The refresh comes back even when the rules fail and the error goes to
  // the standard error box; frozen displays would hide a playing clip.
  struct RestartRefresh {
    app::RefreshTimer* timer;
    ~RestartRefresh() { timer->start(); }
  } restart{Timer1};
  switch (app::EndOfClipAction(Player->State == fsPlaying, Loop->isChecked(), Sustain->isChecked(),
                               KeyHeld)) {
    case app::EndOfClip::Restart:
      // The graph still runs: playback goes on from the start mark as the
      // marks stand now.
      Player->SetRelativePositions(PositionScale, Slider1->MinPosition(), Slider1->MaxPosition(),
                                   0);
      Player->SetRelativeVolume(100, 1, 0, 0, CoolScrollbar1->value());
      break;
    case app::EndOfClip::Stop:
      Player->Stop();
      break;
    case app::EndOfClip::Nothing:
      break;
  }
}

void TForm11::PublishEndOfClip() {
  if (!Player) return;  // the window is being made or closed
  const bool loops = app::EndOfClipAction(true, Loop->isChecked(), Sustain->isChecked(), KeyHeld) ==
                     app::EndOfClip::Restart;
  Player->LoopAtEnd(loops, PositionScale, Slider1->MinPosition(), Slider1->MaxPosition(), 0);
}

void TForm11::CoolBtn2Click() {
  if (Player->State != fsPlaying && ClipLoaded) Player->Play();
}

void TForm11::StopClick() {
  // No guard: an error goes to the standard error box.
  for (std::size_t i = 0; i < FormList.size(); ++i)
    if (TForm11* w = FormList[i]) w->StopGroupMember(this, GroupNumber());
}

void TForm11::StopGroupMember(QObject* Sender, int group) {
  Q_UNUSED(Sender);
  if (GroupNumber() != group) return;
  // Setting the box from here runs no click handler, so unticking it only
  // keeps the end-of-clip rules from restarting the clip meanwhile.
  const bool looped = Loop->isChecked();
  Loop->setChecked(false);
  if (Player->State == fsPlaying && ClipLoaded) Player->Stop();
  Loop->setChecked(looped);
}

void TForm11::LoopClick() {
  if (!Loop->isChecked() && ClipLoaded) Player->Stop();
}

void TForm11::SustainClick() {
  // Runs the note-off dispatch for key index 1 (not the current key): every
  // window of the group lets its key go, so typed keys play again.
  if (!Sustain->isChecked()) RunNoteOffDispatch(this, 1);
}
