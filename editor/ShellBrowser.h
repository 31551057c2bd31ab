#pragma once
// The key editor's folder tree and file list.
//
// The tree holds the current folder; the list shows what is in it: its
// folders, its ".zip" archives and the files of the list's mask. An archive
// is entered like a folder. Both follow the disk: a file copied into the
// folder shows up, a folder that is removed goes away. A folder that can't
// be read, or a name that can't be opened, is said so in the list instead of
// showing an empty list or an entry that fails.

#include <QDateTime>
#include <QFileSystemModel>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTreeView>

class QLabel;
class QStandardItemModel;
class QTimer;

namespace keyedit {

// The file system as the list shows it: names that are not valid UTF-8 can't
// be opened again from their decoded text, so they are greyed and say why.
class ShellFileModel : public QFileSystemModel {
  Q_OBJECT
 public:
  using QFileSystemModel::QFileSystemModel;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // Whether the entry's name came from bytes that are not valid UTF-8.
  bool Undecodable(const QModelIndex& index) const;

  // Reads again the size and time of the files in rows first to last of
  // parent, and reports those that changed. The file system model alone
  // reads them when the folder changes, not when a file in it grows.
  void Restat(const QModelIndex& parent, int first, int last);
  // Forgets what was read, as for a folder left.
  void ForgetStats() { stats_.clear(); }

  static constexpr const char* kUndecodableText =
      "This name is not valid UTF-8, so the file can't be opened. Rename it to use it.";

 private:
  struct FileStat {
    qint64 size = 0;
    QDateTime modified;
    bool operator==(const FileStat&) const = default;
  };
  static FileStat Stat(const QString& path);
  const FileStat& Shown(const QString& path) const;

  // What the list shows of each file, by full path.
  mutable QHash<QString, FileStat> stats_;
};

// The folder tree (Stv): folders and ".zip" archives.
class TShellTree : public QTreeView {
  Q_OBJECT
 public:
  explicit TShellTree(QWidget* parent = nullptr);

  // The current folder as a full path with "/" separators. Inside an
  // archive it goes on past the archive's name ("/m/drums.zip/loops").
  QString Path() const { return path_; }
  // Goes to a folder or archive; a relative path is taken against the
  // current directory. Emits PathChanged, also for the same path, so the
  // list reads the folder again.
  void SetPath(const QString& path);

 signals:
  void PathChanged(const QString& path);

 protected:
  void showEvent(QShowEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void UserChose(const QModelIndex& current);
  // Scrolls the current folder into view while it is being set.
  void Reveal();

  QFileSystemModel* model_;
  QString path_;
  bool settingPath_ = false;
  // A path set by SetPath is kept in view until the user picks a folder,
  // scrolls or turns the wheel.
  bool revealing_ = false;
};

// The file list (flist): report view, one entry per row.
class TShellList : public QTreeView {
  Q_OBJECT
 public:
  explicit TShellList(QWidget* parent = nullptr);

  // The file mask, patterns separated by ";" ("*.wav;*.mp3").
  void SetMask(const QString& mask);
  QString Mask() const { return mask_.join(';'); }

  // Lists the folder or archive folder (a path as TShellTree::Path gives).
  void SetFolder(const QString& folder);
  QString Folder() const { return folder_; }

  // The entries shown; the count of a folder grows while it is read.
  int Count() const;
  // The selected entry's row, -1 for none.
  int SelectedRow() const;
  void SelectEntry(int row);
  // An entry's text as the list shows it, and its full path ("/"
  // separators; through the archive for an archive's entry).
  QString Caption(int row) const;
  QString FullPath(int row) const;
  bool IsFolder(int row) const;

  // Shown in the list instead of entries when the folder can't be listed;
  // empty otherwise.
  QString Message() const;

  // True once the folder's entries are all known (at once for an archive).
  bool Loaded() const { return loaded_; }

  static constexpr const char* kMissingFolderText = "This folder does not exist: %1";
  static constexpr const char* kUnreadableFolderText =
      "This folder can't be read (no permission): %1";
  static constexpr const char* kUndecodableNamesText =
      "Not shown, as their names are not valid UTF-8 (rename them to use them): %1";

  // The names in folder that match mask but can't be opened from their
  // decoded text, shown with U+FFFD for the broken bytes.
  static QStringList UndecodableNames(const QString& folder, const QStringList& mask);

 signals:
  // The folder's entries are all known.
  void FolderLoaded();
  // Return or Enter on an entry: the keyboard's double click.
  void EntryChosen();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QModelIndex EntryIndex(int row) const;
  void RestatShownRows();
  void ShowMessage(const QString& text);
  void PlaceMessage();
  void ShowEmpty();

  ShellFileModel* files_;
  QStandardItemModel* archive_;
  QLabel* message_;
  QTimer* follow_;
  QStringList mask_;
  QString folder_;
  bool loaded_ = false;
};

}  // namespace keyedit
