#pragma once
// Where the printed set list goes on a page: margins, header, body rows and
// footer, and the cells within them. Both the painting and the tests use it.

#include <QRectF>
#include <QSizeF>

#include <vector>

class ListPrintLayout {
 public:
  static constexpr int kRowsPerPage = 36;
  static constexpr double kLeftMargin = 150;
  static constexpr double kTopMargin = 200;
  static constexpr double kRightMargin = 100;
  static constexpr double kBottomMargin = 300;
  static constexpr double kHeaderHeight = 150;

  // The margins and the header are given in pixels of a printer of this
  // resolution, where they frame the table as a page of 36 rows needs; on
  // another device they keep their size on paper, so that the header stays
  // at the body's scale on a screen-resolution preview as on a fine printer.
  static constexpr double kLayoutDpi = 600;

  // page: the printed page in device pixels. columnWidths: relative widths
  // of the columns (the list's own widths); the table's width is shared out
  // in their proportion. dpi: the device's resolution.
  ListPrintLayout(QSizeF page, std::vector<double> columnWidths, double dpi = kLayoutDpi);

  // At least one page, so an empty list still prints its header.
  static int PageCount(int rowCount);
  static int FirstRowOf(int page) { return page * kRowsPerPage; }
  static int RowsOnPage(int page, int rowCount);

  // Device pixels per pixel of the layout's resolution.
  double Scale() const { return scale_; }
  QRectF Table() const { return table_; }
  QRectF Header() const;
  QRectF Footer() const;
  double RowHeight() const { return rowHeight_; }
  // line: 0 to kRowsPerPage - 1, the row's place on its page.
  QRectF BodyRow(int line) const;
  QRectF HeaderCell(int column) const;
  QRectF BodyCell(int line, int column) const;
  int ColumnCount() const { return static_cast<int>(columnX_.size()) - 1; }

 private:
  QRectF table_;
  double scale_ = 1;
  double headerHeight_ = kHeaderHeight;
  double rowHeight_ = 0;
  std::vector<double> columnX_;  // left edges plus the right edge of the last
};
