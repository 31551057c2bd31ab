#include "sets/SetGrid.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QToolTip>

SetGrid::SetGrid(QWidget* parent) : QTableView(parent) {
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setWordWrap(false);
  verticalHeader()->hide();
  horizontalHeader()->setSectionsMovable(true);
  horizontalHeader()->setSortIndicatorShown(false);
  horizontalHeader()->setSectionsClickable(false);
  // Keep the selected row as visible as with focus: the user edits that row
  // in the key editor while this list is in the background.
  QPalette p = palette();
  p.setColor(QPalette::Inactive, QPalette::Highlight,
             p.color(QPalette::Active, QPalette::Highlight));
  p.setColor(QPalette::Inactive, QPalette::HighlightedText,
             p.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(p);
}

int SetGrid::SelectedRow() const {
  if (!selectionModel()) return -1;
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void SetGrid::SelectRow(int row) {
  if (!model() || !selectionModel()) return;
  if (row < 0 || row >= model()->rowCount()) {
    selectionModel()->clearSelection();
    return;
  }
  const QModelIndex index = model()->index(row, 0);
  selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
}

QString SetGrid::CutOffText(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  const QString text = index.data(Qt::DisplayRole).toString();
  const int needed = fontMetrics().horizontalAdvance(text) + 8;
  return needed > visualRect(index).width() ? text : QString();
}

bool SetGrid::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString full = CutOffText(indexAt(help->pos()));
    QToolTip::showText(help->globalPos(), full.isEmpty() ? toolTip() : full, viewport());
    return true;
  }
  return QTableView::viewportEvent(event);
}
