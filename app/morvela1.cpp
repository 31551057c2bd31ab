#include "app/morvela1.h"

#include "app/FormList.h"
#include "app/PlayRules.h"
#include "app/SoundOutputOptions.h"
#include "app/WindowValues.h"
#include "controls/Colors.h"
#include "engine/cue/HeadBudget.h"
#include "help/Help.h"
#include "platform/Dialogs.h"
#include "platform/WindowMessages.h"
#include "platform/midi/MidiDeviceList.h"
#include "sets/LocalPath.h"
#include "sets/SetGrid.h"
#include "video/Video.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <utility>

std::vector<TForm11*> FormList;
TForm11* Form11 = nullptr;
std::function<std::shared_ptr<engine::MediaGraph>(int)> TForm11::MakeGraph;

void InstallKeyPreview();

namespace {

// The window that receives the application-wide activation notifications:
// always the most recently created keyboard window.
QMetaObject::Connection g_appActivation;

}  // namespace

TForm11::TForm11(QObject* Owner) : TForm11(nullptr, 0, true) {
  Q_UNUSED(Owner);
}

TForm11::TForm11(TForm11* Owner, int n) : TForm11(Owner, n, false) {}

TForm11::TForm11(QWidget* owner, int instance, bool appendSelf)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      owner_(owner) {
  BuildControls();
  InstallKeyPreview();
  // Receiver: its window is set when MIDI input is switched on.
  VideoCaption.clear();
  CurrentKey = -1;
  HintWindow = new QLabel(this, Qt::ToolTip);
  HintWindow->setStyleSheet("background: #FFFFE1; border: 1px solid #404040; padding: 1px 3px;");
  HintWindow->hide();
  Instance = instance;
  setWindowTitle(app::WindowName(Instance));
  // By default a window forms a group of its own.
  Group->setText(QString::number(Instance));
  UpDown1->SetPosition(Instance);
  Mini.MiniMode = false;
  if (appendSelf) FormList.push_back(this);
  FormCreate();
  BuildEmptySetHint();
  setAcceptDrops(true);
  // Only now is the window whole; its timers may tick from here on.
  whole_ = true;
  Timer1->start();
  KTHint->start();
  Timer2->start();
  // A set loaded or edited row by row is named to the player once it has
  // settled, not at every row.
  cueTimer_ = new QTimer(this);
  cueTimer_->setSingleShot(true);
  cueTimer_->setInterval(100);
  connect(cueTimer_, &QTimer::timeout, this, &TForm11::CueKeys);
  connect(Tuning, &TTuning::ClipsResolved, cueTimer_, qOverload<>(&QTimer::start));
  connect(Tuning, &TTuning::ClipsResolved, this, &TForm11::PublishArmedKeys);
  // A clip replaced on disk gets a new head within a second.
  headFileTimer_ = new QTimer(this);
  headFileTimer_->setInterval(1000);
  connect(headFileTimer_, &QTimer::timeout, this, &TForm11::CheckHeadFiles);
  headFileTimer_->start();
  // A row changed is told to the output at once, on this thread, before
  // this window handles any note that may have armed its old self.
  if (QAbstractItemModel* rows = Tuning->Grid ? Tuning->Grid->model() : nullptr) {
    connect(rows, &QAbstractItemModel::dataChanged, this, &TForm11::PublishArmedKeys);
    connect(rows, &QAbstractItemModel::rowsInserted, this, &TForm11::PublishArmedKeys);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &TForm11::PublishArmedKeys);
    connect(rows, &QAbstractItemModel::modelReset, this, &TForm11::PublishArmedKeys);
  }
  connect(Group, &QLineEdit::textChanged, this, [] { PublishArmingOrder(); });
  cueTimer_->start();
}

void TForm11::FormCreate() {
  // Companions, each carrying this window's instance number.
  Tuning = new TTuning(this, Instance);
  Video = new TVideo1(this, Instance);
  // The Options page's three video boxes act on this window's own video
  // window.
  Tuning->BindVideoOptions(Video->ARatio, Video->AOrig, Video->AFull);
  ReadSettings();
  UpDown1->OnChangingEx = [this](QObject* sender, bool& allow, int value, TUpDownDirection dir) {
    UpDown1ChangingEx(sender, allow, value, dir);
  };
  Player = MakeGraph ? std::make_unique<TPlayer>(this, 0, MakeGraph(Instance))
                     : std::make_unique<TPlayer>(this, 0);
  // Each window's sound is an output of its own, named like the window, so a
  // patchbay tells the windows apart.
  Player->SetOutputName(app::WindowName(Instance));
  Player->AutoPlay = false;
  Player->UseAudioDevice = false;
  // Opened now, not at the first key: its ports can be patched before the
  // show, and a missing output is told before it is needed.
  app::ApplyStoredSoundOutput(Instance, *Player);
  outputNotices_ = new QTimer(this);
  outputNotices_->setInterval(kOutputNoticePollMs);
  connect(outputNotices_, &QTimer::timeout, this,
          [this] { ShowOutputNotice(Player->TakeOutputNotice()); });
  outputNotices_->start();

  // The newest window takes over the application-wide activation notices.
  QObject::disconnect(g_appActivation);
  g_appActivation = connect(qApp, &QGuiApplication::applicationStateChanged, this,
                            [this](Qt::ApplicationState state) {
                              if (state == Qt::ApplicationActive)
                                FormActivate();
                              else
                                FormDeactivate();
                            });

  VolumeEnabled = true;
  SeekEnabled = true;
  KeyHeld = false;
  KeyPreview = true;
  ClipLoaded = false;
  PositionScale = 10000;
  CoolLabel3->setText(FileNamePart(Tuning->FileName));
}

void TForm11::ReadSettings() {
  app::KeyboardWindowValues v;
  v.top = y();
  v.left = x();
  v.MiniTop = Mini.MiniTop;
  v.MiniLeft = Mini.MiniLeft;
  v.loop = Loop->isChecked();
  v.sustain = Sustain->isChecked();
  v.midi = MidiIn1->isChecked();
  const app::ReadResult read = app::ReadKeyboardWindowValues(Instance, v);
  if (read.Has(0)) move(x(), v.top);
  if (read.Has(1)) {
    move(v.left, y());
    Mini.FullTop = y();
    Mini.FullLeft = x();
  }
  if (read.Has(2)) Mini.MiniTop = v.MiniTop;
  if (read.Has(3)) Mini.MiniLeft = v.MiniLeft;
  if (read.Has(4)) Loop->setChecked(v.loop);
  if (read.Has(5)) Sustain->setChecked(v.sustain);
  if (read.Has(6)) MidiIn1->setChecked(v.midi);
  if (read.group) {
    Group->setText(QString::number(*read.group));
    UpDown1->SetPosition(Group->text().toInt());
  }
  // By name, not by number: numbers move as devices come and go.
  if (read.midiDevice) platform::ChooseMidiDevice(Tuning->Device1, *read.midiDevice);
}

void TForm11::WriteSettings() {
  app::KeyboardWindowValues v;
  // Mini mode itself is not kept: the full-size place is written, and the
  // mini place alongside it.
  v.top = Mini.MiniMode ? Mini.FullTop : y();
  v.left = Mini.MiniMode ? Mini.FullLeft : x();
  v.MiniTop = Mini.MiniMode ? y() : Mini.MiniTop;
  v.MiniLeft = Mini.MiniMode ? x() : Mini.MiniLeft;
  v.loop = Loop->isChecked();
  v.sustain = Sustain->isChecked();
  v.midi = MidiIn1->isChecked();
  v.group = GroupNumber();
  v.midiDevice = platform::ChosenMidiDeviceKey(Tuning->Device1);
  app::WriteKeyboardWindowValues(Instance, v);
  app::StoredSoundOutput sound = app::ReadSoundOutput(Instance);
  sound.links = Player->OutputConnections();
  app::WriteSoundOutput(Instance, sound);
}

int TForm11::GroupNumber() const {
  return Group->text().toInt();
}

void TForm11::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormShow();
}

void TForm11::FormShow() {
  if (!firstShown_) {
    if (MidiIn1->isChecked()) MidiIn1Click();
    Player->HandleVideo(Video->Handle());
    KeyPreview = true;
    firstShown_ = true;
    connect(Tuning->StayTop, &QCheckBox::clicked, this, [this] { StayTopClick(); });
    update();
  }
  RepaintFrame();
  SetCaptionBarLabels();
}

void TForm11::SetCaptionBarLabels() {
  // The first window shows the logo without a number.
  const QString number = Instance != 0 ? QString::number(Instance) : QString();
  for (QLabel* label : {CoolLabel1, CoolLabel2}) {
    label->setProperty("caption", number);
    label->setText(label->property("logo").toString() + number);
  }
}

void TForm11::RepaintFrame() {
  CoolPanel3->update();
  CoolScrollbar1->update();
  Rate1->update();
}

void TForm11::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  FormCloseQuery(this, canClose);
  if (!canClose) {
    event->ignore();
    return;
  }
  event->accept();
  if (IsMainWindow()) QCoreApplication::quit();
}

void TForm11::FormCloseQuery(QObject* Sender, bool& CanClose) {
  Q_UNUSED(Sender);
  WriteSettings();
  if (saveOffered_) {
    CanClose = true;
    return;
  }
  const int answer = Tuning->AskSave();
  CanClose = answer != platform::IDCANCEL;
  if (CanClose && IsMainWindow()) CanClose = OfferOtherWindowsSave();
}

bool TForm11::OfferOtherWindowsSave() {
  for (std::size_t i = 1; i < FormList.size(); ++i) {
    TForm11* w = FormList[i];
    w->WriteSettings();
    if (w->Tuning->AskSave() == platform::IDCANCEL) {
      for (std::size_t j = 1; j < i; ++j) FormList[j]->saveOffered_ = false;
      return false;
    }
    w->saveOffered_ = true;
  }
  return true;
}

void TForm11::CloseForProgramEnd() {
  bool canClose = true;
  FormCloseQuery(this, canClose);
  // The program ends whatever the answer; the question was offered while the
  // main window's close could still be refused.
  hide();
}

TForm11::~TForm11() {
  FormDestroy();
}

void TForm11::FormDestroy() {
  Timer1->stop();
  if (IsMainWindow()) {
    const std::size_t count = FormList.size();
    for (std::size_t i = 1; i < count; ++i) {
      TForm11* w = FormList[i];
      if (w == nullptr) continue;
      w->CloseForProgramEnd();
      FormList[i] = nullptr;
      delete w;
    }
  }
  delete HintWindow;
  HintWindow = nullptr;
  // No note is armed on this window's output once it is going.
  PublishArmingOrder(this);
  engine::HeadBudget::Instance().Forget(this);
  Player.reset();
  delete Tuning;
  Tuning = nullptr;
  delete Video;
  Video = nullptr;
  // No MIDI note may reach the window once it is gone.
  if (MidiDevice) {
    MidiDevice->Stop();
    MidiDevice->Close();
    MidiDevice.reset();
  }
  midiHeld_.clear();
  if (IsMainWindow()) {
    FormList.clear();
    if (Form11 == this) Form11 = nullptr;
  }
}

void TForm11::Image1Click() {
  for (std::size_t i = 1; i < FormList.size(); ++i) {
    if (FormList[i] && !FormList[i]->isVisible()) {
      FormList[i]->show();
      return;
    }
  }
  auto* w = new TForm11(FormList[0], static_cast<int>(FormList.size()));
  FormList.push_back(w);
  w->show();
}

void TForm11::CoolCaptionBtn1Click() {
  close();
}

void TForm11::CoolCaptionBtn2Click() {
  THelp1 about(this);
  about.exec();
}

void TForm11::minimizeClick() {
  const app::WindowPlace next = app::ToggleMiniMode(Mini, {x(), y(), height()});
  setFixedHeight(next.height);
  move(next.left, next.top);
}

void TForm11::CoolPanel3MouseDown(QObject* Sender, Qt::MouseButton Button, int X, int Y,
                                  QPoint globalPos) {
  Q_UNUSED(Sender);
  if (Button != Qt::LeftButton) return;
  DragX = X;
  DragY = Y;
  dragOffset_ = globalPos - pos();
  dragging_ = true;
}

void TForm11::CoolPanel3MouseMove(QObject* Sender, Qt::MouseButtons Shift, int X, int Y,
                                  QPoint globalPos) {
  Q_UNUSED(Sender);
  Q_UNUSED(X);
  Q_UNUSED(Y);
  if (!(Shift & Qt::LeftButton) || !dragging_) return;
  // The grab point stays under the mouse. Taken from the screen position, so
  // a move the window manager has not carried out yet cannot make the next
  // step jump back.
  const QPoint target = globalPos - dragOffset_;
  if (target != pos()) move(target);
}

bool TForm11::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == CoolScrollbar1 || watched == Rate1) {
    if (type == QEvent::ToolTip) return true;  // no system tooltip on the bars
    if (type == QEvent::MouseMove) {
      if (watched == CoolScrollbar1)
        CoolScrollbar1MouseMove();
      else
        Rate1MouseMove();
    } else if (type == QEvent::MouseButtonDblClick && watched == Rate1) {
      Rate1DblClick();
      return true;
    }
    return false;
  }
  if (watched == LKey1 || watched == Label1) {
    if (type == QEvent::MouseButtonPress) {
      LKey1MouseDown();
    } else if (type == QEvent::MouseButtonRelease) {
      LKey1MouseUp();
    }
    return false;
  }
  switch (type) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = e->position().toPoint();
      CoolPanel3MouseDown(watched, e->button(), p.x(), p.y(), e->globalPosition().toPoint());
      if (watched == Image1 && e->button() == Qt::LeftButton) {
        image1Pressed_ = true;
        image1Dragged_ = false;
      }
      // Handled once, by the control pressed: the caption bar under a label
      // must not take the same press again in its own coordinates.
      return true;
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = e->position().toPoint();
      if (watched == Image1 && (p.x() != DragX || p.y() != DragY)) image1Dragged_ = true;
      CoolPanel3MouseMove(watched, e->buttons(), p.x(), p.y(), e->globalPosition().toPoint());
      return true;
    }
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() == Qt::LeftButton) dragging_ = false;
      // A press and release on the logo without moving the window is New;
      // a drag that starts on the logo only moves the window.
      if (watched == Image1 && image1Pressed_ && e->button() == Qt::LeftButton) {
        image1Pressed_ = false;
        if (!image1Dragged_ && Image1->rect().contains(e->position().toPoint())) Image1Click();
      }
      return true;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void TForm11::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) {
    if (isActiveWindow()) {
      FormActivate();
    } else {
      FormDeactivate();
      // A window that came up while a typed key was down (a key without a
      // clip shows the set editor) takes its release: let the key go here,
      // or it would stay held and block every typed key after it.
      if (typedKey_ >= 0) FormKeyUp(this, 0, Qt::NoModifier);
    }
  }
}

void TForm11::FormActivate() {
  PaintTransparently = true;
  setWindowOpacity(240.0 / 255.0);
  CoolLabel2->hide();
  CoolLabel1->show();
}

void TForm11::FormDeactivate() {
  PaintTransparently = false;
  setWindowOpacity(1.0);
  CoolLabel1->hide();
  CoolLabel2->show();
}

void TForm11::StayTopClick() {
  const bool wasVisible = isVisible();
  const QPoint place = pos();
  setWindowFlag(Qt::WindowStaysOnTopHint, Tuning->StayTop->isChecked());
  // Changing the style recreates the native window, which hides it.
  move(place);
  if (wasVisible) show();
  Player->Handle(this);
  update();
  RepaintFrame();
}

void TForm11::UpDown1ChangingEx(QObject* Sender, bool& AllowChange, int NewValue,
                                TUpDownDirection Direction) {
  Q_UNUSED(Sender);
  Q_UNUSED(Direction);
  if (NewValue == static_cast<int>(FormList.size()) || NewValue == -1) {
    AllowChange = false;
    return;
  }
  Group->setText(QString::number(NewValue));
  AllowChange = true;
}
