#pragma once
// Where the video window goes and where the picture goes inside it: plain
// numbers, shared by the window and its tests. All divisions truncate toward
// zero.

#include <QList>
#include <QRect>
#include <QSize>

namespace video {

// Picture width x 100 / picture height, the window's keep-ratio figure. A
// picture of unknown size (either side 0 or less) keeps `previous`.
int RatioOf(int width, int height, int previous);

// The client height that keeps the ratio for a client width.
int KeepRatioHeight(int clientWidth, int ratio);

// The picture's rectangle, relative to a full-screen client area of `monitor`
// size. With keepRatio the picture fits inside, centred on the axis it does
// not fill; an unknown picture size fills the whole area.
QRect FullScreenPicture(QSize monitor, QSize picture, bool keepRatio);

// Bounds of a window shown in a window (not full screen).
struct WindowPlace {
  QPoint position;  // top-left of the frame
  QSize client;     // size of the client area
};

// Where a window shown for the first time in a session goes. The saved place
// is used when it has a size and lies at least partly on one of the screens'
// available areas; otherwise the window is centred on `preferred` (the first
// screen's available area). With original size the client becomes the
// picture's size when that is known. A window without any size gets the
// picture's size, or kDefaultClient for a picture of unknown size, shrunk
// (ratio kept) to fit inside the available area. A first place keeps clear
// of `avoid` (the frame of the keyboard window that owns the picture, which
// stays on top and would hide it): above it when there is room, else below
// it, else beside it.
WindowPlace PlaceWindow(const QRect& saved, QSize picture, bool originalSize,
                        const QList<QRect>& available, const QRect& avoid = QRect());

inline constexpr QSize kDefaultClient{320, 240};

// The window system places a window's client area; the window manager puts
// its frame (border and title bar) around it. The frame goes back where it
// was by asking for the client at the frame's place plus the client's inset
// in the frame, as last seen with a frame: a window just out of full screen
// has no frame yet, and a client placed at the frame's place would end up
// one title bar lower each time.
//
// The frame's top left for a client area at `client`, `inset` inside it.
QPoint FrameTopLeft(QPoint client, QPoint inset);
// The client rectangle that puts the frame's top left at `frame`.
QRect ClientRectForFrame(QPoint frame, QSize client, QPoint inset);

}  // namespace video
