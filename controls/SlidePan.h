#pragma once
// TSlidePanel: a panel with a grab handle on one edge; dragging the handle
// resizes the panel, live (stFull) or by a drag line that the panel follows
// on release (stLine).

#include "controls/SetIfChanged.h"
#include "controls/SlidePanelGeometry.h"

#include <QFrame>
#include <QPointer>

namespace controls {

// The drag line: a thin borderless strip in the panel's parent, filled with
// an 8 x 8 pattern of black odd rows and button-face even rows.
class TSlide : public QWidget {
  Q_OBJECT
 public:
  explicit TSlide(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class TSlidePanel : public QFrame {
  Q_OBJECT
 public:
  explicit TSlidePanel(QWidget* parent);
  ~TSlidePanel() override;

  THandlePosition HandlePosition() const { return handlePosition_; }
  void SetHandlePosition(THandlePosition value) { SetFrame(handlePosition_, value); }
  TSlideType SlideType() const { return slideType_; }
  void SetSlideType(TSlideType value) { slideType_ = value; }
  int MinSize() const { return minSize_; }
  void SetMinSize(int value) { minSize_ = value; }
  int MaxSize() const { return maxSize_; }
  void SetMaxSize(int value) { maxSize_ = value; }
  bool HandleVisible() const { return handleVisible_; }
  void SetHandleVisible(bool value) { SetFrame(handleVisible_, value); }

  // The panel's own frame: a raised outer bevel by default.
  bool BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(bool raised) { SetFrame(bevelOuter_, raised); }
  bool BevelInner() const { return bevelInner_; }
  void SetBevelInner(bool raised) { SetFrame(bevelInner_, raised); }
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value) { SetFrame(bevelWidth_, value); }
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value) { SetFrame(borderWidth_, value); }

  int FrameSize() const;
  QWidget* Handle() const { return handle_; }
  TSlide* DragLine() const { return line_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // Stores a property of the frame or handle; they are laid out again only
  // on a real change.
  template <typename T>
  void SetFrame(T& field, const T& value) {
    if (SetIfChanged(field, value)) LayOutHandle();
  }
  void LayOutHandle();
  void ApplyGeometry(const QRect& r);
  QPoint PointerInParent(QPoint onHandle) const;

  THandlePosition handlePosition_ = hpLeft;
  TSlideType slideType_ = stFull;
  int minSize_;
  int maxSize_ = 0;
  bool handleVisible_ = true;
  bool bevelOuter_ = true;
  bool bevelInner_ = false;
  int bevelWidth_ = 1;
  int borderWidth_ = 0;

  QFrame* handle_;
  QPointer<TSlide> line_;  // lives in the parent, beside the panel
  bool dragging_ = false;
  QPoint grab_;
  QPoint offset_;
  slide::Limits limits_{0, 0};
};

}  // namespace controls
