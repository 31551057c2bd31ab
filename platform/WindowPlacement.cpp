#include "platform/WindowPlacement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdint>
#include <tuple>

namespace platform {

namespace {

// The top of a window that must stay in sight when nothing else can: the
// title bar and, below it, the tab bar and tool bar of our windows.
constexpr int kTopBand = 100;

std::int64_t Area(const QRect& r) {
  return r.isEmpty() ? 0 : std::int64_t{r.width()} * r.height();
}

std::int64_t Covered(const QRect& place, const QList<QRect>& onTop) {
  std::int64_t covered = 0;
  for (const QRect& r : onTop) covered += Area(place.intersected(r));
  return covered;
}

// How far a window at `x`..`x + width` may reach down from `y` before it
// meets an on-top window or the screen's bottom; 0 when one covers `y`.
int ClearDown(const QRect& screen, const QList<QRect>& onTop, int x, int width, int y) {
  int reach = screen.top() + screen.height() - y;
  for (const QRect& r : onTop) {
    if (r.left() >= x + width || r.left() + r.width() <= x) continue;
    if (r.top() <= y && y < r.top() + r.height()) return 0;
    if (r.top() > y) reach = std::min(reach, r.top() - y);
  }
  return reach;
}

QRect Transposed(const QRect& r) {
  return QRect(r.top(), r.left(), r.height(), r.width());
}

// The same across, from `x` to the right: ClearDown with rows and columns
// swapped.
int ClearRight(const QRect& screen, const QList<QRect>& onTop, int y, int height, int x) {
  QList<QRect> across;
  for (const QRect& r : onTop) across << Transposed(r);
  return ClearDown(Transposed(screen), across, y, height, x);
}

}  // namespace

QRect ClearPlace(const QRect& screen, const QList<QRect>& onTop, QSize size, QPoint wanted,
                 QSize least) {
  const QSize s = size.boundedTo(screen.size()).expandedTo(QSize(1, 1));
  const QSize l = least.isValid() ? least.boundedTo(s) : s;
  auto clampTo = [](int v, int low, int high) { return std::clamp(v, low, std::max(low, high)); };
  auto onScreen = [&](int x, int y, QSize at) {
    return QPoint(clampTo(x, screen.left(), screen.left() + screen.width() - at.width()),
                  clampTo(y, screen.top(), screen.top() + screen.height() - at.height()));
  };
  const QPoint start = onScreen(wanted.x(), wanted.y(), s);
  // Every place worth trying touches the screen's edges, an on-top window's
  // edges, or keeps the wanted coordinate.
  QList<int> xs{start.x(), screen.left(), screen.left() + screen.width() - s.width()};
  QList<int> ys{start.y(), screen.top(), screen.top() + screen.height() - s.height()};
  for (const QRect& r : onTop) {
    xs << r.left() - s.width() << r.left() + r.width();
    ys << r.top() - s.height() << r.top() + r.height();
  }
  QRect best;
  std::tuple<std::int64_t, std::int64_t, std::int64_t, int> bestCost{};
  bool first = true;
  auto consider = [&](const QRect& place) {
    const QRect top(place.topLeft(), QSize(place.width(), std::min(place.height(), kTopBand)));
    const auto cost = std::make_tuple(Covered(top, onTop), Covered(place, onTop),
                                      Area(QRect(QPoint(), s)) - Area(place),
                                      (place.topLeft() - start).manhattanLength());
    if (first || cost < bestCost) {
      best = place;
      bestCost = cost;
      first = false;
    }
  };
  for (int x : xs) {
    for (int y : ys) {
      consider(QRect(onScreen(x, y, s), s));
      // Where the whole window finds no room, one cut down towards its least
      // size may: shorter above or below an on-top window, narrower beside it.
      const QPoint low = onScreen(x, y, QSize(s.width(), l.height()));
      const int down = std::min(s.height(), ClearDown(screen, onTop, low.x(), s.width(), low.y()));
      if (down >= l.height() && down < s.height()) consider(QRect(low, QSize(s.width(), down)));
      const QPoint narrow = onScreen(x, y, QSize(l.width(), s.height()));
      const int across =
          std::min(s.width(), ClearRight(screen, onTop, narrow.y(), s.height(), narrow.x()));
      if (across >= l.width() && across < s.width())
        consider(QRect(narrow, QSize(across, s.height())));
    }
  }
  return best;
}

QList<QRect> OnTopFrames(const QWidget* except) {
  QList<QRect> frames;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w == except || !w->isVisible() || w->isMinimized()) continue;
    if (w->windowFlags() & Qt::WindowStaysOnTopHint) frames << w->frameGeometry();
  }
  return frames;
}

QMargins ExpectedFrame(const QWidget* window) {
  if (window->windowFlags() & Qt::FramelessWindowHint) return {};
  if (window->isVisible() && window->frameGeometry() != window->geometry())
    return window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
  // Another framed window of ours shows what the window manager draws.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != window && w->isVisible() && w->windowHandle() &&
        !(w->windowFlags() & Qt::FramelessWindowHint) &&
        !w->windowHandle()->frameMargins().isNull())
      return w->windowHandle()->frameMargins();
  return QMargins(8, 32, 8, 8);
}

namespace {

QScreen* ScreenFor(QPoint point, const QWidget* owner) {
  if (QScreen* s = QGuiApplication::screenAt(point)) return s;
  if (owner && owner->screen()) return owner->screen();
  return QGuiApplication::primaryScreen();
}

}  // namespace

QPoint CentredOnScreen(QSize frameSize, const QWidget* owner) {
  QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
  if (!screen) return {};
  const QRect area = screen->availableGeometry();
  return area.topLeft() +
         QPoint((area.width() - frameSize.width()) / 2, (area.height() - frameSize.height()) / 2);
}

QRect FirstPlace(const QWidget* window, QSize client, QPoint wanted, const QWidget* owner,
                 const QList<QRect>& alsoClear) {
  const QMargins frame = ExpectedFrame(window);
  const QSize frameSize = client.grownBy(frame);
  QScreen* screen = ScreenFor(wanted, owner);
  if (!screen) return QRect(wanted, frameSize);
  const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize()).grownBy(frame);
  return ClearPlace(screen->availableGeometry(), OnTopFrames(window) + alsoClear, frameSize, wanted,
                    least);
}

QSize LargestClient(const QWidget* window, const QWidget* owner) {
  QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
  if (!screen) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  return screen->availableGeometry().size().shrunkBy(ExpectedFrame(window));
}

void PlaceOnScreen(QWidget* window, const QWidget* owner, const QList<QRect>& alsoClear) {
  const QMargins frame = ExpectedFrame(window);
  const QPoint wanted = window->testAttribute(Qt::WA_Moved)
                            ? window->pos()
                            : CentredOnScreen(window->size().grownBy(frame), owner);
  const QRect place = FirstPlace(window, window->size(), wanted, owner, alsoClear);
  if (place.size() != window->size().grownBy(frame)) window->resize(place.size().shrunkBy(frame));
  // A window that has its native window but was never framed takes a move
  // as its client's place, not its frame's.
  const bool unframed =
      window->testAttribute(Qt::WA_WState_Created) && window->frameGeometry() == window->geometry();
  window->move(unframed ? place.topLeft() + QPoint(frame.left(), frame.top()) : place.topLeft());
}

void ShowWithoutActivating(QWidget* window) {
  // The attribute reaches a native window only when that is made; once it
  // exists, the window's own property is what its show reads.
  window->setAttribute(Qt::WA_ShowWithoutActivating, true);
  if (QWindow* handle = window->windowHandle())
    handle->setProperty("_q_showWithoutActivating", true);
  window->show();
  window->setAttribute(Qt::WA_ShowWithoutActivating, false);
  if (QWindow* handle = window->windowHandle())
    handle->setProperty("_q_showWithoutActivating", QVariant());
}

}  // namespace platform
