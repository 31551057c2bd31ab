#pragma once
// TVideo1: the window a player draws a clip's picture into. Every keyboard
// window has one with its own instance number; the key editor's preview has
// one with instance 99. It shows the picture stretched, with the picture's
// ratio, at its original size or full screen on the monitor it is on, and
// remembers its place and those options in the settings store.
//
// The owner sets Player before each clip and hands Handle() to the player.
// On a clip with a picture the owner shows the window, or, when it is
// already visible, calls FormHide() then FormShow() to lay it out for the
// new clip; on a clip without one it hides it. Closing the window by the
// window manager only hides it; the clip plays on.
//
// Everything runs on the window thread.

#include <QPointer>
#include <QRect>
#include <QWidget>

class QAction;
class QMenu;
class TPlayer;

class TVideo1 : public QWidget {
  Q_OBJECT
 public:
  TVideo1(QWidget* owner, int instance);
  ~TVideo1() override;

  // The widget the picture draws in.
  QWidget* Handle() { return this; }

  // Instance number of the owner; chooses the settings key (99: the key
  // editor's preview).
  int Instance() const { return Instance_; }
  // The window that owns this one: a keyboard window, or the key editor.
  QWidget* Owner() const { return owner_; }

  // The player whose picture this window shows; set by the owner, not owned.
  TPlayer* Player = nullptr;

  // The three options. Each is checkable; triggering one flips its mark and
  // applies it, as the menu and the set editor's boxes do.
  QAction* AFull = nullptr;   // "Full Screen"
  QAction* ARatio = nullptr;  // "Keep Ratio"
  QAction* AOrig = nullptr;   // "Original size"
  // The window's context menu; its items mirror the three actions.
  QMenu* PopupMenu1 = nullptr;
  QAction* MFull = nullptr;
  QAction* MRation1 = nullptr;
  QAction* Originalsize1 = nullptr;

  // The last bounds outside full screen: frame position and client size.
  int SavedLeft = 0;
  int SavedTop = 0;
  int SavedWidth = 0;
  int SavedHeight = 0;
  // Picture width x 100 / picture height of the current clip; 100 until a
  // clip with a known size is shown.
  int Ratio = 100;
  // 0: the saved bounds are applied at the next show; 1: the window is placed.
  int Tag = 0;

  void FormCreate();
  void FormDestroy();
  // Lays the window and the picture out for the current clip and options.
  void FormShow();
  // Remembers the bounds outside full screen; the next show places anew.
  void FormHide();
  void FormResize();
  void AFullExecute();
  void ARatioExecute();
  void AOrigExecute();

  // The picture's size as the player last reported it (0 x 0 for none).
  QSize PictureSize() const { return picture_; }
  // The geometry of the monitor the window is on (or will be shown on).
  QRect MonitorGeometry() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void ApplyFull();
  void ApplyRatio();
  void ApplyOrig();
  // Asks the player for the picture's size; none when there is no picture.
  void ReadPictureSize();
  void PlacePicture(const QRect& rect);
  void LayOutFullScreen();
  // Keeps the bounds outside full screen: the frame's place, the client's
  // size.
  void SaveBounds();
  // How far the client area sits inside the frame now; none without a frame.
  QPoint FrameInset() const;
  // Puts the frame's top left at `frame`, with a client of size `client`.
  void PlaceFrame(QPoint frame, QSize client);
  void EnterFullScreen();
  void LeaveFullScreen();

  const int Instance_;
  QPointer<QWidget> owner_;
  QSize picture_;
  // OnResize detached: size changes made by the layout itself do not run
  // FormResize.
  bool resizeAttached_ = true;
  // The monitor chosen for full screen, kept while full screen lasts.
  QRect fullMonitor_;
  // How far the client area sits inside the frame, as last seen with one.
  QPoint frameInset_;
  // frameInset_ was read off a real frame, not guessed.
  bool frameSeen_ = false;
  bool placed_ = false;
};
