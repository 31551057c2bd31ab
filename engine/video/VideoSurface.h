#pragma once
// The child widget a graph's picture draws into, and the slot through which
// the streaming thread hands it frames.

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

namespace engine {

// The latest decoded frame, shared between the streaming thread that writes
// it and the window thread that paints it. Guarded by its one mutex.
class FrameSlot {
 public:
  // Runs on a streaming thread: stores the frame and asks the surface to
  // repaint, at most one request in flight. The frame may point into the
  // decoder's buffer, which it then holds until the last copy goes.
  void Deliver(QImage frame);
  QImage Latest() const;
  // The latest frame with its number: frames are numbered 1, 2, ... in the
  // order they are delivered; 0 means none yet.
  QImage Latest(std::uint64_t& number) const;
  std::uint64_t Delivered() const;
  // Forgets the latest frame and the first one.
  void Clear();
  // The first frame delivered since the last Clear: a clip's cued start.
  QImage First() const;
  // Window thread: puts back a clip's first frame kept from an earlier
  // opening, as if it had just been delivered, so the same clip again shows
  // its picture before its decoder has run.
  void Restore(QImage first);
  // Window thread: the widget to repaint on a new frame (nullptr for none).
  void SetTarget(QWidget* target);
  // Window thread: the size frames are painted at. The renderer asks its
  // decoder for frames of that size, so that the window thread only copies
  // them. An empty size takes frames as they come.
  void SetPaintSize(QSize size);
  QSize PaintSize() const;

 private:
  mutable std::mutex mutex_;
  QImage frame_, first_;
  std::uint64_t number_ = 0;
  QSize paintSize_;
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
  // Paints a frame that is waiting now rather than at the next turn of the
  // event loop: the window thread may first wait for the clip to start, and
  // the picture of a cued clip can come up before that.
  void PaintWaitingFrame();

  // For measuring: distinct frames painted so far, and frames that were
  // replaced by a newer one before they could be painted.
  std::uint64_t PaintedFrames() const { return painted_; }
  std::uint64_t SkippedFrames() const { return skipped_; }
  std::uint64_t DeliveredFrames() const { return frames_->Delivered(); }
  // Paints that had to scale the frame, as the decoder had not yet caught up
  // with a new size (or only a part of the frame is shown).
  std::uint64_t ScaledPaints() const { return scaledPaints_; }
  // When the latest distinct frame was painted, on the steady clock.
  std::chrono::steady_clock::time_point LastPaintTime() const { return lastPaintTime_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  bool Forward(QEvent* event);
  // Frames are asked for at the surface's size unless only a part is shown.
  void UpdatePaintSize();

  std::shared_ptr<FrameSlot> frames_;
  QPointer<QObject> drain_;
  QRect source_;
  std::uint64_t lastPainted_ = 0;
  std::uint64_t painted_ = 0;
  std::uint64_t skipped_ = 0;
  std::uint64_t scaledPaints_ = 0;
  std::chrono::steady_clock::time_point lastPaintTime_;
};

}  // namespace engine
