#pragma once
// The cue pool: the clips of the keys a window shows, opened, decoded up to
// their first sound (and picture) and held there, so the first press of any
// key starts as fast as a press of the key played last.
//
// Each clip is a decoder of its own in a pipeline of the pool's that has no
// output: its streams are blocked on their first buffers. A graph that
// renders a file the pool holds, unchanged on disk, takes the decoder over
// into its own pipeline and links it like a decoder it had just made; the
// rest of the load (preroll, notices, errors) is the same as for a clip
// opened cold. Nothing the pool does is seen by a player: a clip that can't
// be cued is simply opened cold, and says what is wrong then.
//
// Cueing runs on a worker thread of the pool's, one clip at a time, at a
// lower priority than the window and the sound; the window thread only
// names the clips and takes one, each under a short lock. A clip taken is
// cued again a moment later for its next press from another key.
//
// What the pool holds is bounded (CueChoice.h): $TASTIVO_CUE_CLIPS sets the
// number of clips ("0" turns cueing off), $TASTIVO_CUE_VIDEO_CLIPS the
// number of those with a picture.

#include "engine/MediaGraph.h"
#include "engine/cue/CueChoice.h"
#include "engine/graph/ClipCache.h"

#include <gst/gst.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

class CuePool {
 public:
  static CuePool& Instance();

  // Window thread: the clips `owner` may play, best first; replaces what it
  // named before. An empty list, or Forget, withdraws it. A clip is cued at
  // the segment between its marks (those of the first key that names it).
  void Want(const void* owner, std::vector<ClipToCue> clips);
  void Forget(const void* owner);

  // A decoder taken over: its source pads, each blocked on its first
  // buffer until Release.
  struct Taken {
    GstElement* Decoder = nullptr;  // a reference of the caller's
    struct Pad {
      GstPad* Pad = nullptr;  // a reference
      gulong Probe = 0;
    };
    std::vector<Pad> Pads;
    // The segment it is cued at, as a seek sets it.
    std::int64_t StartNs = 0, StopNs = -1;
  };
  // Window thread: the cued decoder of this file when the pool holds one
  // and the file is what it was when cued (`identity`, as the caller read
  // it once for the whole open); it is out of the pool's
  // pipeline, in the state it was cued in (paused). Counts as a play of the
  // file either way.
  std::optional<Taken> Take(const std::string& path, const std::optional<FileIdentity>& identity);
  // Lets the taken streams flow, at the program's own priority where the
  // system allows (the pool cues at a lower one); unrefs the pads.
  static void Release(Taken& taken);
  // Window thread: the graph gave up the decoder it took for this file (or
  // the one it kept after playing it) for another clip. The file is cued
  // again now: two keys played in turn would otherwise open cold each time.
  void GivenUp(const std::string& path);

  // ---- What the pool holds, for tests and benchmarks.
  enum class Status { None, Cueing, Ready, Failed };
  Status StatusOf(const std::string& path) const;
  int Ready() const;
  // Holds what the windows want, within the limits, with nothing being
  // cued, released or due to be cued again: what it holds stays so until
  // a window names other clips or a key is played.
  bool Settled() const;
  // The memory the cued clips held when they were cued, as measured.
  std::int64_t Bytes() const;
  void SetLimits(const CueLimits& limits);
  CueLimits Limits() const;
  // Releases everything and forgets every window's list (tests).
  void Clear();

  CuePool(const CuePool&) = delete;
  CuePool& operator=(const CuePool&) = delete;

 private:
  CuePool();
  ~CuePool();
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace engine
