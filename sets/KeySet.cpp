#include "sets/KeySet.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

const char* const kNoteNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                    "F#", "G",  "G#", "A",  "A#", "B"};

QChar KeyCharacter(int position) {
  static const QString kKeys = QStringLiteral(
      "abcdefghijklmnopqrstuvwxyz0123456789+-/*ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+");
  return kKeys.at(position);
}

}  // namespace

const QString& KeyRow::Cell(int column) const {
  switch (column) {
    case kKeyColumn:
      return Key;
    case kIndexColumn:
      return index;
    case kLabelColumn:
      return Label;
    case kFileColumn:
      return File;
    case kMinColumn:
      return Min;
    case kMaxColumn:
      return Max;
    case kRateColumn:
      return Rate;
    default:
      throw std::out_of_range("KeyRow: no column " + std::to_string(column));
  }
}

QString& KeyRow::Cell(int column) {
  return const_cast<QString&>(static_cast<const KeyRow*>(this)->Cell(column));
}

QString PredefinedCaption(int position) {
  if (position < 0 || position >= kPredefinedRows)
    throw std::out_of_range("No predefined row " + std::to_string(position));
  const int row = position + 1;
  QString gap = QStringLiteral(" ");
  if (row <= 36) {
    const bool wide = row == 3 || row == 4 || row == 5 || row == 6 || row == 9;
    gap = wide ? QStringLiteral("   ") : QStringLiteral("  ");
  }
  QString caption = KeyCharacter(position) + gap + QString::fromLatin1(kNoteNames[position % 12]);
  // The tenth caption has always carried two trailing blanks; files and
  // users' muscle memory know it that way.
  if (row == 10) caption += QStringLiteral("  ");
  return caption;
}

KeySet::KeySet() {
  rows_.resize(kPredefinedRows);
  for (int i = 0; i < kPredefinedRows; ++i) rows_[i].Key = PredefinedCaption(i);
  InitRows(0, kPredefinedRows);
}

const KeyRow& KeySet::Row(int position) const {
  if (position < 0 || position >= RowCount())
    throw std::out_of_range("No row " + std::to_string(position) + " in the key set");
  return rows_[position];
}

void KeySet::SetCell(int position, int column, const QString& text) {
  if (position < 0 || position >= RowCount())
    throw std::out_of_range("No row " + std::to_string(position) + " in the key set");
  QString& cell = rows_[position].Cell(column);
  if (cell == text) return;
  cell = text;
  if (observer_) observer_->RowsChanged(position, position);
}

void KeySet::InitRows(int from, int to) {
  from = std::max(from, 0);
  to = std::min(to, RowCount());
  if (from >= to) return;
  for (int i = from; i < to; ++i) {
    KeyRow& row = rows_[i];
    row.index = QString::number(i + 1);
    row.Label.clear();
    row.File.clear();
    row.Min = kDefaultMin;
    row.Max = kDefaultMax;
    row.Rate = kDefaultRate;
  }
  if (observer_) observer_->RowsChanged(from, to - 1);
}

void KeySet::ResetRow(int position) {
  Row(position);  // range check
  InitRows(position, position + 1);
}

void KeySet::GrowTo(int count) {
  const int first = RowCount();
  if (count <= first) return;
  if (observer_) observer_->RowsAboutToBeAppended(first, count - 1);
  rows_.resize(count);
  // InitRows would notify a change of rows the view doesn't know yet.
  Observer* observer = observer_;
  observer_ = nullptr;
  InitRows(first, count);
  observer_ = observer;
  if (observer_) observer_->RowsAppended();
}
