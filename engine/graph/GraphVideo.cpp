#include "engine/graph/GraphVideo.h"

#include <utility>

namespace engine {

void GraphVideo::Reset() {
  size_ = QSize(0, 0);
  frames_->Clear();
}

void GraphVideo::Linked(QSize size) {
  size_ = size;
  windowRect_ = QRect(QPoint(0, 0), size);
  sourceRect_ = QRect();
}

void GraphVideo::Restore(QSize size, QImage firstFrame) {
  Linked(size);
  frames_->Restore(std::move(firstFrame));
}

void GraphVideo::Unlinked() {
  delete surface_.data();
  owner_ = nullptr;
  frames_->Clear();
  size_ = QSize(0, 0);
}

HRESULT GraphVideo::SetOwner(QWidget* owner) {
  if (owner == nullptr) {
    delete surface_.data();
    owner_ = nullptr;
    return S_OK;
  }
  owner_ = owner;
  if (!surface_) {
    surface_ = new VideoSurface(owner, frames_);
  } else if (surface_->parentWidget() != owner) {
    surface_->setParent(owner);
  }
  surface_->setGeometry(windowRect_);
  surface_->SetDrain(drain_);
  surface_->SetSourceRect(sourceRect_);
  surface_->setVisible(visible_);
  return S_OK;
}

void GraphVideo::SetVisible(bool visible, bool runsFromFirstFrame) {
  visible_ = visible;
  if (surface_ && surface_->parentWidget()) {
    surface_->setVisible(visible_);
    // The cued first frame is shown with the key, before the clip runs; a
    // clip that starts elsewhere shows its picture once it got there.
    if (visible_ && runsFromFirstFrame) surface_->PaintWaitingFrame();
  }
}

void GraphVideo::SetDrain(QObject* drain) {
  drain_ = drain;
  if (surface_) surface_->SetDrain(drain);
}

HRESULT GraphVideo::SetFullScreen(bool on) {
  if (!surface_) return VFW_E_WRONG_STATE;
  if (on) {
    surface_->setParent(nullptr);
    surface_->showFullScreen();
  } else {
    surface_->setParent(owner_);
    surface_->setGeometry(windowRect_);
    surface_->setVisible(visible_);
  }
  return S_OK;
}

HRESULT GraphVideo::SetWindowPosition(const QRect& rect) {
  if (rect.width() < 0 || rect.height() < 0) return E_INVALIDARG;
  windowRect_ = rect;
  if (surface_ && surface_->parentWidget()) surface_->setGeometry(windowRect_);
  return S_OK;
}

HRESULT GraphVideo::SetSourcePosition(const QRect& source) {
  if (source.width() <= 0 || source.height() <= 0 || !QRect(QPoint(0, 0), size_).contains(source))
    return E_INVALIDARG;
  sourceRect_ = source;
  if (surface_) surface_->SetSourceRect(source);
  return S_OK;
}

}  // namespace engine
