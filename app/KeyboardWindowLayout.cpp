// The keyboard window's controls with their design values and bindings.

#include "app/PlayRules.h"
#include "app/morvela1.h"
#include "controls/Colors.h"
#include "waveform/PeakReader.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr int kClientWidth = 635;
constexpr int kClientHeight = 207;

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

void TForm11::BuildControls() {
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
  BuildCaptionBar();
  BuildTransportRow();
  BuildPositionRow();
  BuildKeyboard();
  BuildSideBars();
  BuildTimers();
  ConnectControls();
  SetCaptionBarLabels();
}

// The caption bar: the drag area, ending 35 pixels below the window's top.
void TForm11::BuildCaptionBar() {
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
}

void TForm11::BuildTransportRow() {
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
}

// The marks' and the position's displays over the range slider.
void TForm11::BuildPositionRow() {
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

  slidePeaks_ = new waveform::PeakReader(this);
  connect(
      slidePeaks_, &waveform::PeakReader::Ready, this,
      [this](const QString&, std::shared_ptr<const waveform::Peaks> peaks) {
        // A few columns per ruler pixel: the slider folds them to its length.
        constexpr int kColumns = 2048;
        std::vector<std::pair<float, float>> envelope;
        envelope.reserve(kColumns);
        for (const waveform::Column& c : waveform::Columns(*peaks, kColumns, 0, waveform::kScale))
          envelope.emplace_back(c.low, c.high);
        Slider1->SetWaveform(std::move(envelope));
      });
  connect(slidePeaks_, &waveform::PeakReader::Failed, this, [this] { Slider1->SetWaveform({}); });
  // Keys played in a fast run are passed over: each would start reading a
  // clip, and the next key would cancel it unfinished. The delay only holds
  // back a picture.
  slideWaveTimer_ = new QTimer(this);
  slideWaveTimer_->setSingleShot(true);
  slideWaveTimer_->setInterval(300);
  connect(slideWaveTimer_, &QTimer::timeout, this, [this] { slidePeaks_->Read(slideWaveFile_); });
}

void TForm11::BuildKeyboard() {
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
}

// The volume and rate bars at the right edge.
void TForm11::BuildSideBars() {
  CoolScrollbar1 = new QSlider(Qt::Vertical, this);
  CoolScrollbar1->setGeometry(592, 40, 14, 150);
  CoolScrollbar1->setRange(0, 100);
  CoolScrollbar1->setInvertedAppearance(true);  // top = 0 = loudest
  CoolScrollbar1->setValue(10);
  Rate1 = new QSlider(Qt::Vertical, this);
  Rate1->setGeometry(612, 40, 14, 150);
  Rate1->setRange(1, 300);
  Rate1->setValue(100);
  // Their hints ("Volume", "Rate 100/100") show in the window's own hint
  // window while the mouse moves over them, never as system tooltips.
  for (auto* bar : {CoolScrollbar1, Rate1}) {
    bar->setFocusPolicy(Qt::NoFocus);
    bar->setMouseTracking(true);
    bar->installEventFilter(this);
  }
}

void TForm11::BuildTimers() {
  // The timers start only once the window is whole (end of construction):
  // a message box shown while the set editor is being made runs an event
  // loop of its own, and a tick must not find the window half-built.
  Timer1 = new app::RefreshTimer(this);
  Timer1->setInterval(kRefreshIntervalMs);
  KTHint = new QTimer(this);
  KTHint->setInterval(1000);
  Timer2 = new QTimer(this);
  Timer2->setInterval(1000);
}

void TForm11::ConnectControls() {
  connect(CoolCaptionBtn4, &QToolButton::clicked, this, [this] { Image1Click(); });
  connect(CoolCaptionBtn1, &QToolButton::clicked, this, [this] { CoolCaptionBtn1Click(); });
  connect(CoolCaptionBtn2, &QToolButton::clicked, this, [this] { CoolCaptionBtn2Click(); });
  connect(minimize, &QToolButton::clicked, this, [this] { minimizeClick(); });
  connect(CoolBtn1, &QPushButton::clicked, this, [this] { CoolBtn1Click(); });
  connect(MidiIn1, &QCheckBox::clicked, this, [this] { MidiIn1Click(); });
  connect(CoolBtn2, &QPushButton::clicked, this, [this] { CoolBtn2Click(); });
  connect(Stop, &QPushButton::clicked, this, [this] { StopClick(); });
  connect(CoolBtn3, &QPushButton::clicked, this, [this] { CoolBtn3Click(); });
  connect(Loop, &QCheckBox::clicked, this, [this] { LoopClick(); });
  connect(Sustain, &QCheckBox::clicked, this, [this] { SustainClick(); });
  // Ticked or unticked by the user, a group's stop or the settings alike.
  connect(Loop, &QCheckBox::toggled, this, [this] { PublishEndOfClip(); });
  connect(Sustain, &QCheckBox::toggled, this, [this] { PublishEndOfClip(); });
  connect(Timer1, &app::RefreshTimer::timeout, this, [this] { Timer1Timer(); });
  connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
  connect(KTHint, &QTimer::timeout, this, [this] { KTHintTimer(); });
  connect(CoolScrollbar1, &QSlider::valueChanged, this, [this] { CoolScrollbar2Change(); });
  connect(Rate1, &QSlider::valueChanged, this, [this] { Rate1Change(); });
  Keys1->OnNoteOn = [this](QObject* sender, int note, int velocity) {
    Keys1NoteOn(sender, note, velocity);
  };
  Keys1->OnNoteOff = [this](QObject* sender, int note, int velocity) {
    Keys1NoteOff(sender, note, velocity);
  };
  Keys1->OnMouseOn = [this](QObject* sender, int note, int velocity) {
    Keys1MouseOn(sender, note, velocity);
  };
  AttachSliderHandlers();
  Slider1->OnPosChange = [this](QObject* sender, int value) { Slider1PosChange(sender, value); };
  // The current-key display answers any mouse button.
  for (QWidget* w : std::initializer_list<QWidget*>{LKey1, Label1}) w->installEventFilter(this);
  for (QWidget* w :
       std::initializer_list<QWidget*>{CoolPanel3, CoolLabel1, CoolLabel2, Image1, CoolLabel3})
    w->installEventFilter(this);
}
