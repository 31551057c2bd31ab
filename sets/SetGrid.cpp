#include "sets/SetGrid.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>

#include <algorithm>

namespace {

// Room around a cell's or title's text: the style's text margins and the
// grid line.
constexpr int kTextPadding = 12;
// A stray long value in Min, Max or Rate must not push the other columns out
// of view; its tool tip shows it whole.
constexpr int kMaxNumberColumn = 100;

}  // namespace

ColumnWidthArray SetGridColumns::Fit(const ColumnWidthArray& needed, int available) {
  ColumnWidthArray widths = needed;
  int fixed = 0;
  for (int c = 0; c < kKeyColumnCount; ++c)
    if (c != kLabelColumn && c != kFileColumn) fixed += needed[c];
  const int shared = std::clamp((available - fixed) / 2, kMinShared, kPreferredShared);
  widths[kLabelColumn] = std::max(shared, needed[kLabelColumn]);
  widths[kFileColumn] = std::max(shared, needed[kFileColumn]);
  return widths;
}

SetGrid::SetGrid(QWidget* parent) : QTableView(parent) {
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setWordWrap(false);
  verticalHeader()->hide();
  // One line of text and a few pixels: a set has dozens of rows and the user
  // wants to see as many as possible.
  verticalHeader()->setMinimumSectionSize(fontMetrics().height());
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
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
    const QModelIndex index = indexAt(help->pos());
    // A cell's own tip (a clip that was not found) says more than its text.
    QString tip = index.data(Qt::ToolTipRole).toString();
    if (tip.isEmpty()) tip = CutOffText(index);
    QToolTip::showText(help->globalPos(), tip.isEmpty() ? toolTip() : tip, viewport());
    return true;
  }
  return QTableView::viewportEvent(event);
}

ColumnWidthArray SetGrid::ContentWidths() const {
  ColumnWidthArray widths{};
  const QFontMetrics cells = fontMetrics();
  const QFontMetrics titles = horizontalHeader()->fontMetrics();
  for (int c = 0; c < kKeyColumnCount; ++c) {
    int width = 0;
    if (model()) {
      width = titles.horizontalAdvance(
          model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
      if (c != kLabelColumn && c != kFileColumn) {
        // The stored range and rate defaults, even before any row holds them.
        width = std::max(width, cells.horizontalAdvance(QStringLiteral("10000")));
        for (int r = 0; r < model()->rowCount(); ++r)
          width = std::max(width, cells.horizontalAdvance(model()->index(r, c).data().toString()));
      }
    }
    widths[c] = width + kTextPadding;
    if (c != kLabelColumn && c != kFileColumn && c != kKeyColumn)
      widths[c] = std::min(widths[c], kMaxNumberColumn);
  }
  return widths;
}

int SetGrid::AvailableWidth() const {
  int width = contentsRect().width();
  const int rowsHeight = model() ? model()->rowCount() * verticalHeader()->defaultSectionSize() : 0;
  if (rowsHeight > contentsRect().height() - horizontalHeader()->sizeHint().height())
    width -= style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  return width;
}
