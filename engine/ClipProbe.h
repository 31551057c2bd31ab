#pragma once
// Whether GStreamer can play a file, asked before the file goes into a set
// (a drop on the keyboard), so that a key never holds something it can't
// play. Runs on the calling thread and returns within the timeout.

#include <chrono>
#include <string>

namespace engine {

struct ClipProbeResult {
  enum class Verdict {
    kPlayable,    // sound or a moving picture was found
    kUnplayable,  // GStreamer said it can't play it; reason tells why
    kUndecided,   // no answer within the timeout
  };
  Verdict verdict = Verdict::kUndecided;
  std::string reason;  // in plain words, for kUnplayable
};

// Looks into the file at path (UTF-8) with GStreamer's discoverer.
ClipProbeResult ProbeClip(const std::string& path, std::chrono::milliseconds timeout);

}  // namespace engine
