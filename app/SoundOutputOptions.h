#pragma once
// A keyboard window's sound output: the choice on its Options page, and what
// is stored of it in the window's settings key (the output by name, and what
// its JACK ports were connected to).

#include <QString>
#include <QStringList>

class QWidget;
class TPlayer;

namespace app {

struct StoredSoundOutput {
  QString key;    // engine::SoundOutput::Key; "" for the default output
  QString label;  // what the user called it when choosing
  QStringList links;
};

// Never throws; what can't be read is the default output, unconnected.
StoredSoundOutput ReadSoundOutput(int instance);
// Never throws; false when the settings can't be written.
bool WriteSoundOutput(int instance, const StoredSoundOutput& output);

// Hands the stored choice to a window's player, which opens it at once.
void ApplyStoredSoundOutput(int instance, TPlayer& player);

// The "Sound output" choice of the window `instance` on its Options page.
QWidget* SoundOutputChoice(QWidget* page, int instance);

}  // namespace app
