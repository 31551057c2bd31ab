// How long the Help button takes to show the manual: loading the engine,
// and opening a viewer at its default topic.

#include "help/HelpViewer.h"
#include "help/Hh.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  constexpr int kRuns = 21;

  std::vector<double> load;
  std::vector<double> open;
  std::vector<double> reopen;
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer timer;
    timer.start();
    LoadHtmlHelp();
    load.push_back(timer.nsecsElapsed() / 1e6);
    if (!HtmlHelpLoaded()) {
      std::fprintf(stderr, "no help collection in %s\n", qPrintable(HelpEngineFolder()));
      return 1;
    }

    timer.restart();
    HelpViewer* viewer = HtmlHelp(nullptr, QString(), HH_DISPLAY_TOPIC, 0);
    QCoreApplication::processEvents();
    open.push_back(timer.nsecsElapsed() / 1e6);
    if (!viewer) return 1;

    viewer->ShowKeyword("Sustain");
    timer.restart();
    HtmlHelp(nullptr, QString(), HH_DISPLAY_TOPIC, 0);
    QCoreApplication::processEvents();
    reopen.push_back(timer.nsecsElapsed() / 1e6);

    UnloadHtmlHelp();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  std::printf("help_engine_load_p50: %.2f ms\n", Median(load));
  std::printf("help_viewer_open_p50: %.2f ms\n", Median(open));
  std::printf("help_viewer_reuse_p50: %.2f ms\n", Median(reopen));
  return 0;
}
