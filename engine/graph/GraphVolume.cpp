#include "engine/graph/GraphVolume.h"

#include <cmath>

namespace engine {

GraphVolume::GraphVolume() : waveLevel_(CurrentWaveLevel()) {}

long GraphVolume::Volume() const {
  std::lock_guard lock(mutex_);
  return volume_;
}

void GraphVolume::SetVolume(long volume) {
  std::lock_guard lock(mutex_);
  volume_ = volume;
  ApplyLocked();
}

void GraphVolume::ResetVolume() {
  std::lock_guard lock(mutex_);
  volume_ = 0;
}

void GraphVolume::Use(GstElement* level) {
  std::lock_guard lock(mutex_);
  element_ = level;
  ApplyLocked();
}

void GraphVolume::Forget(GstElement* level) {
  std::lock_guard lock(mutex_);
  if (element_ == level) element_ = nullptr;
}

void GraphVolume::WaveLevelChanged(double level) {
  std::lock_guard lock(mutex_);
  waveLevel_ = level;
  ApplyLocked();
}

void GraphVolume::ApplyLocked() {
  if (element_ == nullptr) return;
  const double linear = volume_ <= -10000 ? 0.0 : std::pow(10.0, volume_ / 2000.0);
  g_object_set(element_, "volume", linear * waveLevel_, nullptr);
}

}  // namespace engine
