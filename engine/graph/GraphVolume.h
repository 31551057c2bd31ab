#pragma once
// The level of a graph's sound: the window's volume on the audio renderer in
// use, times the application-wide output level. Private to the media layer.
//
// Threads: the window thread sets the volume and the renderer; the output
// level changes on whichever thread changed it. All of it under mutex_.

#include "engine/MediaInternal.h"

#include <gst/gst.h>

#include <mutex>

namespace engine {

class GraphVolume : public WaveOutListener {
 public:
  GraphVolume();

  long Volume() const;
  // -10000 (silent) .. 0 (full), in hundredths of a decibel.
  void SetVolume(long volume);
  // A new clip starts at full volume; its renderer takes it when linked.
  void ResetVolume();
  // The level stage of the audio renderer now in use; it takes the level.
  void Use(GstElement* level);
  // That renderer left the graph.
  void Forget(GstElement* level);

  void WaveLevelChanged(double level) override;

 private:
  void ApplyLocked();

  mutable std::mutex mutex_;
  GstElement* element_ = nullptr;
  long volume_ = 0;
  double waveLevel_ = 1.0;
};

}  // namespace engine
