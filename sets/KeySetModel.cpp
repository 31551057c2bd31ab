#include "sets/KeySetModel.h"

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
