#pragma once
// The about window: the product's title and version, "Ok", and "Help",
// which opens the manual. The keyboard window's help caption button shows it
// modally for that window; the manual it opens is a window of its own, which
// takes input while the about window is up and stays open after it.

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

  // "Ok": closes the window.
  void OkClick();
  // "Help": opens the application's help file at its default topic; does
  // nothing when the help engine is not loaded.
  void HelpClick();

  QLabel* Title = nullptr;
  QLabel* Subtitle = nullptr;
  // "Version" and the program's version.
  QLabel* Version = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* HelpButton = nullptr;
};
