#pragma once
// The rules of resizing a slide panel by its handle: the frame size, the
// limits of one drag and what a pointer move or a released drag line does.

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace controls {

enum THandlePosition { hpLeft, hpRight, hpTop, hpBottom };
enum TSlideType { stLine, stFull };

inline constexpr int kHandleThickness = 6;
inline constexpr int kDragLineThickness = kHandleThickness - 2;

namespace slide {

// 6 + 2 x border + 2 x bevel width for each bevel present.
int FrameSize(int borderWidth, bool outerBevel, bool innerBevel, int bevelWidth);

bool Horizontal(THandlePosition handle);  // left or right handle: the width changes

struct Limits {
  int min;
  int max;
};
// MaxSize counts only when above 0, at least MinSize and below the parent's size.
Limits DragLimits(THandlePosition handle, int frameSize, int minSize, int maxSize, QSize parent);

// The handle's rectangle inside a panel of the given size and frame inset.
QRect HandleRect(THandlePosition handle, QSize panel, int inset);

// A pointer move to p (parent coordinates, already 2 pixels up and left).
// stFull: the panel's new geometry; stLine: the drag line's new position
// along the moving axis. Empty when a condition fails.
struct MoveResult {
  QRect panel;   // stFull
  int line = 0;  // stLine: x (left/right) or y (top/bottom) of the line
};
std::optional<MoveResult> Move(THandlePosition handle, TSlideType type, QPoint p, QRect panel,
                               QPoint offset, QSize parent, Limits limits);

// The panel after a stLine drag whose line ended at linePos.
QRect ApplyLine(THandlePosition handle, QRect panel, int linePos, QPoint offset);

}  // namespace slide
}  // namespace controls
