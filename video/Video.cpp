#include "video/Video.h"

#include "platform/Application.h"
#include "platform/SettingsStore.h"
#include "platform/WindowPlacement.h"
#include "player/Tplayerbase.h"
#include "video/VideoLayout.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <memory>

namespace {

// A menu item that shows its action's check mark as a radio mark and hands
// its clicks to the action. A one-item group that may be empty draws the
// radio mark without tying the three options to each other.
QAction* MirrorItem(QWidget* owner, QAction* action) {
  auto* item = new QAction(action->text(), owner);
  auto* group = new QActionGroup(owner);
  group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  item->setCheckable(true);
  item->setChecked(action->isChecked());
  group->addAction(item);
  QObject::connect(item, &QAction::triggered, action, [item, action] {
    item->setChecked(action->isChecked());
    action->trigger();
  });
  QObject::connect(action, &QAction::changed, item,
                   [item, action] { item->setChecked(action->isChecked()); });
  return item;
}

QList<QRect> AvailableAreas() {
  QList<QRect> areas;
  if (QScreen* primary = QGuiApplication::primaryScreen())
    areas.push_back(primary->availableGeometry());
  for (QScreen* screen : QGuiApplication::screens())
    if (screen != QGuiApplication::primaryScreen()) areas.push_back(screen->availableGeometry());
  return areas;
}

}  // namespace

TVideo1::TVideo1(QWidget* owner, int instance)
    : QWidget(nullptr), Instance_(instance), owner_(owner) {
  // Owned by its keyboard window (or the key editor), which deletes it; no Qt
  // parent, so it stays a window of its own that the window manager places.
  setWindowTitle("Tastivo");
  // A clip's picture coming up must not take the keyboard from the window
  // being played.
  setAttribute(Qt::WA_ShowWithoutActivating, true);
  setAttribute(Qt::WA_QuitOnClose, false);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setAutoFillBackground(true);

  AFull = new QAction("Full Screen", this);
  ARatio = new QAction("Keep Ratio", this);
  AOrig = new QAction("Original size", this);
  for (QAction* action : {AFull, ARatio, AOrig}) action->setCheckable(true);
  AOrig->setChecked(true);
  // Triggering a checkable action has already flipped its mark.
  connect(AFull, &QAction::triggered, this,
          [this] { platform::RunGuarded([this] { ApplyFull(); }); });
  connect(ARatio, &QAction::triggered, this,
          [this] { platform::RunGuarded([this] { ApplyRatio(); }); });
  connect(AOrig, &QAction::triggered, this,
          [this] { platform::RunGuarded([this] { ApplyOrig(); }); });

  PopupMenu1 = new QMenu(this);
  MFull = MirrorItem(this, AFull);
  MRation1 = MirrorItem(this, ARatio);
  Originalsize1 = MirrorItem(this, AOrig);
  PopupMenu1->addActions({MFull, MRation1, Originalsize1});

  FormCreate();
}

TVideo1::~TVideo1() {
  FormDestroy();
}

void TVideo1::FormCreate() {
  platform::SettingsStore store;
  store.OpenKeyReadOnly(platform::InstanceKey(Instance_));
  try {
    SavedTop = store.ReadInteger("vtop");
    SavedLeft = store.ReadInteger("vleft");
    SavedWidth = store.ReadInteger("vwidth");
    SavedHeight = store.ReadInteger("vheight");
    ARatio->setChecked(store.ReadBool("ratio"));
    AOrig->setChecked(store.ReadBool("orig"));
    AFull->setChecked(store.ReadBool("full"));
  } catch (const platform::SettingsError&) {
    // The first value missing ends the reading; the rest keep their defaults.
  }
  Ratio = 100;
}

void TVideo1::FormDestroy() {
  // A window closed with the program has not been hidden: keep where it is.
  if (isVisible() && !AFull->isChecked()) SaveBounds();
  try {
    platform::SettingsStore store;
    if (!store.OpenKey(platform::InstanceKey(Instance_), true)) return;
    store.WriteInteger("vtop", SavedTop);
    store.WriteInteger("vleft", SavedLeft);
    store.WriteInteger("vwidth", SavedWidth);
    store.WriteInteger("vheight", SavedHeight);
    store.WriteBool("ratio", ARatio->isChecked());
    store.WriteBool("orig", AOrig->isChecked());
    store.WriteBool("full", AFull->isChecked());
    store.CloseKey();
  } catch (const platform::SettingsError&) {
    // Settings that can't be written are given up silently.
  }
}

void TVideo1::ReadPictureSize() {
  picture_ = QSize();
  if (Player == nullptr || !Player->IsVideo()) return;
  try {
    int w = 0, h = 0;
    Player->GetVideoSize(w, h);
    if (w > 0 && h > 0) picture_ = QSize(w, h);
  } catch (const std::exception&) {
    // No picture to measure: the layout keeps the previous ratio.
  }
}

void TVideo1::PlacePicture(const QRect& rect) {
  if (Player == nullptr || !Player->IsVideo()) return;
  try {
    Player->ResizeVideo(rect.left(), rect.top(), rect.width(), rect.height());
  } catch (const std::exception&) {
    // The clip's picture went away under the layout; nothing to place.
  }
}

QRect TVideo1::MonitorGeometry() const {
  QScreen* screen = nullptr;
  if (isVisible() && !isFullScreen()) {
    screen = QGuiApplication::screenAt(frameGeometry().center());
  } else if (isFullScreen() && !fullMonitor_.isEmpty()) {
    return fullMonitor_;
  } else if (SavedWidth > 0 && SavedHeight > 0) {
    screen =
        QGuiApplication::screenAt(QRect(SavedLeft, SavedTop, SavedWidth, SavedHeight).center());
  }
  if (screen == nullptr) screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect();
}

void TVideo1::SaveBounds() {
  // A window just out of full screen, or hidden, has no frame at the
  // moment; the one it had is where it goes back to.
  if (const QPoint inset = FrameInset(); !inset.isNull()) {
    frameInset_ = inset;
    frameSeen_ = true;
  }
  const QPoint frame = video::FrameTopLeft(geometry().topLeft(), frameInset_);
  SavedLeft = frame.x();
  SavedTop = frame.y();
  SavedWidth = width();
  SavedHeight = height();
}

QPoint TVideo1::FrameInset() const {
  // Asked of the window system each time: the widget's own idea of its
  // frame lags behind the window manager's changes.
  const QWindow* window = windowHandle();
  if (window == nullptr) return {};
  const QMargins margins = window->frameMargins();
  return QPoint(margins.left(), margins.top());
}

void TVideo1::PlaceFrame(QPoint frame, QSize client) {
  setGeometry(video::ClientRectForFrame(frame, client, frameInset_));
  if (frameSeen_) return;
  // Never framed yet (the window's first show): the inset is a guess until
  // the window manager has put its frame around the window, which it does
  // in its own time and tells no widget of; then the frame takes the place.
  auto* watch = new QTimer(this);
  auto tries = std::make_shared<int>(50);
  connect(watch, &QTimer::timeout, this, [this, watch, tries, frame] {
    // Full screen asked for meanwhile has a place of its own.
    const bool windowed = !AFull->isChecked() && !isFullScreen();
    const QPoint inset = FrameInset();
    if (!inset.isNull() && windowed) {
      frameSeen_ = true;
      if (inset != frameInset_) {
        frameInset_ = inset;
        setGeometry(video::ClientRectForFrame(frame, size(), inset));
      }
    }
    if (!inset.isNull() || !windowed || --*tries <= 0 || !isVisible()) watch->deleteLater();
  });
  watch->start(20);
}

void TVideo1::EnterFullScreen() {
  fullMonitor_ = MonitorGeometry();
  if (isFullScreen()) return;
  // A window on another monitor goes there first, so that full screen
  // covers that one; the window manager then takes the border away.
  if (!fullMonitor_.contains(geometry().center())) setGeometry(fullMonitor_);
  setWindowState(windowState() | Qt::WindowFullScreen);
}

void TVideo1::LeaveFullScreen() {
  if (!isFullScreen()) return;
  setWindowState(windowState() & ~Qt::WindowFullScreen);
  Tag = 0;
}

void TVideo1::FormShow() {
  ReadPictureSize();
  Ratio = video::RatioOf(picture_.width(), picture_.height(), Ratio);
  resizeAttached_ = false;
  if (AFull->isChecked()) {
    Tag = 0;
    EnterFullScreen();
    PlacePicture(video::FullScreenPicture(fullMonitor_.size(), picture_, ARatio->isChecked()));
  } else {
    LeaveFullScreen();
    if (Tag == 0) {
      const video::WindowPlace place = video::PlaceWindow(
          QRect(SavedLeft, SavedTop, SavedWidth, SavedHeight), picture_, AOrig->isChecked(),
          AvailableAreas(), owner_ && owner_->isVisible() ? owner_->frameGeometry() : QRect());
      QPoint frame = place.position;
      // The first show of the session keeps clear of the keyboard windows
      // and wholly on its screen; later shows go back where the user left it.
      if (!placed_) {
        placed_ = true;
        frame = platform::FirstPlace(this, place.client, frame, owner_).topLeft();
        // Never framed yet: the frame the window manager will add, as
        // expected, so that the title bar lands on the screen too.
        if (frameInset_.isNull()) {
          const QMargins expected = platform::ExpectedFrame(this);
          frameInset_ = QPoint(expected.left(), expected.top());
        }
      }
      PlaceFrame(frame, place.client);
    }
    Tag = 1;
    FormResize();
  }
  resizeAttached_ = true;
}

void TVideo1::FormHide() {
  if (!AFull->isChecked()) SaveBounds();
  Tag = 0;
}

void TVideo1::FormResize() {
  if (AFull->isChecked()) {
    // The window manager sizes a full-screen window in its own time; the
    // picture follows the size it gives.
    PlacePicture(video::FullScreenPicture(size(), picture_, ARatio->isChecked()));
    return;
  }
  if (ARatio->isChecked()) {
    const bool attached = resizeAttached_;
    resizeAttached_ = false;
    resize(width(), video::KeepRatioHeight(width(), Ratio));
    resizeAttached_ = attached;
  }
  PlacePicture(QRect(0, 0, width(), height()));
  SaveBounds();
}

void TVideo1::AFullExecute() {
  AFull->setChecked(!AFull->isChecked());
  ApplyFull();
}

void TVideo1::ARatioExecute() {
  ARatio->setChecked(!ARatio->isChecked());
  ApplyRatio();
}

void TVideo1::AOrigExecute() {
  AOrig->setChecked(!AOrig->isChecked());
  ApplyOrig();
}

void TVideo1::ApplyFull() {
  // A hidden window takes the new mode at its next show.
  if (!isVisible()) {
    Tag = 0;
    return;
  }
  // The picture's widget lives on through the change of window state, so
  // the clip is left exactly as it plays (marks, volume, rate, loop); only
  // the layout changes.
  if (AFull->isChecked()) SaveBounds();
  Tag = 0;
  FormShow();
  // A clip at rest stays at rest: a performer sets up the projector's full
  // screen before the cue, and no sound may start without a key.
}

void TVideo1::ApplyRatio() {
  if (!AFull->isChecked() && isVisible()) FormResize();
}

void TVideo1::ApplyOrig() {
  if (AFull->isChecked()) return;
  Tag = 0;
  // A hidden window takes its original size at its next show.
  if (!isVisible()) return;
  FormShow();
  PlacePicture(QRect(0, 0, width(), height()));
}

void TVideo1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TVideo1::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) FormHide();
}

void TVideo1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A hidden window gets its size from the next show; the resize Qt sends
  // just before showing must not overwrite the saved bounds.
  if (resizeAttached_ && isVisible()) FormResize();
}

void TVideo1::keyPressEvent(QKeyEvent* event) {
  // Esc leaves full screen, as with any full-screen picture; the menu's mark
  // follows.
  if (event->key() == Qt::Key_Escape && AFull->isChecked()) {
    AFull->trigger();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TVideo1::contextMenuEvent(QContextMenuEvent* event) {
  PopupMenu1->popup(event->globalPos());
}
