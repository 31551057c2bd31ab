#pragma once
// A clip's waveform with its start and stop marks and the preview's
// position. The marks are dragged with the mouse, a click elsewhere asks to
// play from there, and the wheel (or a pinch) zooms around the pointer, or
// around a mark under it; Shift+wheel moves along a zoomed clip. The view
// only shows and reports: its host decides what a drag or a click does.

#include "waveform/Peaks.h"
#include "waveform/WaveformGeometry.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace waveform {

class WaveformView : public QWidget {
  Q_OBJECT
 public:
  enum class State { kEmpty, kReading, kReady, kNoWaveform };

  explicit WaveformView(QWidget* parent = nullptr);

  // Nothing to show (no clip).
  void Clear();
  // A clip is being read; percent -1 while its length is unknown.
  void SetReading(int percent);
  void SetPeaks(std::shared_ptr<const Peaks> peaks);
  // The clip can't be decoded or has no sound.
  void SetNoWaveform();
  State GetState() const { return state_; }
  const Peaks* CurrentPeaks() const { return peaks_.get(); }

  // The marks as the host holds them; drawn within the clip even when a
  // value lies outside it. Hidden marks can't be dragged.
  void SetMarks(int start, int stop);
  void SetMarksShown(bool shown);
  int Start() const { return start_; }
  int Stop() const { return stop_; }
  // The preview's position on the marks' scale; -1 hides it.
  void SetPosition(int position);

  const ViewWindow& Window() const { return window_; }
  void SetWindow(const ViewWindow& window);
  WaveformGeometry Geometry() const;

  QSize sizeHint() const override { return {400, 72}; }

 signals:
  // A mark was dragged to value (within 0..10000 and the other mark).
  void StartDragged(int value);
  void StopDragged(int value);
  // A click away from the marks: play from value.
  void PlayFrom(int value);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void ZoomAt(double x, double factor);
  void DropColumns();

  State state_ = State::kEmpty;
  int percent_ = -1;
  std::shared_ptr<const Peaks> peaks_;
  ViewWindow window_;
  int start_ = 0;
  int stop_ = kScale;
  bool marksShown_ = true;
  int position_ = -1;
  // Press state: the mark taken, or a click waiting for its release.
  MarkHandle dragging_ = MarkHandle::kNone;
  bool clickPending_ = false;
  double pressX_ = 0;
  // Columns for the current peaks, size and window, in device pixels.
  std::vector<Column> columns_;
};

}  // namespace waveform
