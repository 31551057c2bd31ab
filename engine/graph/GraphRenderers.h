#pragma once
// Builds the renderers of a graph: the audio chain over an output element,
// the video renderer into the graph's frames, null renderers. Every one
// reports the segments it sees to the graph's segment tracker. Private to the
// media layer.
//
// Threads: set up once; then called on the window thread and on the
// streaming thread that links a clip's streams.

#include "engine/graph/GstFilters.h"

#include <gst/gst.h>

#include <memory>
#include <string>

namespace engine {

class GraphRenderers {
 public:
  GraphRenderers(const void* graph, std::shared_ptr<SegmentTracker> segments,
                 std::shared_ptr<ProbeState> probe, std::shared_ptr<FrameSlot> frames)
      : graph_(graph),
        segments_(std::move(segments)),
        probe_(std::move(probe)),
        frames_(std::move(frames)) {}

  std::shared_ptr<GstFilter> MakeAudioRenderer(GstElement* sink, std::string name) const;
  std::shared_ptr<GstFilter> MakeVideoRenderer() const;
  std::shared_ptr<GstFilter> MakeNullRenderer() const;
  // True when the element is, or is inside, one of the audio renderers.
  static bool FromOutput(GstObject* object);

 private:
  const void* const graph_;
  const std::shared_ptr<SegmentTracker> segments_;
  const std::shared_ptr<ProbeState> probe_;
  const std::shared_ptr<FrameSlot> frames_;
};

}  // namespace engine
