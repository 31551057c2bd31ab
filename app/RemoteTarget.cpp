#include "app/RemoteTarget.h"

#include "app/FormList.h"
#include "app/morvela1.h"
#include "platform/SettingsStore.h"
#include "sets/LocalPath.h"

#include <QCheckBox>
#include <QComboBox>
#include <QNetworkInterface>
#include <QSignalBlocker>
#include <QSlider>

#include <exception>

namespace app {

namespace {

RemoteControl* theControl = nullptr;

TForm11* Window(int window) {
  if (window < 0 || static_cast<std::size_t>(window) >= FormList.size()) return nullptr;
  TForm11* form = FormList[static_cast<std::size_t>(window)];
  return form && form->IsWhole() ? form : nullptr;
}

// Ticks or unticks a box as a click would, so its handler runs only on a
// real change.
void ClickTo(QCheckBox* box, bool on, const std::function<void()>& clicked) {
  if (box->isChecked() == on) return;
  box->setChecked(on);
  clicked();
}

}  // namespace

std::vector<remote::WindowInfo> WindowsRemoteTarget::Windows() const {
  std::vector<remote::WindowInfo> windows;
  for (std::size_t i = 0; i < FormList.size(); ++i) {
    TForm11* form = Window(static_cast<int>(i));
    if (!form) continue;
    remote::WindowInfo info;
    info.window = form->Instance;
    info.group = form->GroupNumber();
    info.setName = FileNamePart(form->Tuning->FileName).toStdString();
    info.keys = form->Tuning->Set.RowCount();
    windows.push_back(std::move(info));
  }
  return windows;
}

void WindowsRemoteTarget::Key(int window, int key, bool down) {
  TForm11* form = Window(window);
  if (!form) return;
  // The way a MIDI note comes in: the keyboard shows the key and raises the
  // group's dispatch.
  if (down)
    form->Keys1->NoteOn(key, 0, true);
  else
    form->Keys1->NoteOff(key, 0, true);
}

void WindowsRemoteTarget::Play(int window) {
  if (TForm11* form = Window(window)) form->CoolBtn2Click();
}

void WindowsRemoteTarget::Stop(int window) {
  if (TForm11* form = Window(window)) form->StopClick();
}

void WindowsRemoteTarget::SetLoop(int window, bool on) {
  if (TForm11* form = Window(window)) ClickTo(form->Loop, on, [form] { form->LoopClick(); });
}

void WindowsRemoteTarget::SetSustain(int window, bool on) {
  if (TForm11* form = Window(window)) ClickTo(form->Sustain, on, [form] { form->SustainClick(); });
}

void WindowsRemoteTarget::SetVolume(int window, int position) {
  if (TForm11* form = Window(window)) form->CoolScrollbar1->setValue(position);
}

void WindowsRemoteTarget::SetRate(int window, int position) {
  if (TForm11* form = Window(window)) form->Rate1->setValue(position);
}

bool WindowsRemoteTarget::LoadSet(int window, const std::string& name) {
  TForm11* form = Window(window);
  if (!form) return false;
  const QStringList known = form->Tuning->KnownLists();
  for (qsizetype i = 0; i < known.size(); ++i) {
    if (FileNamePart(known[i]).toStdString() != name) continue;
    {
      const QSignalBlocker quiet(form->Tuning->Combo);
      form->Tuning->Combo->setCurrentIndex(static_cast<int>(i));
    }
    // As a choice in the known list: the save question, then the load.
    form->Tuning->ComboChange();
    return true;
  }
  return false;
}

remote::WindowState WindowsRemoteTarget::State(int window) const {
  remote::WindowState state;
  TForm11* form = Window(window);
  if (!form || !form->Player) return state;
  state.key = form->CurrentKey;
  if (state.key >= 0 && state.key < form->Tuning->Set.RowCount())
    state.label = form->Tuning->Set.Row(state.key).Label.toStdString();
  state.playing = form->Player->State == fsPlaying;
  constexpr double kUnitsPerSecond = 1e7;
  state.length = static_cast<double>(form->Player->Duration) / kUnitsPerSecond;
  if (form->ClipLoaded) {
    try {
      state.position = static_cast<double>(form->Player->GetPosition()) / kUnitsPerSecond;
    } catch (const std::exception&) {
      // A clip that can't tell its position shows it at the start.
    }
  }
  return state;
}

std::vector<remote::KeyInfo> WindowsRemoteTarget::Keys(int window) const {
  std::vector<remote::KeyInfo> keys;
  TForm11* form = Window(window);
  if (!form) return keys;
  for (int row = 0; row < form->Tuning->Set.RowCount(); ++row) {
    const KeyRow& key = form->Tuning->Set.Row(row);
    if (!key.File.isEmpty()) keys.push_back({row, key.Label.toStdString()});
  }
  return keys;
}

namespace {

// An address of this machine that other devices on its network reach.
QString NetworkAddress() {
  for (const QHostAddress& address : QNetworkInterface::allAddresses())
    if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
      return address.toString();
  return QStringLiteral("127.0.0.1");
}

}  // namespace

RemoteControl::RemoteControl(RemoteOverride override, QObject* parent)
    : QObject(parent), osc_(target_), override_(override) {
  theControl = this;
  Apply();
}

RemoteControl::~RemoteControl() {
  if (theControl == this) theControl = nullptr;
}

RemoteControl* RemoteControl::Instance() {
  return theControl;
}

void RemoteControl::Apply() {
  remote::RemoteSettings settings = remote::RemoteSettings::Read();
  const bool oscOn = settings.osc || override_.oscPort.has_value();
  const bool webOn = settings.web || override_.webPort.has_value();
  if ((settings.allowOthers || webOn) && settings.MakeTokenIfNone()) {
    try {
      settings.Write();
    } catch (const platform::SettingsError&) {
      // Pairs for this run only; the next start makes another.
    }
  }
  allowOthers_ = settings.allowOthers;
  const QString where =
      settings.allowOthers ? QStringLiteral("every address") : QStringLiteral("127.0.0.1 only");
  osc_.Stop();
  if (!oscOn) {
    status_ = QStringLiteral("OSC: off");
  } else {
    const quint16 port = override_.oscPort.value_or(0) ? *override_.oscPort : settings.oscPort;
    QString why;
    if (osc_.Start(port, settings.Gate(), &why))
      status_ = QStringLiteral("OSC: listening on %1, port %2").arg(where).arg(osc_.Port());
    else
      status_ = QStringLiteral("OSC: port %1 can't be used (%2)").arg(port).arg(why);
  }
  // Closing the server's sockets is its only stop: a new one takes over.
  web_.reset();
  if (!webOn) {
    status_ += QStringLiteral("\nWeb remote: off");
  } else {
    const quint16 port = override_.webPort.value_or(0) ? *override_.webPort : settings.webPort;
    web_ = std::make_unique<remote::WebRemote>(target_);
    QString why;
    if (web_->Start(port, settings.allowOthers, settings.token, &why)) {
      status_ +=
          QStringLiteral("\nWeb remote: listening on %1, port %2").arg(where).arg(web_->Port());
    } else {
      status_ += QStringLiteral("\nWeb remote: port %1 can't be used (%2)").arg(port).arg(why);
      web_.reset();
    }
  }
  emit StatusChanged(status_);
}

QString RemoteControl::PageUrl() const {
  if (!web_) return {};
  return web_->PageUrl(allowOthers_ ? NetworkAddress() : QStringLiteral("127.0.0.1"));
}

}  // namespace app
