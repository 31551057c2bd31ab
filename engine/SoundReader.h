#pragma once
// Reads the whole sound of a file (an audio clip, or a video's sound track)
// as 32-bit float frames, as fast as it decodes, for pictures of the sound
// rather than for playing it. Runs on the calling thread, which it blocks
// until the end, a failure or a cancel; call it off the window thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace engine {

struct SoundFormat {
  int rate = 0;
  int channels = 0;          // 1 or 2: more are mixed down to two
  std::int64_t frames = -1;  // the expected length; -1 while unknown
};

enum class SoundReadResult {
  kDone,       // every frame was handed over
  kNoSound,    // the file can't be decoded, or holds no sound
  kCancelled,  // cancel was set
};

// Called once before the first block.
using SoundFormatSink = std::function<void(const SoundFormat& format)>;
// Called with each decoded block of interleaved frames.
using SoundBlockSink = std::function<void(const float* interleaved, std::int64_t frames)>;

// Decodes path (UTF-8). cancel is polled between blocks and at least every
// 100 ms. A decoder that stops delivering for stallTimeout counts as a file
// that can't be decoded.
SoundReadResult ReadSound(const std::string& path, const SoundFormatSink& onFormat,
                          const SoundBlockSink& onBlock, const std::atomic<bool>& cancel,
                          std::int64_t stallTimeoutMs = 10000);

}  // namespace engine
