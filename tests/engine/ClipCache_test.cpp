// The clip cache's states as the player empties and refills the graph, and
// the file identity that decides whether a kept decoder may play again.

#include "engine/graph/ClipCache.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

using engine::ClipCache;
using engine::FileIdentity;

namespace {

using Cache = ClipCache<int>;
using State = Cache::State;

FileIdentity Id(std::uint64_t inode) {
  FileIdentity id;
  id.Device = 1;
  id.Inode = inode;
  id.Size = 1000;
  id.ModifiedNs = 5;
  id.ChangedNs = 6;
  return id;
}

// The player's CleanUpGraph: renderers first, then the source.
void EmptyGraph(Cache& cache, int source) {
  cache.OutputRemoved(true);
  cache.SourceRemoved(source);
}

TEST(ClipCache, KeepsAClipThatPlayedThroughTheDefaultOutputAloneAndReusesItOnce) {
  Cache cache;
  cache.Loaded(7, "/a.wav", Id(1), 20000000, true);
  EXPECT_EQ(cache.Current(), State::Live);
  EXPECT_TRUE(cache.OutputRemoved(true));
  EXPECT_EQ(cache.Current(), State::Releasing);
  EXPECT_TRUE(cache.SourceRemoved(7));
  EXPECT_EQ(cache.Current(), State::Kept);
  EXPECT_EQ(cache.Reuse("/a.wav", Id(1)), 7);
  EXPECT_EQ(cache.Current(), State::Live);
  EXPECT_EQ(cache.Duration(), 20000000);
  EXPECT_EQ(cache.Reuse("/a.wav", Id(1)), std::nullopt);  // live, not kept
}

TEST(ClipCache, KeepsNothingThatCannotBeReplayedAsItWas) {
  Cache cache;
  cache.Loaded(7, "/v.avi", Id(1), 1, false);  // a picture or another output
  EXPECT_EQ(cache.Current(), State::Empty);
  EXPECT_FALSE(cache.OutputRemoved(true));
  EXPECT_FALSE(cache.SourceRemoved(7));

  cache.Loaded(8, "/gone.wav", std::nullopt, 1, true);  // no identity to compare
  EXPECT_EQ(cache.Current(), State::Empty);

  cache.Loaded(9, "/a.wav", Id(1), 1, true);
  EXPECT_FALSE(cache.OutputRemoved(false));  // a renderer was added since
  EXPECT_EQ(cache.Current(), State::Empty);
}

TEST(ClipCache, AnythingBetweenOutputAndSourceRemovalFinishesTheRemoval) {
  Cache cache;
  cache.Loaded(7, "/a.wav", Id(1), 1, true);
  ASSERT_TRUE(cache.OutputRemoved(true));
  EXPECT_TRUE(cache.Settle());
  EXPECT_EQ(cache.Current(), State::Empty);
  EXPECT_FALSE(cache.Settle());
  EXPECT_FALSE(cache.SourceRemoved(7));

  // The source removed first: nothing is kept.
  cache.Loaded(7, "/a.wav", Id(1), 1, true);
  EXPECT_FALSE(cache.SourceRemoved(7));
  EXPECT_EQ(cache.Current(), State::Empty);

  // Another source removed while the output's removal is held.
  cache.Loaded(7, "/a.wav", Id(1), 1, true);
  ASSERT_TRUE(cache.OutputRemoved(true));
  EXPECT_FALSE(cache.SourceRemoved(8));
  EXPECT_EQ(cache.Current(), State::Releasing);
}

TEST(ClipCache, AnotherFileOrTheSameFileChangedDropsTheKeptDecoder) {
  Cache cache;
  const auto keep = [&] {
    cache.Loaded(7, "/a.wav", Id(1), 1, true);
    EmptyGraph(cache, 7);
    ASSERT_EQ(cache.Current(), State::Kept);
  };
  keep();
  EXPECT_EQ(cache.Reuse("/b.wav", Id(1)), std::nullopt);
  EXPECT_EQ(cache.Current(), State::Kept);
  EXPECT_EQ(cache.Drop(), 7);
  EXPECT_EQ(cache.Current(), State::Empty);
  EXPECT_EQ(cache.Drop(), std::nullopt);

  FileIdentity replaced = Id(2);  // same size and times, another inode
  keep();
  EXPECT_EQ(cache.Reuse("/a.wav", replaced), std::nullopt);
  FileIdentity rewritten = Id(1);  // same inode, written in place, time put back
  rewritten.ChangedNs = 99;
  EXPECT_EQ(cache.Reuse("/a.wav", rewritten), std::nullopt);
  EXPECT_EQ(cache.Reuse("/a.wav", std::nullopt), std::nullopt);  // deleted
  EXPECT_EQ(cache.Reuse("/a.wav", Id(1)), 7);
}

TEST(FileIdentity, SeesAFileReplacedOrRewrittenWithItsTimeAndSizeKept) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("clip.wav").toStdString();
  const auto write = [](const std::string& to, const char* text) {
    QFile file(QString::fromStdString(to));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  };
  write(path, "first");
  const auto first = FileIdentity::Of(path);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Size, 5);
  EXPECT_EQ(FileIdentity::Of(path), first);

  // Same size, the old modification time put back, as cp -p does.
  const auto putBackTime = [&](const std::string& to) {
    struct timespec times[2] = {{0, UTIME_OMIT},
                                {first->ModifiedNs / 1000000000, first->ModifiedNs % 1000000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, to.c_str(), times, 0), 0);
  };
  write(path, "other");
  putBackTime(path);
  const auto rewritten = FileIdentity::Of(path);
  ASSERT_TRUE(rewritten);
  EXPECT_EQ(rewritten->ModifiedNs, first->ModifiedNs);
  EXPECT_NE(rewritten, first);

  const std::string elsewhere = dir.filePath("new.wav").toStdString();
  write(elsewhere, "third");
  putBackTime(elsewhere);
  ASSERT_EQ(std::rename(elsewhere.c_str(), path.c_str()), 0);
  EXPECT_NE(FileIdentity::Of(path)->Inode, first->Inode);

  EXPECT_EQ(FileIdentity::Of(dir.path().toStdString()), std::nullopt);  // a folder
  EXPECT_EQ(FileIdentity::Of(dir.filePath("none").toStdString()), std::nullopt);
}

}  // namespace
