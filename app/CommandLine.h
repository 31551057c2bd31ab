#pragma once
// The program's command line: no arguments (the usual start), one set file
// to open in the first keyboard window (what a file manager passes for a
// double-clicked .wql file), --help, --version, --osc[=PORT] or --web[=PORT]. Pure logic, apart
// from SetFileProblem, which looks at the file system.

#include <QString>
#include <QStringList>

namespace app {

struct CommandLine {
  enum class Action {
    kRun,      // start the program, with setFile when it is not empty
    kHelp,     // print UsageText() and end
    kVersion,  // print VersionText() and end
    kError,    // print error on standard error and end with kUsageExitCode
  };
  Action action = Action::kRun;
  // Absolute, so that it still names the same file after the program has
  // moved into its own folder.
  QString setFile;
  // One line, without its line end.
  QString error;
  // --osc[=PORT]: the OSC remote on for this run (PORT 0: the stored port),
  // whatever the settings say; nothing is stored.
  bool osc = false;
  quint16 oscPort = 0;
  // --web[=PORT]: the web remote likewise.
  bool web = false;
  quint16 webPort = 0;
};

// The exit status of a command line that could not be understood, and of a
// set file that cannot be read.
inline constexpr int kUsageExitCode = 2;
inline constexpr int kUnreadableExitCode = 1;

// arguments: argv without the program name. workingFolder: the folder that a
// relative set file name is relative to (the folder the program was started
// in). The windowing system's own options ("-platform xcb", "-style fusion",
// ...) are let through for the application object, which takes them out.
CommandLine ParseCommandLine(const QStringList& arguments, const QString& workingFolder);

// The --help text, several lines, ending in a line end.
QString UsageText();
// "tastivo <version>" and a line end.
QString VersionText();

// Empty when path is a file that can be read; otherwise one line saying why
// not ("tastivo: <path>: no such file", ...).
QString SetFileProblem(const QString& path);

}  // namespace app
