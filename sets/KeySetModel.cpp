#include "sets/KeySetModel.h"

#include <QColor>

KeySetModel::KeySetModel(KeySet& set, QObject* parent) : QAbstractTableModel(parent), set_(set) {
  set_.SetObserver(this);
}

KeySetModel::~KeySetModel() {
  set_.SetObserver(nullptr);
}

int KeySetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : set_.RowCount();
}

int KeySetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kKeyColumnCount;
}

QVariant KeySetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= set_.RowCount()) return {};
  if (role == Qt::DisplayRole) return set_.Row(index.row()).Cell(index.column());
  if (index.column() == kFileColumn && (role == Qt::ForegroundRole || role == Qt::ToolTipRole)) {
    const QString problem = ClipProblem(index.row());
    if (problem.isEmpty()) return {};
    if (role == Qt::ForegroundRole) return QColor(Qt::red);
    return problem;
  }
  return {};
}

QVariant KeySetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return ColumnTitle(section);
  return {};
}

Qt::ItemFlags KeySetModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QString KeySetModel::ColumnTitle(int column) {
  static const char* const kTitles[kKeyColumnCount] = {"Key", "index", "Label", "File",
                                                       "Min", "Max",   "Rate"};
  if (column < 0 || column >= kKeyColumnCount) return {};
  return QString::fromLatin1(kTitles[column]);
}

void KeySetModel::RowsChanged(int first, int last) {
  emit dataChanged(index(first, 0), index(last, kKeyColumnCount - 1), {Qt::DisplayRole});
}

void KeySetModel::RowsAboutToBeAppended(int first, int last) {
  beginInsertRows({}, first, last);
}

void KeySetModel::RowsAppended() {
  endInsertRows();
}

void KeySetModel::SetClipProblem(int row, const QString& problem) {
  if (row < 0) return;
  if (ClipProblem(row) == problem) return;
  if (static_cast<std::size_t>(row) >= problems_.size()) problems_.resize(row + 1);
  problems_[row] = problem;
  if (row < set_.RowCount()) {
    const QModelIndex cell = index(row, kFileColumn);
    emit dataChanged(cell, cell, {Qt::ForegroundRole, Qt::ToolTipRole});
  }
}

QString KeySetModel::ClipProblem(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= problems_.size()) return {};
  return problems_[row];
}
