#include "platform/WindowMessages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// A window that records the messages it handles.
class Recorder : public QObject {
 public:
  std::vector<std::pair<int, WPARAM>> seen;  // (LParam, WParam)
  std::function<void()> onMessage;

  bool event(QEvent* e) override {
    if (auto* m = AsWindowMessage(e)) {
      seen.emplace_back(static_cast<int>(m->LParam), m->WParam);
      if (onMessage) onMessage();
      m->Result = m->WParam * 2;
      return true;
    }
    return QObject::event(e);
  }
};

TEST(WindowMessages, CodesHaveTheirNumbers) {
  EXPECT_EQ(WM_PLAYERNOTIFY, 32868);
  EXPECT_EQ(PN_OPENED, 32779);
  EXPECT_EQ(PN_MEDIAEVENT, 32788);
  EXPECT_EQ(PN_KEYDOWN, 32801);
  EXPECT_EQ(PN_KEYUP, 32802);
  EXPECT_EQ(PN_OPENFAILED, 32809);
  EXPECT_EQ(PN_RATEFAILED, 32815);
}

TEST(WindowMessages, SendRunsTheHandlerBeforeReturningAndPostQueues) {
  Recorder window;
  EXPECT_EQ(SendMessage(&window, WM_PLAYERNOTIFY, 21, PN_OPENED), 42);
  ASSERT_EQ(window.seen.size(), 1u);
  EXPECT_TRUE(PostMessage(&window, WM_PLAYERNOTIFY, 0, PN_MEDIAEVENT));
  EXPECT_EQ(window.seen.size(), 1u);
  QCoreApplication::sendPostedEvents(&window);
  ASSERT_EQ(window.seen.size(), 2u);
  EXPECT_EQ(window.seen[1].first, PN_MEDIAEVENT);
  EXPECT_EQ(SendMessage(nullptr, WM_PLAYERNOTIFY, 0, 0), 0);
  EXPECT_FALSE(PostMessage(nullptr, WM_PLAYERNOTIFY, 0, 0));
}

TEST(MessageChannel, CrossThreadSendWaitsForTheWindowThreadInOrder) {
  Recorder window;
  MessageChannel channel;
  std::atomic<int> handled{0};
  std::thread sender([&] {
    for (int i = 0; i < 100; ++i) {
      LRESULT result = -1;
      if (channel.Send(&window, WM_PLAYERNOTIFY, i, PN_KEYDOWN, &result) && result == i * 2)
        ++handled;
    }
  });
  EXPECT_TRUE(testing_support::WaitFor([&] { return handled == 100; }));
  sender.join();
  ASSERT_EQ(window.seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(window.seen[i].second, i);
}

TEST(MessageChannel, CloseReleasesASenderTheWindowThreadWouldWaitFor) {
  Recorder window;
  MessageChannel channel;
  std::atomic<bool> sending{false};
  std::atomic<bool> returned{false};
  bool delivered = true;
  std::thread sender([&] {
    sending = true;
    delivered = channel.Send(&window, WM_PLAYERNOTIFY, 1, PN_KEYDOWN);
    returned = true;
  });
  // The window thread does not run its event loop: it shuts the sender down
  // and joins it, as stopping a MIDI device does.
  while (!sending) std::this_thread::yield();
  channel.Close();
  sender.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(delivered);
  // The message that was queued is dropped, not handled late.
  QCoreApplication::sendPostedEvents(&window);
  EXPECT_TRUE(window.seen.empty());
  EXPECT_FALSE(channel.Send(&window, WM_PLAYERNOTIFY, 2, PN_KEYDOWN));
  channel.Reopen();
  std::thread again([&] { delivered = channel.Send(&window, WM_PLAYERNOTIFY, 3, PN_KEYUP); });
  EXPECT_TRUE(testing_support::WaitFor([&] { return window.seen.size() == 1; }));
  again.join();
  EXPECT_TRUE(delivered);
}

TEST(MessageChannel, CloseFromInsideTheHandlerDoesNotDeadlock) {
  Recorder window;
  MessageChannel channel;
  std::atomic<bool> returned{false};
  // The handler itself shuts the sender down and waits for its thread, as a
  // note that switches MIDI input off would.
  std::thread* senderThread = nullptr;
  window.onMessage = [&] {
    channel.Close();
    senderThread->join();
  };
  std::thread sender([&] {
    channel.Send(&window, WM_PLAYERNOTIFY, 1, PN_KEYDOWN);
    returned = true;
  });
  senderThread = &sender;
  EXPECT_TRUE(testing_support::WaitFor([&] { return returned.load(); }));
  EXPECT_FALSE(sender.joinable());
}

}  // namespace
