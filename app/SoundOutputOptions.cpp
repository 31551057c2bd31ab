#include "app/SoundOutputOptions.h"

#include "app/FormList.h"
#include "app/morvela1.h"
#include "engine/MediaGraph.h"
#include "platform/SettingsStore.h"
#include "player/Tplayerbase.h"

#include <QComboBox>

namespace app {

namespace {

// Port names hold colons and spaces, never tabs.
constexpr QChar kLinkSeparator = u'\t';

class SoundOutputBox : public QComboBox {
 public:
  SoundOutputBox(QWidget* parent, int instance) : QComboBox(parent), instance_(instance) {
    setToolTip(
        QStringLiteral("Where this window's sound plays. A missing output gives way to "
                       "the default one until it is back."));
    // Filled when shown, not here: listing the machine's outputs asks every
    // sound server, which a window being made must not wait for.
    connect(this, &QComboBox::activated, this, [this](int index) { Choose(index); });
  }

 protected:
  void showEvent(QShowEvent* event) override {
    // Interfaces and servers come and go: the list is read at each look.
    Fill();
    QComboBox::showEvent(event);
  }

 private:
  void Fill() {
    const StoredSoundOutput stored = ReadSoundOutput(instance_);
    entries_ = engine::SoundOutputEntries(engine::ListSoundOutputs(), stored.key.toStdString());
    clear();
    for (const engine::SoundOutput& o : entries_) addItem(QString::fromStdString(o.Label));
    setCurrentIndex(engine::SoundOutputIndex(entries_, stored.key.toStdString()));
  }

  void Choose(int index) {
    if (index < 0 || index >= int(entries_.size())) return;
    StoredSoundOutput stored = ReadSoundOutput(instance_);
    stored.key = QString::fromStdString(entries_[std::size_t(index)].Key);
    stored.label = QString::fromStdString(entries_[std::size_t(index)].Label);
    WriteSoundOutput(instance_, stored);
    if (instance_ < int(FormList.size()) && FormList[std::size_t(instance_)] != nullptr)
      if (TPlayer* player = FormList[std::size_t(instance_)]->Player.get())
        player->SetOutputDevice(stored.key, stored.label);
  }

  const int instance_;
  std::vector<engine::SoundOutput> entries_;
};

}  // namespace

StoredSoundOutput ReadSoundOutput(int instance) {
  StoredSoundOutput output;
  try {
    platform::SettingsStore store;
    if (!store.OpenKeyReadOnly(platform::InstanceKey(instance))) return output;
    if (store.ValueExists("soundoutput")) output.key = store.ReadString("soundoutput");
    if (store.ValueExists("soundoutputname")) output.label = store.ReadString("soundoutputname");
    if (store.ValueExists("soundlinks"))
      output.links = store.ReadString("soundlinks").split(kLinkSeparator, Qt::SkipEmptyParts);
  } catch (const platform::SettingsError&) {
  }
  return output;
}

bool WriteSoundOutput(int instance, const StoredSoundOutput& output) {
  try {
    platform::SettingsStore store;
    store.OpenKey(platform::InstanceKey(instance), true);
    store.WriteString("soundoutput", output.key);
    store.WriteString("soundoutputname", output.label);
    store.WriteString("soundlinks", output.links.join(kLinkSeparator));
    return true;
  } catch (const platform::SettingsError&) {
    return false;
  }
}

void ApplyStoredSoundOutput(int instance, TPlayer& player) {
  const StoredSoundOutput stored = ReadSoundOutput(instance);
  player.SetOutputConnections(stored.links);
  player.SetOutputDevice(stored.key, stored.label);
}

QWidget* SoundOutputChoice(QWidget* page, int instance) {
  return new SoundOutputBox(page, instance);
}

}  // namespace app
