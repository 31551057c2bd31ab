#pragma once
// An explanation: wrapped to its width and standing still where its box
// holds it whole; otherwise one line that scrolls from right to left while
// started.

#include <QTimer>
#include <QWidget>

// Where the text starts at a given scroll offset: it enters at the right
// edge, leaves at the left and comes round again.
struct ScrollingTextGeometry {
  static int TextLeft(int widgetWidth, int textWidth, int offset);
};

class ScrollingText : public QWidget {
  Q_OBJECT
 public:
  explicit ScrollingText(const QString& text, QWidget* parent = nullptr);

  QString Text() const { return text_; }
  void Start();
  void Stop();
  bool Running() const { return timer_.isActive(); }
  int Offset() const { return offset_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  // The whole text fits the box, wrapped.
  bool ShowsWhole() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  QTimer timer_;
  int offset_ = 0;
};
