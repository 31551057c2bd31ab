#include "sets/SetListPrint.h"

#include "platform/Dialogs.h"
#include "platform/FileIcons.h"
#include "sets/KeySetModel.h"

#include <QComboBox>
#include <QFileSystemModel>
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

#include <algorithm>

namespace {

QFont ArialPixels(int pixels, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(std::max(1, pixels));
  font.setBold(bold);
  return font;
}

void DrawCell(QPainter& painter, const SetListPrintLayout& layout, const SetListPrintCell& cell) {
  painter.drawRect(cell.rect);
  if (cell.text.isEmpty()) return;
  painter.setFont(cell.font);
  const double pad = layout.Padding(cell.rect);
  const QRectF inner = cell.rect.adjusted(pad, 0, -pad, 0);
  painter.drawText(
      inner, cell.alignment | Qt::AlignVCenter | Qt::TextSingleLine,
      painter.fontMetrics().elidedText(cell.text, Qt::ElideRight, static_cast<int>(inner.width())));
}

}  // namespace

SetListPrintLayout::SetListPrintLayout(QSizeF page, std::vector<double> columnWidths, double dpi)
    : geometry_(page, std::move(columnWidths), dpi) {}

int SetListPrintLayout::TextPixelSize() const {
  // Three quarters of the row leaves room for the descenders and the lines.
  return std::max(1, static_cast<int>(geometry_.RowHeight() * 0.75));
}

QFont SetListPrintLayout::HeaderFont() const {
  return ArialPixels(TextPixelSize(), true);
}

QFont SetListPrintLayout::BodyFont() const {
  return ArialPixels(TextPixelSize(), false);
}

double SetListPrintLayout::Padding(const QRectF& cell) const {
  return std::min({geometry_.RowHeight() / 4, cell.width() / 8, 8.0 * geometry_.Scale()});
}

std::vector<SetListPrintCell> SetListPrintLayout::HeaderCells() const {
  std::vector<SetListPrintCell> cells;
  for (int c = 0; c < geometry_.ColumnCount(); ++c)
    cells.push_back(
        {geometry_.HeaderCell(c), KeySetModel::ColumnTitle(c), HeaderFont(), Qt::AlignHCenter});
  return cells;
}

std::vector<SetListPrintCell> SetListPrintLayout::BodyCells(const KeySet& set, int page) const {
  std::vector<SetListPrintCell> cells;
  const int first = ListPrintLayout::FirstRowOf(page);
  const int rows = ListPrintLayout::RowsOnPage(page, set.RowCount());
  const int columns = std::min(geometry_.ColumnCount(), static_cast<int>(kKeyColumnCount));
  for (int line = 0; line < ListPrintLayout::kRowsPerPage; ++line) {
    for (int c = 0; c < geometry_.ColumnCount(); ++c) {
      const QString text = line < rows && c < columns ? set.Row(first + line).Cell(c) : QString();
      cells.push_back({geometry_.BodyCell(line, c), text, BodyFont(), Qt::AlignLeft});
    }
  }
  return cells;
}

SetListPrintCell SetListPrintLayout::FooterCell(int page, int pages) const {
  return {geometry_.Footer(), QStringLiteral("%1 / %2").arg(page + 1).arg(pages), BodyFont(),
          Qt::AlignHCenter};
}

void PaintSetListPage(QPainter& painter, const SetListPrintLayout& layout, const KeySet& set,
                      int page) {
  const ListPrintLayout& geometry = layout.Geometry();
  QPen pen(Qt::black);
  pen.setWidthF(std::max(1.0, geometry.Table().width() / 500));
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(geometry.Table());
  for (const SetListPrintCell& cell : layout.HeaderCells()) DrawCell(painter, layout, cell);
  for (const SetListPrintCell& cell : layout.BodyCells(set, page)) DrawCell(painter, layout, cell);
  DrawCell(painter, layout, layout.FooterCell(page, ListPrintLayout::PageCount(set.RowCount())));
}

void PaintSetList(QPrinter* printer, const KeySet& set, const std::vector<double>& columnWidths) {
  QPainter painter;
  if (!painter.begin(printer)) return;
  const QRectF paper = printer->paperRect(QPrinter::DevicePixel);
  const SetListPrintLayout layout(paper.size(), columnWidths, printer->resolution());
  const int pages = ListPrintLayout::PageCount(set.RowCount());
  for (int page = 0; page < pages; ++page) {
    if (page > 0) printer->newPage();
    PaintSetListPage(painter, layout, set, page);
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
    platform::PlaceAboveOwner(dialog, this);
    // The name of a file to print to is completed from a file list.
    for (QFileSystemModel* files : dialog.findChildren<QFileSystemModel*>())
      files->setIconProvider(platform::FileIconsByName());
    if (dialog.exec() == QDialog::Accepted) preview_->print();
  });
  action(tr("Printer setup"), [this] {
    EnsurePreview();
    QPageSetupDialog dialog(printer_, this);
    platform::PlaceAboveOwner(dialog, this);
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
