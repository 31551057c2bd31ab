#pragma once
// The set list: a read-only table with grid lines and whole-row single
// selection that stays visible without focus. Hovering a cut-off cell shows
// its full text; elsewhere the list's own hint.

#include <QTableView>

class SetGrid : public QTableView {
 public:
  explicit SetGrid(QWidget* parent = nullptr);

  // -1 when no row is selected.
  int SelectedRow() const;
  // A position outside the list clears the selection.
  void SelectRow(int row);
  // Full text of the cell when it doesn't fit its column, else empty.
  QString CutOffText(const QModelIndex& index) const;

 protected:
  bool viewportEvent(QEvent* event) override;
};
