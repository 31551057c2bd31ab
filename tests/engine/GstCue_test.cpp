// Clips opened ahead by the cue pool, on real GStreamer: a key whose clip
// was cued must open, tell and play exactly like one opened cold, and the
// pool must never hand over a clip that is not what the key names now.

#include "engine/cue/ArmedStart.h"
#include "engine/cue/CueChoice.h"
#include "engine/cue/CuePool.h"
#include "engine/cue/HeadBudget.h"
#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/MediaFiles.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

using namespace platform;
using engine::CuePool;
using testing_support::WaitFor;

namespace {

constexpr std::int64_t kSecond = 10000000;

// How many times the process has these files open: a released clip must
// give its file back.
int OpenFilesOf(const QStringList& files) {
  int n = 0;
  std::error_code error;
  for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    for (const QString& f : files)
      n += !error && target == std::filesystem::path(f.toStdString()) ? 1 : 0;
  }
  return n;
}

bool AllStatus(const QStringList& files, CuePool::Status status) {
  for (const QString& f : files)
    if (CuePool::Instance().StatusOf(f.toStdString()) != status) return false;
  return true;
}

struct Press {
  std::vector<int> notices;
  std::string error;
  std::int64_t duration = 0;
  bool played = false;
};

// What the keyboard window does for a key, and what it sees.
Press PressKey(TPlayer& player, NoticeRecorder& window, engine::GstMediaGraph& graph,
               const QString& clip) {
  Press press;
  window.Clear();
  try {
    player.Open(clip);
    player.SetRelativePositions(10000, 0, 10000, 0);
    player.Play();
    press.duration = player.Duration;
    const std::int64_t before = graph.AudioTaken();
    press.played = WaitFor([&] { return graph.AudioTaken() - before > kSecond / 5; });
    player.Stop();
  } catch (const EPlayerError& e) {
    // What the user reads; the details name GStreamer's elements of the day.
    const std::string message = e.what();
    press.error = message.substr(0, message.find("\nDetails: "));
  }
  press.notices = window.codes;
  return press;
}

class CuedKeys : public ::testing::Test {
 protected:
  // The pool itself (its worker and its pipeline's bus) is made before
  // anything is counted.
  void SetUp() override { CuePool::Instance().Clear(); }
  void TearDown() override { CuePool::Instance().Clear(); }
};

TEST_F(CuedKeys, OpenTellAndPlayLikeClipsOpenedCold) {
  const QStringList clips{media_files::ToneWav(), media_files::ToneOgg(), media_files::ToneMp3(),
                          media_files::RedAvi()};
  {
    QWidget owner;
    // Cold: a player that names nothing to cue.
    std::vector<Press> cold;
    {
      NoticeRecorder window;
      auto graph = std::make_shared<engine::GstMediaGraph>();
      TPlayer player(&window, 0, graph);
      player.HandleVideo(&owner);
      for (const QString& clip : clips) cold.push_back(PressKey(player, window, *graph, clip));
    }
    NoticeRecorder window;
    auto graph = std::make_shared<engine::GstMediaGraph>();
    TPlayer player(&window, 0, graph);
    player.HandleVideo(&owner);
    player.CueClips(clips);
    ASSERT_TRUE(WaitFor([&] { return AllStatus(clips, CuePool::Status::Ready); }))
        << "the clips were not cued";
    for (int i = 0; i < clips.size(); ++i) {
      SCOPED_TRACE(clips[i].toStdString());
      const Press cued = PressKey(player, window, *graph, clips[i]);
      // Taken from the pool, not opened anew.
      EXPECT_NE(CuePool::Instance().StatusOf(clips[i].toStdString()), CuePool::Status::Ready);
      EXPECT_EQ(cued.error, cold[i].error);
      EXPECT_EQ(cued.notices, cold[i].notices);
      EXPECT_EQ(cued.duration, cold[i].duration);
      EXPECT_TRUE(cued.played);
    }
    // Taken clips are cued again for their next press.
    EXPECT_TRUE(WaitFor([&] { return AllStatus(clips, CuePool::Status::Ready); }));
    // A window that names nothing any more holds nothing.
    player.CueClips(QStringList{});
    EXPECT_TRUE(WaitFor([&] { return CuePool::Instance().Ready() == 0; }));
  }
  EXPECT_TRUE(WaitFor([&] { return OpenFilesOf(clips) == 0; }))
      << OpenFilesOf(clips) << " clips still open";
}

// A cued clip rewritten on disk is a different clip: the key plays what the
// file holds now.
TEST_F(CuedKeys, AClipRewrittenAfterItWasCuedOpensAsItIsNow) {
  QTemporaryDir dir;
  const QString clip = dir.filePath("key.wav");
  ASSERT_TRUE(QFile::copy(media_files::ToneWav(), clip));  // 2 s
  NoticeRecorder window;
  auto graph = std::make_shared<engine::GstMediaGraph>();
  TPlayer player(&window, 0, graph);
  player.CueClips({clip});
  ASSERT_TRUE(WaitFor([&] { return AllStatus({clip}, CuePool::Status::Ready); }));
  // 4 s at half the rate, the same size: only the file's identity tells.
  ASSERT_TRUE(QFile::remove(clip));
  ASSERT_TRUE(QFile::copy(media_files::ToneWavHalfRate(), clip));
  const Press press = PressKey(player, window, *graph, clip);
  EXPECT_EQ(press.error, "");
  EXPECT_NEAR(static_cast<double>(press.duration), 4.0 * kSecond, kSecond / 10);
}

// A damaged or missing clip is not held; its key says what it said before.
TEST_F(CuedKeys, ClipsThatCantBeCuedOpenColdWithTheirOwnMessage) {
  QTemporaryDir dir;
  const QString missing = dir.filePath("gone.wav");
  const QStringList clips{media_files::Corrupt(), missing};
  std::vector<Press> cold;
  {
    NoticeRecorder window;
    auto graph = std::make_shared<engine::GstMediaGraph>();
    TPlayer player(&window, 0, graph);
    for (const QString& clip : clips) cold.push_back(PressKey(player, window, *graph, clip));
  }
  NoticeRecorder window;
  auto graph = std::make_shared<engine::GstMediaGraph>();
  TPlayer player(&window, 0, graph);
  player.CueClips(clips);
  ASSERT_TRUE(WaitFor([&] { return AllStatus(clips, CuePool::Status::Failed); }));
  for (int i = 0; i < clips.size(); ++i) {
    SCOPED_TRACE(clips[i].toStdString());
    const Press press = PressKey(player, window, *graph, clips[i]);
    EXPECT_NE(press.error, "");
    // The same text and file. The reason may or may not name the format:
    // which of GStreamer's elements reports the damage first is up to its
    // threads, cued or not.
    const auto head = [&clip = clips[i]](const std::string& error) {
      const std::string file = clip.toStdString();
      const auto at = error.find(file);
      return at == std::string::npos ? error : error.substr(0, at + file.size());
    };
    EXPECT_EQ(head(press.error), head(cold[i].error));
    EXPECT_EQ(press.notices, cold[i].notices);
  }
}

// The pool never holds more than its limits, and the clip played most
// recently stays while the others go.
TEST_F(CuedKeys, ThePoolKeepsToItsLimitsAndKeepsWhatWasPlayedLast) {
  const engine::CueLimits before = CuePool::Instance().Limits();
  engine::CueLimits limits;
  limits.Clips = 2;
  CuePool::Instance().SetLimits(limits);
  QTemporaryDir dir;
  QStringList clips;
  for (int i = 0; i < 4; ++i) {
    clips << dir.filePath(QString("key%1.wav").arg(i));
    ASSERT_TRUE(QFile::copy(media_files::ToneWav(), clips.back()));
  }
  NoticeRecorder window;
  auto graph = std::make_shared<engine::GstMediaGraph>();
  TPlayer player(&window, 0, graph);
  player.CueClips(clips);
  ASSERT_TRUE(WaitFor([&] { return AllStatus(clips.mid(0, 2), CuePool::Status::Ready); }));
  EXPECT_EQ(CuePool::Instance().Ready(), 2);
  // The last key is played (cold): it is cued next, before the first ones.
  EXPECT_TRUE(PressKey(player, window, *graph, clips[3]).played);
  EXPECT_TRUE(WaitFor([&] { return AllStatus({clips[3]}, CuePool::Status::Ready); }));
  EXPECT_EQ(CuePool::Instance().Ready(), 2);
  EXPECT_EQ(CuePool::Instance().StatusOf(clips[1].toStdString()), CuePool::Status::None);
  CuePool::Instance().SetLimits(before);
}

// Two keys played in turn: each press gives up the clip of the other, which
// must be ready again for its next press, not opened cold.
TEST_F(CuedKeys, TwoKeysPlayedInTurnAreEachReadyForTheirNextPress) {
  const engine::CueLimits before = CuePool::Instance().Limits();
  engine::CueLimits limits = before;
  // Nothing comes back by waiting.
  limits.CueAgainAfterTake = std::chrono::hours(1);
  CuePool::Instance().SetLimits(limits);
  const QStringList clips{media_files::ToneWav(), media_files::ToneOgg()};
  NoticeRecorder window;
  auto graph = std::make_shared<engine::GstMediaGraph>();
  TPlayer player(&window, 0, graph);
  player.CueClips(clips);
  ASSERT_TRUE(WaitFor([&] { return AllStatus(clips, CuePool::Status::Ready); }));
  for (int press = 0; press < 4; ++press) {
    const QString& clip = clips[press % 2];
    SCOPED_TRACE(press);
    ASSERT_TRUE(WaitFor([&] { return AllStatus({clip}, CuePool::Status::Ready); }))
        << "not cued again after the other key's press";
    EXPECT_TRUE(PressKey(player, window, *graph, clip).played);
    EXPECT_NE(CuePool::Instance().StatusOf(clip.toStdString()), CuePool::Status::Ready);
  }
  CuePool::Instance().SetLimits(before);
}

// The pool cues at a low priority; the clip a key takes must not play at it,
// or its start waits behind every other program on a busy machine.
TEST_F(CuedKeys, ATakenClipStreamsAtTheProgramsOwnPriority) {
  const std::string clip = media_files::ToneWav().toStdString();
  int own = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  // Where the system lets no thread go back up, the taken one can't either.
  int allowed = own;
  std::thread([&] {
    const auto self = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, self, own + 10);
    if (setpriority(PRIO_PROCESS, self, own) != 0) allowed = own + 10;
  }).join();
  int owner = 0;
  CuePool::Instance().Want(&owner, {engine::ClipToCue{clip}});
  ASSERT_TRUE(
      WaitFor([&] { return AllStatus({QString::fromStdString(clip)}, CuePool::Status::Ready); }));
  auto taken = CuePool::Instance().Take(clip, engine::FileIdentity::Of(clip));
  CuePool::Instance().Forget(&owner);
  ASSERT_TRUE(taken && !taken->Pads.empty());
  GstElement* pipeline = gst_pipeline_new(nullptr);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  // Paused at its segment: the pipeline's way up would take it down to ready.
  gst_element_set_locked_state(taken->Decoder, TRUE);
  gst_bin_add_many(GST_BIN(pipeline), taken->Decoder, sink, nullptr);
  GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
  ASSERT_EQ(gst_pad_link(taken->Pads.front().Pad, sinkPad), GST_PAD_LINK_OK);
  std::atomic<int> streaming{-100};
  gst_pad_add_probe(
      sinkPad, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer data) {
        static_cast<std::atomic<int>*>(data)->store(
            getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))));
        return GST_PAD_PROBE_REMOVE;
      },
      &streaming, nullptr);
  gst_object_unref(sinkPad);
  // The streaming thread may come from those GStreamer keeps idle, made by
  // whoever came first: it is lowered as the pool's own are.
  gst_pad_add_probe(
      taken->Pads.front().Pad, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer data) {
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)),
                    *static_cast<int*>(data) + 10);
        return GST_PAD_PROBE_REMOVE;
      },
      &own, nullptr);
  gst_element_set_state(pipeline, GST_STATE_PAUSED);
  gst_element_set_locked_state(taken->Decoder, FALSE);
  CuePool::Release(*taken);
  EXPECT_TRUE(WaitFor([&] { return streaming.load() != -100; }));
  EXPECT_EQ(streaming.load(), allowed);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  gst_object_unref(taken->Decoder);
}

TEST(CueChoice, MostRecentlyPlayedFirstThenTheWindowsOrderWithinTheLimits) {
  using engine::CueCandidate;
  engine::CueLimits limits;
  limits.Clips = 4;
  limits.VideoClips = 1;
  limits.Bytes = 10;
  std::vector<CueCandidate> candidates{
      {"a", 0, 0, false, 1}, {"b", 5, 1, false, 1},   {"c", 9, 2, false, 1}, {"v1", 0, 3, true, 2},
      {"v2", 7, 4, true, 2}, {"big", 0, 5, false, 9}, {"d", 0, 6, false, 1}, {"e", 0, 7, false, 1}};
  // c and b were played last; the video played more recently wins the one
  // place for a picture; "big" does not fit the memory left; d fills up.
  EXPECT_EQ(engine::ChooseCues(candidates, limits),
            (std::vector<std::string>{"c", "v2", "b", "a"}));
  limits.Clips = 6;
  EXPECT_EQ(engine::ChooseCues(candidates, limits),
            (std::vector<std::string>{"c", "v2", "b", "a", "d", "e"}));
}

// Within the budget every key of every window holds its head. Over it the
// keys played last keep theirs, then the lowest keys across the windows; a
// window that loses heads, or may hold more, is told to name its keys again.
TEST(HeadBudget, KeysPlayedLeastLatelyGoWithoutAndTheirWindowIsTold) {
  auto& budget = engine::HeadBudget::Instance();
  const engine::HeadLimits before = budget.Limits();
  engine::HeadLimits limits = before;
  limits.Bytes = 5;
  budget.SetLimits(limits);
  QObject a, b;
  int toldA = 0, toldB = 0;
  const std::vector<engine::HeadBudget::Want> three{{0, 1}, {1, 1}, {2, 1}};
  EXPECT_EQ(budget.Name(&a, three, [&] { ++toldA; }), (std::set<int>{0, 1, 2}));
  EXPECT_EQ(budget.Name(&b, three, [&] { ++toldB; }), (std::set<int>{0, 1}));
  EXPECT_EQ(budget.HeldBytes(), 5);
  // b's key 2 played: a's key 2, the highest never played, makes room.
  budget.Played(&b, 2);
  EXPECT_TRUE(WaitFor([&] { return toldA == 1 && toldB == 1; }));
  EXPECT_EQ(budget.Name(&a, three, [&] { ++toldA; }), (std::set<int>{0, 1}));
  // A head too big to fit is passed over; the smaller after it is held.
  EXPECT_EQ(budget.Name(&b, {{0, 1}, {1, 9}, {2, 1}}, [&] { ++toldB; }), (std::set<int>{0, 2}));
  EXPECT_TRUE(WaitFor([&] { return toldA == 2; }));  // a may hold its key 2 again
  budget.Forget(&b);
  EXPECT_EQ(budget.Name(&a, three, [&] { ++toldA; }), (std::set<int>{0, 1, 2}));
  budget.Forget(&a);
  budget.SetLimits(before);
}

// A head of `frames` stereo frames whose sample at frame f is 1 + f, so
// that what the output plays tells which frame of which head it is.
std::shared_ptr<const engine::ClipHead> CountingHead(const std::string& path, int frames) {
  auto head = std::make_shared<engine::ClipHead>();
  head->path = path;
  head->rate = 48000;
  head->channels = 2;
  for (int f = 0; f < frames; ++f) head->samples.insert(head->samples.end(), 2, float(1 + f));
  return head;
}

// One output cycle of `frames` frames over a ring playing `ringValue`,
// from the ring's sample `at`; the left channel as heard.
std::vector<float> Cycle(engine::ArmedStart& start, std::uint64_t at, int frames,
                         float ringValue = 0.0f, bool ringPlays = false) {
  std::vector<float> ring(std::size_t(frames) * 2, ringValue), out(ring.size());
  start.Mix(ring.data(), out.data(), frames, at, ringPlays, std::uint32_t(at));
  std::vector<float> left;
  for (int f = 0; f < frames; ++f) left.push_back(out[std::size_t(f) * 2]);
  return left;
}

constexpr int kRamp = 4, kPeriod = 64;

TEST(ArmedStart, AKeyTheWindowWouldNotPlayNeverSounds) {
  using V = engine::ArmedStart::Verdict;
  engine::ArmedStart first, second;
  first.Prepare(kRamp, 48000, 2);
  second.Prepare(kRamp, 48000, 2);
  auto head = CountingHead("a.wav", 4800);
  first.Publish(1, V::Silent, head);  // no clip on the key, or a Configuration toggle
  first.Publish(2, V::Plays);         // plays, but its head is not ready
  first.Publish(3, V::EndsDispatch);  // beyond the rows
  second.Publish(1, V::Plays, head);
  second.Publish(3, V::Plays, head);
  auto& order = engine::ArmingOrder::Instance();
  order.Publish({{&first, 0}, {&second, 0}});
  EXPECT_FALSE(first.Arm(1));
  EXPECT_FALSE(first.Arm(2));
  // The dispatch goes on past a window that plays nothing, and ends at
  // one whose rows the key is beyond: the windows after it do nothing.
  EXPECT_EQ(order.Arm(0, 1), 1);
  second.Withdraw();
  EXPECT_EQ(order.Arm(0, 3), 0);
  EXPECT_EQ(order.Arm(1, 1), 0);  // another group
  EXPECT_EQ(Cycle(first, 0, kPeriod, 0.5f, true), std::vector<float>(kPeriod, 0.5f));
  EXPECT_EQ(Cycle(second, 0, kPeriod, 0.5f, true), std::vector<float>(kPeriod, 0.5f));
  // A verdict changed after the arm: the window withdraws it before the
  // output's next cycle, and nothing sounds.
  second.Publish(1, V::Plays, head);
  EXPECT_EQ(order.Arm(0, 1), 1);
  second.Publish(1, V::Silent);
  EXPECT_FALSE(second.Confirm(1, "a.wav", 0, 1.0, 0, std::chrono::milliseconds(0)));
  EXPECT_EQ(Cycle(second, kPeriod, kPeriod), std::vector<float>(kPeriod, 0.0f));
  // Changed after the arm and before the output's next cycle, the window
  // not come to the note yet: the old head never starts, whether the key
  // now plays nothing or another clip.
  for (const auto& now : {std::shared_ptr<const engine::ClipHead>(), CountingHead("b.wav", 4800)}) {
    second.Publish(1, V::Plays, head);
    ASSERT_EQ(order.Arm(0, 1), 1);
    second.Publish(1, now ? V::Plays : V::Silent, now);
    EXPECT_EQ(Cycle(second, 2 * kPeriod, kPeriod, 0.5f, true), std::vector<float>(kPeriod, 0.5f));
    EXPECT_FALSE(second.Confirm(1, "a.wav", 0, 1.0, 0, std::chrono::milliseconds(0)));
  }
  order.Publish({});
}

TEST(ArmedStart, AGroupStartsOnTheFirstCycleNoneHasBegunOrAsItAlwaysHas) {
  using V = engine::ArmedStart::Verdict;
  engine::ArmedStart ahead, behind, cold;
  for (auto* w : {&ahead, &behind, &cold}) w->Prepare(kRamp, 48000, 2);
  auto head = CountingHead("a.wav", 4800);
  ahead.Publish(0, V::Plays, head);
  behind.Publish(0, V::Plays, head);
  // One output has begun the cycle at frame 128 when the note comes; the
  // other has not yet.
  Cycle(ahead, 128, kPeriod);
  Cycle(behind, 64, kPeriod);
  auto& order = engine::ArmingOrder::Instance();
  order.Publish({{&ahead, 3}, {&behind, 3}, {&cold, 4}});
  EXPECT_EQ(order.Arm(3, 0), 2);
  EXPECT_EQ(Cycle(behind, 128, kPeriod)[0], 0.0f);
  EXPECT_EQ(Cycle(behind, 192, kPeriod)[0], 1.0f);
  EXPECT_EQ(Cycle(ahead, 192, kPeriod)[0], 1.0f);
  ahead.Withdraw();
  behind.Withdraw();
  // A window that plays the key without a head ready: the group's graphs
  // start it together, none from a head.
  cold.Publish(0, V::Plays);
  order.Publish({{&ahead, 3}, {&cold, 3}, {&behind, 3}});
  EXPECT_EQ(order.Arm(3, 0), 0);
  order.Publish({});
}

TEST(ArmedStart, AHeadWithdrawnAfterItSoundedFadesOutWithinTheNextCycle) {
  engine::ArmedStart start;
  start.Prepare(kRamp, 48000, 2);
  start.Publish(5, engine::ArmedStart::Verdict::Plays, CountingHead("a.wav", 4800));
  ASSERT_TRUE(start.Arm(5));
  EXPECT_EQ(Cycle(start, 0, kPeriod)[10], 11.0f);  // the next cycle starts it, whole
  start.Withdraw();                                // an error opening the clip, say
  const std::vector<float> next = Cycle(start, kPeriod, kPeriod);
  EXPECT_GT(next[0], 0.0f);
  EXPECT_EQ(next[kRamp], 0.0f);
  EXPECT_FALSE(start.Sounding());
}

TEST(ArmedStart, AConfirmedHeadGivesWayToTheGraphOnItsSampleAndARetriggerStartsAnew) {
  engine::ArmedStart start;
  start.Prepare(kRamp, 48000, 2);
  start.Publish(7, engine::ArmedStart::Verdict::Plays, CountingHead("a.wav", 4800));
  ASSERT_TRUE(start.Arm(7));
  // An old clip playing in the ring fades under the head's attack.
  const std::vector<float> first = Cycle(start, 1000, kPeriod, 100.0f, true);
  EXPECT_EQ(first[kRamp], 1.0f + kRamp);
  const auto handover = start.Confirm(7, "a.wav", 0, 1.0, 0, std::chrono::milliseconds(0));
  ASSERT_TRUE(handover);
  // At the head's end.
  EXPECT_EQ(handover->frames, 4800);
  EXPECT_EQ(handover->clipNs, std::int64_t(handover->frames) * 1000000000 / 48000);
  // The graph's first sound is written some cycles on (the ring held still
  // meanwhile, as a paused one does): it goes where the head will end.
  std::uint64_t at = 1000 + kPeriod;
  for (int i = 0; i < 3; ++i) Cycle(start, at, kPeriod / 2, -1.0f);
  const std::uint64_t pin = start.PinnedStart([&] { return at; });
  EXPECT_EQ(pin, at + std::uint64_t(handover->frames - kPeriod - 3 * kPeriod / 2));
  for (; at + kPeriod <= pin; at += kPeriod) Cycle(start, at, kPeriod, -1.0f);
  const int into = int(pin - at);
  const std::vector<float> seam = Cycle(start, at, kPeriod, -1.0f, true);
  EXPECT_EQ(seam[std::size_t(into) - 1], float(handover->frames));
  EXPECT_EQ(seam[std::size_t(into)], -1.0f);
  EXPECT_FALSE(start.Sounding());
  // The key again: a new head from its first frame.
  ASSERT_TRUE(start.Arm(7));
  EXPECT_EQ(Cycle(start, at + kPeriod, kPeriod, 0.0f, true)[0], 1.0f);
  start.Silence(start.Confirm(7, "a.wav", 0, 1.0, 0, std::chrono::milliseconds(0))->seq);
  EXPECT_EQ(Cycle(start, at + 2 * kPeriod, kPeriod)[kRamp], 0.0f);
  // Played at another rate than its head was read at: the graph starts
  // the clip, and the head fades within the cycle.
  ASSERT_TRUE(start.Arm(7));
  Cycle(start, at + 3 * kPeriod, kPeriod);
  EXPECT_FALSE(start.Confirm(7, "a.wav", 0, 1.5, 0, std::chrono::milliseconds(0)));
  EXPECT_EQ(Cycle(start, at + 4 * kPeriod, kPeriod)[kRamp], 0.0f);
  // A head read at that rate hands over where that rate has taken the clip.
  auto fast = std::make_shared<engine::ClipHead>(*CountingHead("a.wav", 4800));
  fast->speed = 1.5;
  start.Publish(7, engine::ArmedStart::Verdict::Plays, fast);
  ASSERT_TRUE(start.Arm(7));
  Cycle(start, at + 5 * kPeriod, kPeriod);
  const auto atRate = start.Confirm(7, "a.wav", 0, 1.5, 0, std::chrono::milliseconds(0));
  ASSERT_TRUE(atRate);
  EXPECT_EQ(atRate->clipNs, std::int64_t(atRate->frames) * 1500000000 / 48000);
  start.Silence(atRate->seq);
}

// A window or a graph late for the head's end (a clip not cued yet, a busy
// machine): the head ends ramped down, and the graph's sound, from the
// clip's place at the head's end, is ramped in where it comes. Nothing
// already heard is played again.
TEST(ArmedStart, AGraphLateForTheHeadGoesOnFromItsEndRampedInNeverBack) {
  engine::ArmedStart start;
  start.Prepare(kRamp, 48000, 2);
  start.Publish(7, engine::ArmedStart::Verdict::Plays, CountingHead("a.wav", 4800));
  ASSERT_TRUE(start.Arm(7));
  // The window comes a second after the note, long after the head ended.
  float last = 0;
  std::uint64_t at = 0;
  for (; at < 48000; at += kPeriod)
    for (const float v : Cycle(start, at, kPeriod)) last = v > 0 ? v : last;
  EXPECT_FALSE(start.Sounding());
  const auto handover = start.Confirm(7, "a.wav", 0, 1.0, 0, std::chrono::milliseconds(0));
  ASSERT_TRUE(handover);
  Cycle(start, at, kPeriod);
  at += kPeriod;
  EXPECT_EQ(start.PinnedStart([&] { return at; }), at);
  // The graph's sound: the clip's frames from where it was started, as the
  // head counts them.
  std::vector<float> ring(std::size_t(kPeriod) * 2), out(ring.size());
  for (int f = 0; f < kPeriod; ++f)
    ring[std::size_t(f) * 2] = ring[std::size_t(f) * 2 + 1] = float(1 + handover->frames + f);
  start.Mix(ring.data(), out.data(), kPeriod, at, true, std::uint32_t(at));
  EXPECT_EQ(out[0], 0.0f) << "not ramped in";
  for (int f = kRamp; f < kPeriod; ++f) {
    EXPECT_EQ(out[std::size_t(f) * 2], ring[std::size_t(f) * 2]);
    EXPECT_GT(out[std::size_t(f) * 2], last) << "went back to a place already heard";
  }
}

}  // namespace
