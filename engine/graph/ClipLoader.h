#pragma once
// Loading a clip into a graph: the decoder being cued, the streams it
// exposes linked to renderers as they come (on its streaming threads), the
// ones that come after loading handed to the window thread, and decoders
// given up stopped by a worker. Private to the media layer.
//
// Threads: OnPadAdded runs on a streaming thread, the rest on the window
// thread. What both touch is under mutex_, and a stream is linked under
// linkMutex_, which the window thread takes to give a decoder up; neither is
// held while waiting on the pipeline. The loading record is the window
// thread's.

#include "engine/graph/ClipCache.h"
#include "engine/graph/GraphRenderers.h"
#include "engine/graph/GstFilters.h"

#include <gst/gst.h>

#include <QDeadlineTimer>
#include <QObject>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace engine {

class ClipLoader {
 public:
  using Filters = std::vector<std::shared_ptr<GstFilter>>;

  // A clip whose decoder is still cueing after RenderFile gave up waiting.
  // Its source is out of the graph's filters, so the player's clean-up does
  // not see it; RenderFile of the same file, unchanged, waits for it again.
  struct Loading {
    std::string fileName;
    std::optional<FileIdentity> identity;
    std::shared_ptr<GstFilter> source;
    Filters before;
    QDeadlineTimer deadline, firstStream;
    // Where the decoder is cued: a new one at the start of the whole clip,
    // one cued ahead at its key's segment.
    gint64 cuedStartNs = 0, cuedStopNs = -1;
    // Cued ahead: set to end its segment with a segment-done, which a loop
    // follows without a flush. A new decoder ends the clip with an
    // end-of-stream.
    bool cuedAsSegment = false;
  };

  ClipLoader(GstElement* pipeline, QObject* graph, const GraphRenderers& renderers)
      : pipeline_(pipeline), graph_(graph), renderers_(renderers) {}
  ClipLoader(const ClipLoader&) = delete;
  ClipLoader& operator=(const ClipLoader&) = delete;

  // A new decoder's streams are linked as they come: the first audio one to
  // the first of `audioCandidates`, the first video one to a new video
  // renderer, any other audio or video one to a null renderer.
  void Begin(GstElement* decoder, Filters audioCandidates);
  // Runs on a streaming thread when the decoder exposes a stream (`data` is
  // the loader). After loading, an audio or video stream is blocked and
  // handed to the window thread as a LatePadEvent.
  static void OnPadAdded(GstElement* element, GstPad* pad, gpointer data);
  // Ends a load: the streams it linked, taken under the linking lock so no
  // late one slips in; a decoder given up links nothing more.
  Filters End(bool giveUpDecoder);
  // The decoder of the clip in the graph (loading, loaded or kept): only
  // its streams are linked.
  void SetDecoder(GstElement* decoder);
  // A stream has come, or nothing is loading.
  bool StreamExposed();
  std::optional<std::string> FirstLinkFailure();

  // Links a stream the decoder exposed after loading to the renderer of its
  // type that lost its stream, or to a null renderer that joins `filters`.
  // Returns the renderer linked; on failure `error` says why.
  std::shared_ptr<GstFilter> LinkLatePad(GstPad* pad, Filters& filters, std::string& error);

  // Takes a clip's source out of the pipeline without waiting for its
  // streaming threads; a worker stops and frees it.
  void Abandon(const std::shared_ptr<GstFilter>& f);
  // Sources still being stopped by a worker, in the whole process.
  static int PendingTeardowns();

  bool IsLoading() const { return loading_.has_value(); }
  Loading& Current() { return *loading_; }
  void Start(Loading loading) { loading_ = std::move(loading); }
  // The loading record, no longer pending.
  Loading Finish();

 private:
  GstElement* const pipeline_;
  QObject* const graph_;
  const GraphRenderers& renderers_;
  std::optional<Loading> loading_;

  std::mutex linkMutex_;
  std::mutex mutex_;
  Filters streamLinked_;
  // A clip is being loaded: streams it exposes are linked at once.
  bool rendering_ = false;
  GstElement* decoder_ = nullptr;
  std::vector<std::string> linkFailures_;
  Filters audioCandidates_;
  bool audioTaken_ = false, videoTaken_ = false;
};

}  // namespace engine
