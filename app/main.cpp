// Start-up: wires the program together, in a fixed order.

#include "app/FormList.h"
#include "app/morvela1.h"
#include "editor/Edit.h"
#include "help/Hh.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/midi/MidiPorts.h"
#include "player/Tplayerrenderers.h"

#include <QDir>

#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
  // Without a desktop session Qt would abort with a core dump; say instead
  // what the program needs.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::fputs("Tastivo needs a desktop session: neither DISPLAY nor WAYLAND_DISPLAY is set.\n",
               stderr);
    return 1;
  }
  // The MIDI ports and the audio outputs are listed on threads of their own
  // while the application starts; the first window waits only for what is
  // not ready by the time it needs it.
  platform::PrefetchMidiInputPortNames();
  std::thread devices([] { InitializePlayerDevices(); });
  platform::Application app(argc, argv);
  // The playback engine has listed the audio outputs, and the help engine is
  // loaded, before the first window.
  HhModule helpModule;
  devices.join();
  app.setQuitOnLastWindowClosed(false);
  int result = 0;
  const bool ok = platform::RunGuarded([&] {
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    FormList.clear();
    QCoreApplication::setApplicationName(platform::kApplicationTitle);
    QGuiApplication::setApplicationDisplayName(platform::kApplicationTitle);
    platform::Application::SetHelpFile(
        QDir(QCoreApplication::applicationDirPath()).filePath("tastivo.qhc"));
    Form11 = new TForm11(&app);
    Edit1 = new TEdit1();
    Form11->show();
    result = app.exec();
  });
  platform::RunGuarded([] {
    delete Form11;
    delete Edit1;
    Edit1 = nullptr;
  });
  return ok ? result : 1;
}
