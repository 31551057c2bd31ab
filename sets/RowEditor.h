#pragma once
// The window that edits a set editor's rows one at a time (the key editor).
// The set editor only asks it; it never reaches into that window's controls.

class TTuning;

class RowEditor {
 public:
  virtual ~RowEditor() = default;
  // Attaches to `tuning` and shows its row `row` to be edited.
  virtual void EditRow(TTuning* tuning, int row) = 0;
  // `tuning` was hidden: a shown editor stops editing rows and stays shown.
  virtual void SetEditorHidden(TTuning* tuning) = 0;
  // `tuning` is being destroyed: the editor must not point at it any more.
  virtual void SetEditorGone(TTuning* tuning) = 0;

 protected:
  RowEditor() = default;
  RowEditor(const RowEditor&) = default;
  RowEditor& operator=(const RowEditor&) = default;
};
