// The one test main: a real application object, so widgets, timers, queued
// messages and the standard error box behave as in the program.

#include "platform/Application.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never read or write the user's own settings from a test.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  // Nor fill the user's cache with the peaks and extracted entries of test clips.
  QTemporaryDir cache;
  qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
  ::testing::InitGoogleTest(&argc, argv);
  platform::Application app(argc, argv);
  return RUN_ALL_TESTS();
}
