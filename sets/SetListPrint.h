#pragma once
// The "Print" page of the set editor: a print preview of the whole set list
// with its tool bar and a status bar showing the page and the scale.

#include "sets/KeySet.h"
#include "sets/ListPrintLayout.h"

#include <QFont>
#include <QRectF>
#include <QString>

#include <QWidget>

#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QPainter;
class QPrinter;
class QPrintPreviewWidget;
class QStatusBar;
class QToolBar;

// One printed cell: where it goes, what it says and in which font.
struct SetListPrintCell {
  QRectF rect;
  QString text;
  QFont font;
  Qt::Alignment alignment;
};

// What one printed page of the set list holds: the seven column titles in
// the header, the page's rows in the body and the page number in the footer,
// each in its cell of ListPrintLayout. Header, body and footer share one
// Arial size chosen from the row height, so a title prints as large as the
// values below it and fits the same column width.
class SetListPrintLayout {
 public:
  SetListPrintLayout(QSizeF page, std::vector<double> columnWidths,
                     double dpi = ListPrintLayout::kLayoutDpi);

  const ListPrintLayout& Geometry() const { return geometry_; }
  // The text's pixel size, from the height of a body row.
  int TextPixelSize() const;
  QFont HeaderFont() const;
  QFont BodyFont() const;
  // Inner space kept between a cell's border and its text.
  double Padding(const QRectF& cell) const;

  std::vector<SetListPrintCell> HeaderCells() const;
  // Every cell of the body, ListPrintLayout::kRowsPerPage lines of
  // ColumnCount() cells; lines past the set's end are empty.
  std::vector<SetListPrintCell> BodyCells(const KeySet& set, int page) const;
  SetListPrintCell FooterCell(int page, int pages) const;

 private:
  ListPrintLayout geometry_;
};

// Paints one page of the set list, the table's border and every cell's.
void PaintSetListPage(QPainter& painter, const SetListPrintLayout& layout, const KeySet& set,
                      int page);

// Paints every row of the set in pages of 36 on the printer.
void PaintSetList(QPrinter* printer, const KeySet& set, const std::vector<double>& columnWidths);

class SetListPrintPage : public QWidget {
  Q_OBJECT
 public:
  // columnWidths gives the list's current column widths when a page is laid
  // out, so the print follows what the user arranged.
  SetListPrintPage(const KeySet& set, std::function<std::vector<double>()> columnWidths,
                   QWidget* parent = nullptr);
  ~SetListPrintPage() override;

  // Builds the preview on first use (opening a printer can be slow), shows a
  // whole page and refreshes it.
  void ShowPreview();
  void HidePreview();
  bool PreviewShown() const;

  QToolBar* ToolBar() const { return toolBar_; }
  QPrintPreviewWidget* Preview() const { return preview_; }
  QString PageText() const;
  QString ScaleText() const;

 signals:
  void CloseRequested();

 private:
  void EnsurePreview();
  void UpdateStatus();
  void ApplyScaleText(const QString& text);

  const KeySet& set_;
  std::function<std::vector<double>()> columnWidths_;
  QPrinter* printer_ = nullptr;
  QPrintPreviewWidget* preview_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QComboBox* scale_ = nullptr;
  QStatusBar* status_ = nullptr;
  QLabel* pageLabel_ = nullptr;
  QLabel* scaleLabel_ = nullptr;
};
