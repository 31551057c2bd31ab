#include "platform/Dialogs.h"
#include "platform/Application.h"
#include "platform/ScriptedDialogs.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

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
