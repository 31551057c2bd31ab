#pragma once
// The heads every window keeps of its keys' clips (engine::HeadBudget):
// how long each is and how much memory they may take in all. Per user,
// with the program's other settings under "Software\Tastivo\Ready keys",
// shared by every keyboard window.

#include "engine/cue/HeadBudget.h"

class QWidget;

namespace app {

struct ReadyKeySettings {
  static constexpr const char* kKey = "Software\\Tastivo\\Ready keys";
  static constexpr int kFewestMegabytes = 16, kMostMegabytes = 4096;

  engine::HeadLimits limits;

  // Missing or out-of-range values read as the defaults.
  static ReadyKeySettings Read();
  // Throws platform::SettingsError when the store can't be written.
  void Write() const;
};

// At the start: the stored limits for every window's heads.
void ApplyStoredReadyKeySettings();

// The "Ready keys" section of the Options page.
QWidget* ReadyKeysOptionsSection(QWidget* page);

}  // namespace app
