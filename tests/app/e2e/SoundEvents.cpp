#include "SoundEvents.h"

#include <algorithm>
#include <cmath>

namespace e2e {

std::vector<SoundSpan> FindSounds(const std::vector<float>& level, float threshold,
                                  std::size_t bridge, uint64_t offset) {
  std::vector<SoundSpan> spans;
  std::size_t quiet = 0;
  bool inSound = false;
  for (std::size_t i = 0; i < level.size(); ++i) {
    if (level[i] > threshold) {
      if (!inSound) spans.push_back({offset + i, offset + i + 1});
      spans.back().end = offset + i + 1;
      inSound = true;
      quiet = 0;
    } else if (inSound && ++quiet >= bridge) {
      inSound = false;
    }
  }
  return spans;
}

std::optional<uint64_t> FindOnset(const std::vector<float>& level, float threshold,
                                  std::size_t silence, uint64_t from, uint64_t offset) {
  std::size_t quiet = silence;  // before the recording counts as silence
  for (std::size_t i = 0; i < level.size(); ++i) {
    if (level[i] > threshold) {
      if (quiet >= silence && offset + i >= from) return offset + i;
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  return std::nullopt;
}

std::size_t CountSounding(const std::vector<float>& level, float threshold) {
  return static_cast<std::size_t>(
      std::count_if(level.begin(), level.end(), [&](float v) { return v > threshold; }));
}

double ToneFrequency(const std::vector<float>& samples, double sampleRate) {
  std::size_t first = 0, last = 0, crossings = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0.0;
  return (crossings - 1) * sampleRate / static_cast<double>(last - first);
}

std::vector<int> ToneSteps(const std::vector<float>& samples, double sampleRate, std::size_t window,
                           double splitHertz) {
  std::vector<int> steps;
  for (std::size_t at = 0; at + window <= samples.size(); at += window) {
    // A tone at 0.8 of full scale stays near zero for a frame at a time at
    // most; a millisecond of near silence is a gap.
    std::size_t quiet = 0, longestQuiet = 0;
    for (std::size_t i = at; i < at + window; ++i) {
      quiet = std::fabs(samples[i]) < 0.01f ? quiet + 1 : 0;
      longestQuiet = std::max(longestQuiet, quiet);
    }
    if (longestQuiet * 1000 >= static_cast<std::size_t>(sampleRate)) {
      steps.push_back(-1);
      continue;
    }
    const std::vector<float> part(samples.begin() + static_cast<std::ptrdiff_t>(at),
                                  samples.begin() + static_cast<std::ptrdiff_t>(at + window));
    steps.push_back(ToneFrequency(part, sampleRate) < splitHertz ? 0 : 1);
  }
  return steps;
}

int CountRestarts(const std::vector<int>& steps) {
  int restarts = 0, last = -1;
  for (int step : steps) {
    if (step < 0) continue;
    if (last == 1 && step == 0) ++restarts;
    last = step;
  }
  return restarts;
}

double Percentile(std::vector<double> values, double percent) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const double rank = percent / 100.0 * static_cast<double>(values.size() - 1);
  const auto low = static_cast<std::size_t>(std::floor(rank));
  const auto high = static_cast<std::size_t>(std::ceil(rank));
  return values[low] + (values[high] - values[low]) * (rank - static_cast<double>(low));
}

}  // namespace e2e
