#include "sets/ListPrintLayout.h"

#include <algorithm>
#include <numeric>

ListPrintLayout::ListPrintLayout(QSizeF page, std::vector<double> columnWidths, double dpi) {
  const double scale = dpi > 0 ? dpi / kLayoutDpi : 1.0;
  scale_ = scale;
  headerHeight_ = kHeaderHeight * scale;
  const double width = std::max(0.0, page.width() - (kLeftMargin + kRightMargin) * scale);
  const double height = std::max(0.0, page.height() - (kTopMargin + kBottomMargin) * scale);
  table_ = QRectF(kLeftMargin * scale, kTopMargin * scale, width, height);
  // The footer takes one row's height below the body.
  rowHeight_ = std::max(0.0, height - headerHeight_) / (kRowsPerPage + 1);

  if (columnWidths.empty()) columnWidths.push_back(1);
  for (double& w : columnWidths) w = std::max(w, 0.0);
  double total = std::accumulate(columnWidths.begin(), columnWidths.end(), 0.0);
  if (total <= 0) {
    std::fill(columnWidths.begin(), columnWidths.end(), 1.0);
    total = static_cast<double>(columnWidths.size());
  }
  double x = table_.left();
  columnX_.push_back(x);
  for (double w : columnWidths) {
    x += width * w / total;
    columnX_.push_back(x);
  }
  columnX_.back() = table_.right();
}

int ListPrintLayout::PageCount(int rowCount) {
  if (rowCount <= 0) return 1;
  return (rowCount + kRowsPerPage - 1) / kRowsPerPage;
}

int ListPrintLayout::RowsOnPage(int page, int rowCount) {
  const int left = rowCount - FirstRowOf(page);
  return std::clamp(left, 0, kRowsPerPage);
}

QRectF ListPrintLayout::Header() const {
  return QRectF(table_.left(), table_.top(), table_.width(),
                std::min(headerHeight_, table_.height()));
}

QRectF ListPrintLayout::BodyRow(int line) const {
  return QRectF(table_.left(), Header().bottom() + line * rowHeight_, table_.width(), rowHeight_);
}

QRectF ListPrintLayout::Footer() const {
  return BodyRow(kRowsPerPage);
}

QRectF ListPrintLayout::HeaderCell(int column) const {
  const QRectF header = Header();
  return QRectF(columnX_[column], header.top(), columnX_[column + 1] - columnX_[column],
                header.height());
}

QRectF ListPrintLayout::BodyCell(int line, int column) const {
  const QRectF row = BodyRow(line);
  return QRectF(columnX_[column], row.top(), columnX_[column + 1] - columnX_[column], row.height());
}
