#include "video/VideoLayout.h"

#include <algorithm>
#include <cstdint>

namespace video {

int RatioOf(int width, int height, int previous) {
  if (width <= 0 || height <= 0) return previous;
  return static_cast<int>(std::int64_t{width} * 100 / height);
}

int KeepRatioHeight(int clientWidth, int ratio) {
  if (ratio <= 0) return clientWidth;
  return static_cast<int>(std::int64_t{clientWidth} * 100 / ratio);
}

QRect FullScreenPicture(QSize monitor, QSize picture, bool keepRatio) {
  const int w = monitor.width();
  const int h = monitor.height();
  if (!keepRatio || picture.width() <= 0 || picture.height() <= 0 || w <= 0 || h <= 0)
    return QRect(0, 0, w, h);
  // Compare the picture's shape with the monitor's own, exactly: a picture
  // wider than the monitor spans its width, any other its height.
  const std::int64_t pw = picture.width();
  const std::int64_t ph = picture.height();
  if (pw * h > w * ph) {
    const int height = static_cast<int>(w * ph / pw);
    return QRect(0, (h - height) / 2, w, height);
  }
  const int width = static_cast<int>(h * pw / ph);
  return QRect((w - width) / 2, 0, width, h);
}

namespace {

QSize FitInside(QSize size, QSize area) {
  if (area.isEmpty() || (size.width() <= area.width() && size.height() <= area.height()))
    return size;
  return size.scaled(area, Qt::KeepAspectRatio);
}

}  // namespace

WindowPlace PlaceWindow(const QRect& saved, QSize picture, bool originalSize,
                        const QList<QRect>& available, const QRect& avoid) {
  const bool pictureKnown = picture.width() > 0 && picture.height() > 0;
  const bool hasSize = saved.width() > 0 && saved.height() > 0;
  bool onScreen = false;
  for (const QRect& area : available) onScreen = onScreen || area.intersects(saved);
  if (hasSize && (onScreen || available.isEmpty())) {
    WindowPlace place{saved.topLeft(), saved.size()};
    if (originalSize && pictureKnown) place.client = picture;
    return place;
  }
  const QRect area = available.isEmpty() ? QRect() : available.front();
  QSize client = hasSize ? saved.size() : (pictureKnown ? picture : kDefaultClient);
  if (originalSize && pictureKnown) client = picture;
  // A first window never covers the screen by itself; original size keeps
  // the exact picture size the user asked for.
  if (!(originalSize && pictureKnown)) client = FitInside(client, area.size());
  QPoint position = area.isEmpty() ? QPoint(0, 0)
                                   : area.topLeft() + QPoint((area.width() - client.width()) / 2,
                                                             (area.height() - client.height()) / 2);
  if (!area.isEmpty())
    position = QPoint(std::max(position.x(), area.left()), std::max(position.y(), area.top()));
  // The frame adds a little around the client; a small gap covers it.
  constexpr int kGap = 40;
  if (!area.isEmpty() && avoid.isValid() && QRect(position, client).intersects(avoid)) {
    if (avoid.top() - area.top() >= client.height() + kGap)
      position.setY(avoid.top() - kGap - client.height());
    else if (area.bottom() - avoid.bottom() >= client.height() + kGap)
      position.setY(avoid.bottom() + kGap);
    else if (area.right() - avoid.right() >= client.width() + kGap)
      position.setX(avoid.right() + kGap);
    else if (avoid.left() - area.left() >= client.width() + kGap)
      position.setX(avoid.left() - kGap - client.width());
  }
  return WindowPlace{position, client};
}

QPoint FrameTopLeft(QPoint client, QPoint inset) {
  return client - inset;
}

QRect ClientRectForFrame(QPoint frame, QSize client, QPoint inset) {
  return QRect(frame + inset, client);
}

}  // namespace video
