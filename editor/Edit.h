#pragma once
// STAND-IN for the key editor TEdit1: only the members that the set editor
// talks to (attaching, the five boxes, the folder tree's current folder, the
// caption that tells its mode, showing and hiding). It browses nothing, plays
// nothing and writes nothing back: its boxes only show the row, read-only, so
// nothing typed there can look as if it was kept. The real key editor
// replaces this file.

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class TTuning;

// Stand-in for the folder tree: it only remembers its current folder.
class TStandInFolderTree : public QWidget {
 public:
  using QWidget::QWidget;
  QString Path() const { return path_; }
  void SetPath(const QString& path) { path_ = path; }

 private:
  QString path_;
};

class TEdit1 : public QWidget {
 public:
  explicit TEdit1(QWidget* parent = nullptr);

  // Attaches to a set editor, or detaches with nullptr; nothing else.
  void SetTuning(TTuning* tuning);
  // The attached set editor; null once it is destroyed.
  TTuning* Tuning() const;

  QLineEdit* Label = nullptr;
  QLineEdit* SFil = nullptr;
  QLineEdit* Min = nullptr;
  QLineEdit* Max = nullptr;
  QLineEdit* Rate = nullptr;
  TStandInFolderTree* Stv = nullptr;

  // Set-editor mode when attached to a visible set editor at the last show.
  bool SetEditorMode() const { return setEditorMode_; }

  // Whether edits made here reach the set editor's row. The stand-in can't
  // edit; the set editor tells the user so instead of letting them type in
  // vain.
  static constexpr bool EditsRows() { return false; }
  static constexpr const char* kNotAvailableText =
      "The key editor is not available in this version yet, so this row can't be edited "
      "here. Edit the row's cells in the set file.";

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();

  QPointer<QObject> tuning_;
  bool setEditorMode_ = false;
};

// The one key editor, created at start-up.
extern TEdit1* Edit1;
