#include "engine/graph/ClipLoader.h"

#include "engine/graph/KeptChain.h"

#include <QCoreApplication>

#include <atomic>
#include <thread>
#include <utility>

namespace engine {

namespace {
std::atomic<int> teardowns{0};
}  // namespace

void ClipLoader::Begin(GstElement* decoder, Filters audioCandidates) {
  std::lock_guard lock(mutex_);
  streamLinked_.clear();
  linkFailures_.clear();
  rendering_ = true;
  decoder_ = decoder;
  audioCandidates_ = std::move(audioCandidates);
  audioTaken_ = videoTaken_ = false;
}

// Runs on a streaming thread when the decoder exposes a stream.
void ClipLoader::OnPadAdded(GstElement* element, GstPad* pad, gpointer data) {
  auto* d = static_cast<ClipLoader*>(data);
  const Guid major = MajorTypeOf(pad);
  std::shared_ptr<GstFilter> renderer;
  // Held until the stream is linked: the window thread gives a decoder up
  // under it, so a renderer is either linked and listed in time to be taken
  // out with the clip, or never added at all.
  std::lock_guard linking(d->linkMutex_);
  {
    std::lock_guard lock(d->mutex_);
    // A decoder given up a moment ago may still be inside this call, waiting
    // for the lock while the next clip starts; its streams are not that
    // clip's, and a renderer linked to them would hold its cueing forever.
    if (element != d->decoder_) return;
    if (!d->rendering_) {
      if (major != kMediaTypeAudio && major != kMediaTypeVideo) return;
      const gulong probe = gst_pad_add_probe(
          pad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
          [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }, nullptr, nullptr);
      QCoreApplication::postEvent(d->graph_, new LatePadEvent(pad, probe));
      return;
    }
    if (major == kMediaTypeAudio && !d->audioTaken_ && !d->audioCandidates_.empty()) {
      renderer = d->audioCandidates_.front();
      d->audioCandidates_.clear();
      d->audioTaken_ = true;
    } else if (major == kMediaTypeVideo && !d->videoTaken_) {
      renderer = d->renderers_.MakeVideoRenderer();
      d->videoTaken_ = renderer != nullptr;
    }
    if (!renderer && (major == kMediaTypeAudio || major == kMediaTypeVideo))
      renderer = d->renderers_.MakeNullRenderer();
    if (!renderer) return;  // a stream we do not render (subtitles, data)
    d->streamLinked_.push_back(renderer);
  }
  gst_bin_add(GST_BIN(d->pipeline_), renderer->element);
  GstPad* input = renderer->InputPad();
  KeptChain::Unpark(*renderer, input);
  const GstPadLinkReturn linked = gst_pad_link(pad, input);
  gst_object_unref(input);
  if (linked != GST_PAD_LINK_OK) {
    std::lock_guard lock(d->mutex_);
    d->linkFailures_.push_back(std::string("a stream could not be linked (") +
                               gst_pad_link_get_name(linked) + ")");
  }
  gst_element_sync_state_with_parent(renderer->element);
}

ClipLoader::Filters ClipLoader::End(bool giveUpDecoder) {
  Filters linked;
  std::lock_guard linking(linkMutex_);
  std::lock_guard lock(mutex_);
  linked.swap(streamLinked_);
  audioCandidates_.clear();
  rendering_ = false;
  if (giveUpDecoder) decoder_ = nullptr;
  return linked;
}

void ClipLoader::SetDecoder(GstElement* decoder) {
  std::lock_guard lock(mutex_);
  decoder_ = decoder;
}

bool ClipLoader::StreamExposed() {
  std::lock_guard lock(mutex_);
  return !rendering_ || !streamLinked_.empty();
}

std::optional<std::string> ClipLoader::FirstLinkFailure() {
  std::lock_guard lock(mutex_);
  if (linkFailures_.empty()) return std::nullopt;
  return linkFailures_.front();
}

std::shared_ptr<GstFilter> ClipLoader::LinkLatePad(GstPad* pad, Filters& filters,
                                                   std::string& error) {
  const Role role = MajorTypeOf(pad) == kMediaTypeAudio ? Role::AudioRenderer : Role::VideoRenderer;
  std::shared_ptr<GstFilter> renderer;
  for (auto& f : filters)
    if (f->role == role && f->InBin() && !f->IsLinked()) renderer = f;
  if (!renderer) {
    renderer = renderers_.MakeNullRenderer();
    if (!renderer) return nullptr;
    gst_bin_add(GST_BIN(pipeline_), renderer->element);
    filters.push_back(renderer);
  }
  GstPad* input = renderer->InputPad();
  const GstPadLinkReturn linked = gst_pad_link(pad, input);
  gst_object_unref(input);
  if (linked != GST_PAD_LINK_OK) {
    error = std::string("a new stream of the clip could not be linked (") +
            gst_pad_link_get_name(linked) + ")";
    return nullptr;
  }
  gst_element_sync_state_with_parent(renderer->element);
  return renderer;
}

int ClipLoader::PendingTeardowns() {
  return teardowns.load();
}

void ClipLoader::Abandon(const std::shared_ptr<GstFilter>& f) {
  GstElement* source = GST_ELEMENT(gst_object_ref(f->element));
  {
    std::lock_guard linking(linkMutex_);
    std::lock_guard lock(mutex_);
    if (decoder_ == source) decoder_ = nullptr;
  }
  // Nothing it does from here on may reach this graph.
  g_signal_handlers_disconnect_by_data(source, this);
  gst_element_set_locked_state(source, TRUE);
  GstIterator* it = gst_element_iterate_src_pads(source);
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* pad = GST_PAD(g_value_get_object(&item));
    if (GstPad* peer = gst_pad_get_peer(pad)) {
      gst_pad_unlink(pad, peer);
      gst_object_unref(peer);
    }
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  gst_bin_remove(GST_BIN(pipeline_), source);
  f->handedOff = true;
  // A decoder stuck on a damaged file, or a read that hangs, holds its
  // streaming thread; stopping it waits for that thread. The window thread
  // never waits for it: a worker does, and frees the decoder after.
  // A message the decoder posts on its way down may already be passing
  // through the pipeline it was in: the pipeline lives until it has stopped.
  ++teardowns;
  GstElement* formerParent = GST_ELEMENT(gst_object_ref(pipeline_));
  std::thread([source, formerParent] {
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);
    gst_object_unref(formerParent);
    --teardowns;
  }).detach();
}

ClipLoader::Loading ClipLoader::Finish() {
  Loading done = std::move(*loading_);
  loading_.reset();
  return done;
}

}  // namespace engine
