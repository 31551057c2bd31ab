#pragma once
// The picture of a graph's clip: the surface inside the owner window, where
// it sits, and the frames its renderer delivers. Private to the media layer.
//
// Threads: window thread only; the frames' slot has its own lock for the
// streaming thread that fills it.

#include "engine/MediaTypes.h"
#include "engine/video/VideoSurface.h"

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <memory>

namespace engine {

class GraphVideo {
 public:
  GraphVideo() = default;
  ~GraphVideo() { delete surface_.data(); }
  GraphVideo(const GraphVideo&) = delete;
  GraphVideo& operator=(const GraphVideo&) = delete;

  const std::shared_ptr<FrameSlot>& Frames() const { return frames_; }
  QSize Size() const { return size_; }

  // A new clip: no picture yet.
  void Reset();
  // The clip's picture is linked at this size: it fills the window's
  // rectangle, all of it shown.
  void Linked(QSize size);
  // The same again, with the first frame kept from an earlier opening.
  void Restore(QSize size, QImage firstFrame);
  // The renderer left the graph: its surface goes with it.
  void Unlinked();

  HRESULT SetOwner(QWidget* owner);
  QWidget* Owner() const { return owner_; }
  // runsFromFirstFrame: the clip will run from its very start, where its
  // cued first frame shows it.
  void SetVisible(bool visible, bool runsFromFirstFrame);
  void SetDrain(QObject* drain);
  HRESULT SetFullScreen(bool on);
  HRESULT SetWindowPosition(const QRect& rect);
  QRect WindowPosition() const { return windowRect_; }
  HRESULT SetSourcePosition(const QRect& source);

 private:
  QPointer<QWidget> owner_;
  QPointer<VideoSurface> surface_;
  QPointer<QObject> drain_;
  bool visible_ = false;
  QRect windowRect_, sourceRect_;
  QSize size_;
  std::shared_ptr<FrameSlot> frames_ = std::make_shared<FrameSlot>();
};

}  // namespace engine
