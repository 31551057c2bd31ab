#pragma once
// The keyboard windows as the remote sees them, and the remote's life in the
// program: on when the settings or the command line say so, restarted when
// the Options page changes them.

#include "remote/OscServer.h"
#include "remote/RemoteSettings.h"
#include "remote/RemoteTarget.h"

#include <QObject>

class QWidget;

#include <optional>

namespace app {

// Every call acts on FormList's windows on the window thread. A window that
// is not whole yet, or a number past the list, is left alone.
class WindowsRemoteTarget : public remote::RemoteTarget {
 public:
  std::vector<remote::WindowInfo> Windows() const override;
  void Key(int window, int key, bool down) override;
  void Play(int window) override;
  void Stop(int window) override;
  void SetLoop(int window, bool on) override;
  void SetSustain(int window, bool on) override;
  void SetVolume(int window, int position) override;
  void SetRate(int window, int position) override;
  bool LoadSet(int window, const std::string& name) override;
  remote::WindowState State(int window) const override;
};

class RemoteControl : public QObject {
  Q_OBJECT
 public:
  // oscPort: from the command line, switches OSC on for this run on that
  // port (0: the stored one) without storing anything.
  explicit RemoteControl(std::optional<quint16> oscPort = std::nullopt, QObject* parent = nullptr);
  ~RemoteControl() override;

  // The one of the program, while there is one.
  static RemoteControl* Instance();

  // Reads the settings again and starts, restarts or stops the server.
  void Apply();
  // "OSC: listening on 127.0.0.1 port 7700", "OSC: off" or why it failed.
  QString Status() const { return status_; }
  const remote::OscServer& Osc() const { return osc_; }

 signals:
  void StatusChanged(const QString& status);

 private:
  WindowsRemoteTarget target_;
  remote::OscServer osc_;
  std::optional<quint16> commandLinePort_;
  QString status_;
};

// The remote's part of a set editor's Options page: OSC on or off, its
// port, "Allow other devices", the pairing token and the allow-list. Every
// window's page shows and changes the same settings.
QWidget* RemoteOptionsSection(QWidget* page);

}  // namespace app
