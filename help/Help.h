#pragma once
// The about window: the product's title, "Ok", and "Help", which opens the
// manual. The keyboard window's help caption button shows it modally.

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

class QLabel;
class QPushButton;

// Where a window of the given size sits when centred in area.
QPoint CentredTopLeft(const QRect& area, const QSize& size);

class THelp1 : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kWidth = 360;
  static constexpr int kHeight = 253;

  explicit THelp1(QWidget* owner = nullptr);
  // Closes every help viewer when the engine is loaded, so that the manual
  // opened from this window goes away with it.
  ~THelp1() override;

  // "Ok": closes the window.
  void OkClick();
  // "Help": opens the application's help file at its default topic; does
  // nothing when the help engine is not loaded.
  void HelpClick();

  QLabel* Title = nullptr;
  QLabel* Subtitle = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* HelpButton = nullptr;
};
