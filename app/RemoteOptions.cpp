#include "app/RemoteTarget.h"
#include "app/SettingsSection.h"

#include "platform/SettingsStore.h"
#include "remote/QrCode.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>

namespace app {

namespace {

// The code black on white with a quiet zone of four modules, each module
// `scale` pixels wide, for a phone's camera.
QImage QrImage(const QString& text, int scale = 4) {
  const std::vector<std::vector<bool>> rows = remote::QrModules(text);
  const int n = static_cast<int>(rows.size());
  QImage image((n + 8) * scale, (n + 8) * scale, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x)
      if (rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)])
        for (int dy = 0; dy < scale; ++dy)
          for (int dx = 0; dx < scale; ++dx)
            image.setPixel((x + 4) * scale + dx, (y + 4) * scale + dy, qRgb(0, 0, 0));
  return image;
}

class RemoteOptionsBox : public SettingsSection {
 public:
  explicit RemoteOptionsBox(QWidget* parent) : SettingsSection(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    AddHeading(grid, row, QStringLiteral("Remote"), 3);
    osc_ = new QCheckBox(QStringLiteral("OSC remote, UDP port"), this);
    port_ = new QSpinBox(this);
    port_->setRange(1024, 65535);
    grid->addWidget(osc_, row, 0);
    grid->addWidget(port_, row++, 1);
    web_ = new QCheckBox(QStringLiteral("Web remote, TCP port"), this);
    webPort_ = new QSpinBox(this);
    webPort_->setRange(1024, 65535);
    grid->addWidget(web_, row, 0);
    grid->addWidget(webPort_, row++, 1);
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
    pageUrl_ = new QLabel(this);
    pageUrl_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pageUrl_->setToolTip(QStringLiteral("Open it on the phone, or scan the code"));
    grid->addWidget(pageUrl_, row++, 0, 1, 3);
    qrCode_ = new QLabel(this);
    grid->addWidget(qrCode_, row++, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    Load();
    StoreOnEdit({osc_, web_, webPort_, others_, port_, allowList_});
    connect(renew, &QPushButton::clicked, this, [this] {
      token_->setText(remote::NewPairingToken());
      Store();
    });
  }

 private:
  void Load() override {
    const remote::RemoteSettings settings = remote::RemoteSettings::Read();
    osc_->setChecked(settings.osc);
    port_->setValue(settings.oscPort);
    web_->setChecked(settings.web);
    webPort_->setValue(settings.webPort);
    others_->setChecked(settings.allowOthers);
    token_->setText(settings.token);
    allowList_->setText(settings.allowList.join(u' '));
    ShowStatus();
  }

  void ShowStatus() {
    RemoteControl* control = RemoteControl::Instance();
    // The page may be made before the program's remote is: it follows the
    // remote once there is one.
    if (control != nullptr && control != followed_) {
      followed_ = control;
      connect(control, &RemoteControl::StatusChanged, this, [this] { ShowStatus(); });
    }
    status_->setText(control ? control->Status() : QString());
    const QString url = control ? control->PageUrl() : QString();
    pageUrl_->setText(url);
    pageUrl_->setVisible(!url.isEmpty());
    qrCode_->setVisible(!url.isEmpty());
    if (!url.isEmpty()) qrCode_->setPixmap(QPixmap::fromImage(QrImage(url)));
  }

  void Store() override {
    remote::RemoteSettings settings = remote::RemoteSettings::Read();
    settings.osc = osc_->isChecked();
    settings.oscPort = static_cast<quint16>(port_->value());
    settings.web = web_->isChecked();
    settings.webPort = static_cast<quint16>(webPort_->value());
    settings.allowOthers = others_->isChecked();
    settings.token = token_->text();
    if (settings.allowOthers || settings.web) settings.MakeTokenIfNone();
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
    ShowStatus();
  }

  QCheckBox* osc_;
  QSpinBox* port_;
  QCheckBox* web_;
  QSpinBox* webPort_;
  QLabel* pageUrl_;
  QLabel* qrCode_;
  QCheckBox* others_;
  QLineEdit* token_;
  QLineEdit* allowList_;
  QLabel* status_;
  QPointer<RemoteControl> followed_;
};

}  // namespace

QWidget* RemoteOptionsSection(QWidget* page) {
  return new RemoteOptionsBox(page);
}

}  // namespace app
