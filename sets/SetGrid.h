#pragma once
// The set list: a read-only table with grid lines and whole-row single
// selection that stays visible without focus. Hovering a cut-off cell shows
// its full text; elsewhere the list's own hint.

#include "sets/KeySet.h"

#include <QTableView>

#include <array>

using ColumnWidthArray = std::array<int, kKeyColumnCount>;

// Default column widths for a list width: every column as wide as its
// content needs, and Label and File 200 each when that fits; otherwise they
// share what is left equally (never below kMinShared), so all seven columns
// stay in view.
struct SetGridColumns {
  static constexpr int kPreferredShared = 200;
  static constexpr int kMinShared = 60;
  static ColumnWidthArray Fit(const ColumnWidthArray& needed, int available);
};

class SetGrid : public QTableView {
 public:
  explicit SetGrid(QWidget* parent = nullptr);

  // -1 when no row is selected.
  int SelectedRow() const;
  // A position outside the list clears the selection.
  void SelectRow(int row);
  // Full text of the cell when it doesn't fit its column, else empty.
  QString CutOffText(const QModelIndex& index) const;
  // Width each column needs to show its title and every cell whole (Label
  // and File: their title only).
  ColumnWidthArray ContentWidths() const;
  // The width the columns can share without a horizontal scroll bar.
  int AvailableWidth() const;

 protected:
  bool viewportEvent(QEvent* event) override;
};
