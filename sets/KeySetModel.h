#pragma once
// Shows a KeySet in a list view: seven text columns, read-only in place.

#include "sets/KeySet.h"

#include <QAbstractTableModel>

#include <vector>

class KeySetModel : public QAbstractTableModel, private KeySet::Observer {
  Q_OBJECT
 public:
  // The set must outlive the model.
  explicit KeySetModel(KeySet& set, QObject* parent = nullptr);
  ~KeySetModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // "Key", "index", "Label", "File", "Min", "Max", "Rate".
  static QString ColumnTitle(int column);

  // Marks a row whose clip was not found: its File cell is drawn in red and
  // shows problem as its tool tip. An empty problem clears the mark.
  void SetClipProblem(int row, const QString& problem);
  QString ClipProblem(int row) const;

 private:
  void RowsChanged(int first, int last) override;
  void RowsAboutToBeAppended(int first, int last) override;
  void RowsAppended() override;

  KeySet& set_;
  std::vector<QString> problems_;  // by row; shorter than the set when the rest are fine
};
