#pragma once
// A long evening on stage, compressed: four keyboard windows in two groups,
// each with a set of its own loaded from a set file, played with random key
// presses and releases on real GStreamer, while Loop and Sustain are ticked
// and unticked and the event loop runs between the keys as it would between
// a performer's fingers. The process is watched for growth: resident memory,
// threads and open files.
//
// Shared by the soak test (a short run) and the soak benchmark (the long
// one). Needs a QApplication and a silent sink ($TASTIVO_AUDIO_SINK=fakesink).

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace soak {

// What the process holds, read from /proc/self.
struct Usage {
  long RssKb = 0;
  int Threads = 0;
  int Fds = 0;
  // Sources of removed clips that GStreamer workers are still stopping.
  int PendingTeardowns = 0;
};
Usage Measure();

// Short clips of every kind a set may hold: sound as WAV, Ogg Vorbis, MP3 and
// FLAC, and small videos (one with sound, one without). Made once with
// gst-launch-1.0 into the test data folder; throws when one can't be made.
struct Clips {
  QStringList Audio;
  QStringList Video;
};
Clips MakeClips();

struct Options {
  int Presses = 2000;
  // Presses before the baseline is taken: caches, pools and the first video
  // window fill up during these.
  int WarmupPresses = 500;
  std::uint32_t Seed = 1;
  // Called every SampleEvery presses (0: never) with the usage at that
  // moment, unsettled.
  int SampleEvery = 0;
  std::function<void(int presses, const Usage&)> OnSample;
  // How long the settling after the run may wait for the threads and open
  // files to come back to their baseline.
  int SettleMs = 20000;
};

struct Report {
  // Settled (keys released, every window stopped on the same clip, no
  // teardown pending), at the end of the warm-up and at the end of the run.
  Usage Warm;
  Usage End;
  int Presses = 0;
  int Releases = 0;
  int Toggles = 0;  // clicks on Loop or Sustain
  int Boxes = 0;    // information boxes (missing clips, bad rows, no sound)
  // Presses after which the pressing window played, and after which it
  // showed a picture: the soak really played sound and video.
  int Played = 0;
  int Pictures = 0;
  double Seconds = 0;
};

// Makes the windows (Form11 and three more), plays, measures and deletes
// the windows again. Form11 must not exist yet.
Report Run(const Options& options, const Clips& clips);

// Percent growth of resident memory from the warm-up to the end.
double RssGrowthPercent(const Report& report);

}  // namespace soak
