#pragma once
// Up-down arrows beside an edit box: a position between Min and Max that the
// arrows step by one, asking the owner first (OnChangingEx) whether the new
// value may be taken.

#include <QWidget>

#include <functional>

class QToolButton;

enum TUpDownDirection { updNone, updUp, updDown };

class TUpDown : public QWidget {
  Q_OBJECT
 public:
  explicit TUpDown(QWidget* parent);

  int Min = 0;
  int Max = 1000;
  bool Wrap = false;
  int Position() const { return position_; }
  // Sets the position, clamped to Min..Max, without asking.
  void SetPosition(int value);

  // (Sender, AllowChange, NewValue, Direction). The value offered is one step
  // from the position even beyond Min or Max; an allowed change is clamped.
  std::function<void(QObject*, bool&, int, TUpDownDirection)> OnChangingEx;

  void Step(TUpDownDirection direction);

 private:
  QToolButton* up_;
  QToolButton* down_;
  int position_ = 0;
};
