#include "engine/graph/GstMediaGraph.h"

#include "engine/cue/CuePool.h"
#include "engine/timing/GroupStart.h"
#include "engine/graph/GstGraphImpl.h"
#include "engine/GstInternal.h"
#include "engine/stages/Varispeed.h"
#include "engine/video/VideoSurface.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>

namespace platform::media {

GstMediaGraph::GstMediaGraph() : d_(std::make_unique<Impl>(this)) {}

GstMediaGraph::~GstMediaGraph() {
  if (d_->cueing) CuePool::Instance().Forget(this);
}

void GstMediaGraph::CueClips(const std::vector<ClipToCue>& clips) {
  d_->cueing = true;
  CuePool::Instance().Want(this, clips);
}

std::string GstMediaGraph::DefaultAudioSinkName() {
  return platform::media::DefaultAudioSinkName();
}

HRESULT GstMediaGraph::RenderFile(const std::string& fileName) {
  d_->SettlePending();
  if (d_->loading) {
    const auto identity = FileIdentity::Of(fileName);
    if (d_->loading->fileName == fileName && identity && d_->loading->identity == identity) {
      d_->lastReason.clear();
      return d_->ContinueLoading();
    }
    d_->CancelLoading();
  }
  if (d_->Source()) {
    d_->lastError = d_->lastReason = "the graph already holds a clip";
    return E_UNEXPECTED;
  }
  if (!g_file_test(fileName.c_str(), G_FILE_TEST_IS_REGULAR)) {
    d_->lastError = "no such file: " + fileName;
    d_->lastReason = "there is no file of that name";
    return E_FILE_NOT_FOUND;
  }
  // Who the file is now, before anything reads it: a file rewritten while
  // it is being loaded is then not taken for the one loaded.
  const auto identity = FileIdentity::Of(fileName);

  ++d_->generation;
  d_->events.clear();
  d_->lastError.clear();
  d_->lastReason.clear();
  d_->fileName = fileName;
  d_->rate = 1.0;
  d_->stop = -1;
  d_->duration = 0;
  d_->lastPosition = 0;
  d_->volume = 0;
  d_->videoWidth = d_->videoHeight = 0;
  d_->target = FilterState::State_Stopped;
  d_->probe->sawBuffer = false;
  d_->frames->Clear();
  d_->ResetSegments(std::nullopt);
  // Renamed, failed, or silent in place of one that failed: the output is
  // opened again.
  if (d_->defaultAudio && (d_->defaultAudioName != d_->outputName || d_->outputFailed ||
                           (d_->outputSilent && HasRealAudioOutput()))) {
    d_->DropKept();
    d_->SettlePending();
    if (!d_->defaultAudio->InBin() &&
        std::find(d_->filters.begin(), d_->filters.end(), d_->defaultAudio) == d_->filters.end())
      d_->defaultAudio.reset();
  }
  if (d_->ReuseKept(fileName, identity)) return S_OK;
  d_->DropKept();

  // A clip cued ahead for this window (CuePool.h) is taken over as it is;
  // any other is opened now.
  std::optional<CuePool::Taken> cued;
  if (d_->cueing) cued = CuePool::Instance().Take(fileName, identity);
  GstElement* decoder = cued ? cued->Decoder : nullptr;
  if (!cued) {
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(fileName.c_str(), &error);
    if (uri == nullptr) {
      d_->lastError = error ? error->message : "bad file name";
      d_->lastReason = "the file's name can't be used";
      g_clear_error(&error);
      return E_FILE_NOT_FOUND;
    }
    decoder = gst_element_factory_make("uridecodebin", nullptr);
    if (decoder == nullptr) {
      g_free(uri);
      d_->lastError = "GStreamer element uridecodebin (gstreamer1.0-plugins-base)";
      d_->lastReason = "the media framework's decoders are not installed";
      return VFW_E_UNSUPPORTED_STREAM;
    }
    g_object_set(decoder, "uri", uri, nullptr);
    g_free(uri);
  }

  // The default output is opened once and kept, so a new clip does not
  // reconnect to the sound server.
  if (!d_->defaultAudio) {
    d_->defaultAudio = d_->OpenDefaultOutput();
    d_->defaultAudioName = d_->outputName;
  }
  {
    std::lock_guard lock(d_->mutex);
    d_->missing.clear();
    d_->busError = false;
    d_->errorFromOutput = false;
    d_->streamLinked.clear();
    d_->linkFailures.clear();
    d_->rendering = true;
    d_->decoder = decoder;
    d_->audioCandidates.clear();
    d_->audioTaken = d_->videoTaken = false;
    for (auto& f : d_->filters)
      if (f->role == Role::AudioRenderer && !f->InBin()) d_->audioCandidates.push_back(f);
    if (d_->defaultAudio && !d_->defaultAudio->InBin() &&
        std::find(d_->filters.begin(), d_->filters.end(), d_->defaultAudio) == d_->filters.end())
      d_->audioCandidates.push_back(d_->defaultAudio);
  }

  auto source = std::make_shared<GstFilter>(Role::Source, decoder, fileName, this);
  g_signal_connect(decoder, "pad-added", G_CALLBACK(&Impl::OnPadAdded), d_.get());
  // A cued decoder is paused at its segment. The pipeline's own way up to
  // paused (at a window's first clip) would take it down to ready on the
  // way, which starts it again from the clip's beginning.
  if (cued) gst_element_set_locked_state(decoder, TRUE);
  gst_bin_add(GST_BIN(d_->pipeline), decoder);
  d_->loading = Impl::Loading{fileName,
                              identity,
                              source,
                              d_->filters,
                              QDeadlineTimer(kPrerollTimeout),
                              QDeadlineTimer(kFirstStreamTimeout)};
  if (cued) {
    d_->loading->cuedStartNs = cued->StartNs;
    d_->loading->cuedStopNs = cued->StopNs;
  }
  gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
  if (cued) gst_element_set_locked_state(decoder, FALSE);
  if (cued) {
    // Its streams are all there, each holding its first buffer: linked as
    // a new decoder's would be as they came, then let go.
    for (auto& pad : cued->Pads) Impl::OnPadAdded(decoder, pad.Pad, d_.get());
    CuePool::Release(*cued);
    gst_object_unref(decoder);
  }
  return d_->ContinueLoading();
}

HRESULT GstMediaGraph::AddFilter(const std::shared_ptr<IBaseFilter>& filter,
                                 const std::string* name) {
  d_->CancelLoading();
  auto f = std::dynamic_pointer_cast<GstFilter>(filter);
  if (!f || f->graph != this) return E_INVALIDARG;
  if (std::find(d_->filters.begin(), d_->filters.end(), f) != d_->filters.end()) return S_FALSE;
  if (name) f->name = *name;
  d_->filters.push_back(f);
  return S_OK;
}

HRESULT GstMediaGraph::RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) {
  // The graph changes under a clip still loading: it is given up.
  d_->CancelLoading();
  auto f = std::dynamic_pointer_cast<GstFilter>(filter);
  auto it = std::find(d_->filters.begin(), d_->filters.end(), f);
  if (!f || it == d_->filters.end()) return E_INVALIDARG;
  if (d_->loaded) {
    gint64 position;
    if (gst_element_query_position(d_->pipeline, GST_FORMAT_TIME, &position))
      d_->lastPosition = position / 100;
  }
  d_->filters.erase(it);
  d_->cache.SetDuration(d_->duration);
  if (f == d_->defaultAudio && d_->loaded &&
      d_->cache.OutputRemoved(d_->OnlyDefaultAudioLinked())) {
    // Held back: when the source follows, the whole chain is kept for the
    // same file coming again.
    std::lock_guard lock(d_->mutex);
    if (d_->audioVolume == f->volume) d_->audioVolume = nullptr;
    return S_OK;
  }
  if (f->role == Role::VideoRenderer && d_->loaded && d_->HoldVideoRenderer(f)) return S_OK;
  if (f->role == Role::Source && d_->cache.SourceRemoved(f)) {
    ++d_->generation;
    d_->events.clear();
    if (d_->target == FilterState::State_Running)
      gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
    d_->loaded = false;
    return S_OK;
  }
  d_->SettlePending();
  d_->Detach(f);
  return S_OK;
}

HRESULT GstMediaGraph::EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>& filters) {
  filters.clear();
  for (Role role : {Role::AudioRenderer, Role::VideoRenderer, Role::NullRenderer, Role::Source})
    for (auto& f : d_->filters)
      if (f->role == role) filters.push_back(f);
  return S_OK;
}

HRESULT GstMediaGraph::Connect(const std::shared_ptr<IPin>& output,
                               const std::shared_ptr<IPin>& input) {
  auto out = std::dynamic_pointer_cast<GstPinRef>(output);
  auto in = std::dynamic_pointer_cast<GstPinRef>(input);
  if (!out || !in || !GST_PAD_IS_SRC(out->Pad()) || !GST_PAD_IS_SINK(in->Pad()))
    return E_INVALIDARG;
  d_->SettlePending();
  std::shared_ptr<GstFilter> target;
  GstObject* parent = gst_pad_get_parent(in->Pad());
  for (auto& f : d_->filters)
    if (GST_OBJECT(f->element) == parent) target = f;
  if (parent) gst_object_unref(parent);
  if (!target) return E_INVALIDARG;
  if (!target->InBin()) {
    gst_bin_add(GST_BIN(d_->pipeline), target->element);
    Impl::Unpark(*target, in->Pad());
  }
  if (gst_pad_link(out->Pad(), in->Pad()) != GST_PAD_LINK_OK) {
    d_->lastError = "the two pins do not fit together";
    return MakeResult(0x80040217);
  }
  gst_element_sync_state_with_parent(target->element);
  d_->cued.reset();  // the new renderer has no data yet
  if (target->role == Role::AudioRenderer) {
    std::lock_guard lock(d_->mutex);
    d_->audioVolume = target->volume;
  }
  d_->ApplyVolume();
  // The stream stopped when its old renderer went; restart it where it was.
  if (d_->loaded) return d_->Seek(d_->lastPosition);
  return S_OK;
}

HRESULT GstMediaGraph::CreateFilter(const Guid& classId, std::shared_ptr<IBaseFilter>& filter) {
  filter.reset();
  if (classId == kClassNullRenderer) {
    filter = d_->MakeNullRenderer();
  } else if (GstElement* sink = CreateAudioDeviceSink(classId.ToString(), d_->outputName)) {
    filter = d_->MakeAudioRenderer(sink, "Audio Renderer");
  } else {
    return REGDB_E_CLASSNOTREG;
  }
  return filter ? S_OK : E_OUTOFMEMORY;
}

HRESULT GstMediaGraph::SetOutputName(const std::string& name) {
  d_->outputName = name;
  return S_OK;
}

std::string GstMediaGraph::LastErrorDetail() const {
  return d_->lastError;
}

std::string GstMediaGraph::LastErrorReason() const {
  return d_->lastReason;
}

HRESULT GstMediaGraph::Run() {
  d_->SettlePending();
  d_->target = FilterState::State_Running;
  const std::uint64_t ticket = ++d_->holdTicket;
  d_->heldForGroup = false;
  if (!d_->loaded) return S_OK;
  // Cued at a segment, or about to be: the clip starts from a seek, not a
  // resume (a resume must go on from where the clip paused).
  d_->startsCued = d_->cued.has_value() || d_->pendingSeek.has_value();
  const HRESULT hr = d_->FlushPendingSeek(false);
  d_->cued.reset();  // from here on the position moves
  if (Failed(hr)) return hr;
  // Inside a group's dispatch the start waits for the group's base time.
  if (auto* group = GroupStart::Current()) {
    d_->heldForGroup = true;
    Impl* d = d_.get();
    group->Hold(
        this, [d](std::chrono::nanoseconds wait) { d->CueForGroup(wait); },
        [d, ticket](std::optional<std::uint64_t> base) { d->StartHeld(ticket, base); });
    return S_OK;
  }
  // A refused change is reported on the bus, and GetState answers with it.
  d_->StartHeld(ticket, std::nullopt);
  return S_OK;
}

HRESULT GstMediaGraph::Pause() {
  d_->SettlePending();
  const bool wasRunning = d_->target == FilterState::State_Running;
  d_->target = FilterState::State_Paused;
  ++d_->holdTicket;
  if (!d_->loaded) return S_OK;
  // An output that fades its cut keeps no sound worth resuming: what it
  // held after the fade would come back at a full-gain edge. The clip is
  // cued again where it was heard, and a resume starts from there, ramped
  // in like any start inside a clip.
  if (wasRunning && !d_->segmentEnded && d_->OutputFadesItself()) {
    REFERENCE_TIME at = 0;
    GetCurrentPosition(at);
    const HRESULT hr = d_->FlushPendingSeek(false);
    gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
    d_->cued.reset();
    d_->Seek(at);
    const HRESULT cue = d_->FlushPendingSeek(false);
    return Failed(hr) ? hr : cue;
  }
  if (d_->segmentEnded) {
    // The outputs have no buffer of the ended segment to pause on.
    d_->segmentEnded = false;
    d_->ForgetEnd();
    REFERENCE_TIME at = 0;
    GetCurrentPosition(at);
    d_->cued.reset();
    d_->Seek(at);
  }
  const HRESULT hr = d_->FlushPendingSeek(false);
  gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
  return hr;
}

HRESULT GstMediaGraph::Stop() {
  // The sound is ramped down before the pipeline pauses. The output's buffer
  // then holds silence, so the clip is cued again where the sound stopped,
  // at the next Pause or Run.
  // At the end of a segment the outputs still play its last sound: it is
  // heard out first, and only what they hold past their position (their
  // own latency, a few milliseconds) is faded.
  const bool ended = d_->segmentEnded;
  d_->AwaitTail();
  const bool faded = d_->FadeOutput();
  d_->segmentEnded = false;
  d_->ForgetEnd();
  REFERENCE_TIME at = 0;
  if (faded || ended) GetCurrentPosition(at);
  // Stopped keeps the clip cued, so the next Run starts at once.
  d_->target = FilterState::State_Stopped;
  ++d_->holdTicket;
  if (d_->loaded) gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
  // An ended segment leaves the outputs without a buffer to pause on; the
  // seek cues them again.
  if (faded || ended) {
    d_->cued.reset();
    d_->Seek(at);
  }
  return S_OK;
}

HRESULT GstMediaGraph::GetState(long timeoutMs, FilterState& state) {
  if (!d_->loaded || d_->target == FilterState::State_Stopped) {
    state = d_->target;
    return S_OK;
  }
  // Held for its group's start: it counts as running from Run on.
  if (d_->heldForGroup && d_->target == FilterState::State_Running) {
    state = FilterState::State_Running;
    return S_OK;
  }
  GstState current = GST_STATE_NULL, pending;
  const auto ret = gst_element_get_state(d_->pipeline, &current, &pending,
                                         std::max(0L, timeoutMs) * GST_MSECOND);
  state = current == GST_STATE_PLAYING  ? FilterState::State_Running
          : current == GST_STATE_PAUSED ? FilterState::State_Paused
                                        : FilterState::State_Stopped;
  if (d_->ErrorInThisClip() || ret == GST_STATE_CHANGE_FAILURE) {
    d_->ErrorResult();
    return E_FAIL;
  }
  return ret == GST_STATE_CHANGE_ASYNC ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT GstMediaGraph::GetDuration(REFERENCE_TIME& duration) {
  if (!d_->loaded) return E_NOTIMPL;
  if (d_->duration == 0) {
    gint64 ns = 0;
    if (gst_element_query_duration(d_->pipeline, GST_FORMAT_TIME, &ns) && ns > 0)
      d_->duration = ns / 100;
  }
  duration = d_->duration;
  return S_OK;
}

HRESULT GstMediaGraph::GetCurrentPosition(REFERENCE_TIME& position) {
  if (!d_->loaded) return E_NOTIMPL;
  // The clip will start there. A decoder taken over cued may not yet have
  // told the outputs its segment, and would answer 0.
  if (d_->pendingSeek || !d_->seam.hasExpired() ||
      (d_->cued && d_->target != FilterState::State_Running)) {
    position = d_->lastPosition;
    return S_OK;
  }
  if (d_->segmentEnded && d_->endTold) {
    // The window was told of the end while the outputs play its last few
    // milliseconds: for it, the clip is there.
    const gint64 end = d_->playing.stopNs >= 0 ? d_->playing.stopNs : d_->duration * 100;
    if (end > 0) {
      position = d_->lastPosition = end / 100;
      return S_OK;
    }
  }
  gint64 ns = 0;
  if (gst_element_query_position(d_->pipeline, GST_FORMAT_TIME, &ns) && ns >= 0)
    d_->lastPosition = ns / 100;
  position = d_->lastPosition;
  return S_OK;
}

HRESULT GstMediaGraph::SetPositions(const REFERENCE_TIME* current, unsigned currentFlags,
                                    const REFERENCE_TIME* stop, unsigned stopFlags) {
  if (!d_->loaded) return E_NOTIMPL;
  const bool setCurrent = currentFlags & AM_SEEKING_AbsolutePositioning;
  const bool setStop = stopFlags & AM_SEEKING_AbsolutePositioning;
  if ((setCurrent && current == nullptr) || (setStop && stop == nullptr)) return E_POINTER;
  d_->SettlePending();
  REFERENCE_TIME start;
  if (setCurrent)
    start = *current;
  else
    GetCurrentPosition(start);
  if (setStop) d_->stop = *stop;
  return d_->Seek(start);
}

HRESULT GstMediaGraph::GetRate(double& rate) {
  rate = d_->rate;
  return S_OK;
}

HRESULT GstMediaGraph::SetRate(double rate) {
  if (!(rate > 0.0) || !std::isfinite(rate)) return E_INVALIDARG;
  const bool same = rate == d_->rate;
  d_->rate = rate;
  if (!d_->loaded || (same && d_->target == FilterState::State_Running)) return S_OK;
  d_->SettlePending();
  if (d_->RateChangesInPlace()) {
    // The renderers resample from their next buffer on; the decoder's
    // segment keeps its rate, which nothing but them reads. The next seek
    // carries the new rate.
    for (auto& f : d_->filters)
      if (f->role == Role::AudioRenderer && f->InBin()) SetVarispeedRate(f->element, rate);
    return S_OK;
  }
  REFERENCE_TIME position;
  GetCurrentPosition(position);
  return d_->Seek(position);
}

HRESULT GstMediaGraph::IsFormatSupported(const Guid& format) {
  return format == kTimeFormatMediaTime ? S_OK : S_FALSE;
}

HRESULT GstMediaGraph::IsUsingTimeFormat(const Guid& format) {
  return format == kTimeFormatMediaTime ? S_OK : S_FALSE;
}

HRESULT GstMediaGraph::GetTimeFormat(Guid& format) {
  format = kTimeFormatMediaTime;
  return S_OK;
}

HRESULT GstMediaGraph::SetTimeFormat(const Guid& format) {
  return format == kTimeFormatMediaTime ? S_OK : E_INVALIDARG;
}

HRESULT GstMediaGraph::get_Volume(long& volume) {
  if (!d_->Linked(Role::AudioRenderer)) return E_NOTIMPL;
  volume = d_->volume;
  return S_OK;
}

HRESULT GstMediaGraph::put_Volume(long volume) {
  if (volume > 0 || volume < -10000) return E_INVALIDARG;
  if (!d_->Linked(Role::AudioRenderer)) return E_NOTIMPL;
  d_->volume = volume;
  d_->ApplyVolume();
  return S_OK;
}

HRESULT GstMediaGraph::put_Owner(QWidget* owner) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  if (owner == nullptr) {
    delete d_->surface.data();
    d_->owner = nullptr;
    return S_OK;
  }
  d_->owner = owner;
  if (!d_->surface) {
    d_->surface = new VideoSurface(owner, d_->frames);
  } else if (d_->surface->parentWidget() != owner) {
    d_->surface->setParent(owner);
  }
  d_->surface->setGeometry(d_->windowRect);
  d_->surface->SetDrain(d_->drain);
  d_->surface->SetSourceRect(d_->sourceRect);
  d_->surface->setVisible(d_->visible);
  return S_OK;
}

HRESULT GstMediaGraph::get_Owner(QWidget*& owner) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  owner = d_->owner;
  return S_OK;
}

HRESULT GstMediaGraph::put_WindowStyle(long) {
  // The picture is always a child of its owner, clipped to it.
  return d_->Linked(Role::VideoRenderer) ? S_OK : E_NOINTERFACE;
}

HRESULT GstMediaGraph::put_Visible(long visible) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  d_->visible = visible != 0;
  if (d_->surface && d_->surface->parentWidget()) {
    d_->surface->setVisible(d_->visible);
    // The cued first frame is shown with the key, before the clip runs; a
    // clip that starts elsewhere shows its picture once it got there.
    if (d_->visible && d_->RunsFromFirstFrame()) d_->surface->PaintWaitingFrame();
  }
  return S_OK;
}

HRESULT GstMediaGraph::put_MessageDrain(QObject* drain) {
  d_->drain = drain;
  if (d_->surface) d_->surface->SetDrain(drain);
  return d_->Linked(Role::VideoRenderer) ? S_OK : E_NOINTERFACE;
}

HRESULT GstMediaGraph::put_FullScreenMode(long mode) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  if (!d_->surface) return VFW_E_WRONG_STATE;
  if (mode != 0) {
    d_->surface->setParent(nullptr);
    d_->surface->showFullScreen();
  } else {
    d_->surface->setParent(d_->owner);
    d_->surface->setGeometry(d_->windowRect);
    d_->surface->setVisible(d_->visible);
  }
  return S_OK;
}

HRESULT GstMediaGraph::SetWindowPosition(long left, long top, long width, long height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  if (width < 0 || height < 0) return E_INVALIDARG;
  d_->windowRect = QRect(left, top, width, height);
  if (d_->surface && d_->surface->parentWidget()) d_->surface->setGeometry(d_->windowRect);
  return S_OK;
}

HRESULT GstMediaGraph::GetWindowPosition(long& left, long& top, long& width, long& height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  left = d_->windowRect.left();
  top = d_->windowRect.top();
  width = d_->windowRect.width();
  height = d_->windowRect.height();
  return S_OK;
}

HRESULT GstMediaGraph::GetVideoSize(long& width, long& height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  width = d_->videoWidth;
  height = d_->videoHeight;
  return S_OK;
}

HRESULT GstMediaGraph::SetSourcePosition(long left, long top, long width, long height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  const QRect source(left, top, width, height);
  if (width <= 0 || height <= 0 || !QRect(0, 0, d_->videoWidth, d_->videoHeight).contains(source))
    return E_INVALIDARG;
  d_->sourceRect = source;
  if (d_->surface) d_->surface->SetSourceRect(source);
  return S_OK;
}

HRESULT GstMediaGraph::SetNotifyWindow(QObject* window, int msg, std::intptr_t instance) {
  d_->notifyWindow = window;
  d_->notifyMsg = msg;
  d_->notifyParam = instance;
  return S_OK;
}

HRESULT GstMediaGraph::SetNotifyFlags(long flags) {
  if (flags != 0 && flags != 1) return E_INVALIDARG;
  d_->notifyFlags = flags;
  return S_OK;
}

HRESULT GstMediaGraph::GetEvent(long& code, std::intptr_t& param1, std::intptr_t& param2, long) {
  if (d_->events.empty()) return E_ABORT;
  const auto e = d_->events.front();
  d_->events.pop_front();
  code = e.code;
  param1 = e.p1;
  param2 = e.p2;
  return S_OK;
}

HRESULT GstMediaGraph::FreeEventParams(long, std::intptr_t, std::intptr_t) {
  return S_OK;
}

void GstMediaGraph::SetAudioBufferObserver(std::function<void()> observer) {
  std::lock_guard lock(d_->probe->mutex);
  d_->probe->observer = std::move(observer);
}

REFERENCE_TIME GstMediaGraph::RunningTime() const {
  GstClock* clock = gst_element_get_clock(d_->pipeline);
  if (clock == nullptr) return 0;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(d_->pipeline);
  return now > base ? static_cast<REFERENCE_TIME>((now - base) / 100) : 0;
}

REFERENCE_TIME GstMediaGraph::AudioTaken() const {
  return static_cast<REFERENCE_TIME>(d_->probe->playedNs.load() / 100);
}

int GstMediaGraph::PendingTeardowns() {
  return Impl::PendingTeardowns();
}

int GstMediaGraph::FlushingSeeks() const {
  return d_->flushingSeeks;
}

bool GstMediaGraph::event(QEvent* event) {
  auto* bus = event->type() == BusEvent::Type() ? static_cast<BusEvent*>(event) : nullptr;
  if (bus && GST_MESSAGE_TYPE(bus->Message) == GST_MESSAGE_DURATION_CHANGED) {
    // A length that was unknown at preroll (or only estimated) is known now.
    gint64 ns = 0;
    if (d_->loaded && !d_->lengthCounted &&
        gst_element_query_duration(d_->pipeline, GST_FORMAT_TIME, &ns) && ns > 0)
      d_->duration = ns / 100;
    return true;
  }
  if (event->type() == LatePadEvent::Type()) {
    auto* late = static_cast<LatePadEvent*>(event);
    // A stream of a clip that was since removed goes nowhere; removing the
    // event unblocks it, so it can wind down.
    auto source = d_->Source();
    if (d_->loaded && source &&
        gst_object_has_as_ancestor(GST_OBJECT(late->Pad), GST_OBJECT(source->element)))
      d_->LinkLatePad(late->Pad);
    return true;
  }
  if (bus == nullptr) return QObject::event(event);
  if (bus->Generation != d_->generation.load()) return true;  // from an earlier clip or segment
  switch (GST_MESSAGE_TYPE(bus->Message)) {
    case GST_MESSAGE_EOS:
      // The generation is that of the moment the message was posted; an end
      // posted just after a seek began may still close the segment before.
      if (d_->EndsCurrentSegment(gst_message_get_seqnum(bus->Message)))
        d_->Queue(EC_COMPLETE, 0, 0);
      break;
    case GST_MESSAGE_SEGMENT_DONE:
      // The same end as an end-of-stream, told while the outputs still play
      // the segment's last sound, so that a loop seek follows it.
      d_->SegmentDone();
      break;
    case GST_MESSAGE_ERROR:
      d_->ErrorResult();
      d_->Queue(EC_ERRORABORT, E_FAIL, 0);
      break;
    default:
      break;
  }
  return true;
}

}  // namespace platform::media
