#include "app/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>

#ifndef TASTIVO_VERSION
#define TASTIVO_VERSION "unknown"
#endif

namespace app {

namespace {

// The options that Qt's application object reads itself. They stay on the
// command line for it, so that "tastivo -style fusion" works as in any Qt
// program; Qt also accepts them with two dashes.
constexpr std::array kQtOptionsWithValue = {
    "-platform",        "-platformpluginpath", "-platformtheme", "-plugin",
    "-qwindowgeometry", "-qwindowicon",        "-qwindowtitle",  "-session",
    "-display",         "-geometry",           "-style",         "-stylesheet",
};
constexpr std::array kQtFlags = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
constexpr std::array kQtOptionsWithEquals = {"-style=", "-stylesheet=", "-qmljsdebugger="};

template <std::size_t N>
bool Among(const std::array<const char*, N>& names, const QString& option) {
  return std::any_of(names.begin(), names.end(),
                     [&](const char* name) { return option == QLatin1String(name); });
}

// A file name may hold line ends and other control characters; a message
// about it stays one line.
QString Printable(QString text) {
  for (QChar& c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = u'?';
  return text;
}

CommandLine Error(const QString& text) {
  CommandLine result;
  result.action = CommandLine::Action::kError;
  result.error = QStringLiteral("tastivo: ") + text;
  return result;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments, const QString& workingFolder) {
  CommandLine result;
  QStringList files;
  bool optionsEnded = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (optionsEnded || !argument.startsWith(u'-') || argument == QLatin1String("-")) {
      files << argument;
      continue;
    }
    if (argument == QLatin1String("--")) {
      optionsEnded = true;
      continue;
    }
    // The first of --help and --version wins, as in most programs.
    if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
      if (result.action == CommandLine::Action::kRun) result.action = CommandLine::Action::kHelp;
      continue;
    }
    if (argument == QLatin1String("--version")) {
      if (result.action == CommandLine::Action::kRun) result.action = CommandLine::Action::kVersion;
      continue;
    }
    bool* remoteOn = nullptr;
    quint16* remotePort = nullptr;
    if (argument == QLatin1String("--osc") || argument.startsWith(QLatin1String("--osc="))) {
      remoteOn = &result.osc;
      remotePort = &result.oscPort;
    } else if (argument == QLatin1String("--web") || argument.startsWith(QLatin1String("--web="))) {
      remoteOn = &result.web;
      remotePort = &result.webPort;
    }
    if (remoteOn) {
      *remoteOn = true;
      if (argument.size() > 5) {
        bool ok = false;
        const uint port = argument.mid(6).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
          return Error(QStringLiteral("%1 wants a port from 1 to 65535, not %2")
                           .arg(argument.left(5), Printable(argument.mid(6))));
        *remotePort = static_cast<quint16>(port);
      }
      continue;
    }
    const QString qtOption = argument.startsWith(QLatin1String("--")) ? argument.mid(1) : argument;
    if (Among(kQtFlags, qtOption)) continue;
    if (std::any_of(kQtOptionsWithEquals.begin(), kQtOptionsWithEquals.end(),
                    [&](const char* prefix) { return qtOption.startsWith(QLatin1String(prefix)); }))
      continue;
    if (Among(kQtOptionsWithValue, qtOption)) {
      if (i + 1 >= arguments.size())
        return Error(QStringLiteral("option %1 needs a value").arg(Printable(argument)));
      ++i;
      continue;
    }
    return Error(QStringLiteral("unknown option %1 (tastivo --help lists the options)")
                     .arg(Printable(argument)));
  }
  if (result.action != CommandLine::Action::kRun) return result;
  if (files.size() > 1)
    return Error(QStringLiteral("one set file at a time, not %1").arg(files.size()));
  if (files.size() == 1) {
    if (files.first() == QLatin1String("-") || files.first().isEmpty())
      return Error(QStringLiteral("a set file is read from a file, not from standard input"));
    result.setFile = QDir::cleanPath(QDir(workingFolder).absoluteFilePath(files.first()));
  }
  return result;
}

QString UsageText() {
  return QStringLiteral(
      "Usage: tastivo [SET.wql]\n"
      "A media clip keyboard: every key of an on-screen piano keyboard plays a clip.\n"
      "\n"
      "  SET.wql      open this set file in the first keyboard window\n"
      "  -h, --help   show this help and end\n"
      "  --version    show the version and end\n"
      "  --osc[=PORT] take OSC commands on this machine's loopback address, on\n"
      "               PORT or the port set in a set editor's Options page\n"
      "               (7700), for this run only\n"
      "  --web[=PORT] serve the web remote on this machine's loopback address, on\n"
      "               PORT or the port set there (7780), for this run only; the\n"
      "               page's address, with its token, is printed on standard error\n"
      "\n"
      "Without a set file, each keyboard window opens the set it had last time.\n"
      "\n"
      "Tastivo runs once per desktop session. Started while it runs, it hands\n"
      "SET.wql to the running Tastivo, which opens it in its first keyboard window\n"
      "(and tells there what is wrong with a file it cannot open), brings that\n"
      "window to the front, and ends with status 0. Without SET.wql it only\n"
      "brings the first window to the front.\n"
      "\n"
      "F1 in any Tastivo window opens the manual; so does the about window (the\n"
      "Help button of the caption bar).\n"
      "\n"
      "Environment (none is needed; the manual's Advanced page tells more):\n"
      "  TASTIVO_AUDIO_SINK          the GStreamer sink clips play through, by its\n"
      "                              element name (e.g. pulsesink); without it: a\n"
      "                              running JACK server, else PulseAudio, else ALSA\n"
      "  TASTIVO_KEY_WAIT_MS         how long a key may wait for its clip to open\n"
      "                              (200 ms) before it goes on loading\n"
      "  TASTIVO_CUE_CLIPS           how many clips are held ready to play\n"
      "                              (48; 0: none)\n"
      "  TASTIVO_CUE_VIDEO_CLIPS     how many of them may be videos (6)\n"
      "  TASTIVO_PULSE_LATENCY_US    the PulseAudio stream's queue (40000; 20000 on\n"
      "                              PipeWire)\n"
      "  TASTIVO_ALSA_LATENCY_US     the ALSA output's buffer (40000)\n"
      "  TASTIVO_OUTPUT_BUFFER_US    what GStreamer's own sinks hold ahead (200000)\n"
      "  XDG_CONFIG_HOME             the folder of Tastivo/Tastivo.ini (~/.config)\n"
      "  XDG_RUNTIME_DIR             the folder of the socket by which a second start\n"
      "                              finds the running Tastivo (else the temporary\n"
      "                              folder)\n"
      "To compare, set to any value:\n"
      "  TASTIVO_NO_FADES            no fades at the cuts\n"
      "  TASTIVO_FLUSHING_LOOPS      loops that flush and start anew\n"
      "  TASTIVO_STOCK_JACK_OUTPUT   GStreamer's JACK sink, not Tastivo's own\n"
      "  TASTIVO_STOCK_PULSE_OUTPUT  GStreamer's PulseAudio sink, not Tastivo's own\n"
      "  TASTIVO_STOCK_ALSA_OUTPUT   GStreamer's ALSA sink, not Tastivo's own\n");
}

QString VersionText() {
  return QStringLiteral("tastivo " TASTIVO_VERSION "\n");
}

QString SetFileProblem(const QString& path) {
  const QFileInfo info(path);
  const QString name = QStringLiteral("tastivo: ") + Printable(path) + QStringLiteral(": ");
  if (!info.exists()) return name + QStringLiteral("no such file");
  if (info.isDir()) return name + QStringLiteral("is a folder, not a set file");
  // Opening a pipe or a device could wait for ever, and none holds a set.
  if (!info.isFile()) return name + QStringLiteral("is not a regular file");
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return name + QStringLiteral("cannot be read (%1)").arg(Printable(file.errorString()));
  return {};
}

}  // namespace app
