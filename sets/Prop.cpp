#include "sets/Prop.h"

#include "platform/Dialogs.h"
#include "platform/SettingsStore.h"
#include "platform/WindowPlacement.h"
#include "platform/midi/MidiDeviceList.h"
#include "platform/midi/MidiPorts.h"
#include "sets/KeySetModel.h"
#include "sets/LocalPath.h"
#include "sets/ScrollingText.h"
#include "sets/SetFile.h"
#include "sets/SetGrid.h"
#include "sets/SetListPrint.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using platform::IDCANCEL;
using platform::IDOK;
using platform::IDYES;

namespace {

constexpr int kSetPage = 0;
constexpr int kOptionsPage = 1;
constexpr int kPrintPage = 2;
constexpr const char* kSaveQuestion = "List modified. Save?";

bool KnownListLess(const QString& a, const QString& b) {
  const int folded = a.compare(b, Qt::CaseInsensitive);
  return folded != 0 ? folded < 0 : a < b;
}

// The folder a set file dialog starts in when the set has no file yet: the
// last one a set was chosen in, else the user's home (the program's own
// folder is no place for the user's sets).
QString LastSetFolder() {
  platform::SettingsStore store;
  if (store.OpenKeyReadOnly(platform::kRootKey)) {
    try {
      const QString folder = store.ReadString(TTuning::kLastFolderValue);
      if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    } catch (const platform::SettingsError&) {
    }
  }
  return QDir::homePath();
}

QLabel* Heading(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

}  // namespace

RowEditor* TTuning::Editor = nullptr;
std::function<QWidget*(QWidget*)> TTuning::ExtraOptions;
std::function<QWidget*(QWidget*, int)> TTuning::SoundOptions;

TTuning::TTuning(QWidget* owner, int instance) : QWidget(owner, Qt::Window), Instance(instance) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  resize(598, 834);
  model_ = new KeySetModel(Set, this);

  CoolPageControl1 = new QTabWidget(this);
  CoolPageControl1->addTab(BuildSetPage(), QStringLiteral("Set Editor"));
  // The options scroll in a short window rather than hold it tall: a set
  // editor cut to fit beside a keyboard window keeps them all in reach.
  auto* options = new QScrollArea(CoolPageControl1);
  options->setWidget(BuildOptionsPage());
  options->setWidgetResizable(true);
  options->setFrameShape(QFrame::NoFrame);
  CoolPageControl1->addTab(options, QStringLiteral("Options"));
  PrintPage = new SetListPrintPage(
      Set, [this] { return ColumnWidths(); }, CoolPageControl1);
  CoolPageControl1->addTab(PrintPage, QStringLiteral("Print"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(CoolPageControl1);
  connect(CoolPageControl1, &QTabWidget::currentChanged, this, &TTuning::CoolPageControl1Change);
  connect(PrintPage, &SetListPrintPage::CloseRequested, this,
          [this] { CoolPageControl1->setCurrentIndex(kSetPage); });

  InitRows(0, Set.RowCount());
  Modified = false;
  // Every change of a row's File, from whichever window, looks for its clip
  // right away, so that playing the key later looks for nothing.
  connect(model_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& first, const QModelIndex& last) {
            if (!clipsDeferred_) ResolveRows(first.row(), last.row());
          });
  connect(model_, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) {
            if (!clipsDeferred_) ResolveRows(first, last);
          });
  FormCreate();
  whole_ = true;
}

TTuning::~TTuning() {
  destroying_ = true;
  FormDestroy();
  // The key editor must never point at a set editor that is gone.
  if (Editor) Editor->SetEditorGone(this);
  // The model observes Set, which is destroyed after the children.
  delete model_;
  model_ = nullptr;
}

QWidget* TTuning::BuildSetPage() {
  auto* page = new QWidget(this);
  auto* box = new QVBoxLayout(page);
  auto* buttons = new QHBoxLayout;
  New = new QPushButton(QStringLiteral("New"), page);
  New->setToolTip(QStringLiteral("New List, Nouvelle liste"));
  Open = new QPushButton(QStringLiteral("Open"), page);
  Open->setToolTip(QStringLiteral("Open a list, Ouvrir une liste"));
  SaveAs = new QPushButton(QStringLiteral("Save as"), page);
  SaveAs->setToolTip(QStringLiteral("Save as, Sauver la liste dans"));
  Save = new QPushButton(QStringLiteral("Save"), page);
  Save->setToolTip(QStringLiteral("Save, Sauver la liste"));
  Combo = new QComboBox(page);
  Combo->setToolTip(QStringLiteral("Known list, Listes connues"));
  Combo->setMaxVisibleItems(10);
  Combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  Combo->setMinimumContentsLength(20);
  for (QPushButton* b : {New, Open, SaveAs, Save}) buttons->addWidget(b);
  buttons->addWidget(Combo, 1);
  box->addLayout(buttons);

  Grid = new SetGrid(page);
  Grid->setModel(model_);
  connect(Grid->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const int row = SelectedRow();
    if (row != selectedRow_) emit SelectedRowChanged(row, std::exchange(selectedRow_, row));
  });
  Grid->setToolTip(QStringLiteral("Double click"));
  const ColumnWidthArray widths = Grid->ContentWidths();
  for (int c = 0; c < kKeyColumnCount; ++c) Grid->setColumnWidth(c, widths[c]);
  Grid->setColumnWidth(kLabelColumn, SetGridColumns::kPreferredShared);
  Grid->setColumnWidth(kFileColumn, SetGridColumns::kPreferredShared);
  // Until the user sizes or moves a column, the columns follow the list's
  // width; after that the user's layout is kept.
  auto customized = [this] {
    if (!fittingColumns_) layoutCustomized_ = true;
  };
  connect(Grid->horizontalHeader(), &QHeaderView::sectionResized, this, customized);
  connect(Grid->horizontalHeader(), &QHeaderView::sectionMoved, this, customized);
  Grid->installEventFilter(this);
  Grid->setContextMenuPolicy(Qt::CustomContextMenu);
  box->addWidget(Grid, 1);

  PopupMenu1 = new QMenu(this);
  Clear1 = PopupMenu1->addAction(QStringLiteral("Clear"));
  AEdit = PopupMenu1->addAction(QStringLiteral("Edit"));
  connect(Clear1, &QAction::triggered, this, &TTuning::Clear1Click);
  connect(AEdit, &QAction::triggered, this, &TTuning::AEditExecute);
  connect(Grid, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(Grid->viewport()->mapToGlobal(at)); });
  connect(Grid, &QAbstractItemView::doubleClicked, this, [this] {
    if (whole_) AEditExecute();
  });

  connect(New, &QPushButton::clicked, this, [this] { NewClick(); });
  connect(Open, &QPushButton::clicked, this, [this] { OpenClick(); });
  connect(SaveAs, &QPushButton::clicked, this, [this] { SaveAsClick(); });
  connect(Save, &QPushButton::clicked, this, [this] { SaveClick(); });
  // Only the user's choice loads a list; selecting one from code doesn't.
  connect(Combo, &QComboBox::activated, this, [this] {
    if (whole_)
      ComboChange();
    else
      SelectKnownList(shownKnownList_);
  });
  return page;
}

QWidget* TTuning::BuildOptionsPage() {
  auto* page = new QWidget(this);
  auto* grid = new QGridLayout(page);
  int row = 0;
  grid->addWidget(Heading(QStringLiteral("Main"), page), row++, 0, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Midi In  Device"), page), row, 0);
  Device1 = new QComboBox(page);
  grid->addWidget(Device1, row++, 1);
  if (SoundOptions)
    if (QWidget* sound = SoundOptions(page, Instance)) {
      grid->addWidget(new QLabel(QStringLiteral("Sound output"), page), row, 0);
      grid->addWidget(sound, row++, 1);
    }
  StayTop = new QCheckBox(QStringLiteral("  Stay on top    "), page);
  StayTop->setChecked(true);
  grid->addWidget(StayTop, row++, 0, 1, 2);

  grid->addWidget(Heading(QStringLiteral("Video"), page), row++, 0, 1, 2);
  auto option = [&](const QString& caption, bool checked, const QString& explanation,
                    ScrollingText*& text) {
    auto* box = new QCheckBox(caption, page);
    box->setChecked(checked);
    text = new ScrollingText(explanation, page);
    grid->addWidget(box, row, 0);
    grid->addWidget(text, row++, 1);
    return box;
  };
  KeepRatio = option(QStringLiteral("Keep Ratio"), false,
                     QStringLiteral("Keep the ratio of the video. The resize is constraigned in "
                                    "respect of the right proportion"),
                     RatioText);
  OriginalSize = option(
      QStringLiteral("Original size"), true,
      QStringLiteral("Open the video with the original size. The video can be resized afterwards"),
      OrigText);
  FullScreen = option(QStringLiteral("Full Screen"), false,
                      QStringLiteral("Open the video in full screen mode."), FullText);
  if (ExtraOptions)
    if (QWidget* extra = ExtraOptions(page)) grid->addWidget(extra, row++, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(row, 1);
  return page;
}

void TTuning::BindVideoOptions(QAction* ratio, QAction* orig, QAction* full) {
  for (const auto& connection : videoBindings_) disconnect(connection);
  videoBindings_.clear();
  const std::pair<QCheckBox*, QAction*> pairs[] = {
      {KeepRatio, ratio}, {OriginalSize, orig}, {FullScreen, full}};
  for (const auto& [box, action] : pairs) {
    if (!action) continue;
    box->setChecked(action->isChecked());
    videoBindings_.push_back(connect(box, &QCheckBox::clicked, action, [box, action] {
      action->trigger();
      box->setChecked(action->isChecked());
    }));
    videoBindings_.push_back(connect(action, &QAction::changed, box,
                                     [box, action] { box->setChecked(action->isChecked()); }));
  }
}

void TTuning::InitRows(int from, int to) {
  Set.InitRows(from, to);
}

void TTuning::RefreshDevices() {
  // MIDI cables come and go, and device numbers follow the current port
  // order: each entry carries its port, and the choice is kept by name.
  platform::FillMidiDeviceList(Device1, platform::MidiInputPorts());
}

void TTuning::FormCreate() {
  RefreshDevices();

  setWindowTitle(Instance == 0 ? QStringLiteral("Properties ")
                               : QStringLiteral("Properties %1").arg(Instance));

  RestoreGridLayout();
  platform::SettingsStore store;
  store.OpenKeyReadOnly(platform::InstanceKey(Instance));
  // A missing or odd value keeps the window's own defaults for itself and
  // for the values after it. The known lists are the exception: they are
  // read whatever happened before them, since losing them to an odd window
  // position would also erase them when the window writes its settings.
  bool reading = true;
  auto read = [&reading](auto&& step) {
    if (!reading) return;
    try {
      step();
    } catch (const platform::SettingsError&) {
      reading = false;
    }
  };
  read([&] { FileName = store.ReadString("last"); });
  read([&] { move(x(), store.ReadInteger("ttop")); });
  read([&] { move(store.ReadInteger("tleft"), y()); });
  read([&] { resize(store.ReadInteger("twidth"), height()); });
  read([&] { resize(width(), store.ReadInteger("theight")); });
  try {
    for (const QString& entry : store.ReadString("combo").split("\r\n", Qt::SkipEmptyParts))
      AddKnownList(entry);
  } catch (const platform::SettingsError&) {
    knownListsUnread_ = store.ValueExists("combo");
  }
  shownKnownList_.clear();  // listed, but none of them loaded yet
  try {
    const int last = store.ReadInteger("combolast");
    Combo->setCurrentIndex(last >= 0 && last < Combo->count() ? last : -1);
    ComboChange();
  } catch (const platform::SettingsError&) {
    Combo->setCurrentIndex(-1);
    reading = false;
  }
  read([&] { StayTop->setChecked(store.ReadBool("staytop")); });
  CoolPageControl1->setCurrentIndex(kSetPage);
}

void TTuning::FormDestroy() {
  SaveGridLayout();
  try {
    platform::SettingsStore store;
    store.OpenKey(platform::InstanceKey(Instance), true);
    store.WriteString("last", FileName);
    QString combo;
    for (const QString& entry : KnownLists()) combo += entry + "\r\n";
    // An empty list over one that could not be read would erase it for good.
    if (!(knownListsUnread_ && combo.isEmpty())) store.WriteString("combo", combo);
    store.WriteInteger("combolast", Combo->currentIndex());
    store.WriteInteger("ttop", y());
    store.WriteInteger("tleft", x());
    store.WriteInteger("twidth", width());
    store.WriteInteger("theight", height());
    store.WriteBool("staytop", StayTop->isChecked());
    store.CloseKey();
  } catch (const platform::SettingsError&) {
    // The program is going away; there is nobody left to tell.
  }
}

void TTuning::RestoreGridLayout() {
  platform::SettingsStore store;
  if (!store.OpenKeyReadOnly(platform::kRootKey)) return;
  try {
    const QByteArray state = QByteArray::fromBase64(store.ReadString(kGridLayoutValue).toLatin1());
    if (!state.isEmpty() && Grid->horizontalHeader()->restoreState(state)) layoutCustomized_ = true;
  } catch (const platform::SettingsError&) {
  }
}

void TTuning::SaveGridLayout() {
  // A layout the user never touched is not kept, so that a later version's
  // defaults (or a wider font) still apply.
  if (!layoutCustomized_) return;
  try {
    platform::SettingsStore store;
    store.OpenKey(platform::kRootKey, true);
    store.WriteString(kGridLayoutValue,
                      QString::fromLatin1(Grid->horizontalHeader()->saveState().toBase64()));
    store.CloseKey();
  } catch (const platform::SettingsError&) {
  }
}

void TTuning::FitColumns() {
  if (layoutCustomized_) return;
  const ColumnWidthArray widths =
      SetGridColumns::Fit(Grid->ContentWidths(), Grid->AvailableWidth());
  fittingColumns_ = true;
  for (int c = 0; c < kKeyColumnCount; ++c) Grid->setColumnWidth(c, widths[c]);
  fittingColumns_ = false;
}

bool TTuning::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Grid && event->type() == QEvent::Resize) FitColumns();
  return QWidget::eventFilter(watched, event);
}

std::vector<double> TTuning::ColumnWidths() const {
  std::vector<double> widths;
  for (int c = 0; c < kKeyColumnCount; ++c) widths.push_back(Grid->columnWidth(c));
  return widths;
}

int TTuning::AskSave() {
  int answer = IDOK;
  if (Modified) {
    answer = platform::AskQuestion(kSaveQuestion, this);
    // Cancel keeps the changes marked, so the next close or load asks again
    // instead of dropping them silently; callers stop on it.
    if (answer == IDCANCEL) return IDCANCEL;
    // A save the user asked for and didn't get must not be treated as done
    // either.
    if (answer == IDYES && !SaveClick()) return IDCANCEL;
  }
  Modified = false;
  return answer;
}

void TTuning::ResetAllRows() {
  Set.InitRows(0, Set.RowCount());
}

bool TTuning::NewClick() {
  AskSave();
  if (Modified) return false;  // cancelled, or the requested save failed
  ResetAllRows();
  SelectKnownList(QString());
  return true;
}

platform::FileDialogRequest TTuning::SetFileRequest() const {
  platform::FileDialogRequest request;
  request.directory = FileName.isEmpty() ? LastSetFolder() : QFileInfo(FileName).absolutePath();
  request.defaultSuffix = QStringLiteral("wql");
  request.fileName = QStringLiteral("Default.wql");
  request.filter = QStringLiteral("Morvela (*.wql)");
  return request;
}

void TTuning::RememberSetFolder(const QString& chosen) {
  try {
    platform::SettingsStore store;
    store.OpenKey(platform::kRootKey, true);
    store.WriteString(kLastFolderValue, QFileInfo(chosen).absolutePath());
    store.CloseKey();
  } catch (const platform::SettingsError&) {
    // Only a convenience: the next dialog starts at home instead.
  }
}

bool TTuning::CheckSetFile(const QString& name) {
  const SetFileContent content = ReadSetFile(name);
  if (content.opened && content.tooLarge) {
    platform::ShowWarning(name + " : File too large", this);
    return false;
  }
  if (content.opened && !content.parsed.isSetFile) {
    platform::ShowWarning(name + " : Not a set file", this);
    return false;
  }
  return true;
}

void TTuning::OpenClick() {
  const QString chosen = platform::Dialogs().OpenFileName(this, SetFileRequest());
  if (chosen.isEmpty()) return;
  RememberSetFolder(chosen);
  OpenSetFile(chosen);
}

bool TTuning::OpenSetFile(const QString& name) {
  // Decided before the save question: a file that is not a set changes
  // nothing at all.
  if (!CheckSetFile(name)) return false;
  AskSave();
  if (Modified) return false;
  FileName = name;
  return LoadSet(name);
}

bool TTuning::SaveClick() {
  if (FileName.isEmpty()) return SaveAsClick();
  return SaveUnder(FileName);
}

bool TTuning::SaveUnder(const QString& name) {
  // Text that the set's encoding can't hold is never dropped without a word.
  const setfile::Encoding ownEncoding = FileEncoding;
  const TextLoss loss = FindTextLoss(Set, FileEncoding);
  if (loss.Any()) {
    const QString encoding = EncodingName(FileEncoding);
    const int answer = platform::AskQuestion(
        name +
            QStringLiteral(" : this set is saved in %1, which can't hold all of its text")
                .arg(encoding) +
            QStringLiteral(" (row %1: %2).").arg(loss.row + 1).arg(loss.text) + "\n" +
            QStringLiteral("Save it in UTF-8 instead?") + " " +
            QStringLiteral("No saves it in %1 with \"?\" for what it can't hold.").arg(encoding),
        this);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) FileEncoding = setfile::Encoding::kUtf8;
  }
  QString error;
  if (!SaveSet(name, &error)) {
    // The set keeps its own file, also while the box is up: the next Save
    // must not aim at a file that was never written.
    FileEncoding = ownEncoding;
    platform::ShowWarning(name + " : File not Saved\n" + error, this);
    return false;
  }
  FileName = name;
  Modified = false;
  AddKnownList(FileName);
  return true;
}

bool TTuning::SaveAsClick() {
  const QString chosen = platform::Dialogs().SaveFileName(this, SetFileRequest());
  if (chosen.isEmpty()) return false;
  if (QFileInfo::exists(chosen) &&
      platform::AskQuestion(chosen + " already exists. Replace it?", this) != IDYES)
    return false;
  if (!SaveUnder(chosen)) return false;
  RememberSetFolder(chosen);
  return true;
}

void TTuning::ComboChange() {
  // The list the user picked, taken before the save question: a Yes saves the
  // rows and selects their own list, which must not replace the choice.
  const QString name = Combo->currentIndex() >= 0 ? Combo->currentText() : QString();
  bool loaded = false;
  if (!loading_ && (name.isEmpty() || CheckSetFile(name))) {
    AskSave();
    if (!Modified && !name.isEmpty()) loaded = LoadSet(name);
  }
  // Whatever was not loaded, the box shows the list whose rows are there, so
  // that a list that failed is neither shown as current nor kept as the one
  // to load at the next start.
  if (!loaded) SelectKnownList(shownKnownList_);
}

bool TTuning::LoadSet(const QString& name) {
  if (loading_) return false;
  loading_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{loading_};
  const SetFileContent content = ReadSetFile(name);
  if (!content.opened) {
    platform::ShowWarning(name + " : File not Found", this);
    return false;
  }
  if (content.tooLarge) {
    platform::ShowWarning(name + " : File too large", this);
    return false;
  }
  if (!content.parsed.isSetFile) {
    platform::ShowWarning(name + " : Not a set file", this);
    return false;
  }
  const QString caption = windowTitle();
  setWindowTitle(name);
  if (!NewClick()) {
    setWindowTitle(caption);
    return false;
  }
  clipsDeferred_ = true;
  FileEncoding = ApplySetFile(Set, content.parsed);
  clipsDeferred_ = false;
  FileName = name;
  setFolder_ = QFileInfo(name).absolutePath();
  AddKnownList(name);
  ResolveClips();
  if (content.parsed.rowsCapped)
    platform::ShowWarning(
        name + QStringLiteral(" : only the first %1 rows were read").arg(setfile::kMaxRows), this);
  // The rows that were there are kept, but the user must know that the rest
  // are not, before a save writes the shorter set back.
  if (content.parsed.truncated || content.readFailed) {
    QString text = name + QStringLiteral(" : the file ends early: %1 of its %2 rows were read")
                              .arg(content.parsed.completeRows)
                              .arg(content.parsed.declaredRows);
    if (content.readFailed) text += "\n" + content.error;
    platform::ShowWarning(text, this);
  }
  return true;
}

bool TTuning::SaveSet(const QString& name, QString* error) {
  return WriteSetFile(name, Set, error, FileEncoding);
}

void TTuning::ResolveClips() {
  FolderListings listings;
  ResolveRows(0, Set.RowCount() - 1, &listings);
}

void TTuning::ResolveRows(int first, int last, FolderListings* listings) {
  first = std::max(first, 0);
  last = std::min(last, Set.RowCount() - 1);
  if (clips_.size() < static_cast<std::size_t>(Set.RowCount())) clips_.resize(Set.RowCount());
  // A whole pass (listings given) looks again even where the text is the
  // same; a single change only where the File text changed.
  bool changed = false;
  for (int row = first; row <= last; ++row) {
    const QString& stored = Set.Row(row).File;
    ClipLocation& clip = clips_[row];
    if (!listings && clip.stored == stored) continue;
    clip = ResolveClip(stored, setFolder_, ProgramFolder(), listings);
    model_->SetClipProblem(row, ClipProblemText(clip));
    changed = true;
  }
  if (changed) emit ClipsResolved();
}

QString TTuning::ClipPath(int row) const {
  if (row < 0 || row >= Set.RowCount()) return {};
  const QString& stored = Set.Row(row).File;
  if (stored.isEmpty()) return {};
  if (static_cast<std::size_t>(row) < clips_.size() && clips_[row].stored == stored)
    return clips_[row].path;
  // Not looked for yet (no change goes unnoticed, so this is a safety net):
  // the plain path, without any directory scan.
  return QDir::cleanPath(QDir(ProgramFolder()).filePath(QString(stored).replace('\\', '/')));
}

QString TTuning::ClipProblem(int row) const {
  if (row < 0 || row >= Set.RowCount() || static_cast<std::size_t>(row) >= clips_.size()) return {};
  const ClipLocation& clip = clips_[row];
  return clip.stored == Set.Row(row).File ? ClipProblemText(clip) : QString();
}

void TTuning::ReloadSet() {
  if (!FileName.isEmpty()) LoadSet(FileName);
}

void TTuning::Clear1Click() {
  const int row = SelectedRow();
  if (row < 0) return;
  Set.ResetRow(row);
  Modified = true;
}

void TTuning::AEditExecute() {
  const int row = SelectedRow();
  if (row >= 0 && Editor) Editor->EditRow(this, row);
}

QRect TTuning::ToolBarBand() const {
  const QRect frame = frameGeometry();
  const int bottom = Open->mapToGlobal(QPoint(0, Open->height())).y();
  return QRect(frame.topLeft(), QPoint(frame.right(), std::max(bottom, frame.top())));
}

void TTuning::FormHide() {
  AskSave();
  if (Editor) Editor->SetEditorHidden(this);
}

void TTuning::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !placed_) {
    placed_ = true;
    // A screen shorter than the window (a small laptop, a 2x scale) gets it
    // whole, cut to fit, rather than its lower rows and buttons off screen.
    resize(size().boundedTo(platform::LargestClient(this, parentWidget())));
    platform::PlaceOnScreen(this, parentWidget());
  }
  QWidget::showEvent(event);
}

void TTuning::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // Minimizing is not hiding; neither is the teardown, nor a hide while the
  // window is still being built.
  if (!event->spontaneous() && !destroying_ && whole_) FormHide();
}

void TTuning::CoolPageControl1Change(int page) {
  if (!whole_) return;
  if (shownPage_ == kOptionsPage && page != kOptionsPage) CoolTabSheet2Hide();
  if (page == kOptionsPage && shownPage_ != kOptionsPage) CoolTabSheet2Show();
  shownPage_ = page;
  if (page == kPrintPage)
    PrintPage->ShowPreview();
  else
    PrintPage->HidePreview();
}

void TTuning::CoolTabSheet2Show() {
  RefreshDevices();
  for (ScrollingText* text : {RatioText, OrigText, FullText}) text->Start();
}

void TTuning::CoolTabSheet2Hide() {
  for (ScrollingText* text : {RatioText, OrigText, FullText}) text->Stop();
}

int TTuning::SelectedRow() const {
  return Grid->SelectedRow();
}

void TTuning::SelectRow(int row) {
  Grid->SelectRow(row);
}

QStringList TTuning::KnownLists() const {
  QStringList entries;
  for (int i = 0; i < Combo->count(); ++i) entries << Combo->itemText(i);
  return entries;
}

int TTuning::KnownListIndex() const {
  return Combo->currentIndex();
}

void TTuning::AddKnownList(const QString& name) {
  if (name.isEmpty()) return;
  if (Combo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
    int at = 0;
    while (at < Combo->count() && KnownListLess(Combo->itemText(at), name)) ++at;
    Combo->insertItem(at, name);
  }
  SelectKnownList(name);
}

void TTuning::SelectKnownList(const QString& name) {
  const int at =
      name.isEmpty() ? -1 : Combo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
  Combo->setCurrentIndex(at);
  shownKnownList_ = at >= 0 ? name : QString();
}
