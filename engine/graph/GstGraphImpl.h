#pragma once
// The state behind a GstMediaGraph, in objects that each own theirs, and the
// work that needs more than one of them. Private to the media layer.
//
// Threads: the graph's own fields are the window thread's, but for the
// generation, which the bus watch reads on the thread that posted a message.

#include "engine/cue/CuePool.h"
#include "engine/graph/BusWatch.h"
#include "engine/graph/ClipLoader.h"
#include "engine/graph/GraphNotices.h"
#include "engine/graph/GraphRenderers.h"
#include "engine/graph/GraphVideo.h"
#include "engine/graph/GraphVolume.h"
#include "engine/graph/GstFilters.h"
#include "engine/graph/GstMediaGraph.h"
#include "engine/graph/KeptChain.h"
#include "engine/graph/SegmentPlayer.h"

#include <gst/gst.h>

#include <QDeadlineTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// Decoders for some formats (a MIDI synthesizer loading its sound font, say)
// take a while to cue the first buffer; a hung one must still come back.
constexpr std::chrono::seconds kPrerollTimeout{20};
// A clip that shows no stream at all within this has stalled.
constexpr std::chrono::milliseconds kFirstStreamTimeout{2000};
// The longest the window thread waits for a clip at one time: 200 ms, or
// $TASTIVO_KEY_WAIT_MS for a machine whose disk is known to be slow (and for
// tests that must not fail on a busy machine). A clip that takes longer (a
// cold disk, a synthesizer loading its sounds, a hung network mount) goes on
// loading while the window keeps working, and the next open of the same file
// takes it up where it is.
std::chrono::milliseconds WindowWait();

struct GstMediaGraph::Impl {
  using Filters = std::vector<std::shared_ptr<GstFilter>>;

  explicit Impl(GstMediaGraph* owner);
  ~Impl();

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

  // A new clip: every object forgets the last one.
  void ResetForClip(const std::string& clipFile);
  // The decoder of a file not cued ahead; null with the error noted.
  GstElement* NewDecoder(const std::string& clipFile, HRESULT& hr);
  // Adds the decoder to the pipeline and cues it, its streams linked as they
  // come; a decoder taken over cued ahead has them all already.
  void BeginLoading(GstElement* decoder, const std::optional<FileIdentity>& identity,
                    std::optional<CuePool::Taken>& cued);
  // Waits up to WindowWait() for the loading clip and, once it is cued or
  // has failed, finishes RenderFile with it.
  HRESULT ContinueLoading();
  // Gives the loading clip up; a worker stops its decoder.
  void CancelLoading();

  // The same clip again, unchanged on disk: the kept decoder is flushed back
  // to its start instead of being built anew.
  // `identity`: the file as RenderFile read it, once for the whole open.
  bool ReuseKept(const std::string& clipFile, const std::optional<FileIdentity>& identity);
  // A removal of the default output that was held back, in case the source
  // follows it and the chain can be kept; anything else finishes it.
  void SettlePending();
  // Gives up a kept decoder and the output it holds.
  void DropKept();
  void DropKeptVideo();
  // The removal of a keepable clip's video renderer is held back with its
  // output's, if any; true when it was.
  bool HoldVideoRenderer(const std::shared_ptr<GstFilter>& f);

  void Detach(const std::shared_ptr<GstFilter>& f);
  // Takes out of the pipeline every element that is none of the graph's
  // filters, so nothing left by a clip can hold the next one.
  void RemoveStrays();
  // Window thread: links a stream the decoder exposed after loading.
  void LinkLatePad(GstPad* pad);

  // Waits until the pipeline has finished its state change (a preroll),
  // giving up at the deadlines (VFW_E_TIMEOUT) but returning E_PENDING when
  // only the window's budget ran out.
  HRESULT WaitForSettled(const QDeadlineTimer& deadline, const QDeadlineTimer& firstStream,
                         std::chrono::milliseconds budget);
  // The result for the failure of the clip in the graph; sets lastError
  // and lastReason.
  HRESULT ErrorResult();
  // What is known of the clip's file and place, for a failure's reason.
  ClipFailure FailureOfClip();
  // Passes a seek's result on, noting a refused one's error.
  HRESULT Seeked(HRESULT hr);

  GstMediaGraph* const self;
  GstElement* const pipeline;
  std::atomic<std::uint64_t> generation{1};
  // The window named clips to cue ahead (CuePool.h).
  bool cueing = false;
  Filters filters;
  // The file of the clip being loaded or in the graph.
  std::string fileName;
  std::string lastError;
  // The last failure in the user's words (FailureReason.h).
  std::string lastReason;

  const std::shared_ptr<ProbeState> probe = std::make_shared<ProbeState>();
  GraphNotices notices;
  GraphVolume volume;
  GraphVideo video;
  SegmentPlayer player;
  const GraphRenderers renderers;
  KeptChain kept;
  ClipLoader loader;
  BusWatch bus;
};

}  // namespace engine
