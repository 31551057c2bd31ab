#include "platform/Dialogs.h"
#include "platform/Application.h"
#include "platform/ScriptedDialogs.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontMetrics>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <functional>

#include <stdexcept>

using namespace platform;

namespace {

TEST(Dialogs, BoxesCarryTheirCaptionsIconsAndButtons) {
  ScriptedDialogs dialogs;
  ShowInformation("Midi In Failed: Busy or not found");
  ShowWarning("x.wql : File not Found");
  dialogs.AnswerBoxes({IDNO});
  EXPECT_EQ(AskQuestion("List modified. Save?"), IDNO);
  EXPECT_EQ(AskQuestion("List modified. Save?"), IDCANCEL);  // unscripted question
  ShowException("Boom");
  const auto& boxes = dialogs.boxes();
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(boxes[0].caption, "Tastivo:  Information");
  EXPECT_EQ(boxes[0].icon, BoxIcon::Information);
  EXPECT_EQ(boxes[0].buttons, BoxButtons::Ok);
  EXPECT_EQ(boxes[1].caption, "Tastivo:  Warning");
  EXPECT_EQ(boxes[1].icon, BoxIcon::Warning);
  EXPECT_EQ(boxes[2].caption, "Tastivo:  Question");
  EXPECT_EQ(boxes[2].buttons, BoxButtons::YesNoCancel);
  EXPECT_EQ(boxes[4].caption, "Tastivo");
  EXPECT_EQ(boxes[4].icon, BoxIcon::Error);
}

TEST(Dialogs, ScriptedFileDialogsAnswerInOrderAndRecord) {
  ScriptedDialogs dialogs;
  dialogs.AnswerFiles({"/tmp/a.wql", ""});
  FileDialogRequest request;
  request.filter = "Sets (*.wql)";
  EXPECT_EQ(Dialogs().OpenFileName(nullptr, request), "/tmp/a.wql");
  EXPECT_EQ(Dialogs().SaveFileName(nullptr, request), "");
  ASSERT_EQ(dialogs.fileRequests().size(), 2u);
  EXPECT_FALSE(dialogs.fileRequests()[0].save);
  EXPECT_TRUE(dialogs.fileRequests()[1].save);
}

TEST(Application, EscapingHandlerErrorGoesToTheStandardErrorBox) {
  ScriptedDialogs dialogs;
  QObject context;
  bool ranAfter = false;
  QTimer::singleShot(0, &context, [] { throw std::runtime_error("Handler failed"); });
  QTimer::singleShot(0, &context, [&] { ranAfter = true; });
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_EQ(dialogs.boxes()[0].text, "Handler failed");
  EXPECT_EQ(dialogs.boxes()[0].caption, "Tastivo");
  EXPECT_TRUE(ranAfter);  // the program goes on
}

TEST(Application, RunGuardedReportsAndReturnsFalse) {
  ScriptedDialogs dialogs;
  EXPECT_TRUE(RunGuarded([] {}));
  EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("Start-up failed"); }));
  ASSERT_EQ(dialogs.BoxTexts(), QStringList{"Start-up failed"});
}

}  // namespace

namespace qt_dialogs {

// Runs check on the modal dialog that the next call opens, then closes it.
class ModalWatcher {
 public:
  explicit ModalWatcher(std::function<void(QDialog*)> check) : check_(std::move(check)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible()) return;
      timer_.stop();
      check_(dialog);
      seen_ = true;
      dialog->reject();
    });
    timer_.start(5);
  }
  bool seen() const { return seen_; }

 private:
  std::function<void(QDialog*)> check_;
  QTimer timer_;
  bool seen_ = false;
};

TEST(QtDialogs, ATitleNeverLosesWhatItSays) {
  // The keyboard window stays on top and is skinned with a style sheet. A box
  // of its set editor is made to stay on top as well, takes the skin's style
  // then and lays itself out anew.
  QWidget keyboard(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
  keyboard.setStyleSheet("QPushButton { font-weight: bold; }");
  QWidget setEditor(&keyboard, Qt::Window);
  for (const char* caption : {kInformationCaption, kWarningCaption, kQuestionCaption}) {
    for (QWidget* owner : {static_cast<QWidget*>(nullptr), &setEditor}) {
      int width = 0;
      QFont font;
      ModalWatcher watcher([&](QDialog* box) {
        width = box->width();
        font = box->font();
      });
      QtDialogs().MessageBox(owner, "OK", caption, BoxIcon::Information, BoxButtons::Ok);
      ASSERT_TRUE(watcher.seen());
      QFont bold = font;
      bold.setBold(true);
      EXPECT_GT(width, QFontMetrics(bold).horizontalAdvance(caption) + 60) << caption;
      EXPECT_GE(width, MinimumBoxWidth(caption, font)) << caption;
    }
  }
}

TEST(QtDialogs, KnowsWhenAnOwnerIsKeptOnTop) {
  QWidget plain;
  QWidget onTop(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  auto* inside = new QWidget(&onTop);
  QWidget editor(&onTop, Qt::Window);  // a window of its own, owned by onTop
  auto* button = new QWidget(&editor);
  QWidget dialogOfEditor(&editor, Qt::Dialog);
  EXPECT_FALSE(OwnerStaysOnTop(nullptr));
  EXPECT_FALSE(OwnerStaysOnTop(&plain));
  EXPECT_TRUE(OwnerStaysOnTop(&onTop));
  EXPECT_TRUE(OwnerStaysOnTop(inside));
  EXPECT_TRUE(OwnerStaysOnTop(button));
  EXPECT_TRUE(OwnerStaysOnTop(&dialogOfEditor));

  // Tied only through the native windows.
  QWidget loose;
  loose.winId();
  onTop.winId();
  loose.windowHandle()->setTransientParent(onTop.windowHandle());
  EXPECT_TRUE(OwnerStaysOnTop(&loose));
}

TEST(QtDialogs, BoxesAndFileDialogsOfAStayOnTopWindowStayOnTopForIt) {
  QWidget keyboard(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  QWidget editor(&keyboard, Qt::Window);
  keyboard.show();
  editor.show();
  QWidget plain;
  plain.show();
  struct Seen {
    bool onTop = false;
    QWindow* transientParent = nullptr;
    bool nativeDialog = true;
  };
  auto watch = [](Seen& seen) {
    return [&seen](QDialog* dialog) {
      seen.onTop = dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
      seen.transientParent = dialog->windowHandle()->transientParent();
      if (auto* files = qobject_cast<QFileDialog*>(dialog))
        seen.nativeDialog = !files->testOption(QFileDialog::DontUseNativeDialog);
    };
  };
  for (QWidget* owner : {&editor, &keyboard, &plain}) {
    const bool expectOnTop = owner != &plain;
    Seen box, open, save;
    {
      ModalWatcher watcher(watch(box));
      QtDialogs().MessageBox(owner, "Save?", kQuestionCaption, BoxIcon::Question,
                             BoxButtons::YesNoCancel);
      ASSERT_TRUE(watcher.seen());
    }
    {
      ModalWatcher watcher(watch(open));
      EXPECT_EQ(QtDialogs().OpenFileName(owner, {}), "");
      ASSERT_TRUE(watcher.seen());
    }
    {
      ModalWatcher watcher(watch(save));
      EXPECT_EQ(QtDialogs().SaveFileName(owner, {}), "");
      ASSERT_TRUE(watcher.seen());
    }
    for (const Seen* seen : {&box, &open, &save}) {
      EXPECT_EQ(seen->onTop, expectOnTop);
      EXPECT_EQ(seen->transientParent, owner->windowHandle());
    }
    EXPECT_FALSE(open.nativeDialog);
    EXPECT_FALSE(save.nativeDialog);
  }
}

TEST(QtDialogs, ABoxWithoutOwnerStaysAboveTheActiveWindowWithoutBelongingToIt) {
  QWidget keyboard(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  keyboard.show();
  keyboard.activateWindow();
  ASSERT_TRUE(testing_support::WaitFor([&] { return QApplication::activeWindow() == &keyboard; }));
  bool onTop = false;
  QWidget* parent = &keyboard;
  ModalWatcher watcher([&](QDialog* box) {
    onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    parent = box->parentWidget();
  });
  ShowException("Handler failed");
  ASSERT_TRUE(watcher.seen());
  EXPECT_TRUE(onTop);
  EXPECT_EQ(parent, nullptr);
}

}  // namespace qt_dialogs
