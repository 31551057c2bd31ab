#pragma once
// Pieces shared by the files of the media layer; not for its users.

#include "engine/MediaTypes.h"

#include <cstdint>

namespace engine {

extern const Guid kClassDefaultAudioRenderer;

// 0.0 .. 1.0 for a two-channel output volume.
double WaveLevelOf(std::uint32_t volume);
double CurrentWaveLevel();

// Told whenever the application-wide output level changes. Runs on the
// thread that changed it, under the level's lock: only store the value.
class WaveOutListener {
 public:
  WaveOutListener();
  virtual ~WaveOutListener();
  WaveOutListener(const WaveOutListener&) = delete;
  WaveOutListener& operator=(const WaveOutListener&) = delete;
  virtual void WaveLevelChanged(double level) = 0;
};

}  // namespace engine
