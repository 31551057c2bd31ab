// Start-up: wires the program together, in a fixed order.

#include "app/CommandLine.h"
#include "app/FormList.h"
#include "app/NetGroupControl.h"
#include "app/ReadyKeys.h"
#include "app/RemoteTarget.h"
#include "app/SoundOutputOptions.h"
#include "app/StartSet.h"
#include "app/morvela1.h"
#include "editor/Edit.h"
#include "help/Hh.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/SingleInstance.h"
#include "platform/midi/MidiPorts.h"
#include "player/Tplayerrenderers.h"
#include "sets/Prop.h"

#include <QDir>
#include <QStringList>
#include <QVBoxLayout>

#include <cstdio>
#include <thread>

namespace {

QStringList Arguments(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

void PrintLine(std::FILE* to, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), to);
  std::fputc('\n', to);
}

// The Options page's sections of the ready keys, the remote and the
// network group, one under the other.
QWidget* ProgramSections(QWidget* page) {
  auto* box = new QWidget(page);
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(app::ReadyKeysOptionsSection(box));
  column->addWidget(app::RemoteOptionsSection(box));
  column->addWidget(app::NetGroupOptionsSection(box));
  return box;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything else: --help and --version work without a
  // desktop session, and a set file that can't be read is reported before
  // any window appears. Relative names are taken from the folder the program
  // was started in, before it moves into its own.
  const app::CommandLine command =
      app::ParseCommandLine(Arguments(argc, argv), QDir::currentPath());
  switch (command.action) {
    case app::CommandLine::Action::kHelp:
      std::fputs(app::UsageText().toLocal8Bit().constData(), stdout);
      return 0;
    case app::CommandLine::Action::kVersion:
      std::fputs(app::VersionText().toLocal8Bit().constData(), stdout);
      return 0;
    case app::CommandLine::Action::kError:
      PrintLine(stderr, command.error);
      return app::kUsageExitCode;
    case app::CommandLine::Action::kRun:
      break;
  }
  // One copy per user and desktop session: a later start hands its set file
  // to the running copy, which opens it (and tells there what is wrong with
  // it), and ends.
  platform::SingleInstance instance;
  const platform::SingleInstance::Start start = instance.HandOverOrClaim(command.setFile);
  if (start == platform::SingleInstance::Start::kHandedOver) return 0;
  if (start == platform::SingleInstance::Start::kAlone)
    PrintLine(stderr, QStringLiteral("tastivo: the copy already running does not answer; "
                                     "this one runs on its own"));
  if (!command.setFile.isEmpty()) {
    const QString problem = app::SetFileProblem(command.setFile);
    if (!problem.isEmpty()) {
      PrintLine(stderr, problem);
      return app::kUnreadableExitCode;
    }
  }
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
  app::HandedSets handed;
  QObject::connect(&instance, &platform::SingleInstance::Requested, &handed, &app::HandedSets::Add);
  if (start == platform::SingleInstance::Start::kFirst && !instance.Listen())
    PrintLine(stderr, QStringLiteral("tastivo: later starts will run copies of their own (%1)")
                          .arg(instance.Error()));
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
    platform::Application::SetHelpFile(QDir(HelpEngineFolder()).filePath(kHelpCollectionName));
    TTuning::ExtraOptions = ProgramSections;
    app::ApplyStoredReadyKeySettings();
    TTuning::SoundOptions = app::SoundOutputChoice;
    Form11 = new TForm11(&app);
    Edit1 = new TEdit1();
    TTuning::Editor = Edit1;
    Form11->show();
    if (!command.setFile.isEmpty()) app::OpenStartSet(*Form11, command.setFile);
    // After the first window: the remote plays windows, and a bad port must
    // not keep the program from starting.
    app::RemoteOverride override;
    if (command.osc) override.oscPort = command.oscPort;
    if (command.web) override.webPort = command.webPort;
    app::RemoteControl remote(override);
    app::NetGroupControl network;
    if (command.osc || command.web) {
      for (const QString& line : remote.Status().split(u'\n'))
        PrintLine(stderr, QStringLiteral("tastivo: ") + line);
      if (command.web)
        PrintLine(stderr, QStringLiteral("tastivo: web remote page: ") + remote.PageUrl());
    }
    result = app.exec();
  });
  platform::RunGuarded([] {
    delete Form11;
    delete Edit1;
    Edit1 = nullptr;
  });
  return ok ? result : 1;
}
