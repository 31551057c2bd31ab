#include "app/RemoteTarget.h"

#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace app {

namespace {

class RemoteOptionsBox : public QWidget {
 public:
  explicit RemoteOptionsBox(QWidget* parent) : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    auto* heading = new QLabel(QStringLiteral("Remote"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    grid->addWidget(heading, row++, 0, 1, 3);
    osc_ = new QCheckBox(QStringLiteral("OSC remote, UDP port"), this);
    port_ = new QSpinBox(this);
    port_->setRange(1024, 65535);
    grid->addWidget(osc_, row, 0);
    grid->addWidget(port_, row++, 1);
    others_ = new QCheckBox(QStringLiteral("Allow other devices"), this);
    others_->setToolTip(
        QStringLiteral("Off: only programs on this computer reach the remote. On: other "
                       "devices do too, from an allowed address or with the pairing token."));
    grid->addWidget(others_, row++, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Pairing token"), this), row, 0);
    token_ = new QLineEdit(this);
    token_->setReadOnly(true);
    token_->setPlaceholderText(QStringLiteral("made when other devices are allowed"));
    grid->addWidget(token_, row, 1);
    auto* renew = new QPushButton(QStringLiteral("New token"), this);
    renew->setToolTip(QStringLiteral("Devices paired with the old token must pair again"));
    grid->addWidget(renew, row++, 2);
    grid->addWidget(new QLabel(QStringLiteral("Allowed addresses"), this), row, 0);
    allowList_ = new QLineEdit(this);
    allowList_->setPlaceholderText(QStringLiteral("192.168.1.20 192.168.1.21"));
    grid->addWidget(allowList_, row++, 1, 1, 2);
    status_ = new QLabel(this);
    grid->addWidget(status_, row++, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    Load();
    connect(osc_, &QCheckBox::clicked, this, [this] { Store(); });
    connect(others_, &QCheckBox::clicked, this, [this] { Store(); });
    connect(port_, &QSpinBox::editingFinished, this, [this] { Store(); });
    connect(allowList_, &QLineEdit::editingFinished, this, [this] { Store(); });
    connect(renew, &QPushButton::clicked, this, [this] {
      token_->setText(remote::NewPairingToken());
      Store();
    });
    if (RemoteControl* control = RemoteControl::Instance())
      connect(control, &RemoteControl::StatusChanged, status_, &QLabel::setText);
  }

 protected:
  void showEvent(QShowEvent* event) override {
    // Another window's page may have changed the settings meanwhile.
    Load();
    QWidget::showEvent(event);
  }

 private:
  void Load() {
    const remote::RemoteSettings settings = remote::RemoteSettings::Read();
    osc_->setChecked(settings.osc);
    port_->setValue(settings.oscPort);
    others_->setChecked(settings.allowOthers);
    token_->setText(settings.token);
    allowList_->setText(settings.allowList.join(u' '));
    RemoteControl* control = RemoteControl::Instance();
    status_->setText(control ? control->Status() : QString());
  }

  void Store() {
    remote::RemoteSettings settings = remote::RemoteSettings::Read();
    settings.osc = osc_->isChecked();
    settings.oscPort = static_cast<quint16>(port_->value());
    settings.allowOthers = others_->isChecked();
    settings.token = token_->text();
    if (settings.allowOthers) settings.MakeTokenIfNone();
    token_->setText(settings.token);
    settings.allowList = remote::ParseAllowList(allowList_->text());
    allowList_->setText(settings.allowList.join(u' '));
    try {
      settings.Write();
    } catch (const platform::SettingsError&) {
      status_->setText(QStringLiteral("The remote's settings can't be stored"));
      return;
    }
    if (RemoteControl* control = RemoteControl::Instance()) control->Apply();
  }

  QCheckBox* osc_;
  QSpinBox* port_;
  QCheckBox* others_;
  QLineEdit* token_;
  QLineEdit* allowList_;
  QLabel* status_;
};

}  // namespace

QWidget* RemoteOptionsSection(QWidget* page) {
  return new RemoteOptionsBox(page);
}

}  // namespace app
