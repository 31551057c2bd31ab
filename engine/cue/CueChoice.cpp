#include "engine/cue/CueChoice.h"

#include <algorithm>

namespace engine {

std::vector<std::string> ChooseCues(std::vector<CueCandidate> candidates, const CueLimits& limits) {
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const CueCandidate& a, const CueCandidate& b) {
                     if (a.LastPlayed != b.LastPlayed) return a.LastPlayed > b.LastPlayed;
                     return a.WantOrder < b.WantOrder;
                   });
  std::vector<std::string> chosen;
  int videos = 0;
  std::int64_t bytes = 0;
  for (const CueCandidate& c : candidates) {
    if (static_cast<int>(chosen.size()) >= limits.Clips) break;
    // A clip that does not fit is passed over; a smaller one after it may.
    if (c.Video && videos >= limits.VideoClips) continue;
    if (bytes + c.Bytes > limits.Bytes) continue;
    if (std::find(chosen.begin(), chosen.end(), c.Path) != chosen.end()) continue;
    chosen.push_back(c.Path);
    videos += c.Video ? 1 : 0;
    bytes += c.Bytes;
  }
  return chosen;
}

}  // namespace engine
