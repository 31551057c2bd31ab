#include "engine/graph/GstGraphImpl.h"

#include "engine/GstInternal.h"
#include "engine/cue/CuePool.h"
#include "engine/graph/ClipLength.h"
#include "engine/graph/ProgramStreamStop.h"
#include "engine/timing/SharedClock.h"

#include <glib/gstdio.h>
#include <gst/video/video.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace engine {

namespace {
GstElement* NewPipeline() {
  EnsureGstInitialized();
  GstElement* pipeline = gst_pipeline_new("tastivo-graph");
  gst_object_ref_sink(pipeline);
  return pipeline;
}

bool Holds(const std::vector<std::shared_ptr<GstFilter>>& filters,
           const std::shared_ptr<GstFilter>& f) {
  return std::find(filters.begin(), filters.end(), f) != filters.end();
}
}  // namespace

GstMediaGraph::Impl::Impl(GstMediaGraph* owner)
    : self(owner),
      pipeline(NewPipeline()),
      player(pipeline, owner, generation, notices, filters, probe),
      renderers(owner, player.Segments(), probe, video.Frames()),
      kept(pipeline, renderers),
      loader(pipeline, owner, renderers),
      bus(pipeline, owner, generation, [this] { kept.OutputFailed(); }) {
  // Every graph runs on the one shared clock, and its audio outputs never
  // skip or repeat sound to follow it (SharedClock.h).
  GstClock* clock = ObtainSharedClock();
  gst_pipeline_use_clock(GST_PIPELINE(pipeline), clock);
  gst_object_unref(clock);
  g_signal_connect(pipeline, "deep-element-added",
                   G_CALLBACK(+[](GstBin*, GstBin*, GstElement* element, gpointer) {
                     FollowSharedClock(element);
                   }),
                   nullptr);
}

GstMediaGraph::Impl::~Impl() {
  player.StopWatching();
  // A clip still loading may hang on its source; a worker stops it.
  CancelLoading();
  gst_element_set_state(pipeline, GST_STATE_NULL);
  bus.Stop();
  video.Unlinked();
  volume.Use(nullptr);
  filters.clear();
  kept.Reset();
  gst_object_unref(pipeline);
}

void GstMediaGraph::Impl::ResetForClip(const std::string& clipFile) {
  ++generation;
  notices.Clear();
  lastError.clear();
  lastReason.clear();
  fileName = clipFile;
  player.Reset();
  volume.ResetVolume();
  video.Reset();
  if (kept.OutputStale() || kept.ChosenBack()) {
    DropKept();
    SettlePending();
    kept.ForgetOutputIfLoose(filters);
  }
}

GstElement* GstMediaGraph::Impl::NewDecoder(const std::string& clipFile, HRESULT& hr) {
  GError* error = nullptr;
  gchar* uri = gst_filename_to_uri(clipFile.c_str(), &error);
  if (uri == nullptr) {
    lastError = error ? error->message : "bad file name";
    lastReason = "the file's name can't be used";
    g_clear_error(&error);
    hr = E_FILE_NOT_FOUND;
    return nullptr;
  }
  GstElement* decoder = gst_element_factory_make("uridecodebin", nullptr);
  if (decoder == nullptr) {
    g_free(uri);
    lastError = "GStreamer element uridecodebin (gstreamer1.0-plugins-base)";
    lastReason = "the media framework's decoders are not installed";
    hr = VFW_E_UNSUPPORTED_STREAM;
    return nullptr;
  }
  g_object_set(decoder, "uri", uri, nullptr);
  g_free(uri);
  KeepProgramStreamStops(decoder, clipFile);
  return decoder;
}

void GstMediaGraph::Impl::BeginLoading(GstElement* decoder,
                                       const std::optional<FileIdentity>& identity,
                                       std::optional<CuePool::Taken>& cued) {
  bus.Clear();
  Filters audioCandidates;
  for (auto& f : filters)
    if (f->role == Role::AudioRenderer && !f->InBin()) audioCandidates.push_back(f);
  const auto& output = kept.DefaultOutput();
  if (output && !output->InBin() && !Holds(filters, output)) audioCandidates.push_back(output);
  loader.Begin(decoder, std::move(audioCandidates));

  auto source = std::make_shared<GstFilter>(Role::Source, decoder, fileName, self);
  g_signal_connect(decoder, "pad-added", G_CALLBACK(&ClipLoader::OnPadAdded), &loader);
  // A cued decoder is paused at its segment. The pipeline's own way up to
  // paused (at a window's first clip) would take it down to ready on the
  // way, which starts it again from the clip's beginning.
  if (cued) gst_element_set_locked_state(decoder, TRUE);
  gst_bin_add(GST_BIN(pipeline), decoder);
  ClipLoader::Loading loading{fileName,
                              identity,
                              source,
                              filters,
                              QDeadlineTimer(kPrerollTimeout),
                              QDeadlineTimer(kFirstStreamTimeout)};
  if (cued) {
    loading.cuedStartNs = cued->StartNs;
    loading.cuedStopNs = cued->StopNs;
    loading.cuedAsSegment = true;
  }
  loader.Start(std::move(loading));
  gst_element_set_state(pipeline, GST_STATE_PAUSED);
  if (!cued) return;
  gst_element_set_locked_state(decoder, FALSE);
  // Its streams are all there, each holding its first buffer: linked as a
  // new decoder's would be as they came, then let go.
  for (auto& pad : cued->Pads) ClipLoader::OnPadAdded(decoder, pad.Pad, &loader);
  CuePool::Release(*cued);
  gst_object_unref(decoder);
}

HRESULT GstMediaGraph::Impl::ContinueLoading() {
  ClipLoader::Loading& clip = loader.Current();
  HRESULT hr = WaitForSettled(clip.deadline, clip.firstStream, WindowWait());
  if (hr == E_PENDING) return hr;
  const ClipLoader::Loading done = loader.Finish();

  const auto linked = loader.End(/*giveUpDecoder=*/Failed(hr));
  filters = done.before;
  filters.push_back(done.source);
  for (auto& f : linked)
    if (!Holds(filters, f)) filters.push_back(f);
  if (Succeeded(hr) && linked.empty()) {
    hr = bus.MissingPlugins() ? VFW_E_UNSUPPORTED_STREAM : VFW_E_INVALID_FILE_FORMAT;
    lastError = "the file has no stream that can be played";
    ClipFailure failure = FailureOfClip();
    failure.nothingToPlay = true;
    lastReason = ReasonInWords(failure);
  }
  if (Failed(hr)) {
    if (hr == VFW_E_UNSUPPORTED_STREAM) ErrorResult();
    const std::string detail = lastError;
    const std::string reason = lastReason;
    // A decoder that failed may have left the output it fed half way
    // through a buffer; the next clip gets a fresh one.
    if (Holds(linked, kept.DefaultOutput())) kept.OutputFailed();
    for (auto& f : linked) Detach(f);
    Detach(done.source);
    filters = done.before;
    lastError = detail;
    lastReason = reason;
    return hr;
  }

  // A bare stream's parser knows no length at preroll, or guesses it from
  // the bit rate of the few frames it has read, and a program stream's
  // demuxer from stamps near its ends: the file tells it exactly.
  const auto exact = ExactLengthNs(done.fileName, done.identity);
  // A fresh decoder is cued at the start of the whole clip at normal speed,
  // one cued ahead at its key's segment.
  player.Loaded(SegmentPlayer::Segment{done.cuedStartNs, done.cuedStopNs, 1.0},
                done.cuedAsSegment, exact);
  player.FlushEveryLoop(IsProgramStream(done.source->element));
  kept.Clips().Loaded(
      done.source, done.fileName, done.identity, player.Length(),
      kept.OnlyDefaultAudioLinked(filters) || KeptChain::PictureChainKeepable(filters));
  if (auto picture = Linked(Role::VideoRenderer)) {
    QSize size = video.Size();
    GstPad* pad = picture->InputPad();
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
      GstVideoInfo info;
      if (gst_video_info_from_caps(&info, caps))
        size = QSize(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info));
      gst_caps_unref(caps);
    }
    gst_object_unref(pad);
    video.Linked(size);
  }
  if (auto audio = Linked(Role::AudioRenderer)) volume.Use(audio->volume);
  return S_OK;
}

void GstMediaGraph::Impl::CancelLoading() {
  if (!loader.IsLoading()) return;
  const ClipLoader::Loading done = loader.Finish();
  const auto linked = loader.End(/*giveUpDecoder=*/true);
  filters = done.before;
  for (auto& f : linked) Detach(f);
  Detach(done.source);
  filters = done.before;
}

bool GstMediaGraph::Impl::ReuseKept(const std::string& clipFile,
                                    const std::optional<FileIdentity>& identity) {
  auto& cache = kept.Clips();
  if (cache.Current() != KeptChain::Cache::State::Kept) return false;
  for (auto& f : filters)
    if (f->role == Role::AudioRenderer) return false;  // another output was chosen
  const auto output = kept.DefaultOutput();
  const bool audio = output && output->InBin() && output->IsLinked();
  const auto picture = kept.LinkedVideo();
  if (!audio && !picture) return false;
  const auto source = cache.Reuse(clipFile, identity);
  if (!source) return false;
  bus.Clear();
  const auto before = filters;
  if (audio) filters.push_back(output);
  if (picture) filters.push_back(picture);
  filters.push_back(*source);
  loader.SetDecoder((*source)->element);
  if (audio) volume.Use(output->volume);
  if (picture) video.Restore(kept.VideoSize(), kept.ReleaseVideo());
  player.FlushEveryLoop(IsProgramStream((*source)->element));
  if (Succeeded(Seeked(player.Reused(cache.Duration())))) return true;
  filters = before;
  cache.Reset();
  if (audio) Detach(output);
  if (picture) Detach(picture);
  Detach(*source);
  return false;
}

void GstMediaGraph::Impl::SettlePending() {
  if (!kept.Clips().Settle()) return;
  if (kept.DefaultOutput()) Detach(kept.DefaultOutput());
  DropKeptVideo();
}

void GstMediaGraph::Impl::DropKept() {
  const std::string path = kept.Clips().Path();
  if (auto source = kept.Clips().Drop()) {
    if (cueing) CuePool::Instance().GivenUp(path);
    if (kept.DefaultOutput()) Detach(kept.DefaultOutput());
    DropKeptVideo();
    Detach(*source);
  }
}

void GstMediaGraph::Impl::DropKeptVideo() {
  if (kept.DropVideo()) video.Frames()->Clear();
}

bool GstMediaGraph::Impl::HoldVideoRenderer(const std::shared_ptr<GstFilter>& f) {
  if (!kept.HoldVideo(f, filters, video.Size(), *video.Frames())) return false;
  // The picture goes as it goes with the renderer; the element stays.
  video.Unlinked();
  return true;
}

void GstMediaGraph::Impl::Detach(const std::shared_ptr<GstFilter>& f) {
  if (f->cached && f->InBin()) kept.Park(f);
  if (f->role == Role::Source) {
    ++generation;
    notices.Clear();
    if (f->InBin()) loader.Abandon(f);
    gst_element_set_state(pipeline, GST_STATE_READY);
    player.Unloaded();
  } else if (f->InBin()) {
    gst_element_set_state(f->element, f->cached ? GST_STATE_READY : GST_STATE_NULL);
    GstPad* input = f->InputPad();
    if (GstPad* peer = gst_pad_get_peer(input)) {
      gst_pad_unlink(peer, input);
      gst_object_unref(peer);
    }
    gst_object_unref(input);
  }
  if (f->InBin()) {
    gst_object_ref(f->element);
    gst_bin_remove(GST_BIN(pipeline), f->element);
    gst_element_set_state(f->element, f->cached ? GST_STATE_READY : GST_STATE_NULL);
    gst_object_unref(f->element);
  }
  if (f->role == Role::Source) RemoveStrays();
  if (f->role == Role::VideoRenderer) video.Unlinked();
  if (f->role == Role::AudioRenderer) volume.Forget(f->volume);
}

void GstMediaGraph::Impl::RemoveStrays() {
  std::vector<GstElement*> strays;
  ForEachItem(
      gst_bin_iterate_elements(GST_BIN(pipeline)),
      [&](gpointer object) {
        auto* element = GST_ELEMENT(object);
        bool known = kept.DefaultOutput() && kept.DefaultOutput()->element == element;
        for (auto& f : filters) known = known || f->element == element;
        if (!known) strays.push_back(GST_ELEMENT(gst_object_ref(element)));
      },
      [&] {
        for (GstElement* e : strays) gst_object_unref(e);
        strays.clear();
      });
  for (GstElement* e : strays) {
    gst_element_set_state(e, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline), e);
    gst_object_unref(e);
  }
}

void GstMediaGraph::Impl::LinkLatePad(GstPad* pad) {
  std::string error;
  const auto renderer = loader.LinkLatePad(pad, filters, error);
  if (!error.empty()) lastError = error;
  // A null renderer has no level: the volume stays with the output that
  // sounds.
  if (renderer && renderer->volume && MajorTypeOf(pad) == kMediaTypeAudio)
    volume.Use(renderer->volume);
}

ClipFailure GstMediaGraph::Impl::FailureOfClip() {
  ClipFailure failure;
  GStatBuf info;
  if (!fileName.empty() && g_stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode))
    failure.fileSize = info.st_size;
  gint64 position = -1;
  if (gst_element_query_position(pipeline, GST_FORMAT_TIME, &position) && position >= 0)
    failure.positionNs = position;
  return failure;
}

HRESULT GstMediaGraph::Impl::ErrorResult() {
  return bus.Result(FailureOfClip(), loader.FirstLinkFailure(), lastError, lastReason);
}

HRESULT GstMediaGraph::Impl::Seeked(HRESULT hr) {
  if (player.TakeSeekRefused()) {
    lastError = "the clip refused the seek";
    lastReason = "the clip could not be moved to the place asked for";
  }
  return hr;
}

HRESULT GstMediaGraph::Impl::WaitForSettled(const QDeadlineTimer& deadline,
                                            const QDeadlineTimer& firstStream,
                                            std::chrono::milliseconds budget) {
  QDeadlineTimer patience(budget);
  int restarts = 0;
  for (;;) {
    GstState current, pending;
    const auto ret = gst_element_get_state(pipeline, &current, &pending, 10 * GST_MSECOND);
    if (bus.ErrorInThisClip()) return ErrorResult();
    if (ret == GST_STATE_CHANGE_SUCCESS || ret == GST_STATE_CHANGE_NO_PREROLL) return S_OK;
    // A clip given up a moment ago may still post its error on the way out
    // and so end the state change the next clip began, with nothing wrong
    // with that clip: its change is begun again.
    if (ret == GST_STATE_CHANGE_FAILURE && restarts < 2 && !bus.ErrorInThisClip() &&
        !bus.MissingPlugins() && !loader.FirstLinkFailure()) {
      ++restarts;
      gst_element_set_state(pipeline, GST_STATE_PAUSED);
      continue;
    }
    if (ret == GST_STATE_CHANGE_FAILURE) return ErrorResult();
    if (!loader.StreamExposed() && firstStream.hasExpired()) {
      lastError = "the file gave no stream in time";
      lastReason = "no sound or picture came from the file in time";
      return VFW_E_TIMEOUT;
    }
    if (deadline.hasExpired()) {
      lastError = "the media pipeline did not finish a state change in time";
      lastReason = "the media framework did not answer in time";
      return VFW_E_TIMEOUT;
    }
    if (patience.hasExpired()) {
      lastError = "the clip is still being read";
      lastReason = "it is still being read";
      return E_PENDING;
    }
  }
}

std::chrono::milliseconds WindowWait() {
  static const std::chrono::milliseconds wait = [] {
    const char* value = std::getenv("TASTIVO_KEY_WAIT_MS");
    const long ms = value ? std::strtol(value, nullptr, 10) : 0;
    return std::chrono::milliseconds(ms > 0 ? std::clamp(ms, 50L, 20000L) : 200L);
  }();
  return wait;
}

}  // namespace engine
