// A clip's peaks read with real GStreamer from generated clips: where the
// sound is, and when the cache is used.

#include "support/MediaFiles.h"

#include "waveform/PeakCache.h"
#include "waveform/PeakReader.h"
#include "waveform/Peaks.h"
#include "waveform/WaveformGeometry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace waveform {
namespace {

float Loudness(const Column& c) {
  return c.Empty() ? 0.f : std::max(std::abs(c.low), std::abs(c.high));
}

TEST(Peaks, ASineBurstFillsThePixelColumnsOfItsTimeWholeAndZoomed) {
  QTemporaryDir cacheDir;
  const std::atomic<bool> cancel{false};
  const PeakResult result = ReadPeaks(media_files::SineBurst(), PeakCache(cacheDir.path()), cancel);
  ASSERT_TRUE(result.peaks);
  EXPECT_EQ(result.peaks->frames, 4 * 48000);

  // 400 columns over 4 s: 10 ms each, the burst from 1.0 s to 1.5 s in
  // columns 100 to 149.
  const std::vector<Column> whole = Columns(*result.peaks, 400, 0, kScale);
  for (int x = 0; x < 400; ++x) {
    if (x >= 101 && x <= 148) {
      EXPECT_GT(Loudness(whole[x]), 0.7f) << "column " << x;
    } else if (x < 99 || x > 150) {
      EXPECT_LT(Loudness(whole[x]), 0.01f) << "column " << x;
    }
  }
  // Zoomed to 0.96 s .. 1.04 s in 100 columns: the burst starts at column 50.
  const std::vector<Column> zoomed = Columns(*result.peaks, 100, 2400, 2600);
  for (int x = 0; x < 100; ++x) {
    if (x < 49) {
      EXPECT_LT(Loudness(zoomed[x]), 0.01f) << "column " << x;
    } else if (x > 51) {
      EXPECT_GT(Loudness(zoomed[x]), 0.5f) << "column " << x;
    }
  }
}

TEST(Peaks, ALongClipKeepsItsBucketsBoundedAndItsSoundInPlace) {
  // 100000 frames in at most 1024 buckets, loud from frame 25000 to 37500.
  std::vector<float> frames(100000, 0.f);
  for (int i = 25000; i < 37500; ++i) frames[i] = i % 2 ? 0.9f : -0.9f;
  PeakFolder folder(48000, 1, 1024);
  for (std::size_t at = 0; at < frames.size(); at += 999)
    folder.Add(frames.data() + at, std::min<std::int64_t>(999, frames.size() - at));
  const Peaks peaks = folder.Finish();
  EXPECT_LE(peaks.BucketCount(), 1024);
  EXPECT_EQ(peaks.frames, 100000);
  const std::vector<Column> columns = Columns(peaks, 400, 0, kScale);
  for (int x = 0; x < 400; ++x) {
    if (x >= 101 && x <= 148) {
      EXPECT_GT(Loudness(columns[x]), 0.8f) << "column " << x;
    } else if (x < 99 || x > 151) {
      EXPECT_EQ(Loudness(columns[x]), 0.f) << "column " << x;
    }
  }
}

TEST(PeakCache, IsUsedTheSecondTimeDroppedWhenTheFileChangesAndRewrittenWhenDamaged) {
  QTemporaryDir dir;
  const QString clip = dir.filePath("clip.wav");
  ASSERT_TRUE(QFile::copy(media_files::SineBurst(), clip));
  const PeakCache cache(dir.filePath("peaks"));
  const std::atomic<bool> cancel{false};

  const PeakResult first = ReadPeaks(clip, cache, cancel);
  ASSERT_TRUE(first.peaks);
  EXPECT_FALSE(first.fromCache);
  const PeakResult second = ReadPeaks(clip, cache, cancel);
  ASSERT_TRUE(second.peaks);
  EXPECT_TRUE(second.fromCache);
  EXPECT_EQ(second.peaks->values, first.peaks->values);

  // The same file (same inode) with other sound in it.
  {
    QFile tone(media_files::ToneWav());
    ASSERT_TRUE(tone.open(QIODevice::ReadOnly));
    QFile out(clip);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(tone.readAll());
  }
  const PeakResult changed = ReadPeaks(clip, cache, cancel);
  ASSERT_TRUE(changed.peaks);
  EXPECT_FALSE(changed.fromCache);
  EXPECT_NE(changed.peaks->frames, first.peaks->frames);

  const QString cacheFile = cache.FileFor(*IdentityOf(clip));
  {
    QFile damaged(cacheFile);
    ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
    damaged.resize(damaged.size() / 2);
  }
  const PeakResult afterDamage = ReadPeaks(clip, cache, cancel);
  ASSERT_TRUE(afterDamage.peaks);
  EXPECT_FALSE(afterDamage.fromCache);
  EXPECT_EQ(afterDamage.peaks->values, changed.peaks->values);
  EXPECT_TRUE(ReadPeaks(clip, cache, cancel).fromCache);
}

TEST(WaveformGeometry, ZoomKeepsItsAnchorUnderThePointerWithinTheClip) {
  const ViewWindow whole;
  const ViewWindow zoomed = ZoomAround(whole, 1000, 10);
  EXPECT_DOUBLE_EQ(WaveformGeometry(zoomed, 500).PixelOf(1000),
                   WaveformGeometry(whole, 500).PixelOf(1000));
  EXPECT_DOUBLE_EQ(zoomed.Span(), 1000);
  // Zooming out near the end stops at the clip's end.
  const ViewWindow out = ZoomAround({9000, 10000}, 9500, 0.5);
  EXPECT_DOUBLE_EQ(out.from, 8000);
  EXPECT_DOUBLE_EQ(out.to, 10000);
  EXPECT_DOUBLE_EQ(ZoomAround(whole, 5000, 1e6).Span(), kNarrowestSpan);

  // Half a unit a pixel: halves go to the even mark; off the view, the clip's ends.
  const WaveformGeometry fine(whole, 20000);
  EXPECT_EQ(fine.MarkAt(1), 0);
  EXPECT_EQ(fine.MarkAt(3), 2);
  EXPECT_EQ(fine.MarkAt(-10), 0);
  EXPECT_EQ(fine.MarkAt(30000), kScale);
  // Two marks at one place come apart by the side they are taken from.
  const WaveformGeometry g(whole, 500);
  EXPECT_EQ(g.HandleAt(152, 3000, 3000), MarkHandle::kStop);
  EXPECT_EQ(g.HandleAt(148, 3000, 3000), MarkHandle::kStart);
  EXPECT_EQ(g.HandleAt(250, 3000, 3000), MarkHandle::kNone);
}

}  // namespace
}  // namespace waveform
