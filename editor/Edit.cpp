#include "editor/Edit.h"

#include "controls/SlidePan.h"
#include "editor/KeyEditRules.h"
#include "editor/ShellBrowser.h"
#include "platform/SettingsStore.h"
#include "platform/WindowMessages.h"
#include "platform/WindowPlacement.h"
#include "player/Tplayerbase.h"
#include "sets/ArchivePath.h"
#include "sets/LocalPath.h"
#include "sets/Prop.h"
#include "video/Video.h"
#include "waveform/PeakReader.h"
#include "waveform/WaveformView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

TEdit1* Edit1 = nullptr;
std::function<std::shared_ptr<engine::MediaGraph>()> TEdit1::MakeGraph;

namespace {

constexpr int kToolPanelHeight = 50;
constexpr int kWaveformHeight = 72;

// Where the tree starts on a first run: the user's music, not the program's
// folder, which on this system is a build or system folder.
QString FirstFolder() {
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (!music.isEmpty() && QFileInfo(music).isDir()) return music;
  return QDir::homePath();
}

}  // namespace

TEdit1::TEdit1(QWidget* parent) : QWidget(parent, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  resize(718, 438);
  setWindowTitle(QStringLiteral("Multimedia player"));

  BuildToolPanel();

  SlidePanel1 = new controls::TSlidePanel(this);
  SlidePanel1->SetHandlePosition(controls::hpRight);
  SlidePanel1->SetSlideType(controls::stFull);
  SlidePanel1->SetMinSize(8);
  SlidePanel1->SetMaxSize(0);
  SlidePanel1->SetHandleVisible(true);
  Stv = new keyedit::TShellTree(SlidePanel1);
  auto* treeBox = new QHBoxLayout(SlidePanel1);
  // The handle takes the panel's right edge.
  treeBox->setContentsMargins(1, 1, 7, 1);
  treeBox->addWidget(Stv);

  flist = new keyedit::TShellList(this);
  flist->setToolTip(QStringLiteral("Double Click"));

  auto* browse = new QHBoxLayout;
  browse->setContentsMargins(0, 0, 0, 0);
  browse->setSpacing(0);
  browse->addWidget(SlidePanel1);
  browse->addWidget(flist, 1);
  SlidePanel1->setFixedWidth(209);
  Waveform = new waveform::WaveformView(this);
  Waveform->setFixedHeight(kWaveformHeight);
  WaveReader = new waveform::PeakReader(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ToolPanel);
  layout->addWidget(Waveform);
  layout->addLayout(browse, 1);

  Timer1 = new QTimer(this);
  Timer1->setInterval(10);
  connect(Timer1, &QTimer::timeout, this, &TEdit1::Timer1Timer);

  connect(Stv, &keyedit::TShellTree::PathChanged, flist, &keyedit::TShellList::SetFolder);
  connect(flist, &QAbstractItemView::clicked, this, [this] { flistClick(); });
  connect(flist, &QAbstractItemView::doubleClicked, this, [this] { flistDblClick(); });
  connect(flist, &keyedit::TShellList::EntryChosen, this, [this] { flistDblClick(); });
  connect(CoolBtn4, &QPushButton::clicked, this, [this] { flistDblClick(); });
  connect(CoolBtn1, &QPushButton::clicked, this, [this] { CoolBtn1Click(); });
  connect(CoolBtn2, &QPushButton::clicked, this, [this] { CoolBtn2Click(); });
  connect(CoolBtn3, &QPushButton::clicked, this, [this] { CoolBtn3Click(); });
  connect(CoolScrollbar1, &QSlider::valueChanged, this, [this] { CoolScrollbar1Change(); });
  connect(Slider1, &QSlider::valueChanged, this, [this] { Slider1Change(); });
  connect(Label, &QLineEdit::textChanged, this, [this] { LabelChange(); });
  // Leaving a box stores it even when unchanged, which editingFinished
  // would not report.
  for (QLineEdit* box : {Min, Max, Rate}) box->installEventFilter(this);
  connect(Min, &QLineEdit::textChanged, this, &TEdit1::ShowMarksOnWaveform);
  connect(Max, &QLineEdit::textChanged, this, &TEdit1::ShowMarksOnWaveform);
  connect(Waveform, &waveform::WaveformView::StartDragged, this, &TEdit1::WaveformStartDragged);
  connect(Waveform, &waveform::WaveformView::StopDragged, this, &TEdit1::WaveformStopDragged);
  connect(Waveform, &waveform::WaveformView::PlayFrom, this, &TEdit1::WaveformPlayFrom);
  connect(WaveReader, &waveform::PeakReader::Progress, Waveform,
          &waveform::WaveformView::SetReading);
  connect(WaveReader, &waveform::PeakReader::Ready, Waveform,
          [this](const QString&, std::shared_ptr<const waveform::Peaks> peaks) {
            Waveform->SetPeaks(std::move(peaks));
          });
  connect(WaveReader, &waveform::PeakReader::Failed, Waveform,
          &waveform::WaveformView::SetNoWaveform);

  FormCreate();
}

TEdit1::~TEdit1() {
  if (TTuning::Editor == this) TTuning::Editor = nullptr;
  destroyed_ = true;
  FormDestroy();
  DestroyPreview();
}

void TEdit1::BuildToolPanel() {
  ToolPanel = new QFrame(this);
  ToolPanel->setFrameShape(QFrame::StyledPanel);
  ToolPanel->setFixedHeight(kToolPanelHeight);

  CoolBtn1 = new QPushButton(ToolPanel);
  CoolBtn1->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
  CoolBtn1->setToolTip(QStringLiteral("Up one level"));
  CoolBtn1->setGeometry(4, 4, 30, 26);
  CoolBtn4 = new QPushButton(QStringLiteral("Add"), ToolPanel);
  CoolBtn4->setGeometry(36, 4, 34, 26);

  auto caption = [this](const QString& text, int x) {
    auto* label = new QLabel(text, ToolPanel);
    label->setGeometry(x, 2, 60, 14);
    return label;
  };
  auto box = [this](const QString& text, int x, int width) {
    auto* edit = new QLineEdit(text, ToolPanel);
    edit->setGeometry(x, 18, width, 24);
    return edit;
  };
  LabelCaption = caption(QStringLiteral("Label"), 76);
  Label = box(QStringLiteral("Label"), 76, 120);
  Label->setToolTip(QStringLiteral("Assign your label"));
  FileCaption = caption(QStringLiteral("File"), 200);
  SFil = box(QString(), 200, 150);
  SFil->setReadOnly(true);
  SFil->setToolTip(QStringLiteral("Path of the song"));
  MinCaption = caption(QStringLiteral("Min"), 354);
  Min = box(QStringLiteral("0"), 354, 42);
  MaxCaption = caption(QStringLiteral("Max"), 400);
  Max = box(QStringLiteral("10000"), 400, 42);
  RateCaption = caption(QStringLiteral("Rate"), 446);
  Rate = box(QStringLiteral("100"), 446, 42);
  for (QLineEdit* edit : {Min, Max, Rate}) edit->setAlignment(Qt::AlignCenter);

  CoolPanel1 = new QFrame(ToolPanel);
  CoolPanel1->setFrameShape(QFrame::StyledPanel);
  CoolPanel1->setGeometry(0, 0, 220, kToolPanelHeight);
  CoolBtn2 = new QPushButton(CoolPanel1);
  CoolBtn2->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  CoolBtn2->setToolTip(QStringLiteral("Play"));
  CoolBtn2->setGeometry(2, 4, 28, 26);
  CoolBtn3 = new QPushButton(CoolPanel1);
  CoolBtn3->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  CoolBtn3->setToolTip(QStringLiteral("Stop"));
  CoolBtn3->setGeometry(32, 4, 28, 26);
  // A track bar, as the keyboard window's: a scroll bar's arrows would take
  // all of the panel's height and leave no track.
  CoolScrollbar1 = new QSlider(Qt::Vertical, CoolPanel1);
  CoolScrollbar1->setToolTip(QStringLiteral("Volume"));
  CoolScrollbar1->setRange(0, 100);
  CoolScrollbar1->setPageStep(1);
  CoolScrollbar1->setInvertedAppearance(true);  // top = 0 = loudest
  CoolScrollbar1->setValue(10);
  CoolScrollbar1->setGeometry(62, 2, 16, kToolPanelHeight - 4);
  Slider1 = new QSlider(Qt::Horizontal, CoolPanel1);
  Slider1->setToolTip(QStringLiteral("Position"));
  Slider1->setRange(0, 1000);
  Slider1->setValue(10);
  Slider1->setGeometry(80, 4, 136, 20);
  Auto = new QCheckBox(QStringLiteral("Auto Play"), CoolPanel1);
  Auto->setGeometry(80, 26, 136, 20);
  // Tool buttons leave the keyboard where it was: in the file list, which
  // takes Return as "Add" and type-ahead to find an entry.
  for (QPushButton* button : {CoolBtn1, CoolBtn4, CoolBtn2, CoolBtn3})
    button->setFocusPolicy(Qt::NoFocus);
  ToolPanel->installEventFilter(this);
}

void TEdit1::LayOutToolPanel() {
  const keyedit::ToolPanelPlaces p = keyedit::PlaceToolPanel(ToolPanel->width(), setEditorMode_);
  auto across = [](QWidget* w, int x, int width) { w->setGeometry(x, w->y(), width, w->height()); };
  // Each caption takes its box's width, so none reaches over its neighbour.
  const std::pair<QLabel*, QLineEdit*> columns[] = {{LabelCaption, Label},
                                                    {FileCaption, SFil},
                                                    {MinCaption, Min},
                                                    {MaxCaption, Max},
                                                    {RateCaption, Rate}};
  const int xs[] = {p.labelX, p.fileX, p.minX, p.maxX, p.rateX};
  const int widths[] = {p.labelWidth, p.fileWidth, Min->width(), Max->width(), Rate->width()};
  for (int i = 0; i < 5; ++i) {
    across(columns[i].first, xs[i], widths[i]);
    across(columns[i].second, xs[i], widths[i]);
  }
  across(CoolPanel1, p.playerX, p.playerWidth);
  // The position slider and "Auto Play" take what the panel has left.
  across(Slider1, Slider1->x(), p.playerWidth - Slider1->x() - 4);
  across(Auto, Auto->x(), p.playerWidth - Auto->x() - 4);
}

QList<QWidget*> TEdit1::SetEditorControls() const {
  return {Label,       SFil,       Min,        Max,         Rate,    LabelCaption,
          FileCaption, MinCaption, MaxCaption, RateCaption, CoolBtn4};
}

void TEdit1::SetTuning(TTuning* tuning) {
  disconnect(rowWatch_);
  tuning_ = tuning;
  if (tuning)
    rowWatch_ = connect(tuning, &TTuning::SelectedRowChanged, this, &TEdit1::SetEditorRowChanged);
}

void TEdit1::ShowCells(const KeyRow& cells) {
  // Showing a row is no edit of it.
  const QSignalBlocker quiet(Label);
  Label->setText(cells.Label);
  SFil->setText(cells.File);
  Min->setText(cells.Min);
  Max->setText(cells.Max);
  Rate->setText(cells.Rate);
  ShowRowWaveform(cells.File);
}

void TEdit1::EditRow(TTuning* tuning, int row) {
  hide();
  SetTuning(tuning);
  const KeyRow& cells = tuning->Set.Row(row);
  ShowCells(cells);
  // An empty row leaves the tree where the user browsed last: the program's
  // folder is a build or system folder here, no place to look for clips.
  if (!cells.File.isEmpty()) Stv->SetPath(LocalFolderOf(cells.File));
  show();
}

void TEdit1::SetEditorHidden(TTuning*) {
  if (!isVisible()) return;
  // Shown again detached. It takes the keys only if it had them: a set
  // editor that a group's key hid leaves them to the window being played.
  const bool active = isActiveWindow();
  hide();
  SetTuning(nullptr);
  if (active)
    show();
  else
    platform::ShowWithoutActivating(this);
}

void TEdit1::SetEditorGone(TTuning* tuning) {
  if (Tuning() == tuning) SetTuning(nullptr);
}

void TEdit1::SetEditorRowChanged(int row, int previous) {
  TTuning* tuning = Tuning();
  if (!isVisible() || !tuning || !tuning->isVisible()) return;
  // The boxes show one row and edit that row, whatever chose another one. A
  // value typed for the row that was shown, and not stored yet because its
  // box still has the focus, goes to that row first.
  if (previous >= 0 && previous < tuning->Set.RowCount()) {
    if (Min->isModified()) StoreBox(tuning, previous, Min, kMinColumn, &keyedit::CorrectMin);
    if (Max->isModified()) StoreBox(tuning, previous, Max, kMaxColumn, &keyedit::CorrectMax);
    if (Rate->isModified()) StoreBox(tuning, previous, Rate, kRateColumn, &keyedit::CorrectRate);
  }
  if (row >= 0 && row < tuning->Set.RowCount()) ShowCells(tuning->Set.Row(row));
}

TTuning* TEdit1::Tuning() const {
  return static_cast<TTuning*>(tuning_.data());
}

TTuning* TEdit1::EditedTuning() const {
  TTuning* tuning = Tuning();
  if (!isVisible() || !tuning || !tuning->isVisible() || tuning->SelectedRow() < 0) return nullptr;
  return tuning;
}

void TEdit1::FormCreate() {
  platform::SettingsStore store;
  QString folder;
  if (store.OpenKeyReadOnly(platform::kRootKey)) {
    try {
      folder = store.ReadString(kLastFolderValue);
    } catch (const platform::SettingsError&) {
    }
    // The first value that can't be read ends the reading; what follows
    // keeps the form's default.
    try {
      const int top = store.ReadInteger(QStringLiteral("etop"));
      const int left = store.ReadInteger(QStringLiteral("eleft"));
      move(left, top);
      const int width = store.ReadInteger(QStringLiteral("ewidth"));
      resize(width, height());
      const int h = store.ReadInteger(QStringLiteral("eheight"));
      resize(width, h);
      Auto->setChecked(store.ReadBool(QStringLiteral("autoplay")));
    } catch (const platform::SettingsError&) {
    }
  }
  flist->SetMask(QString::fromUtf8(kMask));
  Stv->SetPath(!folder.isEmpty() && QFileInfo(folder).exists() ? folder : FirstFolder());
}

void TEdit1::FormDestroy() {
  try {
    platform::SettingsStore store;
    if (!store.OpenKey(platform::kRootKey, true)) return;
    store.WriteInteger(QStringLiteral("etop"), y());
    store.WriteInteger(QStringLiteral("eleft"), x());
    store.WriteInteger(QStringLiteral("ewidth"), width());
    store.WriteInteger(QStringLiteral("eheight"), height());
    store.WriteBool(QStringLiteral("autoplay"), Auto->isChecked());
    store.WriteString(kLastFolderValue, Stv->Path());
    store.CloseKey();
  } catch (const platform::SettingsError&) {
  }
}

void TEdit1::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !placed_) {
    placed_ = true;
    const QWidget* owner = Tuning() ? Tuning()->parentWidget() : QApplication::activeWindow();
    // Larger than its screen (a small one, or a 2x scale) it is cut to it:
    // the tool panel gives up room first.
    resize(size().boundedTo(platform::LargestClient(this, owner)));
    QList<QRect> keepInSight;
    if (Tuning() && Tuning()->isVisible()) keepInSight << Tuning()->ToolBarBand();
    platform::PlaceOnScreen(this, owner, keepInSight);
  }
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TEdit1::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous() && !destroyed_) FormHide();
}

void TEdit1::FormShow() {
  // A show while already shown (a nested show) keeps the running preview.
  if (!Player) {
    Player = MakeGraph ? new TPlayer(this, 0, MakeGraph()) : new TPlayer(this, 0);
    Player->SetOutputName(QStringLiteral("Tastivo preview"));
    Video = new TVideo1(this, kVideoInstance);
    Video->Player = Player;
    Player->HandleVideo(Video->Handle());
    Player->UseAudioDevice = false;
    Player->AutoPlay = true;
    clipLoaded_ = false;
  }
  Timer1->start();
  TTuning* tuning = Tuning();
  setEditorMode_ = tuning && tuning->isVisible();
  for (QWidget* control : SetEditorControls()) control->setVisible(setEditorMode_);
  setWindowTitle(setEditorMode_ ? QStringLiteral("Set Editor")
                                : QStringLiteral("Multimedia player"));
  LayOutToolPanel();
  Waveform->SetMarksShown(setEditorMode_);
  if (setEditorMode_ && tuning->SelectedRow() >= 0)
    ShowRowWaveform(tuning->Set.Row(tuning->SelectedRow()).File);
  else if (!setEditorMode_)
    ShowWaveformOf(QString());
  flist->setFocus();
}

void TEdit1::FormHide() {
  Timer1->stop();
  DestroyPreview();
  // Read again, from the cache, when shown again.
  WaveReader->Cancel();
  waveFile_.clear();
}

void TEdit1::DestroyPreview() {
  clipLoaded_ = false;
  delete Video;
  Video = nullptr;
  delete Player;
  Player = nullptr;
}

void TEdit1::LabelChange() {
  TTuning* tuning = EditedTuning();
  if (!tuning) return;
  tuning->Set.SetCell(tuning->SelectedRow(), kLabelColumn, Label->text());
  tuning->Modified = true;
}

void TEdit1::CorrectAndStore(QLineEdit* box, int column, QString (*correct)(const QString&)) {
  if (TTuning* tuning = EditedTuning())
    StoreBox(tuning, tuning->SelectedRow(), box, column, correct);
}

void TEdit1::StoreBox(TTuning* tuning, int row, QLineEdit* box, int column,
                      QString (*correct)(const QString&)) {
  const QString text = correct(box->text());
  if (text != box->text()) box->setText(text);
  // Stored: nothing typed is waiting for a row any more.
  box->setModified(false);
  tuning->Set.SetCell(row, column, text);
  tuning->Modified = true;
}

void TEdit1::MinChange() {
  CorrectAndStore(Min, kMinColumn, &keyedit::CorrectMin);
}

void TEdit1::MaxChange() {
  CorrectAndStore(Max, kMaxColumn, &keyedit::CorrectMax);
}

void TEdit1::RateChange() {
  CorrectAndStore(Rate, kRateColumn, &keyedit::CorrectRate);
}

bool TEdit1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ToolPanel && event->type() == QEvent::Resize) LayOutToolPanel();
  if (event->type() == QEvent::FocusOut) {
    if (watched == Min) MinChange();
    if (watched == Max) MaxChange();
    if (watched == Rate) RateChange();
  }
  return QWidget::eventFilter(watched, event);
}

QString TEdit1::SelectedPath() const {
  const int row = flist->SelectedRow();
  return row < 0 ? QString() : flist->FullPath(row);
}

QString TEdit1::PlayableFile(const QString& path) {
  const QString extracted = ExtractArchiveEntry(path, nullptr);
  // An entry that can't be had is handed on as it is, so the player reports
  // the missing file the way it does for any other.
  return extracted.isEmpty() ? path : extracted;
}

void TEdit1::OpenInPlayer(const QString& path) {
  if (!Player) return;
  const QString file = PlayableFile(path);
  if (!setEditorMode_) ShowWaveformOf(file);
  Player->Open(file);
}

void TEdit1::ShowRowWaveform(const QString& stored) {
  const TTuning* tuning = Tuning();
  const QString setFolder = tuning && !tuning->FileName.isEmpty()
                                ? QFileInfo(tuning->FileName).absolutePath()
                                : QString();
  const ClipLocation location = ResolveClip(stored, setFolder);
  ShowWaveformOf(location.found ? location.path : QString());
}

void TEdit1::ShowWaveformOf(const QString& file) {
  if (file.isEmpty()) {
    WaveReader->Cancel();
    Waveform->Clear();
  } else {
    if (file != waveFile_ || WaveReader->Path() != file) Waveform->SetReading(-1);
    // The same file again is read again only when it changed.
    WaveReader->Read(file);
  }
  waveFile_ = file;
  Waveform->SetPosition(-1);
  ShowMarksOnWaveform();
}

void TEdit1::ShowMarksOnWaveform() {
  Waveform->SetMarks(keyedit::CorrectMin(Min->text()).toInt(),
                     keyedit::CorrectMax(Max->text()).toInt());
}

// A mark dragged on the waveform is stored as if its value had been typed
// into its box and the box left.
void TEdit1::WaveformStartDragged(int value) {
  Min->setText(QString::number(value));
  Min->setModified(true);
  MinChange();
}

void TEdit1::WaveformStopDragged(int value) {
  Max->setText(QString::number(value));
  Max->setModified(true);
  MaxChange();
}

void TEdit1::WaveformPlayFrom(int value) {
  if (!Player || waveFile_.isEmpty()) return;
  if (!clipLoaded_ || Player->FileName != waveFile_) {
    Player->Open(waveFile_);
    Player->SetRelativeVolume(100, 1, 0, 0, CoolScrollbar1->value());
  }
  if (!clipLoaded_) return;
  Player->SetRelativePosition(waveform::kScale, value, 0);
  if (Player->State != fsPlaying) Player->Play();
}

void TEdit1::flistClick() {
  const int row = flist->SelectedRow();
  if (row < 0) return;
  const QString path = flist->FullPath(row);
  // A folder is entered whatever its name: "Vol. 2" has no extension to go by.
  if (flist->IsFolder(row) || keyedit::EntersLikeFolder(flist->Caption(row))) {
    Stv->SetPath(path);
    return;
  }
  if (Auto->isChecked()) OpenInPlayer(path);
}

void TEdit1::flistDblClick() {
  if (flist->SelectedRow() < 0) {
    if (flist->Count() == 0) return;
    flist->SelectEntry(0);
  }
  const int row = flist->SelectedRow();
  if (row < 0) return;  // the first entry can't be chosen (a broken name)
  const QString path = flist->FullPath(row);
  const QString caption = flist->Caption(row);
  if (flist->IsFolder(row) || keyedit::EntersLikeFolder(caption)) {
    Stv->SetPath(path);
    return;
  }
  TTuning* tuning = Tuning();
  if (!tuning || !tuning->isVisible()) {
    OpenInPlayer(path);
    return;
  }
  if (tuning->SelectedRow() < 0) tuning->SelectRow(0);
  const int target = tuning->SelectedRow();
  if (target < 0) return;
  keyedit::StoreAddedClip(tuning->Set, target, keyedit::RelativeToProgram(path, ProgramFolder()));
  SFil->setText(QDir::toNativeSeparators(Stv->Path() + '/' + caption));
  Label->setText(QString());
  Label->setText(caption);
  tuning->Modified = true;
  if (target + 1 < tuning->Set.RowCount()) tuning->SelectRow(target + 1);
}

void TEdit1::CoolBtn1Click() {
  Stv->SetPath(keyedit::UpOneLevel(Stv->Path()));
}

void TEdit1::CoolBtn2Click() {
  const int row = flist->SelectedRow();
  if (row < 0 || !Player) return;
  if (flist->IsFolder(row) || keyedit::EntersLikeFolder(flist->Caption(row))) return;
  OpenInPlayer(flist->FullPath(row));
  Player->SetRelativeVolume(100, 1, 0, 0, CoolScrollbar1->value());
}

void TEdit1::CoolBtn3Click() {
  if (Player && Player->State == fsPlaying) Player->Stop();
}

void TEdit1::CoolScrollbar1Change() {
  if (Player) Player->SetRelativeVolume(100, 1, 0, 0, CoolScrollbar1->value());
}

void TEdit1::Slider1Change() {
  if (Player && clipLoaded_) Player->SetRelativePosition(1000, Slider1->value(), 0);
}

void TEdit1::Timer1Timer() {
  if (!Player) return;
  // The position is read once, on the waveform's finer scale; the slider's
  // 0..1000 is the same reading (both scales floor the same fraction).
  static_assert(waveform::kScale % 1000 == 0);
  int fine = 0;
  int volume = CoolScrollbar1->value();
  // A clip whose position or volume can't be read stops being followed
  // instead of raising an error box every 10 ms.
  if (clipLoaded_) {
    try {
      fine = static_cast<int>(Player->GetRelativePosition(waveform::kScale, 0));
      volume = Player->GetRelativeVolume(100, 1, 0);
    } catch (const std::exception&) {
      clipLoaded_ = false;
      fine = 0;
    }
  }
  {
    const QSignalBlocker blocker(Slider1);
    Slider1->setValue(fine / (waveform::kScale / 1000));
  }
  const bool shown = clipLoaded_ && !waveFile_.isEmpty() && Player->FileName == waveFile_;
  Waveform->SetPosition(shown ? fine : -1);
  if (clipLoaded_) {
    // Showing the volume read back must not set it again.
    const QSignalBlocker blocker(CoolScrollbar1);
    CoolScrollbar1->setValue(volume);
  }
}

bool TEdit1::event(QEvent* event) {
  if (auto* message = platform::AsWindowMessage(event)) {
    if (message->Msg == platform::WM_PLAYERNOTIFY) PlayerNotify(static_cast<int>(message->LParam));
    return true;
  }
  return QWidget::event(event);
}

void TEdit1::PlayerNotify(int code) {
  switch (code) {
    case platform::PN_VIDEO: {
      if (!Video) break;
      if (Video->isVisible()) {
        Video->FormHide();
        Video->FormShow();
      } else {
        Video->show();
      }
      const QString caption = QStringLiteral("Tastivo video") + QStringLiteral(": ") +
                              QDir::toNativeSeparators(SelectedPath());
      Video->setWindowTitle(caption);
      setWindowTitle(caption);
      break;
    }
    case platform::PN_NOVIDEO:
      if (Video && Video->isVisible()) Video->hide();
      setWindowTitle(QStringLiteral("Tastivo audio: ") + QDir::toNativeSeparators(SelectedPath()));
      break;
    case platform::PN_OPENFAILED:
      clipLoaded_ = false;
      if (Player) Player->Close();
      break;
    // Whether position and volume can be read: the editor follows them only
    // while a clip is loaded.
    case platform::PN_LOADED:
      clipLoaded_ = true;
      break;
    case platform::PN_CLOSED:
      clipLoaded_ = false;
      break;
    default:
      break;
  }
}
