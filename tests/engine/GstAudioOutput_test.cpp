// The sound output of real players: named JACK clients, and what the user is
// told about the output in use. Runs with a JACK server on its dummy driver
// (scripts/with-test-services.sh).

#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/MediaFiles.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace platform;
using testing_support::WaitFor;

namespace {

// "client:port" of every output port the JACK server has.
QStringList JackOutputPorts() {
  QProcess lsp;
  lsp.start("jack_lsp", {"-p"});
  if (!lsp.waitForFinished(10000)) return {};
  QStringList ports;
  QString port;
  for (const QString& line : QString::fromUtf8(lsp.readAllStandardOutput()).split('\n')) {
    if (!line.startsWith('\t'))
      port = line;
    else if (line.contains("properties:") && line.contains("output"))
      ports << port;
  }
  return ports;
}

QStringList PortsOf(const QStringList& ports, const QString& client) {
  QStringList mine;
  for (const QString& p : ports)
    if (p.startsWith(client + ":")) mine << p;
  return mine;
}

bool PlayToCompletion(TPlayer& player, NoticeRecorder& window) {
  int event = 0;
  return WaitFor(
             [&] {
               if (window.Count(PN_MEDIAEVENT) > 0 && event == 0) event = player.GetMediaEvent();
               return event != 0;
             },
             std::chrono::seconds(20)) &&
         event == 1;
}

TEST(OutputOnJack, EachNamedPlayerIsAJackClientOfThatNameWithItsOutputPorts) {
  ASSERT_EQ(engine::DefaultAudioOutput().Sink, "jackaudiosink")
      << "needs a running JACK server (scripts/with-test-services.sh)";
  NoticeRecorder first, second;
  TPlayer main(&first, 0), other(&second, 0);
  main.SetOutputName("Tastivo");
  other.SetOutputName("Tastivo 1");
  for (TPlayer* p : {&main, &other}) {
    p->Open(media_files::ToneWav());
    p->Play();
  }
  QStringList ports;
  EXPECT_TRUE(WaitFor([&] {
    ports = JackOutputPorts();
    return PortsOf(ports, "Tastivo").size() == 2 && PortsOf(ports, "Tastivo 1").size() == 2;
  })) << ports.join(", ").toStdString();

  // Renamed between clips, the output comes back under its new name.
  other.Stop();
  other.SetOutputName("Tastivo 2");
  other.Open(media_files::ToneWav());
  other.Play();
  EXPECT_TRUE(WaitFor([&] {
    ports = JackOutputPorts();
    return PortsOf(ports, "Tastivo 2").size() == 2 && PortsOf(ports, "Tastivo 1").isEmpty();
  })) << ports.join(", ").toStdString();
  other.SetRelativePositions(10000, 9000, 10000, 0);
  EXPECT_TRUE(PlayToCompletion(other, second));
}

// True when `from` feeds `to` on the JACK server.
bool JackLinked(const QString& from, const QString& to) {
  QProcess lsp;
  lsp.start("jack_lsp", {"-c", from});
  if (!lsp.waitForFinished(10000)) return false;
  return QString::fromUtf8(lsp.readAllStandardOutput()).split('\n').contains("   " + to);
}

TEST(OutputOnJack, PortsOpenWithThePlayerAndARememberedLinkComesBackWithItsPort) {
  NoticeRecorder window;
  TPlayer player(&window, 0);
  player.SetOutputName("Tastivo patched");
  player.SetOutputConnections({"out_1>jack_thru:input_1", "out_2>system:playback_2"});
  player.SetOutputDevice({}, {});  // no clip is ever opened
  const QString out1 = "Tastivo patched:out_1", out2 = "Tastivo patched:out_2";
  EXPECT_TRUE(WaitFor([&] { return JackLinked(out2, "system:playback_2"); }));
  QString notice;
  EXPECT_TRUE(WaitFor([&] { return !(notice = player.TakeOutputNotice()).isEmpty(); }));
  EXPECT_TRUE(notice.contains("\"jack_thru:input_1\" is missing")) << notice.toStdString();

  for (int start = 0; start < 2; ++start) {  // the client it feeds starts, stops, starts again
    QProcess thru;
    thru.start("jack_thru", QStringList());
    ASSERT_TRUE(thru.waitForStarted());
    EXPECT_TRUE(WaitFor([&] { return JackLinked(out1, "jack_thru:input_1"); })) << start;
    thru.kill();
    thru.waitForFinished();
    EXPECT_TRUE(WaitFor([&] { return !JackLinked(out1, "jack_thru:input_1"); }));
  }
  EXPECT_TRUE(JackLinked(out2, "system:playback_2"));
  EXPECT_EQ(player.OutputConnections(),
            (QStringList{"out_1>jack_thru:input_1", "out_2>system:playback_2"}));
}

QString Pactl(const QStringList& args) {
  QProcess pactl;
  pactl.start("pactl", args);
  pactl.waitForFinished(10000);
  return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

// True when a stream plays on the PulseAudio sink of that name.
bool PlaysOnSink(const QString& sink) {
  QString index;
  for (const QString& line : Pactl({"list", "short", "sinks"}).split('\n'))
    if (line.section('\t', 1, 1) == sink) index = line.section('\t', 0, 0);
  if (index.isEmpty()) return false;
  for (const QString& line : Pactl({"list", "short", "sink-inputs"}).split('\n'))
    if (line.section('\t', 1, 1) == index) return true;
  return false;
}

TEST(OutputChosen, APulseSinkThatGoesGivesWayToTheDefaultOutputUntilItIsBack) {
  const QStringList sink{"module-null-sink", "sink_name=tastivo_chosen",
                         "format=float32le rate=48000 channels=2"};
  QString module = Pactl(QStringList{"load-module"} + sink);
  ASSERT_FALSE(module.isEmpty());
  NoticeRecorder window;
  TPlayer player(&window, 0);
  player.SetOutputName("Tastivo chosen");
  player.SetOutputDevice("pulse:tastivo_chosen", "Chosen sink");
  const auto play = [&] {
    player.Open(media_files::ToneWav());
    player.Play();
  };
  play();
  EXPECT_TRUE(WaitFor([&] { return PlaysOnSink("tastivo_chosen"); }));
  EXPECT_EQ(player.TakeOutputNotice(), "");

  Pactl({"unload-module", module});  // while it plays: the user is told at once
  QString notice;
  EXPECT_TRUE(WaitFor([&] { return !(notice = player.TakeOutputNotice()).isEmpty(); }));
  EXPECT_TRUE(notice.startsWith("\"Chosen sink\" is missing")) << notice.toStdString();
  play();  // the next clip plays on the default output
  EXPECT_TRUE(WaitFor([&] { return PortsOf(JackOutputPorts(), "Tastivo chosen").size() == 2; }));
  EXPECT_EQ(player.TakeOutputNotice(), "");  // told once

  module = Pactl(QStringList{"load-module"} + sink);
  play();
  EXPECT_TRUE(WaitFor([&] { return PlaysOnSink("tastivo_chosen"); }));
  EXPECT_TRUE(player.TakeOutputNotice().contains("is back"));

  // Gone before any clip: told all the same, and the default output opened
  // at once.
  NoticeRecorder idleWindow;
  TPlayer idle(&idleWindow, 0);
  idle.SetOutputName("Tastivo idle");
  idle.SetOutputDevice("pulse:tastivo_chosen", "PulseAudio/PipeWire: Chosen sink");
  EXPECT_TRUE(WaitFor([&] { return PlaysOnSink("tastivo_chosen"); }));
  Pactl({"unload-module", module});
  EXPECT_TRUE(WaitFor([&] { return !(notice = idle.TakeOutputNotice()).isEmpty(); }));
  EXPECT_TRUE(notice.startsWith("\"Chosen sink\" is missing")) << notice.toStdString();
  EXPECT_TRUE(WaitFor([&] {
    idle.TakeOutputNotice();  // as the window's timer asks
    return PortsOf(JackOutputPorts(), "Tastivo idle").size() == 2;
  }));
}

// $TASTIVO_AUDIO_SINK names the sink this run plays through.
TEST(OutputAskedFor, PlaysThroughItWithoutAWarning) {
  const auto& choice = engine::DefaultAudioOutput();
  EXPECT_EQ(choice.Sink, qEnvironmentVariable("TASTIVO_AUDIO_SINK").toStdString());
  EXPECT_TRUE(choice.UsesRequested);
  EXPECT_EQ(TakeAudioOutputWarning(), QString());
  NoticeRecorder window;
  TPlayer player(&window, 0);
  player.Open(media_files::ToneWav());
  player.SetRelativePositions(10000, 9000, 10000, 0);
  player.Play();
  EXPECT_TRUE(PlayToCompletion(player, window));
}

}  // namespace
