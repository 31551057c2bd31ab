#include "app/RefreshTimer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <map>
#include <vector>

namespace app {

namespace {

// One QTimer for every RefreshTimer of one interval; it runs while any of
// them does.
class Ticker : public QObject {
 public:
  Ticker(int interval, QObject* parent) : QObject(parent) {
    timer_.setInterval(interval);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  }

  void Add(RefreshTimer* member) {
    members_.push_back(member);
    if (!timer_.isActive()) timer_.start();
  }

  void Remove(RefreshTimer* member) {
    members_.erase(std::remove(members_.begin(), members_.end(), member), members_.end());
    if (members_.empty()) timer_.stop();
  }

 private:
  void Tick() {
    // A tick's handler may stop, start or delete any member, its own or
    // another window's.
    std::vector<QPointer<RefreshTimer>> due(members_.begin(), members_.end());
    for (const QPointer<RefreshTimer>& member : due) {
      if (member && std::find(members_.begin(), members_.end(), member.data()) != members_.end())
        emit member->timeout();
    }
  }

  QTimer timer_;
  std::vector<RefreshTimer*> members_;
};

Ticker* TickerFor(int interval) {
  static std::map<int, QPointer<Ticker>> tickers;
  QPointer<Ticker>& ticker = tickers[interval];
  // Owned by the application, so none outlives the event loop it ticks in.
  if (!ticker) ticker = new Ticker(interval, QCoreApplication::instance());
  return ticker;
}

}  // namespace

RefreshTimer::~RefreshTimer() {
  stop();
}

void RefreshTimer::start() {
  if (active_) return;
  active_ = true;
  joinedInterval_ = interval_;
  TickerFor(joinedInterval_)->Add(this);
}

void RefreshTimer::stop() {
  if (!active_) return;
  active_ = false;
  // The application may be gone already when a window is destroyed late.
  if (QCoreApplication::instance() != nullptr) TickerFor(joinedInterval_)->Remove(this);
}

}  // namespace app
