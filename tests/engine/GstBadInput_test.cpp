// Bad media files through the player on real GStreamer: a corpus the test
// makes from valid clips of every format the key editor lists (truncated,
// bytes flipped, headers zeroed, wrong names, empty, absurd sizes, a folder
// and a FIFO under clip names, files deleted or rewritten while they play).
// Every file must fail with one of the player's texts or play, nothing may
// crash, and the next good clip must play. The longest call the window
// thread made is recorded as a figure, not asserted.

#include "StallingSource.h"
#include "engine/graph/FailureReason.h"
#include "engine/graph/GstMediaGraph.h"
#include "player/Tplayerbase.h"
#include "support/MediaFiles.h"
#include "support/NoticeRecorder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>

using namespace platform;
using testing_support::WaitFor;

namespace {

QByteArray Bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& data) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(data);
}

struct Source {
  QString name;  // e.g. "tone.wav"
  QByteArray data;
};

std::vector<Source> Sources() {
  std::vector<Source> sources;
  for (const QString& path :
       {media_files::ToneWav(), media_files::ToneOgg(), media_files::ToneMp3(),
        media_files::RedAvi(), media_files::GreenMpg(), media_files::BlueDivx(),
        media_files::ShortMidi()}) {
    const QString file = QFileInfo(path).fileName();
    // The cached names carry a hash; keep the base name and the extension.
    sources.push_back(
        {file.section('-', 0, 0).section('.', 0, 0) + "." + QFileInfo(path).suffix(), Bytes(path)});
  }
  return sources;
}

const char* kExtensions[] = {"wav",  "mp3", "mpg", "dat", "avi", "dvx",
                             "divx", "ogg", "mid", "kar", "riff"};

// The texts the player shows for a clip it can't open.
bool IsPlayerText(const std::string& text) {
  static const std::vector<std::string> texts{
      _ERR_NOFILE,
      _ERR_UNKNOWN,
      TPlayer::kStateTimeoutText,
      TPlayer::kOpenTimeoutText,
      TPlayer::kOpenPendingText,
      "Operation aborted.",
      "One of the parameters is invalid.",
      "Insufficient memory to complete the task.",
  };
  if (std::find(texts.begin(), texts.end(), text) != texts.end()) return true;
  return text.rfind("This clip needs a media plugin that is not installed", 0) == 0 ||
         text.rfind("The sound output stopped working", 0) == 0;
}

TEST(FailureReason, TellsWhatGStreamerFoundInPlainWords) {
  using engine::ClipFailure;
  const auto Error = [](GQuark domain, int code, const char* element = "",
                        std::int64_t positionNs = -1) {
    ClipFailure f;
    f.domain = domain;
    f.code = code;
    f.element = element;
    f.positionNs = positionNs;
    f.fileSize = 1000;
    return f;
  };
  ClipFailure empty = Error(GST_STREAM_ERROR, GST_STREAM_ERROR_TYPE_NOT_FOUND);
  empty.fileSize = 0;
  ClipFailure missing;
  missing.missing = {"MPEG-1 Layer 3 (MP3) decoder"};
  ClipFailure unlinked = Error(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED);
  unlinked.debug = "streaming stopped, reason not-negotiated (-4)";
  ClipFailure denied = Error(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ);
  denied.debug = "system error: Permission denied";
  ClipFailure silent;
  silent.nothingToPlay = true;
  ClipFailure other = Error(GST_LIBRARY_ERROR, GST_LIBRARY_ERROR_INIT);
  other.message = "Could not initialize supporting library.";
  const std::pair<ClipFailure, std::string> table[] = {
      {Error(GST_STREAM_ERROR, GST_STREAM_ERROR_TYPE_NOT_FOUND, "typefind"),
       "could not tell what kind of file this is"},
      {Error(GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, "mpg123audiodec", 12'400'000'000),
       "the MP3 data is damaged at 0:12"},
      {Error(GST_STREAM_ERROR, GST_STREAM_ERROR_DEMUX, "avidemux"), "the AVI data is damaged"},
      {Error(GST_STREAM_ERROR, GST_STREAM_ERROR_WRONG_TYPE, "mpegvideoparse"),
       "the MPEG video data is damaged"},
      {Error(GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT, "wavparse", 200'000'000),
       "the WAV data is damaged"},
      {Error(GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, "", 3725'000'000'000),
       "the file's data is damaged at 1:02:05"},
      {Error(GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND),
       "no decoder for this format is installed"},
      {Error(GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN),
       "no decoder for this format is installed"},
      {missing, "no decoder for this format is installed (MPEG-1 Layer 3 (MP3) decoder)"},
      {empty, "the file is empty"},
      {Error(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ), "the file could not be read"},
      {Error(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ), "the file could not be opened"},
      {Error(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND), "there is no file of that name"},
      {denied, "you have no permission to read the file"},
      {unlinked, "the decoder could not handle the format of the data"},
      {silent, "the file has no sound or picture that can be played"},
      {other, "the media framework reported: could not initialize supporting library"},
      {ClipFailure{}, "the media framework failed without saying why"},
  };
  for (const auto& [failure, reason] : table) EXPECT_EQ(engine::ReasonInWords(failure), reason);
}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    graph = std::make_shared<engine::GstMediaGraph>();
    player = std::make_unique<TPlayer>(&window, 0, graph);
    window.onNotice = [&](int code) {
      if (code == PN_OPENFAILED) Timed([&] { player->Close(); });  // as the window does
    };
  }

  void TearDown() override {
    std::printf("bad_input_outcomes:");
    for (const auto& [outcome, n] : outcomes) std::printf(" %s=%d", outcome.c_str(), n);
    std::printf("\nbad_input_longest_window_call: %.1f ms\n", longestMs);
  }

  // Runs a call of the window thread and keeps the longest, failing or not.
  void Timed(const std::function<void()>& call) {
    QElapsedTimer timer;
    timer.start();
    struct Keep {
      QElapsedTimer& timer;
      double& longest;
      ~Keep() { longest = std::max(longest, timer.nsecsElapsed() / 1e6); }
    } keep{timer, longestMs};
    call();
  }

  // A key press on the file, as the keyboard window makes it; what came of it.
  std::string Press(const QString& path, const std::function<void()>& whilePlaying = {}) {
    try {
      Timed([&] { player->Open(path); });
      Timed([&] { player->SetRelativePositions(10000, 0, 10000, 0); });
      Timed([&] { player->SetRelativeVolume(100, 1, 0, 0, 0); });
      Timed([&] { player->SetRate(1.0); });
      Timed([&] { player->Play(); });
      if (whilePlaying) whilePlaying();
      // It sounds, ends, or reports a failure while it plays.
      int event = 0;
      WaitFor(
          [&] {
            if (window.Count(PN_MEDIAEVENT) > 0) {
              window.Clear();
              Timed([&] { event = player->GetMediaEvent(); });
            }
            std::int64_t position = 0;
            Timed([&] { position = player->GetPosition(); });
            return event != 0 || position > 0;
          },
          std::chrono::seconds(5));
      Timed([&] { player->Stop(); });
      return event == engine::EC_ERRORABORT ? "failed while playing" : "played";
    } catch (const EPlayerError& e) {
      const std::string message = e.what();
      EXPECT_TRUE(IsPlayerText(e.Text())) << message;
      // The fixed text comes first; the file and what is wrong with it follow.
      EXPECT_EQ(message.rfind(e.Text() + "\n" + path.toStdString() + ": ", 0), 0u) << message;
      return std::string("refused: ") + e.Text();
    }
  }

  void PressBadThenGood(const QString& path, const std::function<void()>& whilePlaying = {}) {
    SCOPED_TRACE(path.toStdString());
    std::string outcome = Press(path, whilePlaying);
    if (outcome == std::string("refused: ") + TPlayer::kOpenPendingText) {
      ++outcomes["still loading at the first press"];
      outcome = PressUntilLoaded(path);
    }
    ++outcomes[outcome];
    EXPECT_EQ(PressUntilLoaded(media_files::ToneWav()), "played") << graph->LastErrorDetail();
  }

  // A clip that takes longer to load than a key press waits goes on
  // loading; the player says so, and pressing again plays it once it's
  // ready. A busy machine makes even a good clip that slow now and then.
  std::string PressUntilLoaded(const QString& path) {
    std::string outcome;
    WaitFor(
        [&] {
          outcome = Press(path);
          return outcome != std::string("refused: ") + TPlayer::kOpenPendingText;
        },
        std::chrono::seconds(20));
    return outcome;
  }

  QTemporaryDir dir;
  NoticeRecorder window;
  std::shared_ptr<engine::GstMediaGraph> graph;
  std::unique_ptr<TPlayer> player;
  std::map<std::string, int> outcomes;
  double longestMs = 0;
};

TEST_F(BadInput, TruncatedClipsOfEveryFormat) {
  int files = 0;
  for (const Source& s : Sources())
    for (double part : {0.0005, 0.002, 0.01, 0.05, 0.1, 0.25, 0.4, 0.5, 0.6, 0.75, 0.9, 0.999}) {
      const QString path = dir.filePath(QString("cut%1-%2").arg(part).arg(s.name));
      Write(path, s.data.left(std::max<qsizetype>(1, s.data.size() * part)));
      PressBadThenGood(path);
      ++files;
    }
  EXPECT_GE(files, 84);
}

TEST_F(BadInput, FlippedBytesAndZeroedHeaders) {
  int files = 0;
  std::mt19937 random(14);
  for (const Source& s : Sources()) {
    for (int seed = 0; seed < 7; ++seed) {
      QByteArray data = s.data;
      for (int i = 0; i < data.size() / 100 + 1; ++i)
        data[random() % data.size()] = static_cast<char>(random());
      const QString path = dir.filePath(QString("flip%1-%2").arg(seed).arg(s.name));
      Write(path, data);
      PressBadThenGood(path);
      ++files;
    }
    for (int zeroed : {16, 64, 512, 4096}) {
      QByteArray data = s.data;
      data.replace(0, std::min<qsizetype>(zeroed, data.size()),
                   QByteArray(std::min<qsizetype>(zeroed, data.size()), '\0'));
      const QString path = dir.filePath(QString("zero%1-%2").arg(zeroed).arg(s.name));
      Write(path, data);
      PressBadThenGood(path);
      ++files;
    }
  }
  EXPECT_GE(files, 77);
}

TEST_F(BadInput, WrongNamesEmptyFilesAbsurdSizesAndThingsThatAreNoFiles) {
  int files = 0;
  const auto sources = Sources();
  for (std::size_t i = 0; i < sources.size(); ++i)
    for (int k = 1; k <= 3; ++k) {
      const QString ext = kExtensions[(i * 3 + k) % std::size(kExtensions)];
      const QString path = dir.filePath(QString("named-%1.%2").arg(sources[i].name, ext));
      Write(path, sources[i].data);
      PressBadThenGood(path);
      ++files;
    }
  for (const char* ext : kExtensions) {
    const QString path = dir.filePath(QString("empty.%1").arg(ext));
    Write(path, {});
    PressBadThenGood(path);
    ++files;
  }
  // Sizes in the headers far beyond the file.
  for (const Source& s : sources) {
    QByteArray data = s.data;
    if (data.startsWith("RIFF")) {
      data.replace(4, 4, QByteArray("\xf0\xff\xff\xff", 4));
      const int chunk = data.indexOf(s.name.endsWith(".wav") ? "data" : "movi");
      if (chunk > 0) data.replace(chunk + 4, 4, QByteArray("\xf0\xff\xff\x7f", 4));
    } else if (data.startsWith("MThd")) {
      const int track = data.indexOf("MTrk");
      data.replace(track + 4, 4, QByteArray("\x7f\xff\xff\xff", 4));
    } else {
      continue;
    }
    const QString path = dir.filePath("huge-" + s.name);
    Write(path, data);
    PressBadThenGood(path);
    ++files;
  }
  QDir(dir.path()).mkdir("x.wav");
  PressBadThenGood(dir.filePath("x.wav"));
  ASSERT_EQ(mkfifo(dir.filePath("x.mp3").toLocal8Bit().constData(), 0600), 0);
  PressBadThenGood(dir.filePath("x.mp3"));
  files += 2;
  EXPECT_GE(files, 38);
}

TEST_F(BadInput, AFileDeletedOrRewrittenWhileItPlays) {
  const QByteArray wav = Bytes(media_files::ToneWav());
  const QString deleted = dir.filePath("deleted.wav");
  Write(deleted, wav);
  PressBadThenGood(deleted, [&] { QFile::remove(deleted); });
  const QString rewritten = dir.filePath("rewritten.wav");
  Write(rewritten, wav);
  PressBadThenGood(rewritten, [&] { Write(rewritten, Bytes(media_files::ToneOgg())); });
  // Pressed again: the rewritten file is what plays now.
  EXPECT_EQ(Press(rewritten), "played");
}

}  // namespace

TEST_F(BadInput, AClipThatStallsNeverHoldsTheWindowAndGivesWayToTheNextKey) {
  // A file whose reads hang, as on a network mount that went away.
  stalling_source::Register();
  const QString path = dir.filePath("stall.wav");
  Write(path, Bytes(media_files::ToneWav()));
  const std::string pending = std::string("refused: ") + TPlayer::kOpenPendingText;
  ASSERT_EQ(Press(path), pending);
  EXPECT_EQ(stalling_source::Running(), 1);
  // Pressed again, the same clip is taken up where it was (no second
  // source), until it is given up with a clear message.
  EXPECT_EQ(Press(path), pending);
  EXPECT_EQ(stalling_source::Running(), 1);
  EXPECT_EQ(PressUntilLoaded(path), std::string("refused: ") + TPlayer::kOpenTimeoutText);
  // Another key while a clip is loading plays, and the hung source is
  // stopped by a worker, not by the window.
  ASSERT_EQ(Press(path), pending);
  EXPECT_EQ(PressUntilLoaded(media_files::ToneWav()), "played");
  EXPECT_TRUE(WaitFor([] {
    return stalling_source::Running() == 0 && engine::GstMediaGraph::PendingTeardowns() == 0;
  }));
  // And a graph destroyed while its clip loads doesn't wait for it either.
  ASSERT_EQ(Press(path), pending);
  player.reset();
  graph.reset();
  EXPECT_TRUE(WaitFor([] { return stalling_source::Running() == 0; }));
}
