// The soak: four keyboard windows in two groups, 100,000 random key presses
// and releases on real GStreamer with the silent sink, and what the process
// holds afterwards against what it held after the warm-up. Prints
// "name: value unit" lines; the samples along the way go to standard error.
//
// Usage: bench_soak [presses] [seed]   (or $TASTIVO_SOAK_PRESSES,
// $TASTIVO_SOAK_SEED). The seed is printed, so a run can be repeated.

#include "KeySoak.h"

#include "platform/Application.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

long Argument(int argc, char** argv, int index, const char* variable, long fallback) {
  if (argc > index) return std::strtol(argv[index], nullptr, 10);
  if (const char* value = std::getenv(variable); value != nullptr && *value != '\0')
    return std::strtol(value, nullptr, 10);
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  // The sound goes nowhere and the clips keep real time.
  if (qEnvironmentVariableIsEmpty("TASTIVO_AUDIO_SINK")) qputenv("TASTIVO_AUDIO_SINK", "fakesink");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  platform::Application app(argc, argv);

  soak::Options options;
  options.Presses = static_cast<int>(Argument(argc, argv, 1, "TASTIVO_SOAK_PRESSES", 100000));
  options.Seed = static_cast<std::uint32_t>(Argument(argc, argv, 2, "TASTIVO_SOAK_SEED", 20261209));
  options.WarmupPresses = std::max(200, options.Presses / 20);
  options.SampleEvery = std::max(100, options.Presses / 20);
  options.OnSample = [](int presses, const soak::Usage& usage) {
    std::fprintf(stderr, "at %d presses: %ld kB, %d threads, %d fds, %d teardowns pending\n",
                 presses, usage.RssKb, usage.Threads, usage.Fds, usage.PendingTeardowns);
  };
  std::printf("soak_seed: %u\n", options.Seed);
  std::fflush(stdout);

  soak::Report report;
  try {
    report = soak::Run(options, soak::MakeClips());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "soak failed: %s\n", error.what());
    return 1;
  }
  std::fprintf(stderr, "warm-up (%d presses): %ld kB, %d threads, %d fds\n", options.WarmupPresses,
               report.Warm.RssKb, report.Warm.Threads, report.Warm.Fds);
  std::fprintf(stderr, "end: %ld kB, %d threads, %d fds, %d teardowns pending\n", report.End.RssKb,
               report.End.Threads, report.End.Fds, report.End.PendingTeardowns);
  std::printf("soak_presses: %d presses\n", report.Presses);
  std::printf("soak_releases: %d releases\n", report.Releases);
  std::printf("soak_played: %d presses\n", report.Played);
  std::printf("soak_pictures: %d presses\n", report.Pictures);
  std::printf("soak_boxes: %d boxes\n", report.Boxes);
  std::printf("soak_duration: %.1f s\n", report.Seconds);
  std::printf("soak_rss_warm: %.1f MB\n", report.Warm.RssKb / 1024.0);
  std::printf("soak_rss_end: %.1f MB\n", report.End.RssKb / 1024.0);
  std::printf("soak_rss_growth: %.2f %%\n", soak::RssGrowthPercent(report));
  std::printf("soak_threads_growth: %d threads\n", report.End.Threads - report.Warm.Threads);
  std::printf("soak_fds_growth: %d fds\n", report.End.Fds - report.Warm.Fds);
  return 0;
}
