#include "engine/graph/GstMediaGraph.h"

#include "engine/GstInternal.h"
#include "engine/cue/ArmedStart.h"
#include "engine/cue/CuePool.h"
#include "engine/graph/GstGraphImpl.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace engine {

GstMediaGraph::GstMediaGraph()
    : d_(std::make_unique<Impl>(this)), armed_(std::make_shared<ArmedStart>()) {}

GstMediaGraph::~GstMediaGraph() {
  if (d_->cueing) CuePool::Instance().Forget(this);
}

void GstMediaGraph::CueClips(const std::vector<ClipToCue>& clips) {
  d_->cueing = true;
  CuePool::Instance().Want(this, clips);
}

std::string GstMediaGraph::DefaultAudioSinkName() {
  return engine::DefaultAudioSinkName();
}

HRESULT GstMediaGraph::RenderFile(const std::string& fileName) {
  d_->SettlePending();
  if (d_->loader.IsLoading()) {
    const auto identity = FileIdentity::Of(fileName);
    const auto& loading = d_->loader.Current();
    if (loading.fileName == fileName && identity && loading.identity == identity) {
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
  d_->ResetForClip(fileName);
  if (d_->ReuseKept(fileName, identity)) return S_OK;
  d_->DropKept();

  // A clip cued ahead for this window (CuePool.h) is taken over as it is;
  // any other is opened now.
  std::optional<CuePool::Taken> cued;
  if (d_->cueing) cued = CuePool::Instance().Take(fileName, identity);
  HRESULT hr = S_OK;
  GstElement* decoder = cued ? cued->Decoder : d_->NewDecoder(fileName, hr);
  if (decoder == nullptr) return hr;
  d_->kept.OpenOutput();
  d_->BeginLoading(decoder, identity, cued);
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
  auto& player = d_->player;
  auto& cache = d_->kept.Clips();
  player.NotePosition();
  d_->filters.erase(it);
  cache.SetDuration(player.Length());
  if (f == d_->kept.DefaultOutput() && player.IsLoaded() &&
      cache.OutputRemoved(d_->kept.OnlyDefaultAudioLinked(d_->filters))) {
    // Held back: when the source follows, the whole chain is kept for the
    // same file coming again.
    d_->volume.Forget(f->volume);
    return S_OK;
  }
  if (f->role == Role::VideoRenderer && player.IsLoaded() && d_->HoldVideoRenderer(f)) return S_OK;
  if (f->role == Role::Source && cache.SourceRemoved(f)) {
    ++d_->generation;
    d_->notices.Clear();
    if (player.Target() == FilterState::State_Running)
      gst_element_set_state(d_->pipeline, GST_STATE_PAUSED);
    player.Unloaded();
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
    KeptChain::Unpark(*target, in->Pad());
  }
  if (gst_pad_link(out->Pad(), in->Pad()) != GST_PAD_LINK_OK) {
    d_->lastError = "the two pins do not fit together";
    return MakeResult(0x80040217);
  }
  gst_element_sync_state_with_parent(target->element);
  if (target->role == Role::AudioRenderer) d_->volume.Use(target->volume);
  // The stream stopped when its old renderer went; restart it where it was.
  return d_->Seeked(d_->player.Relinked());
}

HRESULT GstMediaGraph::CreateFilter(const Guid& classId, std::shared_ptr<IBaseFilter>& filter) {
  filter.reset();
  if (classId == kClassNullRenderer) {
    filter = d_->renderers.MakeNullRenderer();
  } else if (GstElement* sink = CreateAudioDeviceSink(classId.ToString(), d_->kept.OutputName())) {
    filter = d_->renderers.MakeAudioRenderer(sink, "Audio Renderer");
  } else {
    return REGDB_E_CLASSNOTREG;
  }
  return filter ? S_OK : E_OUTOFMEMORY;
}

HRESULT GstMediaGraph::SetOutputName(const std::string& name) {
  d_->kept.SetOutputName(name);
  ArmedStart::ForOutput(name, armed_);
  return S_OK;
}

void GstMediaGraph::ContinueFromHead(std::int64_t clipNs, std::uint64_t baseNs) {
  d_->player.ContinueAt(clipNs, baseNs);
}

void GstMediaGraph::LoopAtEnd(std::optional<std::pair<REFERENCE_TIME, REFERENCE_TIME>> loop) {
  d_->player.LoopAtEnd(loop);
}

void GstMediaGraph::SetOutputDevice(const std::string& key, const std::string& label) {
  d_->kept.SetOutputDevice(key, label);
}

void GstMediaGraph::OpenOutput() {
  // With a clip held, the output follows the clip's own course.
  if (!d_->filters.empty()) return;
  if (d_->kept.OutputStale()) {
    // The last clip's kept chain holds the stale output.
    d_->DropKept();
    d_->SettlePending();
    d_->kept.ForgetOutputIfLoose(d_->filters);
  }
  d_->kept.OpenOutput();
}

void GstMediaGraph::SetOutputConnections(const std::vector<std::string>& links) {
  d_->kept.Ports().Remember(PortLinksFromText(links));
}

std::vector<std::string> GstMediaGraph::OutputConnections() const {
  return PortLinksToText(d_->kept.Ports().Remembered());
}

std::string GstMediaGraph::TakeOutputNotice() {
  std::string notice = d_->kept.TakeNotice();
  // Lost while no clip holds it: opened again now (the default output in
  // place of a chosen one that went), ready before the next key.
  if (d_->filters.empty() && d_->kept.OutputStale()) {
    OpenOutput();
    const std::string more = d_->kept.TakeNotice();
    if (!more.empty()) notice += (notice.empty() ? "" : " ") + more;
  }
  return notice;
}

std::string GstMediaGraph::LastErrorDetail() const {
  return d_->lastError;
}

std::string GstMediaGraph::LastErrorReason() const {
  return d_->lastReason;
}

HRESULT GstMediaGraph::Run() {
  d_->SettlePending();
  return d_->Seeked(d_->player.Run());
}

HRESULT GstMediaGraph::Pause() {
  d_->SettlePending();
  return d_->Seeked(d_->player.Pause());
}

HRESULT GstMediaGraph::Stop() {
  return d_->Seeked(d_->player.Stop());
}

HRESULT GstMediaGraph::GetState(long timeoutMs, FilterState& state) {
  const auto& player = d_->player;
  if (!player.IsLoaded() || player.Target() == FilterState::State_Stopped) {
    state = player.Target();
    return S_OK;
  }
  // Held for its group's start: it counts as running from Run on.
  if (player.HeldForGroup() && player.Target() == FilterState::State_Running) {
    state = FilterState::State_Running;
    return S_OK;
  }
  GstState current = GST_STATE_NULL, pending;
  const auto ret = gst_element_get_state(d_->pipeline, &current, &pending,
                                         std::max(0L, timeoutMs) * GST_MSECOND);
  state = current == GST_STATE_PLAYING  ? FilterState::State_Running
          : current == GST_STATE_PAUSED ? FilterState::State_Paused
                                        : FilterState::State_Stopped;
  if (d_->bus.ErrorInThisClip() || ret == GST_STATE_CHANGE_FAILURE) {
    d_->ErrorResult();
    return E_FAIL;
  }
  return ret == GST_STATE_CHANGE_ASYNC ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT GstMediaGraph::GetDuration(REFERENCE_TIME& duration) {
  return d_->player.GetDuration(duration);
}

HRESULT GstMediaGraph::GetCurrentPosition(REFERENCE_TIME& position) {
  return d_->player.GetPosition(position);
}

HRESULT GstMediaGraph::SetPositions(const REFERENCE_TIME* current, unsigned currentFlags,
                                    const REFERENCE_TIME* stop, unsigned stopFlags) {
  if (!d_->player.IsLoaded()) return E_NOTIMPL;
  const bool setCurrent = currentFlags & AM_SEEKING_AbsolutePositioning;
  const bool setStop = stopFlags & AM_SEEKING_AbsolutePositioning;
  if ((setCurrent && current == nullptr) || (setStop && stop == nullptr)) return E_POINTER;
  d_->SettlePending();
  REFERENCE_TIME start;
  if (setCurrent)
    start = *current;
  else
    d_->player.GetPosition(start);
  if (setStop) d_->player.SetStop(*stop);
  return d_->Seeked(d_->player.Seek(start));
}

HRESULT GstMediaGraph::GetRate(double& rate) {
  rate = d_->player.Rate();
  return S_OK;
}

HRESULT GstMediaGraph::SetRate(double rate) {
  if (!(rate > 0.0) || !std::isfinite(rate)) return E_INVALIDARG;
  if (!d_->player.NoteRate(rate)) return S_OK;
  d_->SettlePending();
  return d_->Seeked(d_->player.ApplyRate());
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
  volume = d_->volume.Volume();
  return S_OK;
}

HRESULT GstMediaGraph::put_Volume(long volume) {
  if (volume > 0 || volume < -10000) return E_INVALIDARG;
  if (!d_->Linked(Role::AudioRenderer)) return E_NOTIMPL;
  d_->volume.SetVolume(volume);
  // The next head sounds as loud as this clip.
  armed_->SetGain(volume <= -10000 ? 0.0f : float(std::pow(10.0, double(volume) / 2000.0)));
  return S_OK;
}

HRESULT GstMediaGraph::put_Owner(QWidget* owner) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  return d_->video.SetOwner(owner);
}

HRESULT GstMediaGraph::get_Owner(QWidget*& owner) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  owner = d_->video.Owner();
  return S_OK;
}

HRESULT GstMediaGraph::put_WindowStyle(long) {
  // The picture is always a child of its owner, clipped to it.
  return d_->Linked(Role::VideoRenderer) ? S_OK : E_NOINTERFACE;
}

HRESULT GstMediaGraph::put_Visible(long visible) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  d_->video.SetVisible(visible != 0, d_->player.RunsFromFirstFrame());
  return S_OK;
}

HRESULT GstMediaGraph::put_MessageDrain(QObject* drain) {
  d_->video.SetDrain(drain);
  return d_->Linked(Role::VideoRenderer) ? S_OK : E_NOINTERFACE;
}

HRESULT GstMediaGraph::put_FullScreenMode(long mode) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  return d_->video.SetFullScreen(mode != 0);
}

HRESULT GstMediaGraph::SetWindowPosition(long left, long top, long width, long height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  return d_->video.SetWindowPosition(QRect(left, top, width, height));
}

HRESULT GstMediaGraph::GetWindowPosition(long& left, long& top, long& width, long& height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  const QRect rect = d_->video.WindowPosition();
  left = rect.left();
  top = rect.top();
  width = rect.width();
  height = rect.height();
  return S_OK;
}

HRESULT GstMediaGraph::GetVideoSize(long& width, long& height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  width = d_->video.Size().width();
  height = d_->video.Size().height();
  return S_OK;
}

HRESULT GstMediaGraph::SetSourcePosition(long left, long top, long width, long height) {
  if (!d_->Linked(Role::VideoRenderer)) return E_NOINTERFACE;
  return d_->video.SetSourcePosition(QRect(left, top, width, height));
}

HRESULT GstMediaGraph::SetNotifyWindow(QObject* window, int msg, std::intptr_t instance) {
  d_->notices.SetWindow(window, msg, instance);
  return S_OK;
}

HRESULT GstMediaGraph::SetNotifyFlags(long flags) {
  if (flags != 0 && flags != 1) return E_INVALIDARG;
  d_->notices.SetFlags(flags);
  return S_OK;
}

HRESULT GstMediaGraph::GetEvent(long& code, std::intptr_t& param1, std::intptr_t& param2, long) {
  return d_->notices.Take(code, param1, param2) ? S_OK : E_ABORT;
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
  return ClipLoader::PendingTeardowns();
}

int GstMediaGraph::FlushingSeeks() const {
  return d_->player.FlushingSeeks();
}

bool GstMediaGraph::event(QEvent* event) {
  auto* bus = event->type() == BusEvent::Type() ? static_cast<BusEvent*>(event) : nullptr;
  if (bus && GST_MESSAGE_TYPE(bus->Message) == GST_MESSAGE_DURATION_CHANGED) {
    // A length that was unknown at preroll (or only estimated) is known now.
    d_->player.LengthChanged();
    return true;
  }
  if (event->type() == LatePadEvent::Type()) {
    auto* late = static_cast<LatePadEvent*>(event);
    // A stream of a clip that was since removed goes nowhere; removing the
    // event unblocks it, so it can wind down.
    auto source = d_->Source();
    if (d_->player.IsLoaded() && source &&
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
      if (d_->player.EndsCurrentSegment(gst_message_get_seqnum(bus->Message)))
        d_->notices.Queue(EC_COMPLETE, 0, 0);
      break;
    case GST_MESSAGE_SEGMENT_DONE:
      // The same end as an end-of-stream, told while the outputs still play
      // the segment's last sound, so that a loop seek follows it.
      d_->player.SegmentDone();
      break;
    case GST_MESSAGE_ERROR:
      d_->ErrorResult();
      d_->notices.Queue(EC_ERRORABORT, E_FAIL, 0);
      break;
    default:
      break;
  }
  return true;
}

}  // namespace engine
