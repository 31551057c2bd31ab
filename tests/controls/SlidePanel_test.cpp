#include "controls/SlidePan.h"

#include "ControlsTestSupport.h"

#include <gtest/gtest.h>

#include <QHBoxLayout>

#include <memory>

using namespace controls;

namespace {

// The key editor's folder panel in a window 600 pixels wide.
struct EditorPanel {
  std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
  TSlidePanel* panel;
  EditorPanel(TSlideType type = stFull, THandlePosition handle = hpRight) {
    window->resize(600, 400);
    panel = new TSlidePanel(window.get());
    panel->setGeometry(0, 0, 209, 335);
    panel->SetHandlePosition(handle);
    panel->SetSlideType(type);
    panel->SetMinSize(8);
  }
  // Mouse events arrive on the handle; p is the pointer in window coordinates
  // (the handle reads it 2 pixels up and to the left).
  QPoint OnHandle(QPoint p) const {
    return panel->Handle()->mapFrom(window.get(), p + QPoint(2, 2));
  }
  void Press(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    controls_test::Press(panel->Handle(), OnHandle(p), b);
  }
  void Drag(QPoint p, Qt::MouseButtons held = Qt::LeftButton) {
    controls_test::SendMouse(panel->Handle(), QEvent::MouseMove, OnHandle(p), Qt::NoButton, held);
  }
  void Release(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    controls_test::Release(panel->Handle(), OnHandle(p), b);
  }
};

}  // namespace

TEST(SlidePanelGeometry, FrameSizeAndLimits) {
  EXPECT_EQ(slide::FrameSize(0, true, false, 1), 8);
  EXPECT_EQ(slide::FrameSize(2, true, true, 3), 6 + 4 + 6 + 6);
  const QSize parent(600, 400);
  EXPECT_EQ(slide::DragLimits(hpRight, 8, 8, 0, parent).max, 600);
  EXPECT_EQ(slide::DragLimits(hpRight, 8, 3, 0, parent).min, 8);
  EXPECT_EQ(slide::DragLimits(hpRight, 8, 20, 0, parent).min, 20);
  EXPECT_EQ(slide::DragLimits(hpRight, 8, 8, 700, parent).max, 600);  // above the parent
  EXPECT_EQ(slide::DragLimits(hpRight, 8, 8, 5, parent).max, 600);    // below MinSize
  EXPECT_EQ(slide::DragLimits(hpRight, 8, 8, 400, parent).max, 400);
  EXPECT_EQ(slide::DragLimits(hpBottom, 8, 8, 0, parent).max, 400);
}

TEST(SlidePanelDrag, KeyEditorPanelResizesLiveWithinItsLimits) {
  EditorPanel e;
  EXPECT_EQ(e.panel->FrameSize(), 8);
  EXPECT_EQ(e.panel->Handle()->geometry(), QRect(202, 1, 6, 333));
  e.Press(QPoint(203, 9));
  e.Drag(QPoint(300, 9));
  EXPECT_EQ(e.panel->width(), 306);
  e.Drag(QPoint(1, 9));  // narrower than the frame
  EXPECT_EQ(e.panel->width(), 306);
  e.Drag(QPoint(2, 9));
  EXPECT_EQ(e.panel->width(), 8);
  e.Drag(QPoint(593, 9));
  EXPECT_EQ(e.panel->width(), 599);
  e.Drag(QPoint(594, 9));  // within 6 pixels of the window's edge
  EXPECT_EQ(e.panel->width(), 599);
  e.Release(QPoint(594, 9));
  EXPECT_EQ(e.panel->geometry(), QRect(0, 0, 599, 335));
  EXPECT_EQ(e.panel->Handle()->geometry().right(), 599 - 2);
}

TEST(SlidePanelDrag, RightButtonDragDoesNothing) {
  EditorPanel e;
  e.Press(QPoint(203, 9), Qt::RightButton);
  e.Drag(QPoint(300, 9), Qt::RightButton);
  e.Release(QPoint(300, 9), Qt::RightButton);
  EXPECT_EQ(e.panel->width(), 209);
}

TEST(SlidePanelDrag, MaxSizeLimitsTheDrag) {
  EditorPanel e;
  e.panel->SetMaxSize(400);
  e.Press(QPoint(203, 9));
  e.Drag(QPoint(450, 9));
  EXPECT_EQ(e.panel->width(), 209);
  e.Drag(QPoint(394, 9));
  EXPECT_EQ(e.panel->width(), 400);
  e.Release(QPoint(394, 9));
}

TEST(SlidePanelDrag, LineDragResizesOnRelease) {
  EditorPanel e(stLine);
  e.Press(QPoint(203, 9));
  ASSERT_TRUE(e.panel->DragLine()->isVisibleTo(e.window.get()));
  EXPECT_EQ(e.panel->DragLine()->geometry(), QRect(203, 1, 4, 333));
  e.Drag(QPoint(300, 9));
  EXPECT_EQ(e.panel->width(), 209);
  EXPECT_EQ(e.panel->DragLine()->x(), 300);
  e.Drag(QPoint(592, 9));  // a line needs 8 pixels of room
  EXPECT_EQ(e.panel->DragLine()->x(), 300);
  e.Release(QPoint(592, 9));
  EXPECT_FALSE(e.panel->DragLine()->isVisibleTo(e.window.get()));
  EXPECT_EQ(e.panel->width(), 209 + 300 - 203);
}

TEST(SlidePanelDrag, LeftHandleMovesTheLeftEdge) {
  EditorPanel e(stFull, hpLeft);
  e.panel->setGeometry(100, 0, 200, 335);
  e.Press(QPoint(102, 9));  // the handle starts at x = 1 inside the panel
  e.Drag(QPoint(52, 9));
  EXPECT_EQ(e.panel->geometry(), QRect(50, 0, 250, 335));
  e.Drag(QPoint(0, 9));  // the pointer must stay right of the window's edge
  EXPECT_EQ(e.panel->geometry(), QRect(50, 0, 250, 335));
  e.Release(QPoint(0, 9));
}

TEST(SlidePanelDrag, InsideALayoutTheWidthBecomesFixed) {
  auto window = std::make_unique<QWidget>();
  window->resize(600, 400);
  auto* layout = new QHBoxLayout(window.get());
  auto* panel = new TSlidePanel(window.get());
  panel->SetHandlePosition(hpRight);
  layout->addWidget(panel);
  layout->addStretch();
  window->show();
  panel->resize(209, 335);
  const QPoint start = panel->Handle()->mapTo(window.get(), QPoint(1, 8));
  controls_test::Press(panel->Handle(), QPoint(3, 10));
  const QPoint target = start + QPoint(40, 0);
  controls_test::Drag(panel->Handle(),
                      panel->Handle()->mapFrom(window.get(), target + QPoint(2, 2)));
  EXPECT_EQ(panel->minimumWidth(), target.x() - panel->x() + 6);
  EXPECT_EQ(panel->maximumWidth(), panel->minimumWidth());
}
