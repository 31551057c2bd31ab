#pragma once
// The baseline the benchmarks compare the player with: a fresh playbin per
// clip, opened, cued on a range and played, the way a naive player would.

#include <string>

namespace bench {

// Milliseconds from the start of opening until the pipeline plays and its
// audio sink has the first buffer of the range; negative on failure. Uses
// the same default audio sink as the graphs.
double FreshPlaybinKeyToSoundMs(const std::string& fileName, double startSeconds,
                                double stopSeconds);

}  // namespace bench
