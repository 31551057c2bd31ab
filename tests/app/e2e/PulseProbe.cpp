#include "PulseProbe.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace e2e {

PulseProbe::PulseProbe() {
  const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, kChannels};
  pa_buffer_attr attr{};
  attr.maxlength = std::uint32_t(-1);
  // Small pieces, so that what was played is in the recording within
  // milliseconds, not at the server's default of seconds.
  attr.fragsize = kChunk * kChannels * sizeof(float);
  int error = 0;
  stream_ = pa_simple_new(nullptr, "tastivo-test-ears", PA_STREAM_RECORD, nullptr, "ears", &format,
                          nullptr, &attr, &error);
  if (stream_ == nullptr) {
    error_ = std::string("no PulseAudio server to record: ") + pa_strerror(error) +
             " (scripts/with-test-services.sh starts one)";
    return;
  }
  samples_.reserve(std::size_t(kRate) * kChannels * 120);
  thread_ = std::thread([this] { Run(); });
}

PulseProbe::~PulseProbe() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (stream_ != nullptr) pa_simple_free(stream_);
}

void PulseProbe::Run() {
  std::vector<float> chunk(std::size_t(kChunk) * kChannels);
  auto last = std::chrono::steady_clock::now();
  while (!stop_) {
    int error = 0;
    if (pa_simple_read(stream_, chunk.data(), chunk.size() * sizeof(float), &error) < 0) break;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    waits_.push_back(std::chrono::duration<float, std::milli>(now - last).count());
    last = now;
    samples_.insert(samples_.end(), chunk.begin(), chunk.end());
    recorded_.store(samples_.size() / kChannels, std::memory_order_release);
  }
}

std::vector<float> PulseProbe::Samples(int channel, uint64_t from, uint64_t to) const {
  std::lock_guard lock(mutex_);
  const uint64_t frames = samples_.size() / kChannels;
  to = std::min(to, frames);
  std::vector<float> out;
  for (uint64_t f = from; f < to; ++f) out.push_back(samples_[f * kChannels + channel]);
  return out;
}

std::vector<float> PulseProbe::Level(uint64_t from, uint64_t to) const {
  auto level = Samples(0, from, to);
  const auto right = Samples(1, from, to);
  for (std::size_t i = 0; i < level.size() && i < right.size(); ++i)
    level[i] = std::max(std::fabs(level[i]), std::fabs(right[i]));
  return level;
}

double PulseProbe::LongestWaitMs(uint64_t from, uint64_t to) const {
  std::lock_guard lock(mutex_);
  double longest = 0;
  // The first piece waited for the stream to start.
  for (uint64_t piece = std::max<uint64_t>(from / kChunk, 1);
       piece < waits_.size() && piece * kChunk < to; ++piece)
    longest = std::max(longest, double(waits_[piece]));
  return longest;
}

bool PulseProbe::WriteWav(const std::string& path, uint64_t from, uint64_t to) const {
  const auto left = Samples(0, from, to), right = Samples(1, from, to);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const auto put32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, file); };
  const auto put16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, file); };
  const auto bytes = uint32_t(left.size() * kChannels * 4);
  std::fwrite("RIFF", 1, 4, file);
  put32(36 + bytes);
  std::fwrite("WAVEfmt ", 1, 8, file);
  put32(16);
  put16(3);
  put16(kChannels);
  put32(kRate);
  put32(kRate * kChannels * 4);
  put16(kChannels * 4);
  put16(32);
  std::fwrite("data", 1, 4, file);
  put32(bytes);
  for (std::size_t i = 0; i < left.size(); ++i) {
    std::fwrite(&left[i], 4, 1, file);
    std::fwrite(&right[i], 4, 1, file);
  }
  return std::fclose(file) == 0;
}

}  // namespace e2e
