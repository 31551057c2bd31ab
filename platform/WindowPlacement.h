#pragma once
// Where a window of ours opens: wholly on its screen, and clear of the
// keyboard windows that stay on top of everything else.

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace platform {

// The frame rectangle a window of frame `size` takes on `screen` (the
// screen's available area), as near to `wanted` (the frame's top left) as
// it can be while it overlaps none of `onTop`. Where the screen leaves no
// such room, the window's top (its title bar and tool bars) is kept clear
// first, then as much of the rest as possible. Before that, a window may be
// cut down as far as `least` (an invalid size: not at all) to find room
// beside them. A window larger than the screen is cut to it.
QRect ClearPlace(const QRect& screen, const QList<QRect>& onTop, QSize size, QPoint wanted,
                 QSize least = QSize());

// The frames of the shown windows that stay on top, `except` left out.
QList<QRect> OnTopFrames(const QWidget* except);

// The frame rectangle of `window`, with a client area of `client`, at its
// ClearPlace on the screen it belongs to: the one under `wanted` if any,
// else `owner`'s, else the primary one. `alsoClear` are more rectangles to
// keep clear of as if they stayed on top: the tool bar of the window that the
// new one works for, which it would otherwise open over. The window may be
// cut down to its minimum size hint for that.
QRect FirstPlace(const QWidget* window, QSize client, QPoint wanted, const QWidget* owner,
                 const QList<QRect>& alsoClear = {});

// Moves a window that is about to be shown for the first time to its
// FirstPlace, at its saved place if it has one (it was moved), else centred,
// and gives it the size that place has.
// Call it before the window is shown; it also tells the window manager that
// the place is ours, so that the window stays there when it is hidden and
// shown again (as the key editor is, to change its mode).
void PlaceOnScreen(QWidget* window, const QWidget* owner, const QList<QRect>& alsoClear = {});

// The largest client area a window can have on the screen it would belong to
// for `owner`, its frame included.
QSize LargestClient(const QWidget* window, const QWidget* owner);

// The frame's top left that centres a window of `frameSize` on the screen it
// would belong to for `owner`.
QPoint CentredOnScreen(QSize frameSize, const QWidget* owner);

// The frame a window will get around its client area. Before the window
// manager has framed it, an allowance that covers the frames of common
// window managers (a larger guess only keeps the window further inside).
QMargins ExpectedFrame(const QWidget* window);

// Shows a window without taking the activation from the one that has it: the
// window manager is told that the window wants no focus when it is mapped.
void ShowWithoutActivating(QWidget* window);

}  // namespace platform
