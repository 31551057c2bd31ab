#include "editor/ShellBrowser.h"

#include "platform/FileIcons.h"
#include "sets/ArchivePath.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTimer>

#include <dirent.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace keyedit {

namespace {

enum Column { kNameColumn, kSizeColumn, kTypeColumn, kDateColumn, kColumnCount };
constexpr int kFolderRole = Qt::UserRole + 1;

QString AbsoluteClean(const QString& path) {
  return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// The list's grid lines, drawn over what the style draws. A style sheet on
// the items would draw them instead, and would then leave the selection's
// highlight out and its text in the highlight's colour on white.
class GridLines : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight));
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
  }
};

}  // namespace

bool ShellFileModel::Undecodable(const QModelIndex& index) const {
  if (!index.isValid()) return false;
  // A valid name may hold U+FFFD itself; only one that does not lead back to
  // the file came from broken bytes.
  return fileName(index).contains(QChar::ReplacementCharacter) &&
         !QFileInfo::exists(filePath(index));
}

Qt::ItemFlags ShellFileModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags result = QFileSystemModel::flags(index);
  if (Undecodable(index)) result &= ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return result;
}

QVariant ShellFileModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::ToolTipRole && Undecodable(index)) return QString::fromUtf8(kUndecodableText);
  if (role == Qt::DisplayRole && (index.column() == kSizeColumn || index.column() == kDateColumn) &&
      !isDir(index)) {
    const FileStat& stat = Shown(filePath(index));
    const QLocale locale = QLocale::system();
    if (index.column() == kSizeColumn) return locale.formattedDataSize(stat.size);
    return locale.toString(stat.modified, QLocale::ShortFormat);
  }
  return QFileSystemModel::data(index, role);
}

ShellFileModel::FileStat ShellFileModel::Stat(const QString& path) {
  // A stat, never an open: the entry may be a FIFO.
  const QFileInfo info(path);
  return {info.size(), info.lastModified()};
}

const ShellFileModel::FileStat& ShellFileModel::Shown(const QString& path) const {
  auto it = stats_.find(path);
  if (it == stats_.end()) it = stats_.insert(path, Stat(path));
  return *it;
}

void ShellFileModel::Restat(const QModelIndex& parent, int first, int last) {
  for (int row = std::max(first, 0); row <= last && row < rowCount(parent); ++row) {
    const QString path = filePath(index(row, kNameColumn, parent));
    const auto it = stats_.find(path);
    if (it == stats_.end()) continue;  // not drawn yet: read when it is
    const FileStat now = Stat(path);
    if (now == *it) continue;
    *it = now;
    emit dataChanged(index(row, kSizeColumn, parent), index(row, kDateColumn, parent),
                     {Qt::DisplayRole});
  }
}

TShellTree::TShellTree(QWidget* parent) : QTreeView(parent) {
  model_ = new QFileSystemModel(this);
  model_->setIconProvider(platform::FileIconsByName());
  model_->setReadOnly(true);
  // Folders, and the archives that are entered like them; an archive is one
  // whose name ends exactly in ".zip".
  model_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot | QDir::CaseSensitive);
  model_->setNameFilters({QStringLiteral("*.zip")});
  model_->setNameFilterDisables(false);
  model_->setRootPath(QStringLiteral("/"));
  setModel(model_);
  for (int column = 1; column < model_->columnCount(); ++column) hideColumn(column);
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { UserChose(current); });
  // Folders load and sort a while after they are first shown, moving the
  // current one; it is kept in view until the user takes the tree in hand.
  const auto follow = [this] {
    if (revealing_) QTimer::singleShot(0, this, &TShellTree::Reveal);
  };
  connect(model_, &QFileSystemModel::directoryLoaded, this, follow);
  connect(model_, &QAbstractItemModel::rowsInserted, this, follow);
  connect(model_, &QAbstractItemModel::layoutChanged, this, follow);
  connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
          [this] { revealing_ = false; });
}

void TShellTree::wheelEvent(QWheelEvent* event) {
  revealing_ = false;
  QTreeView::wheelEvent(event);
}

void TShellTree::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  Reveal();
}

void TShellTree::Reveal() {
  if (currentIndex().isValid()) scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
}

void TShellTree::SetPath(const QString& path) {
  path_ = AbsoluteClean(path);
  ArchivePathParts parts;
  QString shown = SplitArchivePath(path_, &parts) ? parts.archive : path_;
  // A folder that is gone shows its nearest ancestor in the tree; the list
  // says what is wrong with the folder itself.
  while (!QFileInfo::exists(shown) && shown != QStringLiteral("/")) shown = QFileInfo(shown).path();
  settingPath_ = true;
  revealing_ = true;
  setCurrentIndex(model_->index(shown));
  Reveal();
  settingPath_ = false;
  emit PathChanged(path_);
}

void TShellTree::UserChose(const QModelIndex& current) {
  if (settingPath_ || !current.isValid()) return;
  revealing_ = false;
  path_ = model_->filePath(current);
  emit PathChanged(path_);
}

TShellList::TShellList(QWidget* parent) : QTreeView(parent) {
  files_ = new ShellFileModel(this);
  files_->setIconProvider(platform::FileIconsByName());
  files_->setReadOnly(true);
  files_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
  files_->setNameFilterDisables(false);
  archive_ = new QStandardItemModel(0, kColumnCount, this);
  archive_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"),
                                       QStringLiteral("Type"), QStringLiteral("Date Modified")});
  connect(files_, &QFileSystemModel::directoryLoaded, this, [this](const QString& path) {
    if (QDir::cleanPath(path) != folder_ || model() != files_) return;
    loaded_ = true;
    PlaceMessage();
    emit FolderLoaded();
  });

  setModel(files_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setItemDelegate(new GridLines(this));
  header()->resizeSection(kNameColumn, 240);

  message_ = new QLabel(viewport());
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignCenter);
  message_->setAutoFillBackground(true);
  message_->setFrameShape(QFrame::StyledPanel);
  message_->hide();

  // A file being written or copied into the folder grows without a word
  // from the folder; a stat of the rows in view is cheap enough to do each
  // second while the list is shown.
  follow_ = new QTimer(this);
  follow_->setInterval(1000);
  connect(follow_, &QTimer::timeout, this, &TShellList::RestatShownRows);
}

void TShellList::SetMask(const QString& mask) {
  mask_ = mask.split(';', Qt::SkipEmptyParts);
  for (QString& pattern : mask_) pattern = pattern.trimmed();
  files_->setNameFilters(mask_ + QStringList{QStringLiteral("*.zip")});
}

void TShellList::SetFolder(const QString& folder) {
  folder_ = AbsoluteClean(folder);
  loaded_ = false;
  ShowMessage({});
  ArchivePathParts parts;
  if (SplitArchivePath(folder_, &parts)) {
    std::vector<ArchiveListEntry> entries;
    QString error;
    if (!ListArchiveFolder(parts.archive, parts.entry, &entries, &error)) {
      ShowEmpty();
      ShowMessage(error);
      return;
    }
    std::vector<QRegularExpression> patterns;
    for (const QString& pattern : mask_)
      patterns.emplace_back(QRegularExpression::fromWildcard(pattern, Qt::CaseInsensitive));
    archive_->removeRows(0, archive_->rowCount());
    const QLocale locale;
    for (const ArchiveListEntry& entry : entries) {
      bool listed = entry.isFolder;
      for (const QRegularExpression& pattern : patterns)
        listed = listed || pattern.match(entry.name).hasMatch();
      if (!listed) continue;
      QList<QStandardItem*> row;
      auto* name = new QStandardItem(entry.name);
      name->setData(entry.isFolder, kFolderRole);
      row << name;
      row << new QStandardItem(entry.isFolder ? QString() : locale.formattedDataSize(entry.size));
      row << new QStandardItem(entry.isFolder ? QStringLiteral("Folder")
                                              : QFileInfo(entry.name).suffix().toUpper());
      row << new QStandardItem(
          entry.modified > 0
              ? locale.toString(QDateTime::fromSecsSinceEpoch(entry.modified), QLocale::ShortFormat)
              : QString());
      for (QStandardItem* item : row) item->setEditable(false);
      archive_->appendRow(row);
    }
    if (model() != archive_) {
      QItemSelectionModel* old = selectionModel();
      setModel(archive_);
      delete old;
    }
    setRootIndex({});
    loaded_ = true;
    emit FolderLoaded();
    return;
  }

  const QFileInfo info(folder_);
  if (!info.exists() || !info.isDir()) {
    ShowEmpty();
    ShowMessage(QString::fromUtf8(kMissingFolderText).arg(QDir::toNativeSeparators(folder_)));
    return;
  }
  if (!info.isReadable() || !info.isExecutable()) {
    ShowEmpty();
    ShowMessage(QString::fromUtf8(kUnreadableFolderText).arg(QDir::toNativeSeparators(folder_)));
    return;
  }
  if (model() != files_) {
    QItemSelectionModel* old = selectionModel();
    setModel(files_);
    delete old;
  }
  files_->ForgetStats();
  const QModelIndex root = files_->setRootPath(folder_);
  setRootIndex(root);
  clearSelection();
  // The file system model leaves such names out without a word.
  const QStringList undecodable = UndecodableNames(folder_, mask_);
  if (!undecodable.isEmpty())
    ShowMessage(
        QString::fromUtf8(kUndecodableNamesText).arg(undecodable.join(QStringLiteral(", "))));
}

QStringList TShellList::UndecodableNames(const QString& folder, const QStringList& mask) {
  QStringList names;
  struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, DirCloser> dir(opendir(QFile::encodeName(folder).constData()));
  if (!dir) return names;
  std::vector<QRegularExpression> patterns;
  for (const QString& pattern : mask)
    patterns.emplace_back(QRegularExpression::fromWildcard(pattern, Qt::CaseInsensitive));
  while (const dirent* entry = readdir(dir.get())) {
    const QByteArray bytes(entry->d_name);
    const QString name = QString::fromUtf8(bytes);
    if (QFile::encodeName(name) == bytes) continue;
    for (const QRegularExpression& pattern : patterns) {
      if (pattern.match(name).hasMatch()) {
        names << name;
        break;
      }
    }
  }
  names.sort();
  return names;
}

int TShellList::Count() const {
  return model() ? model()->rowCount(rootIndex()) : 0;
}

QModelIndex TShellList::EntryIndex(int row) const {
  if (row < 0 || row >= Count()) return {};
  return model()->index(row, kNameColumn, rootIndex());
}

int TShellList::SelectedRow() const {
  const QModelIndexList rows = selectionModel()->selectedRows(kNameColumn);
  return rows.isEmpty() ? -1 : rows.first().row();
}

void TShellList::SelectEntry(int row) {
  const QModelIndex index = EntryIndex(row);
  if (!index.isValid()) return;
  selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
}

QString TShellList::Caption(int row) const {
  return EntryIndex(row).data(Qt::DisplayRole).toString();
}

QString TShellList::FullPath(int row) const {
  const QModelIndex index = EntryIndex(row);
  if (!index.isValid()) return {};
  if (model() == files_) return files_->filePath(index);
  return folder_ + '/' + index.data(Qt::DisplayRole).toString();
}

bool TShellList::IsFolder(int row) const {
  const QModelIndex index = EntryIndex(row);
  if (!index.isValid()) return false;
  if (model() == files_) return files_->isDir(index);
  return index.data(kFolderRole).toBool();
}

QString TShellList::Message() const {
  return message_->isHidden() ? QString() : message_->text();
}

void TShellList::ShowMessage(const QString& text) {
  message_->setText(text);
  message_->setVisible(!text.isEmpty());
  PlaceMessage();
}

void TShellList::PlaceMessage() {
  // Over an empty list it takes the whole view; beside entries it is a band
  // along the bottom, so they stay usable.
  const QRect view = viewport()->rect();
  if (Count() == 0) {
    message_->setGeometry(view.adjusted(8, 8, -8, -8));
  } else {
    const int height = message_->heightForWidth(view.width() - 16);
    message_->setGeometry(8, view.bottom() - height - 8, view.width() - 16, height + 4);
  }
}

void TShellList::ShowEmpty() {
  archive_->removeRows(0, archive_->rowCount());
  if (model() != archive_) {
    QItemSelectionModel* old = selectionModel();
    setModel(archive_);
    delete old;
  }
  setRootIndex({});
}

void TShellList::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    event->accept();
    emit EntryChosen();
    return;
  }
  QTreeView::keyPressEvent(event);
}

void TShellList::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  follow_->start();
}

void TShellList::hideEvent(QHideEvent* event) {
  QTreeView::hideEvent(event);
  follow_->stop();
}

void TShellList::RestatShownRows() {
  if (model() != files_ || Count() == 0) return;
  const QModelIndex top = indexAt(QPoint(0, 0));
  const QModelIndex bottom = indexAt(QPoint(0, viewport()->height() - 1));
  files_->Restat(rootIndex(), top.isValid() ? top.row() : 0,
                 bottom.isValid() ? bottom.row() : Count() - 1);
}

void TShellList::resizeEvent(QResizeEvent* event) {
  QTreeView::resizeEvent(event);
  PlaceMessage();
}

}  // namespace keyedit
