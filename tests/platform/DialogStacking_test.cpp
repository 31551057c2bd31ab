// Message boxes and file dialogs on a real X server with a real window
// manager (openbox): whatever owns them, they must come up above their owner,
// also when the owner's window stays on top of all others.

#include "platform/Dialogs.h"
#include "platform/WindowPlacement.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <functional>

using namespace platform;

namespace {

// The client windows from bottom to top, as the window manager stacks them.
QList<WId> Stacking() {
  QProcess xprop;
  xprop.start("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
  if (!xprop.waitForFinished(5000)) return {};
  const QString out = QString::fromLatin1(xprop.readAllStandardOutput());
  QList<WId> ids;
  const int hash = out.indexOf('#');
  if (hash < 0) return ids;
  for (const QString& id : out.mid(hash + 1).split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const WId value = id.trimmed().toULongLong(&ok, 0);  // "0x...";
    if (ok) ids << value;
  }
  return ids;
}

// A window manager that publishes its stacking order.
bool IsKeptAbove(const QWidget& window) {
  QProcess xprop;
  xprop.start("xprop", {"-id", QString::number(window.winId()), "_NET_WM_STATE"});
  return xprop.waitForFinished(5000) &&
         xprop.readAllStandardOutput().contains("_NET_WM_STATE_ABOVE");
}

bool WindowManagerRuns() {
  QProcess xprop;
  xprop.start("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
  return xprop.waitForFinished(5000) && xprop.readAllStandardOutput().contains("window id #");
}

class DialogStacking : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "needs QT_QPA_PLATFORM=xcb";
    ASSERT_TRUE(testing_support::WaitFor(WindowManagerRuns)) << "no window manager";
  }

  // Opens a dialog through open() and waits until the window manager stacks
  // it above all of windows (a new window may settle into its place in more
  // than one step), or the deadline passes. Returns the dialog's place in the
  // stacking order (-1 when it never showed) and closes the dialog.
  static int StackedAt(const std::function<void()>& open, const QList<const QWidget*>& below,
                       QList<WId>* order) {
    int at = -1;
    QTimer poll;
    QDeadlineTimer deadline(std::chrono::seconds(5));
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible()) return;
      *order = Stacking();
      at = order->indexOf(dialog->winId());
      const bool above = at >= 0 && std::all_of(below.begin(), below.end(), [&](const QWidget* w) {
                           return order->indexOf(w->winId()) < at;
                         });
      if (!above && !deadline.hasExpired()) return;
      poll.stop();
      dialog->reject();
    });
    poll.start(20);
    open();
    return at;
  }
};

TEST_F(DialogStacking, ComeUpAboveAStayOnTopKeyboardWindowAndItsSetEditor) {
  // The keyboard window covers the screen, as a maximized one would: any
  // dialog below it would be hidden.
  QWidget keyboard(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  keyboard.setWindowTitle("keyboard");
  keyboard.setGeometry(0, 0, 1280, 1024);
  keyboard.show();
  QWidget editor(&keyboard, Qt::Window);
  editor.setWindowTitle("set editor");
  editor.resize(598, 834);
  editor.show();
  // Settled: both managed, and the keyboard window in the window manager's
  // layer above the others, as it is long before anyone opens a dialog.
  ASSERT_TRUE(testing_support::WaitFor([&] {
    const QList<WId> order = Stacking();
    return order.contains(keyboard.winId()) && order.contains(editor.winId()) &&
           IsKeptAbove(keyboard);
  }));

  const struct {
    const char* name;
    std::function<void(QWidget*)> open;
  } kinds[] = {
      {"message box",
       [](QWidget* owner) {
         QtDialogs().MessageBox(owner, "List modified. Save?", kQuestionCaption, BoxIcon::Question,
                                BoxButtons::YesNoCancel);
       }},
      {"open dialog", [](QWidget* owner) { QtDialogs().OpenFileName(owner, {}); }},
      {"save dialog", [](QWidget* owner) { QtDialogs().SaveFileName(owner, {}); }},
  };
  for (const auto& kind : kinds) {
    for (QWidget* owner : {&editor, &keyboard}) {
      SCOPED_TRACE(std::string(kind.name) + " of the " + owner->windowTitle().toStdString());
      QList<WId> order;
      const int at = StackedAt([&] { kind.open(owner); }, {&keyboard, owner}, &order);
      ASSERT_GE(at, 0) << "the dialog never showed";
      EXPECT_GT(at, order.indexOf(keyboard.winId()));
      EXPECT_GT(at, order.indexOf(owner->winId()));
    }
  }
}

// A window shown for the first time, already made (as the key editor is),
// beside a keyboard window that stays on top at its first place: wholly on the
// screen, its title bar clear, and at the same place when it is hidden and
// shown again to change its mode.
TEST_F(DialogStacking, AFirstPlaceIsOnScreenAndKeptThroughHideAndShow) {
  QWidget keyboard(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  keyboard.setGeometry(322, 408, 635, 207);
  keyboard.show();
  ASSERT_TRUE(testing_support::WaitFor([&] { return IsKeptAbove(keyboard); }));
  QWidget editor;
  editor.resize(718, 438);
  editor.winId();
  PlaceOnScreen(&editor, &keyboard);
  editor.show();
  auto framed = [&] { return editor.frameGeometry() != editor.geometry(); };
  ASSERT_TRUE(testing_support::WaitFor(framed));
  const QRect first = editor.frameGeometry();
  EXPECT_TRUE(editor.screen()->availableGeometry().contains(first)) << "off screen";
  EXPECT_FALSE(QRect(first.topLeft(), QSize(first.width(), 40)).intersects(keyboard.geometry()))
      << "title bar under the keyboard window";

  editor.hide();
  ASSERT_TRUE(testing_support::WaitFor([&] { return !Stacking().contains(editor.winId()); }));
  editor.show();
  // Managed again means placed again by the window manager.
  EXPECT_TRUE(testing_support::WaitFor([&] {
    return Stacking().contains(editor.winId()) && framed() && editor.frameGeometry() == first;
  })) << "moved to "
      << editor.frameGeometry().x() << "," << editor.frameGeometry().y();
}

}  // namespace
