#include "app/morvela1.h"

#include "app/FormList.h"
#include "app/WindowValues.h"
#include "controls/Colors.h"
#include "help/Help.h"
#include "platform/Dialogs.h"
#include "platform/WindowMessages.h"
#include "sets/LocalPath.h"
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

namespace {

constexpr int kClientWidth = 635;
constexpr int kClientHeight = 207;

// The window that receives the application-wide activation notifications:
// always the most recently created keyboard window.
QMetaObject::Connection g_appActivation;

QPixmap NewWindowGlyph() {
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0xF3, 0xF3, 0xF3));
  p.setPen(QColor(0x40, 0x40, 0x40));
  p.drawRoundedRect(1, 4, 17, 13, 2, 2);
  p.setBrush(QColor(0x30, 0x30, 0x30));
  for (int x : {5, 9, 13}) p.drawRect(x, 4, 2, 7);
  return pixmap;
}

QToolButton* CaptionButton(QWidget* parent, const QString& glyph, const QString& hint, int x) {
  auto* b = new QToolButton(parent);
  b->setText(glyph);
  b->setToolTip(hint);
  b->setGeometry(x, 4, 20, 20);
  b->setFocusPolicy(Qt::NoFocus);
  b->setAutoRaise(true);
  return b;
}

QPushButton* Button(QWidget* parent, const QString& caption, const QString& hint, QRect rect) {
  auto* b = new QPushButton(caption, parent);
  if (!hint.isEmpty()) b->setToolTip(hint);
  b->setGeometry(rect);
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

// A seven-segment display as the keyboard window shows it.
TLCD99* Lcd(QWidget* parent, const QString& hint, int digits, int spacing, controls::TColor off,
            int delay, QRect rect) {
  auto* lcd = new TLCD99(parent);
  lcd->setGeometry(rect);
  lcd->SetDigitNum(digits);
  lcd->SetDigitSpacing(spacing);
  lcd->SetGapX(1);
  lcd->SetGapY(1);
  lcd->SetSegmentSize(1);
  lcd->SetColor(13624029);
  lcd->SetOnColor(6447714);
  lcd->SetOffColor(off);
  lcd->SetAnimationDelay(delay);
  lcd->SetValue("0");
  lcd->setToolTip(hint);
  return lcd;
}

}  // namespace

TForm11::TForm11(QObject* Owner) : TForm11(nullptr, 0, true) {
  Q_UNUSED(Owner);
}

TForm11::TForm11(TForm11* Owner, int n) : TForm11(Owner, n, false) {}

TForm11::TForm11(QWidget* owner, int instance, bool appendSelf)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      owner_(owner) {
  BuildControls();
  // Receiver: its window is set when MIDI input is switched on.
  VideoCaption.clear();
  CurrentKey = -1;
  HintWindow = new QLabel(this, Qt::ToolTip);
  HintWindow->setStyleSheet("background: #FFFFE1; border: 1px solid #404040; padding: 1px 3px;");
  HintWindow->hide();
  Instance = instance;
  // By default a window forms a group of its own.
  Group->setText(QString::number(Instance));
  UpDown1->SetPosition(Instance);
  Mini.MiniMode = false;
  if (appendSelf) FormList.push_back(this);
  FormCreate();
}

void TForm11::BuildControls() {
  setWindowTitle(platform::kApplicationTitle);
  setFixedSize(kClientWidth, kClientHeight);
  setObjectName("Form11");
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));  // silver
  setPalette(pal);
  setStyleSheet(
      "QPushButton { background: qlineargradient(y1:0, y2:1, stop:0 #F4F4F4, stop:1 #C8C8C8);"
      " border: 1px solid #808080; border-radius: 3px; padding: 0 2px; }"
      "QPushButton:pressed { background: #A8A8A8; }"
      "QCheckBox { spacing: 3px; }");

  // The caption bar: the drag area, ending 35 pixels below the window's top.
  CoolPanel3 = new QFrame(this);
  CoolPanel3->setObjectName("CoolPanel3");
  CoolPanel3->setGeometry(16, 7, 607, 28);
  CoolPanel3->setStyleSheet(
      "#CoolPanel3 { background: qlineargradient(y1:0, y2:1, stop:0 #5A6A8A, stop:1 #2C3650);"
      " border: 1px solid #1C2230; border-radius: 4px; }"
      "QToolButton { color: white; font-weight: bold; border: none; }"
      "QToolButton:hover { background: rgba(255,255,255,40); border-radius: 3px; }");

  Image1 = new QLabel(CoolPanel3);
  Image1->setPixmap(NewWindowGlyph());
  Image1->setGeometry(4, 4, 20, 20);
  Image1->setToolTip("New");
  Image1->setCursor(Qt::PointingHandCursor);

  const QString logo = "<span style='font-style:italic; font-weight:bold;'>Tastivo</span> ";
  CoolLabel1 = new QLabel(CoolPanel3);
  CoolLabel1->setGeometry(28, 4, 110, 20);
  CoolLabel1->setStyleSheet("color: yellow; font-weight: bold;");
  CoolLabel1->setProperty("logo", logo);
  CoolLabel2 = new QLabel(CoolPanel3);
  CoolLabel2->setGeometry(28, 4, 110, 20);
  CoolLabel2->setStyleSheet("color: maroon; font-weight: bold;");
  CoolLabel2->setProperty("logo", logo);
  CoolLabel2->hide();

  CoolLabel3 = new QLabel("Set name", CoolPanel3);
  CoolLabel3->setGeometry(142, 7, 160, 14);
  CoolLabel3->setStyleSheet("color: #E8E8E8;");

  LcdCur = Lcd(CoolPanel3, "Current time  1/100 Sec.", 7, 2, 12963535, 0, QRect(310, 7, 60, 13));
  LcdTot = Lcd(CoolPanel3, "Total time  1/100 Sec.", 7, 2, 12963535, 100, QRect(378, 7, 60, 13));

  CoolCaptionBtn4 = CaptionButton(CoolPanel3, QString::fromUtf8("\u2750"), "New", 501);
  minimize = CaptionButton(CoolPanel3, QString::fromUtf8("\u2581"), QString(), 525);
  CoolCaptionBtn2 = CaptionButton(CoolPanel3, "?", "Help", 549);
  CoolCaptionBtn1 = CaptionButton(CoolPanel3, QString::fromUtf8("\u2715"), "Quit", 575);

  // The transport row.
  LKey1 = Button(this, "-", "Current Key", QRect(16, 40, 24, 22));
  LKey1->setStyleSheet("font-weight: bold; color: blue;");
  Label1 = Button(this, "-", QString(), QRect(42, 40, 110, 22));
  Label1->setStyleSheet("font-weight: bold;");
  CoolBtn1 = Button(this, QString::fromUtf8("\u2699"), "Configuration", QRect(156, 40, 24, 22));
  Group = new QLineEdit(this);
  Group->setGeometry(184, 40, 34, 22);
  Group->setReadOnly(true);
  Group->setAlignment(Qt::AlignCenter);
  Group->setToolTip("Synchronization group");
  Group->setFocusPolicy(Qt::NoFocus);
  UpDown1 = new TUpDown(this);
  UpDown1->setGeometry(218, 40, 14, 22);
  UpDown1->setToolTip("Group change");
  UpDown1->Min = 0;
  UpDown1->Max = 1000;
  UpDown1->Wrap = false;
  CoolBtn2 = Button(this, QString::fromUtf8("\u25B6"), "Play", QRect(238, 40, 26, 22));
  Stop = Button(this, QString::fromUtf8("\u25A0"), "Stop", QRect(266, 40, 26, 22));
  CoolBtn3 = Button(this, QString::fromUtf8("\u2630"), "Open/Close the mini Player",
                    QRect(294, 40, 26, 22));
  Loop = new QCheckBox("Loop", this);
  Loop->setGeometry(328, 42, 52, 18);
  Sustain = new QCheckBox("Sustain", this);
  Sustain->setGeometry(382, 42, 66, 18);
  MidiIn1 = new QCheckBox("Midi In", this);
  MidiIn1->setGeometry(450, 42, 66, 18);
  for (auto* box : {Loop, Sustain, MidiIn1}) box->setFocusPolicy(Qt::NoFocus);

  LcdMin = Lcd(this, "Start position (Min)", 5, 2, 12112845, 100, QRect(16, 69, 37, 9));
  LcdMax = Lcd(this, "Stop Position (Max)", 5, 2, 12112845, 100, QRect(57, 69, 36, 9));
  LcdCurp = Lcd(this, "Current position", 5, 7, 12112845, 100, QRect(494, 68, 78, 10));

  Slider1 = new TmkRangeSlider(this);
  Slider1->setGeometry(16, 82, 556, 22);
  Slider1->setMinimumSize(50, 10);
  Slider1->SetColorBack(13161937);
  Slider1->SetColorTag(16695386);
  Slider1->SetColorPos(3322351);
  Slider1->SetMin(0);
  Slider1->SetMax(10000);
  Slider1->SetMaxPosition(10000);
  Slider1->SetMinPosition(0);
  Slider1->SetPosition(20);
  Slider1->SetFrequency(100);
  Slider1->SetThumbStyle(controls::rsTriangle);
  Slider1->setFocusPolicy(Qt::TabFocus);

  Cool1 = new QFrame(this);
  Cool1->setGeometry(16, 110, 567, 80);
  Cool1->setFrameShape(QFrame::StyledPanel);
  Keys1 = new TKeys(Cool1);
  Keys1->setGeometry(1, 2, 565, 76);
  Keys1->SetOrientation(controls::kbHorizontal);
  Keys1->SetNoteWidth(18);
  Keys1->SetBaseOctave(0);
  Keys1->SetBlackBrush(QBrush(controls::ToQColor(10526880)));
  Keys1->SetWhiteBrush(QBrush(controls::ToQColor(15987699)));
  Keys1->SetVelocityMode(false);
  Keys1->SetAlphaNum(true);
  Keys1->setCursor(Qt::PointingHandCursor);

  CoolScrollbar1 = new QSlider(Qt::Vertical, this);
  CoolScrollbar1->setGeometry(592, 40, 14, 150);
  CoolScrollbar1->setRange(0, 100);
  CoolScrollbar1->setInvertedAppearance(true);  // top = 0 = loudest
  CoolScrollbar1->setValue(10);
  CoolScrollbar1->setToolTip("Volume");
  Rate1 = new QSlider(Qt::Vertical, this);
  Rate1->setGeometry(612, 40, 14, 150);
  Rate1->setRange(1, 300);
  Rate1->setValue(100);
  Rate1->setToolTip("Rate 100/100");
  for (auto* bar : {CoolScrollbar1, Rate1}) bar->setFocusPolicy(Qt::NoFocus);

  // The refresh timers; each is started once its handler is wired in.
  Timer1 = new QTimer(this);
  Timer1->setInterval(1);
  Timer1->setTimerType(Qt::PreciseTimer);
  KTHint = new QTimer(this);
  KTHint->setInterval(1000);
  Timer2 = new QTimer(this);
  Timer2->setInterval(1000);

  connect(CoolCaptionBtn4, &QToolButton::clicked, this, [this] { Image1Click(); });
  connect(CoolCaptionBtn1, &QToolButton::clicked, this, [this] { CoolCaptionBtn1Click(); });
  connect(CoolCaptionBtn2, &QToolButton::clicked, this, [this] { CoolCaptionBtn2Click(); });
  connect(minimize, &QToolButton::clicked, this, [this] { minimizeClick(); });
  connect(CoolBtn1, &QPushButton::clicked, this, [this] { CoolBtn1Click(); });
  connect(MidiIn1, &QCheckBox::clicked, this, [this] { MidiIn1Click(); });
  connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
  Timer2->start();
  for (QWidget* w :
       std::initializer_list<QWidget*>{CoolPanel3, CoolLabel1, CoolLabel2, Image1, CoolLabel3})
    w->installEventFilter(this);
  SetCaptionBarLabels();
}

void TForm11::FormCreate() {
  // Companions, each carrying this window's instance number.
  Tuning = new TTuning(this, Instance);
  Video = new TVideo1(this, Instance);
  ReadSettings();
  UpDown1->OnChangingEx = [this](QObject* sender, bool& allow, int value, TUpDownDirection dir) {
    UpDown1ChangingEx(sender, allow, value, dir);
  };
  Player = std::make_unique<TPlayer>(this, 0);
  Player->AutoPlay = false;
  Player->UseAudioDevice = false;

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
  app::WriteKeyboardWindowValues(Instance, v);
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

void TForm11::CoolPanel3MouseDown(QObject* Sender, Qt::MouseButton Button, int X, int Y) {
  Q_UNUSED(Sender);
  if (Button != Qt::LeftButton) return;
  DragX = X;
  DragY = Y;
}

void TForm11::CoolPanel3MouseMove(QObject* Sender, Qt::MouseButtons Shift, int X, int Y) {
  Q_UNUSED(Sender);
  if (!(Shift & Qt::LeftButton)) return;
  move(x() + X - DragX, y() + Y - DragY);
}

bool TForm11::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = e->position().toPoint();
      CoolPanel3MouseDown(watched, e->button(), p.x(), p.y());
      if (watched == Image1 && e->button() == Qt::LeftButton) {
        image1Pressed_ = true;
        image1Dragged_ = false;
      }
      return false;
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = e->position().toPoint();
      if (watched == Image1 && (p.x() != DragX || p.y() != DragY)) image1Dragged_ = true;
      CoolPanel3MouseMove(watched, e->buttons(), p.x(), p.y());
      return false;
    }
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      // A press and release on the logo without moving the window is New;
      // a drag that starts on the logo only moves the window.
      if (watched == Image1 && image1Pressed_ && e->button() == Qt::LeftButton) {
        image1Pressed_ = false;
        if (!image1Dragged_ && Image1->rect().contains(e->position().toPoint())) Image1Click();
      }
      return false;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void TForm11::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) {
    if (isActiveWindow())
      FormActivate();
    else
      FormDeactivate();
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

void TForm11::CoolBtn1Click() {
  if (Tuning->isVisible()) {
    Tuning->hide();  // offers to save a modified set
  } else {
    // At most one set editor is visible; every set with a file is read again,
    // so windows that share a set file all show it as last saved.
    for (TForm11* w : FormList)
      if (w && w->Tuning->isVisible()) w->Tuning->hide();
    for (TForm11* w : FormList)
      if (w) w->Tuning->ReloadSet();
    Tuning->show();
  }
  CoolLabel3->setText(FileNamePart(Tuning->FileName));
}

void TForm11::Timer2Timer() {
  if (Tuning->isVisible()) CoolLabel3->setText(FileNamePart(Tuning->FileName));
}

void TForm11::MidiIn1Click() {
  if (MidiIn1->isChecked()) {
    // One window at a time holds MIDI input.
    for (TForm11* w : FormList) {
      if (w && w->MidiIn1->isChecked()) {
        w->MidiIn1->setChecked(false);
        w->MidiIn1Click();
      }
    }
    MidiIn1->setChecked(true);
    Receiver.SetWindow(this);
    MidiDevice = std::make_unique<midi::CMIDIInDevice>(Receiver);
    try {
      MidiDevice->Open(Tuning->Device1->currentIndex());
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
  const std::set<int> held = std::exchange(midiHeld_, {});
  for (int key : held) Keys1->NoteOff(key, 0, true);
}

bool TForm11::event(QEvent* event) {
  if (auto* message = platform::AsWindowMessage(event)) {
    if (message->Msg == platform::WM_PLAYERNOTIFY) PlayerNotify(*message);
    return true;
  }
  return QWidget::event(event);
}

void TForm11::PlayerNotify(platform::WindowMessageEvent& message) {
  switch (message.LParam) {
    case platform::PN_KEYDOWN:
      midiHeld_.insert(static_cast<int>(message.WParam));
      Keys1->NoteOn(static_cast<int>(message.WParam), 0, true);
      break;
    case platform::PN_KEYUP:
      midiHeld_.erase(static_cast<int>(message.WParam));
      Keys1->NoteOff(static_cast<int>(message.WParam), 0, true);
      break;
    default:
      break;  // other codes are not for this window
  }
}
