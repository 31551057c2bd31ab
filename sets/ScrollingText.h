#pragma once
// A line of text that scrolls from right to left while started.

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

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  QTimer timer_;
  int offset_ = 0;
};
