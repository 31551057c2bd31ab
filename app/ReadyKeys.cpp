#include "app/ReadyKeys.h"

#include "app/SettingsSection.h"
#include "platform/SettingsStore.h"

#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>

#include <optional>

namespace app {

ReadyKeySettings ReadyKeySettings::Read() {
  ReadyKeySettings settings;
  platform::SettingsStore store;
  if (!store.OpenKeyReadOnly(kKey)) return settings;
  const auto read = [&](const char* name, int lowest, int highest) -> std::optional<int> {
    try {
      if (!store.ValueExists(name)) return std::nullopt;
      const int value = store.ReadInteger(name);
      if (value >= lowest && value <= highest) return value;
    } catch (const platform::SettingsError&) {
    }
    return std::nullopt;
  };
  if (const auto ms = read("headms", engine::HeadLimits::kShortest, engine::HeadLimits::kLongest))
    settings.limits.Milliseconds = *ms;
  if (const auto mb = read("megabytes", kFewestMegabytes, kMostMegabytes))
    settings.limits.Bytes = std::int64_t(*mb) << 20;
  return settings;
}

void ReadyKeySettings::Write() const {
  platform::SettingsStore store;
  if (!store.OpenKey(kKey, true)) throw platform::SettingsError("the settings can't be written");
  store.WriteInteger("headms", limits.Milliseconds);
  store.WriteInteger("megabytes", int(limits.Bytes >> 20));
  store.CloseKey();
}

void ApplyStoredReadyKeySettings() {
  engine::HeadBudget::Instance().SetLimits(ReadyKeySettings::Read().limits);
}

namespace {

class ReadyKeysBox : public SettingsSection {
 public:
  explicit ReadyKeysBox(QWidget* parent) : SettingsSection(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    AddHeading(grid, row, QStringLiteral("Ready keys"), 2);
    grid->addWidget(new QLabel(QStringLiteral("Head of each clip (ms)"), this), row, 0);
    headMs_ = new QSpinBox(this);
    headMs_->setRange(engine::HeadLimits::kShortest, engine::HeadLimits::kLongest);
    headMs_->setSingleStep(50);
    headMs_->setToolTip(
        QStringLiteral("Every key keeps this much of its clip decoded, so that it sounds at "
                       "once; longer is safer on a busy computer"));
    grid->addWidget(headMs_, row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("Memory for heads (MB)"), this), row, 0);
    megabytes_ = new QSpinBox(this);
    megabytes_->setRange(ReadyKeySettings::kFewestMegabytes, ReadyKeySettings::kMostMegabytes);
    megabytes_->setSingleStep(16);
    megabytes_->setToolTip(
        QStringLiteral("Over this, the keys played least lately start a moment later"));
    grid->addWidget(megabytes_, row++, 1);
    status_ = new QLabel(this);
    grid->addWidget(status_, row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    Load();
    StoreOnEdit({headMs_, megabytes_});
  }

 private:
  void Load() override {
    const engine::HeadLimits limits = engine::HeadBudget::Instance().Limits();
    headMs_->setValue(limits.Milliseconds);
    megabytes_->setValue(int(limits.Bytes >> 20));
    ShowHeld();
  }

  void ShowHeld() {
    const std::int64_t held = engine::HeadBudget::Instance().HeldBytes();
    status_->setText(
        QStringLiteral("Heads held now: %1 MB").arg(double(held) / (1 << 20), 0, 'f', 1));
  }

  void Store() override {
    ReadyKeySettings settings;
    settings.limits = engine::HeadBudget::Instance().Limits();
    settings.limits.Milliseconds = headMs_->value();
    settings.limits.Bytes = std::int64_t(megabytes_->value()) << 20;
    // The windows keep to the new limits even when they can't be stored.
    engine::HeadBudget::Instance().SetLimits(settings.limits);
    try {
      settings.Write();
    } catch (const platform::SettingsError&) {
      status_->setText(QStringLiteral("The ready keys' settings can't be stored"));
      return;
    }
    ShowHeld();
  }

  QSpinBox* headMs_;
  QSpinBox* megabytes_;
  QLabel* status_;
};

}  // namespace

QWidget* ReadyKeysOptionsSection(QWidget* page) {
  return new ReadyKeysBox(page);
}

}  // namespace app
