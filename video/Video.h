#pragma once
// The video window of a keyboard window (and of the key editor's preview,
// instance 99).
//
// Stand-in: for now a plain top-level window that carries its instance number
// and gives the player a widget to draw the picture into. Its options, full
// screen, keep-ratio and original-size behaviour and stored place come with
// the video window itself.

#include <QWidget>

class TPlayer;

class TVideo1 : public QWidget {
  Q_OBJECT
 public:
  TVideo1(QWidget* owner, int instance);

  int Instance() const { return instance_; }
  // The widget the picture draws in (the window's "native handle").
  QWidget* Handle() { return this; }
  // The player whose picture this window shows.
  TPlayer* Player = nullptr;

  void FormShow() {}
  void FormHide() {}

 private:
  int instance_;
};
