#pragma once
// Ears on a PulseAudio server, for tests that hear what the program plays
// there: a record stream on the server's default source (the monitor of
// the test server's null sink, which mixes every stream), kept frame by
// frame in 32-bit float stereo at 48 kHz.
//
// Frame numbers count from the first frame recorded. A monitor hears the
// sum of every stream, so a test plays one window at a time.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct pa_simple;

namespace e2e {

class PulseProbe {
 public:
  static constexpr unsigned kRate = 48000;
  static constexpr int kChannels = 2;
  // Frames the server hands over at a time: 2 ms, so that a frame placed
  // at "the last one recorded" is off by no more than that. It also keeps
  // the null sink mixing no more than that ahead: a monitor hands on what
  // was mixed at once, and sound a stream writes over its queue afterwards
  // (which a sound card would still play) would reach a slower recorder as
  // a jump that no speaker plays.
  static constexpr unsigned kChunk = 96;

  PulseProbe();
  ~PulseProbe();
  PulseProbe(const PulseProbe&) = delete;
  PulseProbe& operator=(const PulseProbe&) = delete;

  bool Ok() const { return stream_ != nullptr; }
  const std::string& Error() const { return error_; }

  uint64_t RecordedUntil() const { return recorded_.load(std::memory_order_acquire); }
  unsigned SampleRate() const { return kRate; }
  // Copies of the recording over [from, to), clamped to what was recorded:
  // one channel, or the absolute value of the louder channel per frame.
  std::vector<float> Samples(int channel, uint64_t from, uint64_t to) const;
  std::vector<float> Level(uint64_t from, uint64_t to) const;
  bool WriteWav(const std::string& path, uint64_t from, uint64_t to) const;
  // The longest the server kept the recording waiting, in milliseconds,
  // before handing over a piece that begins within [from, to). A server
  // held back that long (a sound server's own thread the machine kept
  // waiting) lets every stream on it run dry, whatever a client does.
  double LongestWaitMs(uint64_t from, uint64_t to) const;

 private:
  void Run();

  pa_simple* stream_ = nullptr;
  std::string error_;
  mutable std::mutex mutex_;
  std::vector<float> samples_;  // interleaved
  std::vector<float> waits_;    // ms before each piece came, piece by piece
  std::atomic<uint64_t> recorded_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace e2e
