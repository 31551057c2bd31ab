#pragma once
// What a graph keeps between clips: its default output, open and holding its
// device, and the last clip's decoder with the renderer it played through,
// cued for the same file coming again (ClipCache.h). Private to the media
// layer.
//
// Threads: window thread, but for the output's failure, which the bus watch
// notes on the thread that posted it (an atomic).

#include "engine/graph/ClipCache.h"
#include "engine/graph/GraphRenderers.h"
#include "engine/graph/GstFilters.h"
#include "engine/outputs/PortMemory.h"
#include "engine/outputs/SoundOutputList.h"

#include <gst/gst.h>

#include <QImage>
#include <QSize>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace engine {

class FrameSlot;

class KeptChain {
 public:
  using Filters = std::vector<std::shared_ptr<GstFilter>>;
  using Cache = ClipCache<std::shared_ptr<GstFilter>>;

  KeptChain(GstElement* pipeline, const GraphRenderers& renderers)
      : pipeline_(pipeline), renderers_(renderers) {}
  KeptChain(const KeptChain&) = delete;
  KeptChain& operator=(const KeptChain&) = delete;

  Cache& Clips() { return cache_; }
  const std::shared_ptr<GstFilter>& DefaultOutput() const { return defaultAudio_; }
  const std::string& OutputName() const { return outputName_; }
  void SetOutputName(const std::string& name) { outputName_ = name; }
  // The window's chosen output; the next OpenOutput opens it.
  void SetOutputDevice(const std::string& key, const std::string& label);
  PortMemory& Ports() { return *ports_; }
  // "" or a change of output the window's user is to be told of, once.
  std::string TakeNotice();
  // True when the chosen output, given up for the default one, opens
  // again: it is then held for the next OpenOutput.
  bool ChosenBack();

  // Any thread: the default output reported an error; it is dropped and
  // opened again at the next clip.
  void OutputFailed() { outputFailed_ = true; }
  // Renamed, failed, or silent in place of one that failed: the default
  // output must be opened again.
  bool OutputStale() const;
  // The default output is opened once and kept, so a new clip does not
  // reconnect to the sound server.
  void OpenOutput();
  // Forgets the default output when nothing holds it any more.
  void ForgetOutputIfLoose(const Filters& filters);

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
  bool OnlyDefaultAudioLinked(const Filters& filters) const;
  // ---- A clip with a picture and no sound is kept whole like an audio one.
  // (With sound too, a damaged clip's kept chain left the next clip's
  // preroll stalled now and then: not kept until that is understood.)
  // True when the clip's picture is linked and no other renderer is.
  static bool PictureChainKeepable(const Filters& filters);
  // The removal of a keepable clip's video renderer (already out of
  // `filters`) is held back with its output's, if any; true when it was.
  // The picture's size and the clip's first frame are kept with it: the
  // same clip again paints it at once.
  bool HoldVideo(const std::shared_ptr<GstFilter>& f, const Filters& filters, QSize size,
                 const FrameSlot& frames);
  // Takes a held-back video renderer out of the pipeline; true when one was
  // in it (a frame it delivered while stopping is no picture of the next
  // clip).
  bool DropVideo();
  // The kept video renderer while linked, for the same clip again.
  std::shared_ptr<GstFilter> LinkedVideo() const;
  QSize VideoSize() const { return keptVideoSize_; }
  // Hands over the kept first frame; the renderer is no longer held back.
  QImage ReleaseVideo();

  // Forgets everything (the graph is going away).
  void Reset();

 private:
  GstElement* const pipeline_;
  const GraphRenderers& renderers_;
  // An output out of the pipeline (open before any clip, or parked) posts
  // on the pipeline's bus all the same, so that a device lost while nothing
  // plays is noticed before the next clip needs it.
  void TellLossesOf(GstElement* output) const;

  std::shared_ptr<GstFilter> defaultAudio_;
  // The default output is the silent stand-in for one that failed.
  bool outputSilent_ = false;
  // The name the sound server shows for the default output: wanted, and the
  // one it was opened with.
  std::string outputName_, defaultAudioName_;
  std::atomic<bool> outputFailed_{false};
  OutputRoute route_;
  // The output that was open when it was opened: the chosen one, or the
  // default one in its place.
  std::string openedFor_;
  bool onChosen_ = false;
  GstElement* comeBack_ = nullptr;  // the chosen output, opened again
  std::shared_ptr<PortMemory> ports_ = std::make_shared<PortMemory>();
  // The last audio-only or picture-only clip's decoder (ClipCache.h).
  Cache cache_;
  std::shared_ptr<GstFilter> keptVideo_;
  QSize keptVideoSize_;
  QImage keptFirstFrame_;
};

}  // namespace engine
