#pragma once
// The watch on a graph's bus: what each message means for the clip in the
// graph. Ends, segment ends, length changes and errors go to the graph as
// events stamped with the clip's generation; errors and missing plugins are
// also kept here, for a load that is waiting on the window thread. Private to
// the media layer.
//
// Threads: OnBusMessage runs on whichever thread posted the message; the
// window thread reads and clears. The clip's record is under mutex_.

#include "engine/MediaTypes.h"
#include "engine/graph/FailureReason.h"

#include <gst/gst.h>

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace engine {

class BusWatch {
 public:
  // Watches the pipeline's bus until Stop. `outputLost` is called on the
  // posting thread when an audio renderer reports an error.
  BusWatch(GstElement* pipeline, QObject* graph, const std::atomic<std::uint64_t>& generation,
           std::function<void()> outputLost);
  BusWatch(const BusWatch&) = delete;
  BusWatch& operator=(const BusWatch&) = delete;
  void Stop();

  // A new clip: nothing is known against it.
  void Clear();
  // An error of the clip in the graph is known.
  bool ErrorInThisClip();
  bool MissingPlugins();
  // The result for the failure of the clip in the graph, with its detail
  // and its reason in the user's words. `linkFailure`: the first of its
  // streams that could not be linked.
  HRESULT Result(ClipFailure failure, const std::optional<std::string>& linkFailure,
                 std::string& detail, std::string& reason);

 private:
  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data);
  void NoteError(GstMessage* message, std::uint64_t generation);
  bool ErrorInThisClipLocked() const;

  GstElement* const pipeline_;
  QObject* const graph_;
  const std::atomic<std::uint64_t>& generation_;
  const std::function<void()> outputLost_;

  std::mutex mutex_;
  std::vector<std::string> missing_;
  bool error_ = false;
  std::uint64_t errorGeneration_ = 0;
  bool errorFromOutput_ = false;
  GQuark errorDomain_ = 0;
  int errorCode_ = 0;
  std::string errorText_, errorMessage_, errorDebug_;
  // Factory of the element that posted the error.
  std::string errorElement_;
};

}  // namespace engine
