#pragma once
// The keyboard windows as the remote sees them, and the remote's life in the
// program: on when the settings or the command line say so, restarted when
// the Options page changes them.

#include "remote/OscServer.h"
#include "remote/RemoteSettings.h"
#include "remote/RemoteTarget.h"
#include "remote/WebRemote.h"

#include <QObject>

#include <memory>
#include <optional>

class QWidget;

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
  std::vector<remote::KeyInfo> Keys(int window) const override;
};

// What the command line switches on for one run, whatever the settings say;
// a port of 0 takes the stored one.
struct RemoteOverride {
  std::optional<quint16> oscPort;
  std::optional<quint16> webPort;
};

class RemoteControl : public QObject {
  Q_OBJECT
 public:
  explicit RemoteControl(RemoteOverride override = {}, QObject* parent = nullptr);
  ~RemoteControl() override;

  // The one of the program, while there is one.
  static RemoteControl* Instance();

  // Reads the settings again and starts, restarts or stops the server.
  void Apply();
  // "OSC: listening on 127.0.0.1 only, port 7700", "OSC: off" or why it
  // failed; then the same for the web remote, on a line of its own.
  QString Status() const { return status_; }
  // The web remote page's address with its token, for this machine or, when
  // other devices are allowed, for them; empty while the web remote is off.
  QString PageUrl() const;

 signals:
  void StatusChanged(const QString& status);

 private:
  WindowsRemoteTarget target_;
  remote::OscServer osc_;
  std::unique_ptr<remote::WebRemote> web_;
  RemoteOverride override_;
  bool allowOthers_ = false;
  QString status_;
};

// The remote's part of a set editor's Options page: OSC and the web remote
// on or off and their ports, "Allow other devices", the pairing token, the
// allow-list, and the web remote's address as text and QR code. Every
// window's page shows and changes the same settings.
QWidget* RemoteOptionsSection(QWidget* page);

}  // namespace app
