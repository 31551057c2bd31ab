#include "WindowMessages.h"

#include <QCoreApplication>
#include <QThread>

#include <vector>

namespace platform {

// One send in flight from another thread, shared by the waiting sender, the
// queued event and the channel, so whichever ends first leaves the others safe.
class CrossThreadCall {
 public:
  enum class Outcome { Pending, Handled, Dropped };

  void Finish(Outcome outcome, LRESULT result) {
    std::lock_guard lock(mutex_);
    if (outcome_ != Outcome::Pending) return;
    outcome_ = outcome;
    result_ = result;
    done_.notify_all();
  }

  // The sender gives up at once, even while the handler runs: the window
  // thread may be inside that very handler, shutting the sender down.
  void Abandon() { Finish(Outcome::Dropped, 0); }

  // Called on the window thread when the event arrives; false when the sender
  // has given up, in which case the message must not be handled.
  bool BeginHandling() {
    std::lock_guard lock(mutex_);
    if (outcome_ != Outcome::Pending) return false;
    handling_ = true;
    return true;
  }

  bool WasHandling() {
    std::lock_guard lock(mutex_);
    return handling_;
  }

  Outcome Wait(LRESULT* result) {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return outcome_ != Outcome::Pending; });
    if (result) *result = result_;
    return outcome_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  Outcome outcome_ = Outcome::Pending;
  LRESULT result_ = 0;
  bool handling_ = false;
};

namespace {

QEvent::Type RegisteredType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

WindowMessageEvent::WindowMessageEvent(int msg, WPARAM wParam, LPARAM lParam)
    : QEvent(RegisteredType()), Msg(msg), WParam(wParam), LParam(lParam) {}

WindowMessageEvent::~WindowMessageEvent() {
  // Qt destroys a posted event right after its receiver has handled it, or
  // unhandled when the receiver is deleted first; either way the waiting
  // sender is released here.
  if (call_)
    call_->Finish(call_->WasHandling() ? CrossThreadCall::Outcome::Handled
                                       : CrossThreadCall::Outcome::Dropped,
                  Result);
}

QEvent::Type WindowMessageEvent::EventType() {
  return RegisteredType();
}

WindowMessageEvent* AsWindowMessage(QEvent* event) {
  if (event == nullptr || event->type() != RegisteredType()) return nullptr;
  auto* message = static_cast<WindowMessageEvent*>(event);
  if (message->call_ && !message->call_->BeginHandling()) return nullptr;
  return message;
}

LRESULT SendMessage(QObject* target, int msg, WPARAM wParam, LPARAM lParam) {
  if (target == nullptr) return 0;
  WindowMessageEvent event(msg, wParam, lParam);
  QCoreApplication::sendEvent(target, &event);
  return event.Result;
}

bool PostMessage(QObject* target, int msg, WPARAM wParam, LPARAM lParam) {
  if (target == nullptr) return false;
  QCoreApplication::postEvent(target, new WindowMessageEvent(msg, wParam, lParam));
  return true;
}

struct MessageChannel::State {
  std::mutex mutex;
  bool closed = false;
  std::vector<std::weak_ptr<CrossThreadCall>> inFlight;
};

MessageChannel::MessageChannel() : state_(std::make_shared<State>()) {}

MessageChannel::~MessageChannel() {
  Close();
}

bool MessageChannel::Send(QObject* target, int msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (target == nullptr) return false;
  if (target->thread() == QThread::currentThread()) {
    if (IsClosed()) return false;
    LRESULT r = SendMessage(target, msg, wParam, lParam);
    if (result) *result = r;
    return true;
  }

  auto call = std::make_shared<CrossThreadCall>();
  {
    // Posting under the channel's lock means that once Close() has returned,
    // no message of this channel can reach the target any more, so the target
    // may be destroyed right after.
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return false;
    std::erase_if(state_->inFlight, [](const auto& w) { return w.expired(); });
    state_->inFlight.push_back(call);
    auto* event = new WindowMessageEvent(msg, wParam, lParam);
    event->call_ = call;
    QCoreApplication::postEvent(target, event);
  }

  const auto outcome = call->Wait(result);
  return outcome == CrossThreadCall::Outcome::Handled;
}

void MessageChannel::Close() {
  std::vector<std::shared_ptr<CrossThreadCall>> calls;
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    for (auto& w : state_->inFlight)
      if (auto c = w.lock()) calls.push_back(std::move(c));
    state_->inFlight.clear();
  }
  for (auto& c : calls) c->Abandon();
}

void MessageChannel::Reopen() {
  std::lock_guard lock(state_->mutex);
  state_->closed = false;
}

bool MessageChannel::IsClosed() const {
  std::lock_guard lock(state_->mutex);
  return state_->closed;
}

}  // namespace platform
