#pragma once
// The key set: one row per key of a keyboard window, each holding the clip
// and the values it is played with, all as text. Free of widgets; the set
// editor shows it through KeySetModel.

#include <QString>

#include <vector>

// Column order of a row, as the list shows it.
enum KeyColumn {
  kKeyColumn = 0,
  kIndexColumn,
  kLabelColumn,
  kFileColumn,
  kMinColumn,
  kMaxColumn,
  kRateColumn,
  kKeyColumnCount
};

inline constexpr const char* kDefaultMin = "0";
inline constexpr const char* kDefaultMax = "10000";
inline constexpr const char* kDefaultRate = "100";
// Rows every set starts with: the computer keys a-z, 0-9, + - / *, A-Z, 0-9, +.
inline constexpr int kPredefinedRows = 77;

struct KeyRow {
  QString Key;
  QString index;
  QString Label;
  QString File;
  QString Min;
  QString Max;
  QString Rate;

  // Cell by KeyColumn; out-of-range columns throw std::out_of_range.
  const QString& Cell(int column) const;
  QString& Cell(int column);
};

// Caption of predefined row position (0 to 76): key character, spaces, note.
QString PredefinedCaption(int position);

class KeySet {
 public:
  // Told about every change so a view can follow.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void RowsChanged(int first, int last) = 0;
    virtual void RowsAboutToBeAppended(int first, int last) = 0;
    virtual void RowsAppended() = 0;
  };

  // The 77 predefined rows at their defaults.
  KeySet();

  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Throws std::out_of_range for a position outside the set.
  const KeyRow& Row(int position) const;
  // Stores one cell; throws std::out_of_range for a bad position or column.
  void SetCell(int position, int column, const QString& text);

  // For every position from <= i < to (clipped to the set): index = i + 1 and
  // Label, File, Min, Max, Rate back to their defaults. Key stays.
  void InitRows(int from, int to);
  // Label, File, Min, Max, Rate of one row back to their defaults.
  void ResetRow(int position);
  // Appends rows with an empty Key until there are count; never shrinks.
  void GrowTo(int count);

  void SetObserver(Observer* observer) { observer_ = observer; }

 private:
  std::vector<KeyRow> rows_;
  Observer* observer_ = nullptr;
};
