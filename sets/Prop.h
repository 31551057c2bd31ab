#pragma once
// TTuning, the set editor window of one keyboard window: the set list with
// New, Open, Save, Save as and the known lists, the "Options" page (MIDI
// input device, "Stay on top", video options) and a print preview.
//
// The keyboard window reads and writes rows through Set, shows FileName,
// calls AskSave() before it closes and ReloadSet() before it shows a set
// editor, binds StayTop's click and takes Device1's selected position as its
// MIDI input device number.

#include "platform/Dialogs.h"
#include "sets/KeySet.h"
#include "sets/LocalPath.h"
#include "sets/RowEditor.h"
#include "sets/SetFileText.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

class KeySetModel;
class QAction;
class QCheckBox;
class QComboBox;
class QMenu;
class QPushButton;
class QTabWidget;
class ScrollingText;
class SetGrid;
class SetListPrintPage;

class TTuning : public QWidget {
  Q_OBJECT
 public:
  // A hidden window for the keyboard window owner with its instance number;
  // restores its settings and may load the set that was selected last time.
  TTuning(QWidget* owner, int instance);
  // Writes the settings (FormDestroy); asks nothing.
  ~TTuning() override;

  // The key set, its file and its unsaved-changes mark. Whoever changes
  // rows sets Modified.
  KeySet Set;
  QString FileName;
  bool Modified = false;
  const int Instance;
  // The text encoding the set is saved in: the one its file was read in
  // (Windows-1252 for a file that is not UTF-8), UTF-8 for a new set.
  setfile::Encoding FileEncoding = setfile::Encoding::kUtf8;

  // Where row's clip is on this machine, found when the set was loaded or the
  // row last changed (never looked for at the call: no directory scans when a
  // key is pressed). When it was not found, a path that does not exist, and
  // ClipProblem(row) tells which path was looked for and where. Empty for a
  // row without a file or outside the set.
  QString ClipPath(int row) const;
  // Empty when row's clip was found or the row has no file.
  QString ClipProblem(int row) const;
  // Looks for every row's clip again, e.g. after the drive that holds the
  // clips was plugged in.
  void ResolveClips();

 signals:
  // Where some rows' clips are was looked for again (a set loaded, a row's
  // file changed).
  void ClipsResolved();
  // Another row, or none (-1), is selected in the list now, whatever chose
  // it: a click, the keyboard, the key editor's Add or SelectRow().
  void SelectedRowChanged(int row, int previous);

 public:
  // Controls other windows use.
  QTabWidget* CoolPageControl1 = nullptr;
  SetGrid* Grid = nullptr;
  QPushButton* New = nullptr;
  QPushButton* Open = nullptr;
  QPushButton* SaveAs = nullptr;
  QPushButton* Save = nullptr;
  QComboBox* Combo = nullptr;
  QComboBox* Device1 = nullptr;  // selected position = MIDI input device number
  QCheckBox* StayTop = nullptr;
  // Video window options; the keyboard window binds them to its video window.
  QCheckBox* KeepRatio = nullptr;
  QCheckBox* OriginalSize = nullptr;
  QCheckBox* FullScreen = nullptr;
  ScrollingText* RatioText = nullptr;
  ScrollingText* OrigText = nullptr;
  ScrollingText* FullText = nullptr;
  SetListPrintPage* PrintPage = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* Clear1 = nullptr;
  QAction* AEdit = nullptr;

  // Ties the three video check boxes to the video window's checkable actions
  // ("Keep Ratio", "Original size", "Full Screen"): a click on a box triggers
  // its action, and each box follows its action's check mark. A later call
  // replaces the binding; nullptr leaves a box unbound.
  void BindVideoOptions(QAction* ratio, QAction* orig, QAction* full);

  // Makes a section of settings shared by every window (the remote's), put
  // at the end of each Options page; unset, the page has none.
  static std::function<QWidget*(QWidget* page)> ExtraOptions;
  // Makes the window's sound output choice, shown beside the MIDI device.
  static std::function<QWidget*(QWidget* page, int instance)> SoundOptions;

  // The key editor that Edit hands a row to, installed at start-up; while
  // none is, Edit does nothing. It uninstalls itself when destroyed.
  static RowEditor* Editor;

  // Index and defaults for from <= i < to.
  void InitRows(int from, int to);
  // Reads a set file into the rows. Returns false when nothing was read: a
  // missing file or one that is not a set (both warned, and the rows,
  // FileName and the known lists stay as they were), a load already under
  // way, or a save the user asked for failed.
  bool LoadSet(const QString& name);
  // Writes all rows to name atomically. Returns false with the reason.
  bool SaveSet(const QString& name, QString* error = nullptr);
  // LoadSet(FileName) when there is a FileName.
  void ReloadSet();
  // Warns and returns false when name is a file that is not a set. A missing
  // file passes: LoadSet tells about it.
  bool CheckSetFile(const QString& name);
  // "List modified. Save?" when Modified: IDYES (saved), IDNO, IDCANCEL, or
  // IDOK when nothing was asked. Clears Modified, except when the user
  // answered Yes and the set could not be saved: then Modified stays and the
  // answer is IDCANCEL, so no caller throws the rows away.
  int AskSave();

  // Commands. The bool results tell whether the command went through.
  bool NewClick();
  void OpenClick();
  // Open's steps after the file dialog, for a set file chosen elsewhere (a
  // drop): a file that is not a set is refused before the save question,
  // and a Cancel there keeps the rows. True when the set was loaded.
  bool OpenSetFile(const QString& name);
  bool SaveClick();
  bool SaveAsClick();
  void ComboChange();
  void Clear1Click();
  void AEditExecute();

  // Reads the MIDI input devices into Device1 again (at creation and each
  // time the "Options" page is shown), keeping the chosen one by name.
  void RefreshDevices();

  int SelectedRow() const;
  void SelectRow(int row);
  // The top of the frame down to the New, Open and Save row, on the screen:
  // what a window opened to work for this set editor must leave in sight.
  QRect ToolBarBand() const;
  // The known lists, in their (alphabetical) order.
  QStringList KnownLists() const;
  int KnownListIndex() const;

  // Window events.
  void FormCreate();
  void FormDestroy();
  void FormHide();
  void CoolPageControl1Change(int page);
  void CoolTabSheet2Show();
  void CoolTabSheet2Hide();

  // The value under "Software\Tastivo" that keeps the list's column layout
  // once the user has changed it. Earlier versions kept every layout, also
  // their untouched one that hid Min, Max and Rate, under "gridcolumns";
  // that value is ignored.
  static constexpr const char* kGridLayoutValue = "gridlayout";
  // The value under "Software\Tastivo" that keeps the folder of the last set
  // file chosen in a file dialog, where the next dialog starts when the set
  // has no file yet.
  static constexpr const char* kLastFolderValue = "lastdir";

  // Lays the columns out for the list's width so that all seven show whole,
  // unless the user's own layout was restored or changed.
  void FitColumns();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildSetPage();
  QWidget* BuildOptionsPage();
  void AddKnownList(const QString& name);
  void SelectKnownList(const QString& name);
  platform::FileDialogRequest SetFileRequest() const;
  void RememberSetFolder(const QString& chosen);
  // Saves the set into `name`, which becomes its file once written; a
  // failure is told and changes nothing.
  bool SaveUnder(const QString& name);
  void ResetAllRows();
  std::vector<double> ColumnWidths() const;
  void RestoreGridLayout();
  void SaveGridLayout();

  KeySetModel* model_ = nullptr;
  std::vector<QMetaObject::Connection> videoBindings_;
  int shownPage_ = 0;
  bool destroying_ = false;
  // Placed clear of the keyboard windows at its first show; after that it
  // stays where the user leaves it.
  bool placed_ = false;
  // Set at the end of construction. A message box shown while the window is
  // being built (the warning of a known list whose file is gone) runs a
  // nested event loop; handlers it can reach wait until the window is whole.
  bool whole_ = false;
  // A load is under way: its question or warning boxes run a nested event
  // loop, in which nothing may start a second load of the same rows.
  bool loading_ = false;
  // The known list whose rows are shown, empty for none: the one Combo goes
  // back to when a chosen list was not loaded.
  QString shownKnownList_;
  // "combo" was stored but could not be read at start: an empty list must
  // not be written over it at the end.
  bool knownListsUnread_ = false;
  // The folder of the file the rows were last loaded from, where clips of a
  // moved show are looked for; empty until a set is loaded.
  QString setFolder_;
  std::vector<ClipLocation> clips_;  // by row
  // While a file's cells are stored one by one, rows are looked up once at
  // the end instead of at every cell.
  bool clipsDeferred_ = false;
  void ResolveRows(int first, int last, FolderListings* listings = nullptr);
  bool layoutCustomized_ = false;
  bool fittingColumns_ = false;
  int selectedRow_ = -1;  // as last told by SelectedRowChanged
};
