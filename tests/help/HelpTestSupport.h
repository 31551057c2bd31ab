#pragma once
// Shared set-up of the help tests: the engine loaded from the program's
// folder, and every viewer gone after each test.

#include "help/Hh.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

namespace help_test {

inline void DestroyClosedWindows() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class LoadedHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHelpEngineFolder(QString());
    LoadHtmlHelp();
    ASSERT_TRUE(HtmlHelpLoaded()) << "no help collection in " << HelpEngineFolder().toStdString();
  }
  void TearDown() override {
    UnloadHtmlHelp();
    DestroyClosedWindows();
  }
};

}  // namespace help_test
