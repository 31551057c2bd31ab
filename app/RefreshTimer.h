#pragma once
// A repeating timer whose ticks are shared by every running RefreshTimer of
// the same interval: the display refreshes of all keyboard windows run in
// one wake-up of the window thread, not one each. Its calls are QTimer's,
// so it stands in for one.

#include <QObject>

namespace app {

class RefreshTimer : public QObject {
  Q_OBJECT
 public:
  explicit RefreshTimer(QObject* parent = nullptr) : QObject(parent) {}
  ~RefreshTimer() override;

  // Takes effect at the next start.
  void setInterval(int ms) { interval_ = ms; }
  int interval() const { return interval_; }
  // Joins the shared ticks (at most one interval away); a running timer
  // stays as it is.
  void start();
  void stop();
  bool isActive() const { return active_; }

 signals:
  void timeout();

 private:
  int interval_ = 0;
  int joinedInterval_ = 0;
  bool active_ = false;
};

}  // namespace app
