// A long clip's waveform: how long its peaks take the first time and from the
// cache, and how long the window thread is held up meanwhile.
// Prints "name: value unit" lines; medians where runs repeat.

#include "waveform/PeakCache.h"
#include "waveform/PeakReader.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

// Ten minutes of 44.1 kHz stereo MP3, made once and kept in the temporary
// folder between runs.
QString TenMinuteMp3() {
  const QString path = QDir::temp().filePath("tastivo-bench-ten-minutes.mp3");
  if (QFile::exists(path)) return path;
  const QString partial = path + ".partial";
  QProcess make;
  make.start("gst-launch-1.0",
             {"-q", "audiotestsrc", "wave=pink-noise", "samplesperbuffer=44100", "num-buffers=600",
              "!", "audio/x-raw,rate=44100,channels=2", "!", "audioconvert", "!", "lamemp3enc",
              "target=bitrate", "bitrate=192", "!", "filesink", "location=" + partial});
  if (!make.waitForFinished(600000) || make.exitCode() != 0) return {};
  QFile::rename(partial, path);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString clip = TenMinuteMp3();
  if (clip.isEmpty()) {
    std::fprintf(stderr, "could not make the ten-minute MP3\n");
    return 1;
  }
  const std::atomic<bool> cancel{false};

  QTemporaryDir cacheDir;
  const waveform::PeakCache cache(cacheDir.path());
  QElapsedTimer timer;
  timer.start();
  const waveform::PeakResult first = waveform::ReadPeaks(clip, cache, cancel);
  const double firstMs = timer.nsecsElapsed() / 1e6;
  if (!first.peaks) {
    std::fprintf(stderr, "no peaks from %s\n", qPrintable(clip));
    return 1;
  }
  std::vector<double> cached;
  for (int run = 0; run < 7; ++run) {
    timer.restart();
    const waveform::PeakResult again = waveform::ReadPeaks(clip, cache, cancel);
    cached.push_back(timer.nsecsElapsed() / 1e6);
    if (!again.fromCache) std::fprintf(stderr, "the cache was not used\n");
  }
  std::printf("waveform_peaks_10min_mp3_first: %.0f ms\n", firstMs);
  std::printf("waveform_peaks_10min_mp3_cached_p50: %.1f ms\n", Median(cached));
  std::printf("waveform_peaks_10min_mp3_size: %.2f MB\n",
              first.peaks->values.size() * sizeof(std::int16_t) / 1e6);

  // The same first reading through the reader, while the window thread
  // notes its longest gap between two turns of its event loop.
  QTemporaryDir coldDir;
  waveform::PeakReader reader(nullptr, waveform::PeakCache(coldDir.path()));
  bool done = false;
  QObject::connect(&reader, &waveform::PeakReader::Ready, [&] { done = true; });
  QObject::connect(&reader, &waveform::PeakReader::Failed, [&] { done = true; });
  QElapsedTimer gap;
  double longest = 0;
  QTimer tick;
  tick.setInterval(0);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longest = std::max(longest, gap.nsecsElapsed() / 1e6);
    gap.restart();
  });
  // The baseline: the same loop with nothing read, for as long as the
  // first reading took, shows what the machine's own scheduling costs.
  QElapsedTimer deadline;
  gap.start();
  tick.start();
  deadline.start();
  while (deadline.elapsed() < firstMs) app.processEvents(QEventLoop::AllEvents, 5);
  const double idle = longest;
  longest = 0;
  gap.restart();
  reader.Read(clip);
  deadline.restart();
  while (!done && deadline.elapsed() < 120000) app.processEvents(QEventLoop::AllEvents, 5);
  tick.stop();
  std::printf("waveform_window_thread_longest_block: %.1f ms (idle loop: %.1f ms, ratio %.2f)\n",
              longest, idle, idle > 0 ? longest / idle : 0.0);
  return done ? 0 : 1;
}
