#include "app/NetGroupControl.h"
#include "app/SettingsSection.h"

#include "net/GroupFinder.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>

namespace app {

namespace {

class NetGroupOptionsBox : public SettingsSection {
 public:
  explicit NetGroupOptionsBox(QWidget* parent) : SettingsSection(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    AddHeading(grid, row, QStringLiteral("Network group"), 2);
    shared_ = new QCheckBox(QStringLiteral("Share group"), this);
    shared_->setToolTip(
        QStringLiteral("Keys pressed in this group sound on every machine of the network group"));
    group_ = new QSpinBox(this);
    group_->setRange(0, 9999);
    grid->addWidget(shared_, row, 0);
    grid->addWidget(group_, row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("Name on the network"), this), row, 0);
    name_ = new QLineEdit(this);
    name_->setMaxLength(64);
    grid->addWidget(name_, row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("Host address"), this), row, 0);
    host_ = new QComboBox(this);
    host_->setEditable(true);
    host_->setInsertPolicy(QComboBox::NoInsert);
    host_->lineEdit()->setPlaceholderText(QStringLiteral("empty: this computer hosts the group"));
    host_->setToolTip(
        QStringLiteral("Type the host's address, or pick a group found on the network"));
    grid->addWidget(host_, row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("UDP port"), this), row, 0);
    port_ = new QSpinBox(this);
    port_->setRange(1024, 65534);
    port_->setToolTip(QStringLiteral("The group's clock is served on the port after it"));
    grid->addWidget(port_, row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("Host's pairing token"), this), row, 0);
    token_ = new QLineEdit(this);
    token_->setPlaceholderText(QStringLiteral("the host's Remote pairing token"));
    grid->addWidget(token_, row++, 1);
    status_ = new QLabel(this);
    grid->addWidget(status_, row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    Load();
    StoreOnEdit({shared_, group_, port_, name_, host_->lineEdit(), token_});
    connect(host_, &QComboBox::activated, this, [this](int index) {
      host_->setEditText(host_->itemData(index).toString());
      Store();
    });
  }

 private:
  // The page may be made before the program's network group is: it
  // follows the group once there is one.
  void Follow() {
    NetGroupControl* control = NetGroupControl::Instance();
    if (control == nullptr || control == followed_) return;
    followed_ = control;
    connect(control, &NetGroupControl::StatusChanged, status_, &QLabel::setText);
    connect(control, &NetGroupControl::FoundChanged, this, [this] { ListFound(); });
  }

  void Load() override {
    Follow();
    const net::NetSettings settings = net::NetSettings::Read();
    shared_->setChecked(settings.shared);
    group_->setValue(settings.groupNumber);
    name_->setText(settings.groupName);
    ListFound();
    host_->setEditText(settings.hostAddress);
    port_->setValue(settings.port);
    token_->setText(settings.hostToken);
    NetGroupControl* control = NetGroupControl::Instance();
    status_->setText(control ? control->Status() : QString());
  }

  // The groups found on the network, each as "name (address)".
  void ListFound() {
    const QString typed = host_->currentText();
    host_->clear();
    NetGroupControl* control = NetGroupControl::Instance();
    if (control != nullptr && control->Finder() != nullptr)
      for (const net::FoundGroup& g : control->Finder()->Found())
        host_->addItem(QStringLiteral("%1 (%2)").arg(g.name, g.address), g.address);
    host_->setEditText(typed);
  }

  void Store() override {
    net::NetSettings settings;
    settings.shared = shared_->isChecked();
    settings.groupNumber = group_->value();
    settings.groupName = name_->text().trimmed();
    settings.hostAddress = host_->currentText().trimmed();
    settings.port = static_cast<quint16>(port_->value());
    settings.hostToken = token_->text().trimmed();
    const net::NetSettings before = net::NetSettings::Read();
    if (settings.shared == before.shared && settings.groupNumber == before.groupNumber &&
        settings.groupName == before.groupName && settings.hostAddress == before.hostAddress &&
        settings.port == before.port && settings.hostToken == before.hostToken)
      return;
    try {
      settings.Write();
    } catch (const platform::SettingsError&) {
      status_->setText(QStringLiteral("The network group's settings can't be stored"));
      return;
    }
    Follow();
    if (NetGroupControl* control = NetGroupControl::Instance()) control->Apply();
  }

  QCheckBox* shared_;
  QSpinBox* group_;
  QLineEdit* name_;
  QComboBox* host_;
  QSpinBox* port_;
  QLineEdit* token_;
  QLabel* status_;
  QPointer<NetGroupControl> followed_;
};

}  // namespace

QWidget* NetGroupOptionsSection(QWidget* page) {
  return new NetGroupOptionsBox(page);
}

}  // namespace app
