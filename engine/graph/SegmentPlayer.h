#pragma once
// Playing the clip in a graph: whether one is loaded, the state the window
// asked for (a Run held for its group's start included), its rate, stop and
// length, and the segment it plays: seeks noted and made once it runs, the
// end of a segment told to the window while the outputs still play its last
// sound, and the tail played out before a stop. Private to the media layer.
//
// Threads: window thread only; the segment tracker it shares with the
// renderers' inputs has its own lock.

#include "engine/MediaTypes.h"
#include "engine/graph/GraphNotices.h"
#include "engine/graph/GstFilters.h"
#include "engine/graph/LoopWatch.h"

#include <gst/gst.h>

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace engine {

// How much of a segment's sound, as heard, is left when the window is told
// of its end: room for the window to answer with a loop seek whose sound
// reaches the output before it runs dry, on a busy machine too (the
// renderers play out what they held for a crossfade 20 ms before the end
// when no loop has come by then).
constexpr std::chrono::milliseconds kLoopLead{40};

class SegmentPlayer {
 public:
  using Filters = std::vector<std::shared_ptr<GstFilter>>;

  // A segment of the clip as a seek sets it.
  struct Segment {
    gint64 startNs = 0, stopNs = -1;
    double rate = 1.0;
    friend bool operator==(const Segment&, const Segment&) = default;
  };

  // `filters`: the graph's, read to reach its audio renderers. A seek
  // starts a new generation of the graph's messages and drops its notices.
  SegmentPlayer(GstElement* pipeline, QObject* graph, std::atomic<std::uint64_t>& generation,
                GraphNotices& notices, const Filters& filters, std::shared_ptr<ProbeState> probe)
      : pipeline_(pipeline),
        graph_(graph),
        generation_(generation),
        notices_(notices),
        filters_(filters),
        probe_(std::move(probe)) {}
  SegmentPlayer(const SegmentPlayer&) = delete;
  SegmentPlayer& operator=(const SegmentPlayer&) = delete;

  const std::shared_ptr<SegmentTracker>& Segments() const { return segments_; }

  // A new clip is being loaded: stopped, at normal speed, nothing known.
  void Reset();
  // The clip is cued where its decoder was (a fresh one at the start of
  // the whole clip), and opens at its start. `asSegment`: the decoder was
  // cued with a segment seek, and ends with a segment-done rather than an
  // end-of-stream. `exactLengthNs`: its length as the file tells it
  // (ClipLength.h), where the demuxer's guesses are not exact.
  void Loaded(Segment cuedAt, bool asSegment, std::optional<std::int64_t> exactLengthNs);
  // The kept clip again: where its decoder stopped is unknown, so the first
  // run seeks back to its start.
  HRESULT Reused(REFERENCE_TIME length);
  void Unloaded() { loaded_ = false; }
  // Every seek of the clip flushes, a loop's too (ProgramStreamStop.h).
  void FlushEveryLoop(bool flush) { flushEveryLoop_ = flush; }
  bool IsLoaded() const { return loaded_; }
  FilterState Target() const { return target_; }
  // Held for its group's start: the clip counts as running from Run on.
  bool HeldForGroup() const { return heldForGroup_; }
  bool SegmentEnded() const { return segmentEnded_; }
  REFERENCE_TIME Length() const { return duration_; }
  int FlushingSeeks() const { return flushingSeeks_; }
  // True once when a seek was refused since the last call.
  bool TakeSeekRefused() { return std::exchange(seekRefused_, false); }

  HRESULT Run();
  // The next Run goes on from sound already heard (the head of an armed
  // start): the clip starts at `clipNs` instead of where it was to start,
  // unramped, on base time `baseNs`, its first sample where the output
  // takes it over. Before Run, after the window's seek.
  void ContinueAt(std::int64_t clipNs, std::uint64_t baseNs);
  HRESULT Pause();
  HRESULT Stop();

  // The segment from start to the stop mark at the current rate. While the
  // graph does not run, the seek is only noted (or dropped when the clip
  // already sits at that segment) and made once, when it runs: marks and
  // rate of one key press then cost one accurate seek instead of several.
  HRESULT Seek(REFERENCE_TIME start);
  void SetStop(REFERENCE_TIME stop) { stop_ = stop; }
  // The window's answer to the clip's next end, given ahead: a loop from
  // `start` to `stop`, or none (the window is told of the end and answers
  // then). With a loop, the clip loops by itself at each end, on time
  // however late the window is (LoopWatch.h), and the window is told with
  // EC_LOOPED instead of EC_COMPLETE.
  void LoopAtEnd(std::optional<std::pair<REFERENCE_TIME, REFERENCE_TIME>> loop);
  // The graph is going: the loop watch's thread ends first.
  void StopWatching() { watch_.reset(); }
  double Rate() const { return rate_; }
  // Takes the rate; true when it must be applied now (ApplyRate).
  bool NoteRate(double rate);
  HRESULT ApplyRate();
  // A renderer was linked anew: the stream starts again where it was.
  HRESULT Relinked();
  // Reads where the clip is, for a renderer about to be removed.
  void NotePosition();

  HRESULT GetPosition(REFERENCE_TIME& position);
  HRESULT GetDuration(REFERENCE_TIME& duration);
  // A length that was unknown at preroll (or only estimated) is known now.
  void LengthChanged();

  // True when an end-of-stream message closes the segment of the latest
  // seek rather than one the seek replaced.
  bool EndsCurrentSegment(std::uint32_t messageSeqnum);
  // The decoder has ended the segment: the window is told once the outputs
  // have little of it left to play (kLoopLead), so that its rules decide as
  // late as they can while a loop seek still comes in time.
  void SegmentDone();
  // True when the clip will run from its very start, where its first
  // frame, already decoded, shows it.
  bool RunsFromFirstFrame() const;
  // True when the linked audio output fades every cut by itself (our JACK
  // output), with nothing to wait for.
  bool OutputFadesItself() const;

 private:
  std::shared_ptr<GstFilter> LinkedAudio() const;
  // The pipeline's position is the furthest of its sinks'. With one sink
  // that is the sink's own, read without walking the bins at every display
  // refresh: PositionSink is that sink, or null when there are more, or
  // fewer, or deeper. Found again whenever the bins' children change.
  struct PositionSource {
    guint32 pipelineCookie = 0, binCookie = 0;
    GstBin* bin = nullptr;  // the sink's parent; both alive while the cookies hold
    GstElement* sink = nullptr;
    bool known = false;
  };
  GstElement* PositionSink();
  HRESULT FlushPendingSeek();
  // The segment from `start` to `stop` (-1 or past the end: to the end) at
  // the current rate.
  Segment SegmentOf(REFERENCE_TIME start, REFERENCE_TIME stop) const;
  // Arms the watch for the loop the window asked for ahead, when the
  // segment has ended and the window was not told yet; disarms it
  // otherwise.
  void WatchForLoop();
  // Takes in a loop the watch made: from here on the clip plays its new
  // pass, as after a loop seek of the window's. Every call that changes
  // the segment, or acts on its end, takes it in first, and one that
  // changes it stops the watch first (`stopWatching`), so no loop comes
  // after its decision.
  void TakeLoop(bool stopWatching = false);
  // flush: false only for a seek made after the segment has ended while the
  // graph runs: the new segment then follows the sound still buffered.
  HRESULT SeekNow(const Segment& segment, bool flush = true);
  // The seek event itself, on any thread: a new generation of the graph's
  // messages, the renderers' record of ends cleared, the event sent.
  LoopWatch::Fired SendSeek(const Segment& segment, bool flush);
  void ResetSegments(std::optional<Segment> cuedAt);
  // Window thread, every few ms after SegmentDone: tells the window when
  // the time has come.
  void CheckEnd();
  // How long, in ns as heard, the outputs still play the ended segment.
  gint64 TailLeft();
  // Stops looking for the end (a seek, a stop).
  void ForgetEnd();
  void ReleaseTails();
  // Plays out what the outputs hold of the ended segment, at most about
  // kLoopLead: a stop at the end then cuts nothing. True when it has ended.
  bool AwaitTail();
  // True when the running clip's rate can change in the audio renderers
  // alone: no other renderer keeps time with the decoder's rate.
  bool RateChangesInPlace() const;
  // Ramps the sounding output down and waits, about a period, until the
  // ramp has been played, so the cut that follows (a stop, a flushing seek)
  // is silent; an output that fades its own cuts (OutputFadesItself) needs
  // no wait. True when there was sound to ramp down.
  bool FadeOutput();
  // A Run held until its group starts (GroupStart.h).
  void CueForGroup(std::chrono::nanoseconds wait);
  // Starts the pipeline on `baseNs`, or alone: a clip started from a seek
  // on a base time of its own (GroupStart::SoloBase), a resume at once.
  // With `onsetNs`, the clip's first sample sounds then, on its frame of
  // the output (PlaceNextStart), the pipeline starting as much before it as
  // the output asks.
  void StartHeld(std::uint64_t ticket, std::optional<std::uint64_t> baseNs,
                 std::optional<std::uint64_t> onsetNs = std::nullopt);

  GstElement* const pipeline_;
  QObject* const graph_;
  std::atomic<std::uint64_t>& generation_;
  GraphNotices& notices_;
  const Filters& filters_;
  const std::shared_ptr<ProbeState> probe_;
  std::shared_ptr<SegmentTracker> segments_ = std::make_shared<SegmentTracker>();
  PositionSource positionSource_;

  bool loaded_ = false;
  FilterState target_ = FilterState::State_Stopped;
  double rate_ = 1.0;
  REFERENCE_TIME stop_ = -1, duration_ = 0, lastPosition_ = 0;
  // The length is the file's own (ClipLength.h), not the demuxer's guess.
  bool lengthExact_ = false;
  bool flushEveryLoop_ = false;
  int flushingSeeks_ = 0;
  bool seekRefused_ = false;
  // The segment the clip is cued at, while it has not run since; unset
  // when unknown.
  std::optional<Segment> cued_;
  std::optional<Segment> pendingSeek_;
  // The sequence number of the latest seek; invalid while the clip plays
  // its first segment.
  std::uint32_t seekSeqnum_ = GST_SEQNUM_INVALID;
  // The decoder has played the latest segment to its stop and waits, while
  // the outputs still play what they hold: a seek now follows that sound
  // instead of flushing it.
  bool segmentEnded_ = false;
  // The window was told of that end.
  bool endTold_ = false;
  // The latest seek's segment, while it is the one that plays.
  Segment playing_;
  std::unique_ptr<QTimer> endTimer_;
  // The loop the window asked for ahead, and the one the watch was armed
  // with.
  std::optional<std::pair<REFERENCE_TIME, REFERENCE_TIME>> loopAtEnd_;
  Segment watchedLoop_;
  std::unique_ptr<LoopWatch> watch_;
  QDeadlineTimer endDeadline_;
  // After a loop seek, until the outputs have played the old segment out:
  // the position reads the new start meanwhile, as after a flushing seek.
  QDeadlineTimer seam_{0};
  // Every Run, Pause and Stop takes a new ticket, so a hold that was
  // overtaken by another call starts nothing.
  std::uint64_t holdTicket_ = 0;
  bool heldForGroup_ = false;
  // The Run starts the clip from a seek rather than resuming it.
  bool startsCued_ = false;
  // The decoder has not been sought since it was made: it ends the clip
  // with an end-of-stream, which only a flushing seek gets past.
  bool endsWithStream_ = false;
  // The base time of a start that goes on from a head (ContinueAt).
  std::optional<std::uint64_t> continueBase_;
};

}  // namespace engine
