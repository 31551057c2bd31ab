// The keyboard window's displays and track bars: the display refresh, the
// range slider's marks and position thumb, volume and rate with their hints,
// the set name, the Midi In switch and the key editor button.

#include "app/FormList.h"
#include "app/PlayRules.h"
#include "app/morvela1.h"
#include "editor/Edit.h"
#include "midi/MidiDeviceWatch.h"
#include "platform/Dialogs.h"
#include "platform/midi/MidiDeviceList.h"
#include "player/Tplayerrenderers.h"
#include "sets/LocalPath.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QTimer>

#include <exception>
#include <optional>
#include <utility>

void TForm11::Timer1Timer() {
  try {
    // A position query crosses the whole graph: one serves both displays.
    std::optional<std::int64_t> position;
    const std::int64_t rel = Player->GetRelativePosition(PositionScale, 0, &position);
    // The slider keeps the thumb between the marks and reports nothing for
    // it, so the refresh never seeks.
    Slider1->SetPosition(static_cast<int>(rel));
    LcdCurp->SetValue(QString::number(rel));
    LcdCur->SetValue(
        QString::number(app::Hundredths(position ? *position : Player->GetPosition())));
    if (Player->State == fsPlaying) {
      const int volume = Player->GetRelativeVolume(100, 1, 0);
      // Moving the bar runs its change handler, which sets that volume again.
      if (volume != CoolScrollbar1->value()) CoolScrollbar1->setValue(volume);
    }
  } catch (const std::exception& error) {
    ReportRefreshError(QString::fromUtf8(error.what()));
  }
}

void TForm11::ReportRefreshError(const QString& text) {
  // The refresh runs every millisecond: its failure is told once per clip,
  // and the box's own event loop must not stack up more boxes.
  if (refreshErrorShown_) return;
  refreshErrorShown_ = true;
  platform::ShowInformation(text, this);
}

void TForm11::Timer2Timer() {
  midi::MidiDeviceWatch* watch = midi::MidiDeviceWatch::Of(this);
  const platform::MidiPortId port = MidiDevice ? MidiDevice->PortId() : platform::MidiPortId{};
  if (MidiIn1->isChecked() && !port.Empty()) {
    // A device that could not be reopened is closed; then the list tells.
    const bool present = MidiDevice->GetState() != midi::CMIDIInDevice::closed
                             ? MidiDevice->SourcePresent()
                             : platform::FindMidiPort(platform::MidiInputPorts(), port) >= 0;
    const QString name = QString::fromStdString(port.name);
    switch (watch->Look(present)) {
      case midi::MidiDeviceWatch::Change::kLost: {
        // Its note-offs will never come: let go of what it holds, or a
        // looping clip would repeat for ever. The box stays ticked, so the
        // device is taken up again when it returns.
        const std::set<int> held = std::exchange(midiHeld_, {});
        for (int key : held) Keys1->NoteOff(key, 0, true);
        watch->Say(QStringLiteral("MIDI device lost: ") + name);
        break;
      }
      case midi::MidiDeviceWatch::Change::kReturned:
        try {
          MidiDevice->Open(port);
          MidiDevice->Start();
          watch->Say(QStringLiteral("MIDI device back: ") + name);
        } catch (const std::exception&) {
          watch->StillLost();
        }
        break;
      case midi::MidiDeviceWatch::Change::kNone:
        break;
    }
  }
  // A notice about the device takes the set name's place for a few seconds,
  // without stopping the performance the way a message box would.
  bool noticeEnded = false;
  const QString notice = watch->NoticeForTick(&noticeEnded);
  if (!notice.isEmpty())
    CoolLabel3->setText(notice);
  else if (noticeEnded || Tuning->isVisible())
    CoolLabel3->setText(FileNamePart(Tuning->FileName));
}

bool TForm11::StoreMark(int column, int value) {
  if (CurrentKey == -1) return false;
  Tuning->Set.SetCell(CurrentKey, column, QString::number(value));
  Tuning->Modified = true;
  Rate1->setValue(100);
  return true;
}

void TForm11::ShowMarks() {
  LcdMin->SetValue(QString::number(Slider1->MinPosition()));
  LcdMax->SetValue(QString::number(Slider1->MaxPosition()));
}

void TForm11::Slider1MinPosChange(QObject* Sender, int Value) {
  Q_UNUSED(Sender);
  Q_UNUSED(Value);
  StoreMark(kMinColumn, Slider1->MinPosition());
  ShowMarks();
  PublishEndOfClip();
}

void TForm11::Slider1MaxPosChange(QObject* Sender, int Value) {
  Q_UNUSED(Sender);
  Q_UNUSED(Value);
  // A playing clip goes back to its start mark and now stops at the new
  // stop mark.
  if (StoreMark(kMaxColumn, Slider1->MaxPosition()))
    Player->SetRelativePositions(PositionScale, Slider1->MinPosition(), Slider1->MaxPosition(), 0);
  ShowMarks();
  PublishEndOfClip();
}

void TForm11::Slider1PosChange(QObject* Sender, int Value) {
  Q_UNUSED(Sender);
  Q_UNUSED(Value);
  if (CurrentKey == -1 || !SeekEnabled) return;
  try {
    Player->SetRelativePosition(PositionScale, Slider1->Position(), 0);
  } catch (const std::exception&) {
    SeekEnabled = false;  // seeking stays off until the next key
  }
}

void TForm11::CoolScrollbar2Change() {
  const int position = CoolScrollbar1->value();
  if (VolumeEnabled) Player->SetRelativeVolume(100, 1, 0, 0, position);
  Player->SetArmedVolume(100, 1, 0, 0, position);
  volumeHint_ = app::VolumeHint(position);
}

void TForm11::CoolScrollbar1MouseMove() {
  ShowHintAtCursor(HintWindow, volumeHint_);
  KTHint->start();
}

void TForm11::Rate1Change() {
  ApplyRate();
  if (CurrentKey != -1)
    Tuning->Set.SetCell(CurrentKey, kRateColumn, QString::number(Rate1->value()));
  Tuning->Modified = true;
}

void TForm11::Rate1DblClick() {
  Rate1->setValue(100);
}

void TForm11::Rate1MouseMove() {
  ShowHintAtCursor(HintWindow, rateHint_);
  KTHint->start();
}

QString TForm11::BarHint(const QSlider* bar) const {
  if (bar == CoolScrollbar1) return volumeHint_;
  if (bar == Rate1) return rateHint_;
  return QString();
}

void TForm11::MidiIn1Click() {
  if (MidiIn1->isChecked()) {
    // One window at a time holds MIDI input.
    for (std::size_t i = 0; i < FormList.size(); ++i) {
      TForm11* w = FormList[i];
      if (w && w->MidiIn1->isChecked()) {
        w->MidiIn1->setChecked(false);
        w->MidiIn1Click();
      }
    }
    MidiIn1->setChecked(true);
    Receiver.SetWindow(this);
    Receiver.SetArming([armed = Player->Armed()](int key, bool arm) {
      if (!armed) return;
      if (arm)
        engine::ArmingOrder::Instance().ArmFrom(armed.get(), key);
      else
        engine::ArmingOrder::Instance().WithdrawFrom(armed.get());
    });
    MidiDevice = std::make_unique<midi::CMIDIInDevice>(Receiver);
    midi::MidiDeviceWatch::Of(this)->Reset();
    try {
      // The entry names its port: the index alone could open another one
      // if ports came or went since the list was read.
      MidiDevice->Open(platform::SelectedMidiDevice(Tuning->Device1));
      MidiDevice->Start();
    } catch (const std::exception&) {
      platform::ShowInformation("Midi In Failed: Busy or not found", this);
      MidiIn1->setChecked(false);
    }
  } else if (MidiDevice) {
    StopMidiDevice();
  }
}

void TForm11::StopMidiDevice() {
  MidiDevice->Stop();
  MidiDevice->Close();
  MidiDevice.reset();
  midi::MidiDeviceWatch::Of(this)->Reset();
  // Keys held by notes that will never be released would block typed keys.
  const std::set<int> held = std::exchange(midiHeld_, {});
  for (int key : held) Keys1->NoteOff(key, 0, true);
}

void TForm11::CoolBtn3Click() {
  if (Edit1 == nullptr) return;  // made right after the first window
  if (Edit1->isVisible())
    Edit1->hide();
  else
    Edit1->show();
}

void TForm11::TellAudioOutputChange() {
  // The sound output lost or back: told in the caption bar for a few
  // seconds, not in a box that would hold up the keys of the group.
  ShowOutputNotice(TakeAudioOutputChange());
  // The window's own output last: it says where this window's sound went.
  ShowOutputNotice(Player->TakeOutputNotice());
}

void TForm11::ShowOutputNotice(const QString& change) {
  if (change.isEmpty()) return;
  CoolLabel3->setText(change);
  CoolLabel3->setToolTip(change);
  QTimer::singleShot(kOutputNoticeMs, this, [this] {
    CoolLabel3->setText(FileNamePart(Tuning->FileName));
    CoolLabel3->setToolTip(QString());
  });
}

void TForm11::WarnIfSoundGoesNowhere() {
  const QString warning = TakeAudioOutputWarning();
  if (!warning.isEmpty()) platform::ShowInformation(warning, this);
}
