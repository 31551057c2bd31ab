#pragma once
// The child widget a graph's picture draws into, and the slot through which
// the streaming thread hands it frames.

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>

namespace platform::media {

// The latest decoded frame, shared between the streaming thread that writes
// it and the window thread that paints it. Guarded by its one mutex.
class FrameSlot {
 public:
  // Runs on a streaming thread: stores the frame and asks the surface to
  // repaint, at most one request in flight.
  void Deliver(QImage frame);
  QImage Latest() const;
  void Clear();
  // Window thread: the widget to repaint on a new frame (nullptr for none).
  void SetTarget(QWidget* target);

 private:
  mutable std::mutex mutex_;
  QImage frame_;
  QWidget* target_ = nullptr;
  std::atomic<bool> repaintPending_{false};

  friend class VideoSurface;
};

// Paints the latest frame scaled into its rectangle and hands mouse and
// keyboard input to the drain, so the owner sees clicks on the picture as
// its own.
class VideoSurface : public QWidget {
 public:
  VideoSurface(QWidget* owner, std::shared_ptr<FrameSlot> frames);
  ~VideoSurface() override;

  void SetDrain(QObject* drain) { drain_ = drain; }
  QObject* Drain() const { return drain_; }
  // The part of the frame shown; an empty rectangle means the whole frame.
  void SetSourceRect(const QRect& source);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  bool Forward(QEvent* event);

  std::shared_ptr<FrameSlot> frames_;
  QPointer<QObject> drain_;
  QRect source_;
};

}  // namespace platform::media
