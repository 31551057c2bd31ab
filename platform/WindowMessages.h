#pragma once
// Private window messages between Tastivo's objects.
//
// A "window" is any QObject living on the window thread. A message carries
// a message number, WParam and LParam and comes back with a result. Send
// delivers synchronously, Post queues it. Receivers handle messages in
// QObject::event() or customEvent() through AsWindowMessage().

#include <QEvent>
#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace platform {

using WPARAM = std::intptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr int WM_APP = 0x8000;
constexpr int WM_PLAYERNOTIFY = WM_APP + 100;  // 32868

// Notice codes carried in LParam of WM_PLAYERNOTIFY.
constexpr int PN_OPENED = WM_APP + 11;
constexpr int PN_CLOSED = WM_APP + 12;
constexpr int PN_PLAYING = WM_APP + 13;
constexpr int PN_STOPPED = WM_APP + 14;
constexpr int PN_REWOUND = WM_APP + 15;
constexpr int PN_LOADED = WM_APP + 16;
constexpr int PN_VIDEO = WM_APP + 17;
constexpr int PN_NOVIDEO = WM_APP + 18;
constexpr int PN_MEDIAEVENT = WM_APP + 20;
constexpr int PN_OPENING = WM_APP + 31;
constexpr int PN_STOPPING = WM_APP + 32;
constexpr int PN_KEYDOWN = WM_APP + 33;
constexpr int PN_KEYUP = WM_APP + 34;
constexpr int PN_OPENFAILED = WM_APP + 41;
constexpr int PN_PLAYFAILED = WM_APP + 42;
constexpr int PN_STOPFAILED = WM_APP + 43;
constexpr int PN_REWINDFAILED = WM_APP + 44;
constexpr int PN_VOLUMEFAILED = WM_APP + 45;
constexpr int PN_POSITIONFAILED = WM_APP + 46;
constexpr int PN_RATEFAILED = WM_APP + 47;

class CrossThreadCall;

// The event that carries one message.
class WindowMessageEvent : public QEvent {
 public:
  WindowMessageEvent(int msg, WPARAM wParam, LPARAM lParam);
  ~WindowMessageEvent() override;

  static QEvent::Type EventType();

  int Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result = 0;

 private:
  friend class MessageChannel;
  friend WindowMessageEvent* AsWindowMessage(QEvent* event);
  std::shared_ptr<CrossThreadCall> call_;  // set for a send from another thread
};

// The message an event carries, or nullptr when it is not a window message.
// A cross-thread message whose sender has given up (its channel was closed)
// also yields nullptr, so it is never handled late.
WindowMessageEvent* AsWindowMessage(QEvent* event);

// Synchronous send on the receiver's own thread: the handler has run when this
// returns. Returns the handler's result (0 when target is null).
LRESULT SendMessage(QObject* target, int msg, WPARAM wParam, LPARAM lParam);

// Queues the message for the receiver's thread; safe from any thread.
// Returns false when target is null.
bool PostMessage(QObject* target, int msg, WPARAM wParam, LPARAM lParam);

// A sending side that lives on another thread (a MIDI callback, say) and must
// hand each message to a window synchronously. Send() blocks until the window
// thread has handled the message. Close() on any thread (typically the window
// thread, just before it stops the sender) wakes every waiting Send() at once
// and makes later ones return immediately, so a window that shuts the sender
// down never waits on a sender that is waiting for it. Messages whose sender
// gave up are dropped instead of being handled late.
class MessageChannel {
 public:
  MessageChannel();
  ~MessageChannel();
  Q_DISABLE_COPY(MessageChannel)

  // Returns true when the message was handled; the handler's result goes to
  // *result when given. Called on the target's own thread it is a plain send.
  bool Send(QObject* target, int msg, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr);

  void Close();
  void Reopen();
  bool IsClosed() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
