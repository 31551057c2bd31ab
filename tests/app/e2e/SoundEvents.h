#pragma once
// Finding sound in a recording: where it starts, where it stops, and which
// tone it is.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace e2e {

// A stretch of sound, frames [begin, end) of the recording.
struct SoundSpan {
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t Length() const { return end - begin; }
};

// The stretches where the level rises above `threshold`. A dip shorter than
// `bridge` frames (a tone's zero crossing) does not end a stretch; a longer
// silence does. `offset` is the frame of level[0].
std::vector<SoundSpan> FindSounds(const std::vector<float>& level, float threshold,
                                  std::size_t bridge, uint64_t offset = 0);

// The first frame at or after `from` where sound starts after at least
// `silence` frames below the threshold (frames before `offset` count as
// silent).
std::optional<uint64_t> FindOnset(const std::vector<float>& level, float threshold,
                                  std::size_t silence, uint64_t from, uint64_t offset = 0);

// Frames whose level is above the threshold.
std::size_t CountSounding(const std::vector<float>& level, float threshold);

// The frequency of a steady tone from its upward zero crossings, in Hz.
double ToneFrequency(const std::vector<float>& samples, double sampleRate);

// Reads a recording of a clip made of a low tone followed by a high one
// in windows of `window` frames: for each window, 0 when its tone is below
// `splitHertz`, 1 when above, -1 when the window is not all tone (silence,
// or a dropout of the server). Dropouts cut windows out, but never turn a
// high tone into a low one.
std::vector<int> ToneSteps(const std::vector<float>& samples, double sampleRate, std::size_t window,
                           double splitHertz);
// How often the clip started again: a low window after a high one, skipping
// the windows that are not all tone.
int CountRestarts(const std::vector<int>& steps);

// Percentile (0..100) of a list of values; 0 for an empty list.
double Percentile(std::vector<double> values, double percent);

}  // namespace e2e
