#include "engine/graph/SegmentPlayer.h"

#include "engine/outputs/OutputSink.h"
#include "engine/stages/GainRamp.h"
#include "engine/stages/Varispeed.h"
#include "engine/timing/GroupStart.h"
#include "engine/timing/SharedClock.h"

#include <algorithm>
#include <thread>

namespace engine {

void SegmentPlayer::Reset() {
  rate_ = 1.0;
  loopAtEnd_.reset();
  stop_ = -1;
  duration_ = 0;
  lastPosition_ = 0;
  target_ = FilterState::State_Stopped;
  flushEveryLoop_ = false;
  probe_->sawBuffer = false;
  continueBase_.reset();
  ResetSegments(std::nullopt);
}

void SegmentPlayer::Loaded(Segment cuedAt, bool asSegment,
                           std::optional<std::int64_t> exactLengthNs) {
  loaded_ = true;
  ResetSegments(cuedAt);
  endsWithStream_ = !asSegment;
  // Opened, a clip is at its start, however it was cued: one cued at its
  // key's marks goes there only when they are set.
  if (cuedAt.startNs != 0 || cuedAt.stopNs != -1) pendingSeek_ = Segment{};
  gint64 length = 0;
  lengthExact_ = exactLengthNs.has_value();
  if (exactLengthNs)
    duration_ = *exactLengthNs / 100;
  else if (gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &length) && length > 0)
    duration_ = length / 100;
}

HRESULT SegmentPlayer::Reused(REFERENCE_TIME length) {
  loaded_ = true;
  // lengthExact_ is still the kept clip's: a clip loaded since would have
  // dropped it.
  duration_ = length;
  ResetSegments(std::nullopt);
  return Seek(0);
}

HRESULT SegmentPlayer::Run() {
  TakeLoop(true);
  target_ = FilterState::State_Running;
  const std::uint64_t ticket = ++holdTicket_;
  heldForGroup_ = false;
  if (!loaded_) return S_OK;
  // A clip the window will loop starts with a segment seek, so that its
  // first end, like every other, is followed by the next pass without a
  // flush and on time (LoopAtEnd), instead of an end-of-stream the window
  // must answer with a flushing seek.
  if (endsWithStream_ && loopAtEnd_ && cued_ && !pendingSeek_ && SeamlessLoops() &&
      !flushEveryLoop_)
    pendingSeek_ = *cued_;
  // Cued at a segment, or about to be: the clip starts from a seek, not a
  // resume (a resume must go on from where the clip paused).
  startsCued_ = cued_.has_value() || pendingSeek_.has_value();
  const HRESULT hr = FlushPendingSeek();
  cued_.reset();  // from here on the position moves
  if (Failed(hr)) return hr;
  // Inside a group's dispatch the start waits for the group's base time.
  if (auto* group = GroupStart::Current()) {
    heldForGroup_ = true;
    group->Hold(
        graph_, [this](std::chrono::nanoseconds wait) { CueForGroup(wait); },
        [this, ticket](std::optional<std::uint64_t> base, std::optional<std::uint64_t> onset) {
          StartHeld(ticket, base, onset);
        });
    return S_OK;
  }
  // A refused change is reported on the bus, and GetState answers with it.
  StartHeld(ticket, std::nullopt);
  return S_OK;
}

void SegmentPlayer::ContinueAt(std::int64_t clipNs, std::uint64_t baseNs) {
  TakeLoop(true);
  if (!loaded_) return;
  Segment segment = pendingSeek_ ? *pendingSeek_ : cued_ ? *cued_ : playing_;
  if (segment.stopNs >= 0 && clipNs >= segment.stopNs) return;
  segment.startNs = clipNs;
  pendingSeek_ = segment;
  lastPosition_ = clipNs / 100;
  // An audio sink writes a start into its ring only once its base time has
  // come: the start is made half the sink's alignment threshold early, so
  // it is written ahead of the sample it is pinned to, while the samples
  // after it still count as following it.
  std::uint64_t early = 20 * GST_MSECOND;
  if (auto audio = LinkedAudio();
      audio && audio->sink &&
      g_object_class_find_property(G_OBJECT_GET_CLASS(audio->sink), "alignment-threshold")) {
    guint64 threshold = 0;
    g_object_get(audio->sink, "alignment-threshold", &threshold, nullptr);
    early = threshold / 2;
  }
  continueBase_ = baseNs > early ? baseNs - early : 0;
  for (auto& f : filters_)
    if (f->role == Role::AudioRenderer && f->InBin()) ContinueVarispeedStart(f->element);
}

HRESULT SegmentPlayer::Pause() {
  TakeLoop(true);
  const bool wasRunning = target_ == FilterState::State_Running;
  target_ = FilterState::State_Paused;
  ++holdTicket_;
  if (!loaded_) return S_OK;
  // An output that fades its cut keeps no sound worth resuming: what it
  // held after the fade would come back at a full-gain edge. The clip is
  // cued again where it was heard, and a resume starts from there, ramped
  // in like any start inside a clip.
  if (wasRunning && !segmentEnded_ && OutputFadesItself()) {
    REFERENCE_TIME at = 0;
    GetPosition(at);
    const HRESULT hr = FlushPendingSeek();
    gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    cued_.reset();
    Seek(at);
    const HRESULT cue = FlushPendingSeek();
    return Failed(hr) ? hr : cue;
  }
  if (segmentEnded_) {
    // The outputs have no buffer of the ended segment to pause on.
    segmentEnded_ = false;
    ForgetEnd();
    REFERENCE_TIME at = 0;
    GetPosition(at);
    cued_.reset();
    Seek(at);
  }
  const HRESULT hr = FlushPendingSeek();
  gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  return hr;
}

HRESULT SegmentPlayer::Stop() {
  // The sound is ramped down before the pipeline pauses. The output's buffer
  // then holds silence, so the clip is cued again where the sound stopped,
  // at the next Pause or Run.
  // At the end of a segment the outputs still play its last sound: it is
  // heard out first, and only what they hold past their position (their
  // own latency, a few milliseconds) is faded.
  TakeLoop(true);
  const bool ended = segmentEnded_;
  continueBase_.reset();
  AwaitTail();
  const bool faded = FadeOutput();
  segmentEnded_ = false;
  ForgetEnd();
  REFERENCE_TIME at = 0;
  if (faded || ended) GetPosition(at);
  // Stopped keeps the clip cued, so the next Run starts at once.
  target_ = FilterState::State_Stopped;
  ++holdTicket_;
  if (loaded_) gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  // An ended segment leaves the outputs without a buffer to pause on; the
  // seek cues them again.
  if (faded || ended) {
    cued_.reset();
    Seek(at);
  }
  return S_OK;
}

SegmentPlayer::Segment SegmentPlayer::SegmentOf(REFERENCE_TIME start, REFERENCE_TIME stop) const {
  if (start < 0) start = 0;
  if (duration_ > 0 && start > duration_) start = duration_;
  Segment segment;
  segment.startNs = start * 100;
  const bool toEnd = stop < 0 || stop >= kPlayToEnd / 100 || (duration_ > 0 && stop >= duration_);
  segment.stopNs = toEnd ? -1 : stop * 100;
  if (segment.stopNs >= 0 && segment.stopNs < segment.startNs) segment.stopNs = segment.startNs;
  segment.rate = rate_;
  return segment;
}

HRESULT SegmentPlayer::Seek(REFERENCE_TIME start) {
  TakeLoop(true);
  const Segment segment = SegmentOf(start, stop_);
  lastPosition_ = segment.startNs / 100;
  if (target_ == FilterState::State_Running) return SeekNow(segment, !segmentEnded_);
  if (cued_ && *cued_ == segment)
    pendingSeek_.reset();
  else
    pendingSeek_ = segment;
  return S_OK;
}

HRESULT SegmentPlayer::FlushPendingSeek() {
  if (!pendingSeek_) return S_OK;
  const Segment segment = *pendingSeek_;
  pendingSeek_.reset();
  return SeekNow(segment);
}

bool SegmentPlayer::NoteRate(double rate) {
  TakeLoop(true);
  const bool same = rate == rate_;
  rate_ = rate;
  // A loop armed at the old rate would be read wrong: the watch reads the
  // new one.
  if (!same) WatchForLoop();
  return loaded_ && !(same && target_ == FilterState::State_Running);
}

HRESULT SegmentPlayer::ApplyRate() {
  if (RateChangesInPlace()) {
    // The renderers resample from their next buffer on; the decoder's
    // segment keeps its rate, which nothing but them reads. The next seek
    // carries the new rate.
    for (auto& f : filters_)
      if (f->role == Role::AudioRenderer && f->InBin()) SetVarispeedRate(f->element, rate_);
    return S_OK;
  }
  REFERENCE_TIME position;
  GetPosition(position);
  return Seek(position);
}

HRESULT SegmentPlayer::Relinked() {
  TakeLoop(true);
  cued_.reset();  // the new renderer has no data yet
  if (loaded_) return Seek(lastPosition_);
  return S_OK;
}

void SegmentPlayer::NotePosition() {
  gint64 position;
  if (loaded_ && gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position))
    lastPosition_ = position / 100;
}

HRESULT SegmentPlayer::GetPosition(REFERENCE_TIME& position) {
  if (!loaded_) return E_NOTIMPL;
  // The clip will start there. A decoder taken over cued may not yet have
  // told the outputs its segment, and would answer 0.
  if (pendingSeek_ || !seam_.hasExpired() || (cued_ && target_ != FilterState::State_Running)) {
    position = lastPosition_;
    return S_OK;
  }
  if (segmentEnded_ && endTold_) {
    // The window was told of the end while the outputs play its last few
    // milliseconds: for it, the clip is there.
    const gint64 end = playing_.stopNs >= 0 ? playing_.stopNs : duration_ * 100;
    if (end > 0) {
      position = lastPosition_ = end / 100;
      return S_OK;
    }
  }
  gint64 ns = 0;
  GstElement* sink = PositionSink();
  if (((sink != nullptr && gst_element_query_position(sink, GST_FORMAT_TIME, &ns)) ||
       gst_element_query_position(pipeline_, GST_FORMAT_TIME, &ns)) &&
      ns >= 0)
    lastPosition_ = ns / 100;
  position = lastPosition_;
  return S_OK;
}

namespace {

guint32 ChildrenCookie(GstBin* bin) {
  GST_OBJECT_LOCK(bin);
  const guint32 cookie = bin->children_cookie;
  GST_OBJECT_UNLOCK(bin);
  return cookie;
}

// The bin's sink children, as its own position query asks them.
std::vector<GstElement*> SinksOf(GstBin* bin) {
  std::vector<GstElement*> sinks;
  GstIterator* it = gst_bin_iterate_sinks(bin);
  GValue item = G_VALUE_INIT;
  for (GstIteratorResult r = gst_iterator_next(it, &item); r != GST_ITERATOR_DONE;
       r = gst_iterator_next(it, &item)) {
    if (r == GST_ITERATOR_RESYNC) {
      sinks.clear();
      gst_iterator_resync(it);
      continue;
    }
    if (r == GST_ITERATOR_ERROR) {
      sinks.clear();
      break;
    }
    // Not referenced: the cookies tell when a child leaves.
    sinks.push_back(GST_ELEMENT(g_value_get_object(&item)));
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return sinks;
}

}  // namespace

GstElement* SegmentPlayer::PositionSink() {
  PositionSource& s = positionSource_;
  if (s.known && ChildrenCookie(GST_BIN(pipeline_)) == s.pipelineCookie &&
      (s.bin == nullptr || ChildrenCookie(s.bin) == s.binCookie))
    return s.sink;
  s = {};
  s.known = true;
  s.pipelineCookie = ChildrenCookie(GST_BIN(pipeline_));
  const std::vector<GstElement*> sinks = SinksOf(GST_BIN(pipeline_));
  if (sinks.size() != 1) return nullptr;
  if (!GST_IS_BIN(sinks.front())) return s.sink = sinks.front();
  auto* bin = GST_BIN(sinks.front());
  const guint32 binCookie = ChildrenCookie(bin);
  const std::vector<GstElement*> inner = SinksOf(bin);
  if (inner.size() != 1 || GST_IS_BIN(inner.front())) return nullptr;
  s.bin = bin;
  s.binCookie = binCookie;
  return s.sink = inner.front();
}

HRESULT SegmentPlayer::GetDuration(REFERENCE_TIME& duration) {
  if (!loaded_) return E_NOTIMPL;
  if (duration_ == 0) {
    gint64 ns = 0;
    if (gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &ns) && ns > 0) duration_ = ns / 100;
  }
  duration = duration_;
  return S_OK;
}

void SegmentPlayer::LengthChanged() {
  gint64 ns = 0;
  if (loaded_ && !lengthExact_ && gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &ns) &&
      ns > 0)
    duration_ = ns / 100;
}

bool SegmentPlayer::RunsFromFirstFrame() const {
  if (pendingSeek_) return pendingSeek_->startNs == 0;
  return cued_ && cued_->startNs == 0;
}

std::shared_ptr<GstFilter> SegmentPlayer::LinkedAudio() const {
  for (auto& f : filters_)
    if (f->role == Role::AudioRenderer && f->InBin() && f->IsLinked()) return f;
  return nullptr;
}

bool SegmentPlayer::OutputFadesItself() const {
  auto audio = LinkedAudio();
  return audio && audio->sink && IsOwnOutput(audio->sink) && FadesEnabled();
}

bool SegmentPlayer::FadeOutput() {
  if (!loaded_ || target_ != FilterState::State_Running) return false;
  if (OutputFadesItself()) return true;
  auto audio = LinkedAudio();
  if (!audio || !audio->sink) return false;
  auto fade = FadeOutSink(audio->sink);
  if (!fade) return false;
  AwaitFade(*fade);
  return true;
}

void SegmentPlayer::SegmentDone() {
  TakeLoop();
  if (target_ != FilterState::State_Running || segmentEnded_) return;
  segmentEnded_ = true;
  endTold_ = false;
  WatchForLoop();
  // A position that stalls must not keep the end from the window.
  endDeadline_.setRemainingTime(std::chrono::seconds(2));
  if (!endTimer_) {
    endTimer_ = std::make_unique<QTimer>();
    endTimer_->setTimerType(Qt::PreciseTimer);
    endTimer_->setInterval(2);
    QObject::connect(endTimer_.get(), &QTimer::timeout, graph_, [this] { CheckEnd(); });
  }
  endTimer_->start();
  CheckEnd();
}

gint64 SegmentPlayer::TailLeft() {
  const gint64 end = playing_.stopNs >= 0 ? playing_.stopNs : duration_ * 100;
  gint64 position = 0;
  if (end <= 0 || !gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position)) return 0;
  return std::max<gint64>(0, gint64(double(end - position) / rate_));
}

void SegmentPlayer::CheckEnd() {
  if (!segmentEnded_ || endTold_ || target_ != FilterState::State_Running) {
    ForgetEnd();
    return;
  }
  if (TailLeft() > std::chrono::nanoseconds(kLoopLead).count() && !endDeadline_.hasExpired())
    return;
  endTimer_->stop();
  // The watch got there first: its loop is taken in when it tells us.
  if (watch_ && !watch_->Claim()) return;
  endTold_ = true;
  notices_.Queue(EC_COMPLETE, 0, 0);
  // Posted after the notice, so it comes once the window has handled it:
  // with no seek made for a loop, the sound held back for a crossfade is
  // played out, ramped down.
  const std::uint64_t now = generation_.load();
  QMetaObject::invokeMethod(
      graph_,
      [this, now] {
        if (generation_.load() != now || !segmentEnded_) return;
        ReleaseTails();
      },
      Qt::QueuedConnection);
}

void SegmentPlayer::ForgetEnd() {
  if (endTimer_) endTimer_->stop();
  if (watch_) watch_->Disarm();
}

void SegmentPlayer::LoopAtEnd(std::optional<std::pair<REFERENCE_TIME, REFERENCE_TIME>> loop) {
  TakeLoop();
  loopAtEnd_ = loop;
  WatchForLoop();
}

void SegmentPlayer::WatchForLoop() {
  // Only a segment's end can be followed without a gap (SeamlessLoops).
  if (!loopAtEnd_ || !segmentEnded_ || endTold_ || !loaded_ ||
      target_ != FilterState::State_Running || !SeamlessLoops() || flushEveryLoop_) {
    if (watch_) watch_->Disarm();
    return;
  }
  if (!watch_)
    watch_ = std::make_unique<LoopWatch>(pipeline_, [this] {
      // Told on the watch's thread; taken in on the window's.
      QMetaObject::invokeMethod(graph_, [this] { TakeLoop(); }, Qt::QueuedConnection);
    });
  watchedLoop_ = SegmentOf(loopAtEnd_->first, loopAtEnd_->second);
  const gint64 end = playing_.stopNs >= 0 ? playing_.stopNs : duration_ * 100;
  if (end <= 0) {
    watch_->Disarm();
    return;
  }
  // Runs on the watch's thread: only the seek, which the pipeline must
  // have at once; the rest of what SeekNow does waits for TakeLoop.
  const Segment segment = watchedLoop_;
  watch_->Arm(end, rate_, [this, segment] { return SendSeek(segment, false); });
}

void SegmentPlayer::TakeLoop(bool stopWatching) {
  if (!watch_) return;
  if (stopWatching) watch_->Disarm();
  const auto fired = watch_->TakeFired();
  if (!fired) return;
  if (endTimer_) endTimer_->stop();
  if (!fired->sent) {
    // Refused: the window answers the end itself, as without a loop asked
    // ahead.
    cued_.reset();
    seekRefused_ = true;
    endTold_ = true;
    notices_.Queue(EC_COMPLETE, 0, 0);
    return;
  }
  seam_.setRemainingTime(std::chrono::nanoseconds(TailLeft()));
  segmentEnded_ = false;
  endTold_ = false;
  pendingSeek_.reset();
  playing_ = watchedLoop_;
  cued_ = watchedLoop_;
  lastPosition_ = watchedLoop_.startNs / 100;
  seekSeqnum_ = fired->seqnum;
  notices_.Clear();
  notices_.Queue(EC_LOOPED, 0, 0);
}

void SegmentPlayer::ReleaseTails() {
  for (auto& f : filters_)
    if (f->role == Role::AudioRenderer && f->InBin()) ReleaseVarispeedTail(f->element);
}

bool SegmentPlayer::AwaitTail() {
  if (!segmentEnded_ || !loaded_ || target_ != FilterState::State_Running) return false;
  ReleaseTails();
  // The held ramp is still to come after the position reaches the end.
  const QDeadlineTimer deadline(kLoopLead + std::chrono::milliseconds(20));
  while (TailLeft() > 0 && !deadline.hasExpired())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::duration<double>(kRampSeconds * 2));
  return !deadline.hasExpired();
}

bool SegmentPlayer::RateChangesInPlace() const {
  if (!SeamlessLoops() || !loaded_ || target_ != FilterState::State_Running || pendingSeek_)
    return false;
  bool audio = false;
  for (auto& f : filters_) {
    if (f->role == Role::Source || !f->InBin()) continue;
    if (f->role != Role::AudioRenderer) return false;
    audio = audio || f->IsLinked();
  }
  return audio;
}

HRESULT SegmentPlayer::SeekNow(const Segment& segment, bool flush) {
  pendingSeek_.reset();
  endsWithStream_ = false;
  if (!SeamlessLoops() || flushEveryLoop_) flush = true;
  seam_.setRemainingTime(std::chrono::nanoseconds(flush ? 0 : TailLeft()));
  segmentEnded_ = false;
  ForgetEnd();
  playing_ = segment;
  notices_.Clear();
  if (flush) {
    FadeOutput();
    probe_->sawBuffer = false;
    ++flushingSeeks_;
  }
  const LoopWatch::Fired sent = SendSeek(segment, flush);
  seekSeqnum_ = sent.seqnum;
  if (!sent.sent) {
    cued_.reset();
    seekRefused_ = true;
    return E_FAIL;
  }
  cued_ = segment;
  return S_OK;
}

LoopWatch::Fired SegmentPlayer::SendSeek(const Segment& segment, bool flush) {
  ++generation_;
  // A segment seek ends with a segment-done instead of an end-of-stream:
  // the outputs keep playing what they hold, so a seek that comes in time
  // (a loop) is heard right after it.
  int flags = GST_SEEK_FLAG_ACCURATE;
  if (flush) flags |= GST_SEEK_FLAG_FLUSH;
  if (SeamlessLoops()) flags |= GST_SEEK_FLAG_SEGMENT;
  GstEvent* seek =
      gst_event_new_seek(segment.rate, GST_FORMAT_TIME, GstSeekFlags(flags), GST_SEEK_TYPE_SET,
                         segment.startNs, GST_SEEK_TYPE_SET, segment.stopNs);
  {
    std::lock_guard lock(segments_->mutex);
    segments_->ends.clear();
  }
  LoopWatch::Fired sent;
  sent.seqnum = gst_event_get_seqnum(seek);
  sent.sent = gst_element_send_event(pipeline_, seek);
  return sent;
}

bool SegmentPlayer::EndsCurrentSegment(std::uint32_t messageSeqnum) {
  TakeLoop();
  if (seekSeqnum_ == GST_SEQNUM_INVALID || messageSeqnum == seekSeqnum_) return true;
  std::lock_guard lock(segments_->mutex);
  const auto it = segments_->ends.find(messageSeqnum);
  return it != segments_->ends.end() &&
         (it->second.flush == seekSeqnum_ || it->second.segment == seekSeqnum_);
}

void SegmentPlayer::ResetSegments(std::optional<Segment> cuedAt) {
  // A loop the watch made for the clip before is forgotten with it.
  if (watch_) watch_->TakeFired();
  cued_ = cuedAt;
  pendingSeek_.reset();
  segmentEnded_ = false;
  ForgetEnd();
  playing_ = cuedAt.value_or(Segment{});
  seekSeqnum_ = GST_SEQNUM_INVALID;
  std::lock_guard lock(segments_->mutex);
  segments_->ends.clear();
}

// Runs inside the group's dispatch, on the window thread.
void SegmentPlayer::CueForGroup(std::chrono::nanoseconds wait) {
  // The clip's first buffer must be at the output before the base time is
  // chosen; a failure comes on the bus like any other. One that is not cued
  // within the group's budget starts late rather than hold every key.
  gst_element_get_state(pipeline_, nullptr, nullptr, static_cast<GstClockTime>(wait.count()));
}

void SegmentPlayer::StartHeld(std::uint64_t ticket, std::optional<std::uint64_t> baseNs,
                              std::optional<std::uint64_t> onsetNs) {
  if (ticket != holdTicket_ || target_ != FilterState::State_Running || !loaded_) return;
  heldForGroup_ = false;
  // A start that goes on from a head keeps the head's time, in a group too,
  // once its clip is cued, if that time has not passed meanwhile: a graph
  // too late for it starts as any other, and the output ramps its sound in
  // where the head ended.
  if (const auto base = std::exchange(continueBase_, std::nullopt)) {
    if (startsCued_) CueForGroup(GroupStart::kCueBudget);
    GstClock* clock = ObtainSharedClock();
    if (clock != nullptr && *base > gst_clock_get_time(clock)) baseNs = base;
    if (clock != nullptr) gst_object_unref(clock);
    if (!baseNs) baseNs = GroupStart::SoloBase();
  }
  // Every start says whether it is placed, so that a placed one never
  // holds back the next.
  std::uint64_t ahead = 0;
  if (auto audio = LinkedAudio(); audio && audio->sink)
    ahead = PlaceNextStart(audio->sink, onsetNs.value_or(0));
  if (baseNs && ahead > 0 && *baseNs > ahead) *baseNs -= ahead;
  if (!baseNs && startsCued_) {
    // The base time is chosen once the clip is cued: chosen before, it
    // could pass while the decoder still seeks, and the output would drop
    // the clip's beginning as late.
    CueForGroup(GroupStart::kCueBudget);
    baseNs = GroupStart::SoloBase();
  }
  if (!baseNs) {
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    return;
  }
  // An unset start time keeps the pipeline from choosing a base time of its
  // own when it goes to playing.
  gst_element_set_start_time(pipeline_, GST_CLOCK_TIME_NONE);
  gst_element_set_base_time(pipeline_, *baseNs);
  gst_element_set_state(pipeline_, GST_STATE_PLAYING);
  gst_element_get_state(pipeline_, nullptr, nullptr, 20 * GST_MSECOND);
  // Set again once it plays, so that a pause keeps the running time for the
  // resume and a flushing seek (a loop, a new start mark) gets a fresh base
  // time, as after any other start.
  gst_element_set_start_time(pipeline_, 0);
}

}  // namespace engine
