#include "engine/graph/KeptChain.h"

#include "engine/GstInternal.h"
#include "engine/MediaGraph.h"
#include "engine/video/VideoSurface.h"

#include <algorithm>
#include <utility>

namespace engine {

bool KeptChain::OutputStale() const {
  return defaultAudio_ &&
         (defaultAudioName_ != outputName_ || outputFailed_ || openedFor_ != route_.Chosen() ||
          (outputSilent_ && HasRealAudioOutput()));
}

void KeptChain::SetOutputDevice(const std::string& key, const std::string& label) {
  if (key == route_.Chosen()) return;
  route_.Choose(key, label);
  if (comeBack_ != nullptr) {
    gst_element_set_state(comeBack_, GST_STATE_NULL);
    gst_object_unref(std::exchange(comeBack_, nullptr));
  }
}

std::string KeptChain::TakeNotice() {
  // Told when it goes, not at the next clip.
  if (outputFailed_ && onChosen_) route_.ChosenLost({});
  std::string notice = route_.TakeNotice();
  const std::string ports = ports_->TakeNotice();
  if (!ports.empty()) notice += (notice.empty() ? "" : " ") + ports;
  return notice;
}

namespace {
// The chosen output, opened (READY), or nullptr when it would not open.
GstElement* OpenChosen(const std::string& key, const std::string& name,
                       const std::shared_ptr<PortMemory>& ports) {
  GstElement* sink = CreateChosenAudioSink(key, name, ports);
  if (sink == nullptr) return nullptr;
  gst_object_ref_sink(sink);
  if (gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE) return sink;
  gst_element_set_state(sink, GST_STATE_NULL);
  gst_object_unref(sink);
  return nullptr;
}
}  // namespace

void KeptChain::TellLossesOf(GstElement* output) const {
  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_element_set_bus(output, bus);
  if (bus != nullptr) gst_object_unref(bus);
}

bool KeptChain::ChosenBack() {
  if (!route_.FellBack() || comeBack_ != nullptr || outputName_ != defaultAudioName_) return false;
  comeBack_ = OpenChosen(route_.Chosen(), outputName_, ports_);
  return comeBack_ != nullptr;
}

void KeptChain::OpenOutput() {
  if (defaultAudio_) return;
  if (outputFailed_ && onChosen_) route_.ChosenLost({});
  outputFailed_ = false;
  outputSilent_ = false;
  onChosen_ = false;
  std::shared_ptr<GstFilter> output;
  if (!route_.Chosen().empty()) {
    GstElement* chosen = std::exchange(comeBack_, nullptr);
    if (chosen == nullptr) chosen = OpenChosen(route_.Chosen(), outputName_, ports_);
    route_.ChosenOpened(chosen != nullptr);
    if (chosen != nullptr) {
      output = renderers_.MakeAudioRenderer(chosen, "Default Audio Device");
      gst_object_unref(chosen);
      onChosen_ = output != nullptr;
    }
  }
  if (!onChosen_)
    output = renderers_.MakeAudioRenderer(CreateChosenAudioSink({}, outputName_, ports_),
                                          "Default Audio Device");
  // When it can't be opened (its sound server is gone) the clip plays
  // through a silent output that keeps time, and the next clip tries the
  // real one again.
  if (output && !onChosen_ && HasRealAudioOutput()) {
    if (gst_element_set_state(output->element, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE) {
      ReportOutputWorking();
    } else {
      gst_element_set_state(output->element, GST_STATE_NULL);
      ReportOutputLost(DefaultAudioSinkName() + " could not be opened");
      GstElement* silent = gst_element_factory_make("fakesink", nullptr);
      if (silent) g_object_set(silent, "sync", TRUE, nullptr);
      output = renderers_.MakeAudioRenderer(silent, "Default Audio Device");
      outputSilent_ = true;
    }
  }
  if (output) {
    output->cached = true;
    TellLossesOf(output->element);
    gst_element_set_state(output->element, GST_STATE_READY);
  }
  defaultAudio_ = output;
  defaultAudioName_ = outputName_;
  openedFor_ = route_.Chosen();
}

void KeptChain::ForgetOutputIfLoose(const Filters& filters) {
  if (defaultAudio_ && !defaultAudio_->InBin() &&
      std::find(filters.begin(), filters.end(), defaultAudio_) == filters.end())
    defaultAudio_.reset();
}

void KeptChain::Park(const std::shared_ptr<GstFilter>& f) {
  GstPad* input = f->InputPad();
  gst_pad_send_event(input, gst_event_new_flush_start());
  if (GstPad* peer = gst_pad_get_peer(input)) {
    gst_pad_unlink(peer, input);
    gst_object_unref(peer);
  }
  gst_object_unref(input);
  GstState state = GST_STATE_NULL;
  gst_element_get_state(f->element, &state, nullptr, 0);
  gst_object_ref(f->element);
  gst_bin_remove(GST_BIN(pipeline_), f->element);
  TellLossesOf(f->element);
  gst_element_set_state(f->element, state >= GST_STATE_PAUSED ? GST_STATE_PAUSED : GST_STATE_READY);
  gst_object_unref(f->element);
  f->parked = true;
}

bool KeptChain::OnlyDefaultAudioLinked(const Filters& filters) const {
  if (!defaultAudio_ || !defaultAudio_->InBin() || !defaultAudio_->IsLinked()) return false;
  for (auto& f : filters)
    if (f->role != Role::Source && f != defaultAudio_ && f->InBin()) return false;
  return true;
}

bool KeptChain::PictureChainKeepable(const Filters& filters) {
  bool picture = false;
  for (auto& f : filters) {
    if (f->role == Role::Source || !f->InBin()) continue;
    if (f->role != Role::VideoRenderer || !f->IsLinked()) return false;
    picture = true;
  }
  return picture;
}

bool KeptChain::HoldVideo(const std::shared_ptr<GstFilter>& f, const Filters& filters, QSize size,
                          const FrameSlot& frames) {
  // Renderers go before the source: holding starts here, when no other
  // renderer is left, and the source's removal then keeps the chain.
  if (!f->IsLinked() || cache_.Current() != Cache::State::Live) return false;
  for (auto& other : filters)
    if (other->role != Role::Source && other->InBin()) return false;
  if (!cache_.OutputRemoved(true)) return false;
  keptVideo_ = f;
  keptVideoSize_ = size;
  // A copy: a frame over the decoder's buffer would hold that decoder's
  // memory while it is stopped, and the next clip's preroll then stalls.
  keptFirstFrame_ = frames.First().copy();
  return true;
}

bool KeptChain::DropVideo() {
  keptFirstFrame_ = QImage();
  const auto f = std::exchange(keptVideo_, nullptr);
  if (!f || !f->InBin()) return false;
  gst_element_set_state(f->element, GST_STATE_NULL);
  GstPad* input = f->InputPad();
  if (GstPad* peer = gst_pad_get_peer(input)) {
    gst_pad_unlink(peer, input);
    gst_object_unref(peer);
  }
  gst_object_unref(input);
  gst_bin_remove(GST_BIN(pipeline_), f->element);
  return true;
}

std::shared_ptr<GstFilter> KeptChain::LinkedVideo() const {
  return keptVideo_ && keptVideo_->InBin() && keptVideo_->IsLinked() ? keptVideo_ : nullptr;
}

QImage KeptChain::ReleaseVideo() {
  keptVideo_.reset();
  return std::exchange(keptFirstFrame_, QImage());
}

void KeptChain::Reset() {
  cache_.Reset();
  defaultAudio_.reset();
  if (comeBack_ != nullptr) {
    gst_element_set_state(comeBack_, GST_STATE_NULL);
    gst_object_unref(std::exchange(comeBack_, nullptr));
  }
}

}  // namespace engine
