#pragma once
// The state behind a GstMediaGraph and the work that more than one of its
// calls shares. Private to the media layer.

#include "engine/graph/ClipCache.h"
#include "engine/graph/FailureReason.h"
#include "engine/graph/GstFilters.h"
#include "engine/graph/GstMediaGraph.h"
#include "engine/MediaInternal.h"
#include "engine/video/VideoSurface.h"

#include <gst/gst.h>

#include <QDeadlineTimer>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::media {

// Decoders for some formats (a MIDI synthesizer loading its sound font, say)
// take a while to cue the first buffer; a hung one must still come back.
constexpr std::chrono::seconds kPrerollTimeout{20};
constexpr std::chrono::seconds kSeekTimeout{5};
// A clip that shows no stream at all within this has stalled.
constexpr std::chrono::milliseconds kFirstStreamTimeout{2000};
// How much of a segment's sound, as heard, is left when the window is told
// of its end: room for the window to answer with a loop seek whose sound
// reaches the output before it runs dry, on a busy machine too (the
// renderers play out what they held for a crossfade 20 ms before the end
// when no loop has come by then).
constexpr std::chrono::milliseconds kLoopLead{40};
// The longest the window thread waits for a clip at one time: 200 ms, or
// $TASTIVO_KEY_WAIT_MS for a machine whose disk is known to be slow (and for
// tests that must not fail on a busy machine). A clip that takes longer (a
// cold disk, a synthesizer loading its sounds, a hung network mount) goes on
// loading while the window keeps working, and the next open of the same file
// takes it up where it is.
std::chrono::milliseconds WindowWait();

struct GstMediaGraph::Impl : WaveOutListener {
  explicit Impl(GstMediaGraph* owner);
  ~Impl() override;

  // Runs on whatever thread posted the message; must not touch window
  // state. Errors and missing plugins are also recorded for a RenderFile
  // that is waiting on the window thread.
  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data);

  // Runs on a streaming thread when the decoder exposes a stream: links it
  // to a renderer of its type (the first audio and video streams) or to a
  // null renderer.
  // While a clip loads, that is; a stream that comes later is blocked and
  // handed to the window thread (LinkLatePad).
  static void OnPadAdded(GstElement*, GstPad* pad, gpointer data);

  // Window thread: links a stream the decoder exposed after loading to the
  // renderer of its type that lost its stream, or to a null renderer that
  // the graph then knows and removes with the clip.
  void LinkLatePad(GstPad* pad);

  // Window thread: takes a clip's source out of the pipeline without
  // waiting for its streaming threads; a worker stops and frees it.
  void Abandon(const std::shared_ptr<GstFilter>& f);
  // Sources still being stopped by a worker, in the whole process.
  static int PendingTeardowns();

  // Window thread: takes out of the pipeline every element that is none of
  // the graph's filters, so nothing left by a clip can hold the next one.
  void RemoveStrays();

  std::shared_ptr<GstFilter> MakeAudioRenderer(GstElement* sink, std::string name);
  // The machine's default output, opened. When it can't be opened (its
  // sound server is gone) the clip plays through a silent output that keeps
  // time, and the next clip tries the real one again.
  std::shared_ptr<GstFilter> OpenDefaultOutput();
  // True when the element is, or is inside, one of the audio renderers.
  static bool FromOutput(GstObject* object);
  std::shared_ptr<GstFilter> MakeVideoRenderer();
  std::shared_ptr<GstFilter> MakeNullRenderer();

  std::shared_ptr<GstFilter> Source() const {
    for (auto& f : filters)
      if (f->role == Role::Source) return f;
    return nullptr;
  }
  std::shared_ptr<GstFilter> Linked(Role role) const {
    for (auto& f : filters)
      if (f->role == role && f->InBin() && f->IsLinked()) return f;
    return nullptr;
  }

  // The result for the failure of the clip in the graph; sets lastError
  // and lastReason.
  HRESULT ErrorResult();
  // What is known of the clip's file and place, for a failure's reason.
  ClipFailure FailureOfClip();

  bool ErrorInThisClip() {
    std::lock_guard lock(mutex);
    return busError && busErrorGeneration == generation;
  }
  // No error, missing plugin or failed link known of the clip in the graph.
  bool NothingWrongWithThisClip() {
    std::lock_guard lock(mutex);
    return !(busError && busErrorGeneration == generation) && missing.empty() &&
           linkFailures.empty();
  }

  // Waits until the pipeline has finished its state change (a preroll).
  HRESULT WaitForSettled(std::chrono::milliseconds timeout);
  // The same, giving up at the deadlines (VFW_E_TIMEOUT) but returning
  // E_PENDING when only the window's budget ran out.
  HRESULT WaitForSettled(const QDeadlineTimer& deadline, const QDeadlineTimer& firstStream,
                         std::chrono::milliseconds budget);

  // A clip whose decoder is still cueing after RenderFile gave up waiting.
  // Its source is out of `filters`, so the player's clean-up does not see
  // it; RenderFile of the same file, unchanged, waits for it again.
  struct Loading {
    std::string fileName;
    std::optional<FileIdentity> identity;
    std::shared_ptr<GstFilter> source;
    std::vector<std::shared_ptr<GstFilter>> before;
    QDeadlineTimer deadline, firstStream;
    // Where the decoder is cued: a new one at the start of the whole clip,
    // one cued ahead at its key's segment.
    gint64 cuedStartNs = 0, cuedStopNs = -1;
  };
  std::optional<Loading> loading;
  // Waits up to kWindowWait for the loading clip and, once it is cued or
  // has failed, finishes RenderFile with it.
  HRESULT ContinueLoading();
  // Gives the loading clip up; a worker stops its decoder.
  void CancelLoading();
  // Ends a load: the streams it linked, taken under the linking lock so no
  // late one slips in; a decoder given up links nothing more.
  std::vector<std::shared_ptr<GstFilter>> EndLoading(bool giveUpDecoder);

  // Takes the default output out of the pipeline without giving up its
  // device: reconnecting to the sound server for every clip costs several
  // milliseconds and trims the attack. It is flushed first, so a decoder
  // waiting on it is released, and held at PAUSED until a clip links it.
  void Park(const std::shared_ptr<GstFilter>& f);

  // A parked output takes data again; it prerolls on the next clip's first
  // buffer like a fresh one.
  static void Unpark(GstFilter& f, GstPad* input) {
    if (f.parked.exchange(false)) gst_pad_send_event(input, gst_event_new_flush_stop(TRUE));
  }

  // True when the clip plays through the default output alone, the only
  // chain that is kept whole for the same file coming again.
  bool OnlyDefaultAudioLinked() const {
    if (!defaultAudio || !defaultAudio->InBin() || !defaultAudio->IsLinked()) return false;
    for (auto& f : filters)
      if (f->role != Role::Source && f != defaultAudio && f->InBin()) return false;
    return true;
  }

  // A removal of the default output that was held back, in case the source
  // follows it and the chain can be kept; anything else finishes it.
  void SettlePending() {
    if (cache.Settle()) {
      if (defaultAudio) Detach(defaultAudio);
      DropKeptVideo();
    }
  }

  // Gives up a kept decoder and the output it holds.
  void DropKept();

  // ---- Video: a clip with a picture and no sound is kept whole like an
  // audio one. (With sound too, a damaged clip's kept chain left the next
  // clip's preroll stalled now and then: not kept until that is understood.)
  // True when the clip's picture is linked and no other renderer is.
  bool PictureChainKeepable() const {
    bool picture = false;
    for (auto& f : filters) {
      if (f->role == Role::Source || !f->InBin()) continue;
      if (f->role != Role::VideoRenderer || !f->IsLinked()) return false;
      picture = true;
    }
    return picture;
  }
  // The removal of a keepable clip's video renderer (already out of
  // filters) is held back with its output's, if any; true when it was.
  bool HoldVideoRenderer(const std::shared_ptr<GstFilter>& f);
  // Takes a held-back video renderer out of the pipeline.
  void DropKeptVideo();
  // True when the clip will run from its very start, where its first
  // frame, already decoded, shows it.
  bool RunsFromFirstFrame() const {
    if (pendingSeek) return pendingSeek->startNs == 0;
    return cued && cued->startNs == 0;
  }
  // The video renderer held back with a kept clip, the picture's size, and
  // the clip's first frame: the same clip again paints it at once.
  std::shared_ptr<GstFilter> keptVideo;
  QSize keptVideoSize;
  QImage keptFirstFrame;
  // ---- end of video ----

  // The same clip again, unchanged on disk: the kept decoder is flushed back
  // to its start instead of being built anew.
  // `identity`: the file as RenderFile read it, once for the whole open.
  bool ReuseKept(const std::string& fileName, const std::optional<FileIdentity>& identity);
  void Detach(const std::shared_ptr<GstFilter>& f);
  void ApplyVolume();
  void WaveLevelChanged(double level) override;

  // A segment of the clip as a seek sets it.
  struct Segment {
    gint64 startNs = 0, stopNs = -1;
    double rate = 1.0;
    friend bool operator==(const Segment&, const Segment&) = default;
  };
  // The segment from start to the stop mark at the current rate. While the
  // graph does not run, the seek is only noted (or dropped when the clip
  // already sits at that segment) and made once, when it runs: marks and
  // rate of one key press then cost one accurate seek instead of several.
  HRESULT Seek(REFERENCE_TIME start);
  // Makes a noted seek now; wait: until the clip is cued again.
  HRESULT FlushPendingSeek(bool wait);
  // flush: false only for a seek made after the segment has ended while the
  // graph runs: the new segment then follows the sound still buffered.
  HRESULT SeekNow(const Segment& segment, bool wait, bool flush = true);
  // The decoder has ended the segment: the window is told once the outputs
  // have little of it left to play (kLoopLead), so that its rules decide as
  // late as they can while a loop seek still comes in time.
  void SegmentDone();
  // Window thread, every few ms after SegmentDone: tells the window when
  // the time has come.
  void CheckEnd();
  // How long, in ns as heard, the outputs still play the ended segment.
  gint64 TailLeft();
  // Stops looking for the end (a seek, a stop).
  void ForgetEnd();
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
  // True when the linked audio output fades every cut by itself (our JACK
  // output), with nothing to wait for.
  bool OutputFadesItself() const;
  // True when an end-of-stream message closes the segment of the latest
  // seek rather than one the seek replaced.
  bool EndsCurrentSegment(std::uint32_t messageSeqnum);
  void ResetSegments(std::optional<Segment> cued);
  void Queue(long code, std::intptr_t p1, std::intptr_t p2);

  // --- group start (GroupStart.h): a Run held until its group starts.
  // Every Run, Pause and Stop takes a new ticket, so a hold that was
  // overtaken by another call starts nothing.
  std::uint64_t holdTicket = 0;
  bool heldForGroup = false;
  // The Run starts the clip from a seek rather than resuming it.
  bool startsCued = false;
  void CueForGroup(std::chrono::nanoseconds wait);
  // Starts the pipeline on `baseNs`, or alone: a clip started from a seek
  // on a base time of its own (GroupStart::SoloBase), a resume at once.
  void StartHeld(std::uint64_t ticket, std::optional<std::uint64_t> baseNs);
  // --- end group start

  GstMediaGraph* self;
  GstElement* pipeline = nullptr;
  // The window named clips to cue ahead (CuePool.h).
  bool cueing = false;
  std::atomic<std::uint64_t> generation{1};

  // Window thread only.
  std::vector<std::shared_ptr<GstFilter>> filters;
  std::shared_ptr<GstFilter> defaultAudio;
  // The default output is the silent stand-in for one that failed.
  bool outputSilent = false;
  // The name the sound server shows for the default output: wanted, and the
  // one it was opened with.
  std::string outputName, defaultAudioName;
  // The last audio-only clip's decoder, kept linked to the default output
  // and cued while the graph holds no clip (see ClipCache.h).
  ClipCache<std::shared_ptr<GstFilter>> cache;
  FilterState target = FilterState::State_Stopped;
  bool loaded = false;
  double rate = 1.0;
  REFERENCE_TIME stop = -1, duration = 0, lastPosition = 0;
  // The length was counted from the clip's frames: exact, where the
  // parser's later guesses from the bitrate are not.
  bool lengthCounted = false;
  long volume = 0;
  long videoWidth = 0, videoHeight = 0;
  QPointer<QWidget> owner;
  QPointer<VideoSurface> surface;
  QPointer<QObject> drain;
  bool visible = false;
  QRect windowRect, sourceRect;
  std::shared_ptr<FrameSlot> frames = std::make_shared<FrameSlot>();
  struct QueuedEvent {
    long code;
    std::intptr_t p1, p2;
  };
  std::deque<QueuedEvent> events;
  QPointer<QObject> notifyWindow;
  int notifyMsg = 0;
  std::intptr_t notifyParam = 0;
  long notifyFlags = 0;
  std::string lastError;
  // The last failure in the user's words (FailureReason.h).
  std::string lastReason;
  // The file of the clip being loaded or in the graph.
  std::string fileName;
  int flushingSeeks = 0;
  // The segment the clip is cued at, while it has not run since; unset when
  // unknown.
  std::optional<Segment> cued;
  std::optional<Segment> pendingSeek;
  // The sequence number of the latest seek; invalid while the clip plays
  // its first segment.
  std::uint32_t seekSeqnum = GST_SEQNUM_INVALID;
  // The decoder has played the latest segment to its stop and waits, while
  // the outputs still play what they hold: a seek now follows that sound
  // instead of flushing it.
  bool segmentEnded = false;
  // The window was told of that end.
  bool endTold = false;
  // The latest seek's segment, while it is the one that plays.
  Segment playing;
  std::unique_ptr<QTimer> endTimer;
  QDeadlineTimer endDeadline;
  // After a loop seek, until the outputs have played the old segment out:
  // the position reads the new start meanwhile, as after a flushing seek.
  QDeadlineTimer seam{0};
  std::shared_ptr<SegmentTracker> segments = std::make_shared<SegmentTracker>();
  std::shared_ptr<ProbeState> probe = std::make_shared<ProbeState>();

  // Taken by a streaming thread while it links a stream, and by the window
  // thread while it gives a decoder up; never held while waiting on the
  // pipeline.
  std::mutex linkMutex;
  // Shared with streaming threads, guarded by mutex.
  std::mutex mutex;
  std::vector<std::shared_ptr<GstFilter>> streamLinked;
  // A clip is being loaded: streams it exposes are linked at once.
  bool rendering = false;
  // The decoder of the clip in the graph (loading, loaded or kept): only its
  // streams are linked.
  GstElement* decoder = nullptr;
  std::vector<std::string> linkFailures;
  std::vector<std::shared_ptr<GstFilter>> audioCandidates;
  bool audioTaken = false, videoTaken = false;
  std::vector<std::string> missing;
  bool busError = false;
  bool errorFromOutput = false;
  // The default output reported an error: it is dropped and opened again at
  // the next clip. Set on a streaming thread.
  std::atomic<bool> outputFailed{false};
  std::uint64_t busErrorGeneration = 0;
  GQuark errorDomain = 0;
  int errorCode = 0;
  std::string errorText;
  std::string errorMessage, errorDebug;
  // Factory of the element that posted the error.
  std::string errorElement;
  GstElement* audioVolume = nullptr;
  std::atomic<double> waveLevel{1.0};
};

}  // namespace platform::media
