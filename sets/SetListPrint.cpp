#include "sets/SetListPrint.h"

#include "sets/KeySetModel.h"
#include "sets/ListPrintLayout.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QFont ArialPixels(double pixels, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(std::max(1, static_cast<int>(pixels)));
  font.setBold(bold);
  return font;
}

void DrawCell(QPainter& painter, const QRectF& cell, const QString& text, Qt::Alignment align) {
  painter.drawRect(cell);
  const double pad = std::min(cell.height() / 4, 8.0);
  painter.drawText(cell.adjusted(pad, 0, -pad, 0), align | Qt::AlignVCenter | Qt::TextSingleLine,
                   painter.fontMetrics().elidedText(text, Qt::ElideRight,
                                                    static_cast<int>(cell.width() - 2 * pad)));
}

}  // namespace

void PaintSetList(QPrinter* printer, const KeySet& set, const std::vector<double>& columnWidths) {
  QPainter painter;
  if (!painter.begin(printer)) return;
  const QRectF paper = printer->paperRect(QPrinter::DevicePixel);
  const ListPrintLayout layout(paper.size(), columnWidths);
  const int pages = ListPrintLayout::PageCount(set.RowCount());
  QPen pen(Qt::black);
  pen.setWidthF(std::max(1.0, paper.width() / 800));
  for (int page = 0; page < pages; ++page) {
    if (page > 0) printer->newPage();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(layout.Table());
    painter.setFont(ArialPixels(layout.Header().height() / 3, true));
    for (int c = 0; c < layout.ColumnCount(); ++c)
      DrawCell(painter, layout.HeaderCell(c), KeySetModel::ColumnTitle(c), Qt::AlignHCenter);
    painter.setFont(ArialPixels(layout.RowHeight() * 0.6, false));
    const int first = ListPrintLayout::FirstRowOf(page);
    const int rows = ListPrintLayout::RowsOnPage(page, set.RowCount());
    for (int line = 0; line < ListPrintLayout::kRowsPerPage; ++line) {
      for (int c = 0; c < layout.ColumnCount(); ++c) {
        const QString text = line < rows ? set.Row(first + line).Cell(c) : QString();
        DrawCell(painter, layout.BodyCell(line, c), text, Qt::AlignLeft);
      }
    }
    DrawCell(painter, layout.Footer(), QStringLiteral("%1 / %2").arg(page + 1).arg(pages),
             Qt::AlignHCenter);
  }
  painter.end();
}

SetListPrintPage::SetListPrintPage(const KeySet& set,
                                   std::function<std::vector<double>()> columnWidths,
                                   QWidget* parent)
    : QWidget(parent), set_(set), columnWidths_(std::move(columnWidths)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  toolBar_ = new QToolBar(this);
  layout->addWidget(toolBar_);
  status_ = new QStatusBar(this);
  status_->setSizeGripEnabled(false);
  pageLabel_ = new QLabel(status_);
  scaleLabel_ = new QLabel(status_);
  status_->addWidget(pageLabel_);
  status_->addWidget(scaleLabel_);
  layout->addStretch(1);
  layout->addWidget(status_);

  auto action = [this](const QString& text, auto slot) {
    QAction* a = toolBar_->addAction(text);
    a->setObjectName(text);
    connect(a, &QAction::triggered, this, [this, slot] {
      slot();
      UpdateStatus();
    });
    return a;
  };
  action(tr("Print"), [this] {
    EnsurePreview();
    preview_->print();
  });
  action(tr("Print dialog"), [this] {
    EnsurePreview();
    QPrintDialog dialog(printer_, this);
    if (dialog.exec() == QDialog::Accepted) preview_->print();
  });
  action(tr("Printer setup"), [this] {
    EnsurePreview();
    QPageSetupDialog dialog(printer_, this);
    if (dialog.exec() == QDialog::Accepted) preview_->updatePreview();
  });
  toolBar_->addSeparator();
  action(tr("First page"), [this] { EnsurePreview(), preview_->setCurrentPage(1); });
  action(tr("Previous page"),
         [this] { EnsurePreview(), preview_->setCurrentPage(preview_->currentPage() - 1); });
  action(tr("Next page"),
         [this] { EnsurePreview(), preview_->setCurrentPage(preview_->currentPage() + 1); });
  action(tr("Last page"),
         [this] { EnsurePreview(), preview_->setCurrentPage(preview_->pageCount()); });
  toolBar_->addSeparator();
  action(tr("Whole page"), [this] { EnsurePreview(), preview_->fitInView(); });
  action(tr("Page width"), [this] { EnsurePreview(), preview_->fitToWidth(); });
  action(tr("Zoom out"), [this] { EnsurePreview(), preview_->zoomOut(); });
  action(tr("Zoom in"), [this] { EnsurePreview(), preview_->zoomIn(); });
  scale_ = new QComboBox(toolBar_);
  scale_->setEditable(true);
  for (int percent : {25, 50, 75, 100, 125, 150, 200, 400})
    scale_->addItem(QString("%1%").arg(percent));
  connect(scale_, &QComboBox::textActivated, this, &SetListPrintPage::ApplyScaleText);
  toolBar_->addWidget(scale_);
  toolBar_->addSeparator();
  action(tr("Refresh"), [this] { EnsurePreview(), preview_->updatePreview(); });
  action(tr("Close"), [this] { emit CloseRequested(); });
}

SetListPrintPage::~SetListPrintPage() {
  delete preview_;
  delete printer_;
}

void SetListPrintPage::EnsurePreview() {
  if (preview_) return;
  printer_ = new QPrinter(QPrinter::ScreenResolution);
  printer_->setFullPage(true);
  preview_ = new QPrintPreviewWidget(printer_, this);
  connect(preview_, &QPrintPreviewWidget::paintRequested, this,
          [this](QPrinter* printer) { PaintSetList(printer, set_, columnWidths_()); });
  connect(preview_, &QPrintPreviewWidget::previewChanged, this, &SetListPrintPage::UpdateStatus);
  auto* box = static_cast<QVBoxLayout*>(layout());
  // Replace the stretch kept for it.
  delete box->takeAt(1);
  box->insertWidget(1, preview_, 1);
  preview_->hide();
}

void SetListPrintPage::ShowPreview() {
  EnsurePreview();
  preview_->show();
  preview_->fitInView();
  preview_->updatePreview();
  UpdateStatus();
}

void SetListPrintPage::HidePreview() {
  if (preview_) preview_->hide();
}

bool SetListPrintPage::PreviewShown() const {
  return preview_ && !preview_->isHidden();
}

QString SetListPrintPage::PageText() const {
  if (!preview_) return {};
  return tr("Page %1 of %2").arg(preview_->currentPage()).arg(preview_->pageCount());
}

QString SetListPrintPage::ScaleText() const {
  if (!preview_) return {};
  return tr("Scale %1%").arg(qRound(preview_->zoomFactor() * 100));
}

void SetListPrintPage::UpdateStatus() {
  pageLabel_->setText(PageText());
  scaleLabel_->setText(ScaleText());
  if (preview_ && !scale_->lineEdit()->hasFocus())
    scale_->setEditText(QString("%1%").arg(qRound(preview_->zoomFactor() * 100)));
}

void SetListPrintPage::ApplyScaleText(const QString& text) {
  QString digits = text;
  digits.remove('%');
  bool ok = false;
  const double percent = digits.trimmed().toDouble(&ok);
  if (!ok || percent <= 0) return;
  EnsurePreview();
  preview_->setZoomMode(QPrintPreviewWidget::CustomZoom);
  preview_->setZoomFactor(percent / 100);
  UpdateStatus();
}
