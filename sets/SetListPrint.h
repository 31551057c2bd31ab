#pragma once
// The "Print" page of the set editor: a print preview of the whole set list
// with its tool bar and a status bar showing the page and the scale.

#include "sets/KeySet.h"

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

// Paints every row of the set in pages of 36, with a border around the table
// and every cell of header, body and footer, in Arial.
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
