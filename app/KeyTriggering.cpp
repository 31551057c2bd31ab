// Keys of the keyboard window: the note-on and note-off dispatch over the
// synchronization group, one window's play and release, the computer keys,
// the current-key display, the key hint and the Configuration button.

#include "app/FormList.h"
#include "app/NetGroupControl.h"
#include "app/PlayRules.h"
#include "app/morvela1.h"
#include "engine/cue/ClipHeads.h"
#include "engine/cue/HeadBudget.h"
#include "platform/Dialogs.h"
#include "platform/KeyTrace.h"
#include "platform/WindowPlacement.h"
#include "sets/LocalPath.h"
#include "video/Video.h"
#include "waveform/PeakReader.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <set>
#include <utility>

namespace {

// A label longer than its button ends in an ellipsis; centred whole, it
// would be cut on both sides. An ampersand is shown, not taken as a shortcut.
void ShowKeyLabel(QPushButton* button, const QString& label) {
  QStyleOptionButton option;
  option.initFrom(button);
  const QRect room =
      button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
  const QString shown = button->fontMetrics().elidedText(label, Qt::ElideRight, room.width() - 4);
  button->setText(QString(shown).replace('&', QStringLiteral("&&")));
}

// The message of a key whose clip could not be played. A clip not found
// when the set was loaded tells, after the player's text, where it was
// looked for.
QString KeyErrorText(const std::exception& error, const QString& problem) {
  const auto* player = dynamic_cast<const EPlayerError*>(&error);
  if (player != nullptr && player->Text() == _ERR_NOFILE && !problem.isEmpty())
    return QString::fromUtf8(_ERR_NOFILE) + "\n" + problem;
  return QString::fromUtf8(error.what());
}

// Runs action for every keyboard window in list order, hidden ones included.
// The list is read by index each time round: a window made by New inside a
// message box of an earlier window joins at the end instead of invalidating
// the walk. The first error ends the walk silently.
template <typename Action>
void ForEachWindowGuarded(Action action) {
  try {
    for (std::size_t i = 0; i < FormList.size(); ++i)
      if (TForm11* w = FormList[i]) action(w);
  } catch (...) {
    // An error before a window's own guarded steps (a key beyond its rows,
    // say) ends the dispatch; the windows after it do not react.
  }
}

}  // namespace

// The window sees every key before the control that has the focus: one
// application-wide filter hands each key event to the keyboard window it is
// meant for, once, and lets it go on to the control.
//
// A key held down repeats as release and press pairs with one timestamp.
// Qt marks them as repeats when it sees both at once, but not when the press
// is still on its way when the release is handled. So a release waits a few
// milliseconds: a press of the same key with the release's timestamp, or one
// marked as a repeat, cancels it; any other key event lets it go first.
class KeyPreviewFilter : public QObject {
 public:
  static void Install() {
    static KeyPreviewFilter* filter = [] {
      auto* f = new KeyPreviewFilter();
      qApp->installEventFilter(f);
      return f;
    }();
    Q_UNUSED(filter);
  }

  // How long a release waits for the press that would make it a repeat.
  static constexpr int kRepeatGraceMs = 25;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) return false;
    // An unhandled key climbs from the focused control to its parents; the
    // window takes it only at its first stop.
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr ? widget != focus : !widget->isWindow()) return false;
    auto* form = qobject_cast<TForm11*>(widget->window());
    // Keys typed while a clip's picture has the focus play its keyboard
    // window, as on stage the performer may have clicked the picture.
    if (auto* video = qobject_cast<TVideo1*>(widget->window()))
      form = qobject_cast<TForm11*>(video->Owner());
    if (form == nullptr || !form->KeyPreview || !form->IsWhole()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // A key that no control took climbs on to the parents once the window's
    // handler is done. A message box shown by that handler (a clip that
    // can't be played) moves the focus, and the same key may then meet the
    // window again: it is not a new key.
    if (event == handled_.event && type == handled_.type && key->timestamp() == handled_.timestamp)
      return false;
    handled_ = {event, type, key->timestamp()};
    if (type == QEvent::KeyPress) {
      const bool repeat = pending_.form == form && pending_.key == key->key() &&
                          (key->isAutoRepeat() || key->timestamp() == pending_.timestamp);
      if (repeat) {
        pendingTimer_.stop();
        pending_ = {};
      } else {
        FlushRelease();
      }
      form->FormKeyDown(form, key->key(), key->modifiers());
      if (!key->text().isEmpty()) form->FormKeyPress(form, key->text().at(0));
    } else if (!key->isAutoRepeat()) {
      FlushRelease();
      pending_ = {form, key->key(), key->modifiers(), key->timestamp()};
      pendingTimer_.start(kRepeatGraceMs);
    }
    return false;
  }

 private:
  KeyPreviewFilter() {
    pendingTimer_.setSingleShot(true);
    connect(&pendingTimer_, &QTimer::timeout, this, [this] { FlushRelease(); });
  }

  void FlushRelease() {
    pendingTimer_.stop();
    const Pending release = std::exchange(pending_, {});
    if (release.form) release.form->FormKeyUp(release.form, release.key, release.modifiers);
  }

  struct Pending {
    QPointer<TForm11> form;
    int key = 0;
    Qt::KeyboardModifiers modifiers;
    quint64 timestamp = 0;
  };
  Pending pending_;
  QTimer pendingTimer_;
  // The key event handled last, while it may still be on its way.
  struct Handled {
    const QEvent* event = nullptr;
    QEvent::Type type = QEvent::None;
    quint64 timestamp = 0;
  };
  Handled handled_;
};

void InstallKeyPreview() {
  KeyPreviewFilter::Install();
}

void TForm11::Keys1NoteOn(QObject* Sender, int note, int velocity) {
  Q_UNUSED(velocity);
  platform::KeyTrace::Stamp(platform::KeyTrace::kWindow);
  std::optional<std::uint64_t> base;
  if (auto* network = app::NetGroupControl::Instance())
    base = network->PressHere(GroupNumber(), note);
  // A typed key, a click or a remote press arms here; a note did already.
  if (!base)
    if (auto armed = Player->Armed()) engine::ArmingOrder::Instance().ArmFrom(armed.get(), note);
  StartGroupPress(Sender, note, base);
  platform::KeyTrace::Stamp(platform::KeyTrace::kPlaying);
}

void TForm11::StartGroupPress(QObject* Sender, int note, std::optional<std::uint64_t> baseNs) {
  int members = 0;
  for (std::size_t i = 0; i < FormList.size(); ++i)
    if (TForm11* w = FormList[i]; w && w->GroupNumber() == GroupNumber()) ++members;
  TPlayer::GroupStart together(members > 1 || baseNs);
  // A start agreed with the other machines never goes on from a head.
  if (baseNs) WithdrawArmed();
  ForEachWindowGuarded([&](TForm11* w) { w->PlayKey(Sender, note, GroupNumber()); });
  // A window the dispatch did not reach plays nothing.
  WithdrawArmed();
  if (baseNs)
    together.StartAt(*baseNs);
  else
    together.Start();
}

void TForm11::Keys1NoteOff(QObject* Sender, int note, int velocity) {
  Q_UNUSED(velocity);
  platform::KeyTrace::PrintLast();
  if (auto* network = app::NetGroupControl::Instance()) network->ReleaseHere(GroupNumber(), note);
  RunNoteOffDispatch(Sender, note);
}

void TForm11::RunNoteOffDispatch(QObject* Sender, int note) {
  ForEachWindowGuarded([&](TForm11* w) { w->ReleaseKey(Sender, note, GroupNumber()); });
}

void TForm11::PlayKey(QObject* Sender, int key, int group) {
  Q_UNUSED(Sender);
  if (GroupNumber() != group) return;
  KeyHeld = true;
  if (Player->State == fsPlaying) Player->Stop();
  const KeyRow& row = Tuning->Set.Row(key);
  if (row.File.isEmpty()) {
    if (auto armed = Player->Armed()) armed->Withdraw();
    // The performer goes on typing into the window played in.
    ToggleSetEditor(false);
    return;
  }
  VolumeEnabled = true;
  SeekEnabled = true;
  refreshErrorShown_ = false;
  ShowKeyLabel(Label1, row.Label);
  LKey1->setText(row.Key.left(1));
  CurrentKey = key;
  Video->Player = Player.get();
  // Where the clip is was found when the set was loaded: nothing is looked
  // for now, while the key is being played.
  const QString file = Tuning->ClipPath(key);
  const QString problem = Tuning->ClipProblem(key);
  try {
    // The row is read again after Open: a notice handled inside it may run
    // a message box whose event loop lets the set change.
    Player->Open(file);
    LoadKeyRange(key);
    ShowKeyWaveform(key);
    Player->SetRelativePositions(PositionScale, Slider1->MinPosition(), Slider1->MaxPosition(), 0);
    Player->SetRelativeVolume(100, 1, 0, 0, CoolScrollbar1->value());
    ApplyRate();
    PublishEndOfClip();
    LcdTot->SetValue(QString::number(app::Hundredths(Player->Duration)));
    LcdCur->SetValue(QString::number(app::Hundredths(Player->GetPosition())));
    LcdMin->SetValue(QString::number(Slider1->MinPosition()));
    LcdMax->SetValue(QString::number(Slider1->MaxPosition()));
    platform::KeyTrace::Stamp(platform::KeyTrace::kPlay);
    Player->ContinueArmed(key, PositionScale, Slider1->MinPosition());
    Player->Play();
    engine::HeadBudget::Instance().Played(this, key);
  } catch (const std::exception& error) {
    if (auto armed = Player->Armed()) armed->Withdraw();
    platform::ShowInformation(KeyErrorText(error, problem), this);
    // The key's release went to the box: the press is over, or the next key
    // typed here would be taken for the held one and not play.
    KeyHeld = false;
    typedKey_ = -1;
    return;
  }
  if (!audioOutputChecked_) {
    audioOutputChecked_ = true;
    WarnIfSoundGoesNowhere();
  }
  TellAudioOutputChange();
  // The output opens with the first clip: its format is known from now on.
  if (auto armed = Player->Armed(); armed && armed->OutputRate() != armedRate_) {
    armedRate_ = armed->OutputRate();
    PublishArmedKeys();
  }
}

void TForm11::ReleaseKey(QObject* Sender, int key, int group) {
  Q_UNUSED(Sender);
  if (GroupNumber() != group) return;
  if (!Sustain->isChecked() && KeyHeld && key == CurrentKey) Player->Stop();
  KeyHeld = false;
  PublishEndOfClip();
}

namespace {

// The integer value of a row's numeric cell; a cell that is not a number is
// an error of the key, shown like the player's.
int CellNumber(const QString& text, const char* column) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok);
  if (!ok)
    throw std::runtime_error("'" + text.toStdString() + "' is not a valid integer value (" +
                             column + ")");
  return value;
}

}  // namespace

void TForm11::CueKeys() {
  if (!Player || !Tuning) return;
  std::vector<engine::ClipToCue> clips;
  for (int row = 0; row < Tuning->Set.RowCount(); ++row) {
    const KeyRow& key = Tuning->Set.Row(row);
    if (key.File.isEmpty() || !Tuning->ClipProblem(row).isEmpty()) continue;
    engine::ClipToCue clip{Tuning->ClipPath(row).toStdString()};
    // Cued at the key's marks; a row whose marks are not numbers is cued
    // whole (its key says what is wrong when played).
    bool startOk = false, stopOk = false;
    const int start = key.Min.trimmed().toInt(&startOk);
    const int stop = key.Max.trimmed().toInt(&stopOk);
    if (startOk && stopOk) {
      clip.StartMark = start;
      clip.StopMark = stop;
    }
    clips.push_back(std::move(clip));
  }
  Player->CueClips(clips);
  PublishArmedKeys();
}

void TForm11::PublishArmedKeys() {
  const auto armed = Player ? Player->Armed() : nullptr;
  if (!armed || !Tuning) return;
  PublishArmingOrder();
  Player->SetArmedVolume(100, 1, 0, 0, CoolScrollbar1->value());
  using Verdict = engine::ArmedStart::Verdict;
  // Before the output opens (with the first clip), its rate is the one it
  // most likely gets; a head read at another rate never plays.
  const int rate = armed->OutputRate() > 0 ? armed->OutputRate() : engine::ExpectedOutputRate();
  const int channels = armed->OutputChannels() > 0 ? armed->OutputChannels() : 2;
  auto& budget = engine::HeadBudget::Instance();
  const int frames = rate * budget.Limits().Milliseconds / 1000;
  const int keys = std::min(Tuning->Set.RowCount(), engine::ArmedStart::kKeys);
  // What a key's head is read for: its clip from its start mark at its rate.
  const auto readFor = [&](int key) {
    const KeyRow& row = Tuning->Set.Row(key);
    return engine::HeadRequest{Tuning->ClipPath(key).toStdString(),
                               row.Min.trimmed().toInt(),
                               app::KeyRateOf(row.Rate),
                               rate,
                               channels,
                               frames};
  };
  const auto nameOf = [](const engine::HeadRequest& r) {
    return r.path + "\n" + std::to_string(r.mark) + "\n" + std::to_string(r.speed) + "\n" +
           std::to_string(r.rate);
  };
  std::vector<app::KeyVerdict> verdicts;
  std::vector<engine::HeadBudget::Want> wants;
  for (int key = 0; key < keys; ++key) {
    const KeyRow& row = Tuning->Set.Row(key);
    verdicts.push_back(
        app::KeyVerdictOf(row.File, Tuning->ClipProblem(key), row.Min, row.Max, row.Rate));
    if (verdicts.back() == app::KeyVerdict::Plays && rate > 0 &&
        !headless_.count(nameOf(readFor(key))))
      wants.push_back({key, std::int64_t(frames) * channels * std::int64_t(sizeof(float))});
  }
  const std::set<int> held = budget.Name(this, wants, [this] { PublishArmedKeys(); });
  heads_.resize(engine::ArmedStart::kKeys);
  std::vector<engine::HeadRequest> requests;
  std::vector<int> reading;
  for (int key = 0; key < engine::ArmedStart::kKeys; ++key) {
    auto& kept = heads_[std::size_t(key)];
    if (key >= keys) {
      kept.reset();
      armed->Publish(key, Verdict::EndsDispatch);
      continue;
    }
    std::shared_ptr<const engine::ClipHead> head;
    if (!held.count(key)) {
      // Over the budget: the key starts as the graph plays it.
      kept.reset();
    } else {
      const engine::HeadRequest want = readFor(key);
      if (kept && kept->path == want.path && kept->mark == want.mark && kept->speed == want.speed &&
          kept->rate == want.rate && kept->Frames() == want.frames &&
          kept->identity == engine::FileIdentity::Of(want.path)) {
        // Past the stop mark, the window's clip would already have ended
        // or looped.
        const auto headNs = std::llround(double(kept->Frames()) * 1e9 * kept->speed / rate);
        if (app::HeadWithinMarks(kept->clipNs, want.mark,
                                 Tuning->Set.Row(key).Max.trimmed().toInt(), headNs))
          head = kept;
      } else {
        requests.push_back(want);
        reading.push_back(key);
      }
    }
    armed->Publish(
        key,
        verdicts[std::size_t(key)] == app::KeyVerdict::Silent ? Verdict::Silent : Verdict::Plays,
        head);
  }
  if (requests.empty()) return;
  engine::ReadClipHeads(
      this, requests,
      [this, requests, reading, nameOf](std::vector<std::shared_ptr<const engine::ClipHead>> got) {
        for (std::size_t i = 0; i < reading.size(); ++i) {
          heads_[std::size_t(reading[i])] = got[i];
          if (!got[i]) headless_.insert(nameOf(requests[i]));
        }
        PublishArmedKeys();
      });
}

void TForm11::CheckHeadFiles() {
  for (const auto& head : heads_)
    if (head && head->identity != engine::FileIdentity::Of(head->path)) {
      PublishArmedKeys();
      return;
    }
}

void TForm11::PublishArmingOrder(const TForm11* leaving) {
  const auto* network = app::NetGroupControl::Instance();
  std::vector<engine::ArmingOrder::Member> members;
  for (TForm11* w : FormList)
    // A network group's keys start on a time agreed with the other
    // machines, never as the note arrives.
    if (w != nullptr && w != leaving && w->Player &&
        !(network && network->Shares(w->GroupNumber())))
      if (auto armed = w->Player->Armed()) members.push_back({armed.get(), w->GroupNumber()});
  engine::ArmingOrder::Instance().Publish(members);
}

void TForm11::WithdrawArmed() {
  for (TForm11* w : FormList)
    if (w != nullptr && w->Player)
      if (auto armed = w->Player->Armed()) armed->Withdraw();
}

void TForm11::LoadKeyRange(int key) {
  const KeyRow& row = Tuning->Set.Row(key);
  const int max = CellNumber(row.Max, "Max");
  const int min = CellNumber(row.Min, "Min");
  const int rate = ClipLoaded ? CellNumber(row.Rate, "Rate") : 0;
  // Setting the marks from the row must not write them back into it.
  DetachSliderHandlers();
  // The whole range first, so that neither new mark is held back by an old one.
  Slider1->SetMaxPosition(PositionScale);
  Slider1->SetMinPosition(0);
  Slider1->SetMaxPosition(max);
  Slider1->SetMinPosition(min);
  if (ClipLoaded) {
    const QSignalBlocker quiet(Rate1);
    Rate1->setValue(rate);  // the bar clamps it to 1..300
  }
  AttachSliderHandlers();
}

void TForm11::ShowKeyWaveform(int key) {
  slideWaveFile_ = Tuning->ClipPath(key);
  // The ruler shows the old clip's sound only until the new one's is read.
  if (slideWaveFile_ != slidePeaks_->Path()) Slider1->SetWaveform({});
  slideWaveTimer_->start();
}

void TForm11::AttachSliderHandlers() {
  Slider1->OnMinPosChange = [this](QObject* sender, int value) {
    Slider1MinPosChange(sender, value);
  };
  Slider1->OnMaxPosChange = [this](QObject* sender, int value) {
    Slider1MaxPosChange(sender, value);
  };
}

void TForm11::DetachSliderHandlers() {
  Slider1->OnMinPosChange = nullptr;
  Slider1->OnMaxPosChange = nullptr;
}

void TForm11::ApplyRate() {
  const double rate = app::RateOfPosition(Rate1->value());
  rateHint_ = app::RateHint(Rate1->value());
  if (ClipLoaded)
    app::SetRateUntilExact(
        rate, [this](double r) { Player->SetRate(r); }, [this] { return Player->GetRate(); });
}

void TForm11::FormKeyPress(QObject* Sender, QChar Key) {
  Q_UNUSED(Sender);
  if (!KeyHeld) {
    const int index = app::ComputerKeyIndex(Key);
    if (index >= 0) {
      typedKey_ = index;
      Keys1->NoteOn(index, 0, true);
    }
  }
  if (Key == QLatin1Char(' ')) StopClick();
}

void TForm11::FormKeyUp(QObject* Sender, int Key, Qt::KeyboardModifiers Shift) {
  Q_UNUSED(Sender);
  Q_UNUSED(Key);
  Q_UNUSED(Shift);
  // The typed key is let go, not the current one: a key without a clip
  // never becomes current, and its release must still reach the group.
  Keys1->NoteOff(typedKey_ >= 0 ? typedKey_ : CurrentKey, 0, true);
  typedKey_ = -1;
}

void TForm11::LKey1MouseDown() {
  if (LKey1->text() != QLatin1String("-")) Keys1->NoteOn(CurrentKey, 0, true);
}

void TForm11::LKey1MouseUp() {
  if (LKey1->text() != QLatin1String("-")) Keys1->NoteOff(CurrentKey, 0, true);
}

void TForm11::Keys1MouseOn(QObject* Sender, int note, int velocity) {
  Q_UNUSED(Sender);
  Q_UNUSED(velocity);
  try {
    const QString& label = Tuning->Set.Row(note).Label;
    // No label, no box: an empty one says nothing and hides the keys.
    if (label.isEmpty()) {
      HintWindow->hide();
      return;
    }
    ShowHintAtCursor(HintWindow, label);
    KTHint->start();
  } catch (const std::exception&) {
    // A note without a row has no hint.
  }
}

void TForm11::ShowHintAtCursor(QLabel* hintWindow, const QString& text) {
  hintWindow->setText(text);
  // The label's own size hint counts its frame and padding; long texts
  // stay on one line (up to 10000 pixels).
  hintWindow->setMaximumWidth(10000);
  hintWindow->setGeometry(app::HintRectAt(hintWindow->sizeHint(), QCursor::pos()));
  hintWindow->show();
  hintWindow->raise();
}

void TForm11::KTHintTimer() {
  const QPoint cursor = QCursor::pos() - pos();
  if (!app::StrictlyInside(Cool1->geometry(), cursor)) {
    HintWindow->hide();
    KTHint->stop();
  }
}

void TForm11::CoolBtn1Click() {
  ToggleSetEditor(true);
}

void TForm11::ToggleSetEditor(bool activate) {
  if (Tuning->isVisible()) {
    Tuning->hide();  // offers to save a modified set
  } else {
    // At most one set editor is visible; every set with a file is read again,
    // so windows that share a set file all show it as last saved.
    for (std::size_t i = 0; i < FormList.size(); ++i)
      if (TForm11* w = FormList[i]; w && w->Tuning->isVisible()) w->Tuning->hide();
    for (std::size_t i = 0; i < FormList.size(); ++i)
      if (TForm11* w = FormList[i]) w->Tuning->ReloadSet();
    if (activate)
      Tuning->show();
    else
      platform::ShowWithoutActivating(Tuning);
  }
  CoolLabel3->setText(FileNamePart(Tuning->FileName));
}
