#include "engine/outputs/AlsaOutput.h"

#include "engine/outputs/OutputSink.h"
#include "engine/stages/GainRamp.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

namespace engine {

namespace {

// A window plays in stereo (in mono on a mono device).
constexpr int kMaxChannels = 2;
// The rate asked for; the device's own nearest is taken, so nothing
// between us and the card resamples.
constexpr unsigned kRate = 48'000;
// The device wakes the filling thread this often, and the sink's ring
// buffer is cut into segments of that much. Only asked for: the device
// takes its nearest, and all that follows goes by the period it took.
constexpr unsigned kPeriodUs = 5'000;
// How far ahead of what the card plays a start or a cut is written: what
// it has already fetched can't be taken back. Safe on any card: what is
// taken back is bounded by what ALSA says can be rewound, so a card that
// fetches further ahead has its starts land later, never inside sound it
// has fetched.
constexpr double kMarginSeconds = 0.002;
// A running device that has taken nothing for this long is gone, though
// ALSA did not say so: a device played through a sound server's ALSA plugin
// just stops when the server goes away.
// Two seconds is a hundred times a period and tens of times the buffer on
// any machine, so no busy machine's stall is taken for it.
constexpr auto kStalledFor = std::chrono::seconds(2);
// With nothing to do, the filling thread still looks at the device this
// often, to notice that it stalled.
constexpr int kIdlePollMs =
    int(std::chrono::duration_cast<std::chrono::milliseconds>(kStalledFor).count() / 10);
// A write that finds no room waits for the device this long at a time, as
// does a resume after a suspend, and gives up after so many tries: a device
// that takes nothing for a second is as good as gone.
constexpr int kWriteWaitMs = 10;
constexpr int kWriteTries = 100;

// An ALSA playback PCM, kept full from the ring by a QueueFiller on a
// thread of its own.
class AlsaDevice : public OutputDevice {
 public:
  explicit AlsaDevice(const OutputSettings& settings)
      : OutputDevice(&filler_), deviceName_(settings.device) {}

  bool Open() override;
  void Close() override {
    ClosePcm();
    filler_.Reset();
  }
  OutputFormat Format() const override {
    if (pcm_ == nullptr) return {};
    return {int(rate_), channels_};
  }
  int SegmentFrames() override { return int(period_); }

 private:
  class PcmQueue;

  void Run();
  bool Configure();
  bool OpenPcm();
  void ClosePcm();
  void Lost() { Lose(GST_RESOURCE_ERROR_WRITE, "The ALSA sound device went away."); }

  std::string deviceName_;  // "" for the default device
  snd_pcm_t* pcm_ = nullptr;
  unsigned rate_ = 0;
  int channels_ = 0;
  snd_pcm_uframes_t period_ = 0;
  std::atomic<bool> stop_{false};
  QueueFiller filler_;
  std::thread thread_;
};

const OutputKind kAlsa("tastivoalsasink", "TastivoAlsaSink", "Tastivo ALSA output",
                       "Plays sound on an ALSA device, fading every cut", kMaxChannels, false, true,
                       "The ALSA sound device went away.",
                       "The sound does not suit the ALSA output.", &MakeDevice<AlsaDevice>);

// The PCM's buffer as a queue written over from just ahead of what is
// heard: ALSA rewinds what the card has not played yet.
class AlsaDevice::PcmQueue : public QueuedDevice {
 public:
  explicit PcmQueue(AlsaDevice& d) : d_(d) {}

  std::optional<std::uint64_t> Queued() override {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(d_.pcm_, &delay) < 0) return std::nullopt;
    return std::uint64_t(std::max<snd_pcm_sframes_t>(delay, 0));
  }

  std::uint64_t TakeBack(std::uint64_t frames) override {
    const snd_pcm_sframes_t can = snd_pcm_rewindable(d_.pcm_);
    if (can <= 0) return 0;
    const snd_pcm_sframes_t got =
        snd_pcm_rewind(d_.pcm_, snd_pcm_uframes_t(std::min<std::uint64_t>(frames, can)));
    return got > 0 ? std::uint64_t(got) : 0;
  }

  bool Write(const float* io, int frames) override {
    for (int tries = 0; frames > 0 && tries < kWriteTries; ++tries) {
      const snd_pcm_sframes_t n = snd_pcm_writei(d_.pcm_, io, snd_pcm_uframes_t(frames));
      if (n == -EAGAIN) {
        snd_pcm_wait(d_.pcm_, kWriteWaitMs);
        continue;
      }
      if (n < 0) {
        if (!Recover(int(n))) return false;
        continue;
      }
      io += std::size_t(n) * d_.channels_;
      frames -= int(n);
    }
    return frames == 0;
  }

  // After a failure: an underrun (the machine stalled) or a suspend is
  // got over; anything else is the device going away.
  bool Recover(int error) {
    if (error == -ESTRPIPE) {
      for (int i = 0; i < kWriteTries && snd_pcm_resume(d_.pcm_) == -EAGAIN; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(kWriteWaitMs));
      error = -EPIPE;
    }
    return error == -EPIPE && snd_pcm_prepare(d_.pcm_) == 0;
  }

 private:
  AlsaDevice& d_;
};

// The filling thread: keeps the device's buffer full from the ring, and
// writes a start or a cut over it as soon as the ring starts, stops, is
// cleared or is given sound (each of which wakes it).
void AlsaDevice::Run() {
  RunAheadOfOrdinaryWork();
  GstAudioRingBuffer* buf = Ring();
  PcmQueue queue(*this);
  const int count = snd_pcm_poll_descriptors_count(pcm_);
  std::vector<pollfd> fds(std::size_t(std::max(count, 0)) + 1);
  fds[0] = {filler_.WakeFd(), POLLIN, 0};
  if (count > 0) snd_pcm_poll_descriptors(pcm_, &fds[1], unsigned(count));
  // While a start waits for the ring's sound, the queue is looked at once
  // a margin: it is written over anyway once it runs short of two.
  const int waitMs = std::max(1, int(std::lround(kMarginSeconds * 1000)));
  bool waiting = false;                           // a start waits for the ring's first sound
  auto heard = std::chrono::steady_clock::now();  // the device last asked for sound
  while (!stop_.load()) {
    // While a start waits, the device's room is no reason to wake: the
    // ring being given sound is.
    const int polled = waiting ? 1 : int(fds.size());
    if (poll(fds.data(), nfds_t(polled), waiting ? waitMs : kIdlePollMs) < 0 && errno != EINTR)
      break;
    if (fds[0].revents & POLLIN) filler_.TakeWakes();
    if (stop_.load()) break;
    unsigned short revents = 0;
    if (!waiting && count > 0)
      snd_pcm_poll_descriptors_revents(pcm_, &fds[1], unsigned(count), &revents);
    if ((revents & (POLLERR | POLLNVAL)) && snd_pcm_state(pcm_) == SND_PCM_STATE_DISCONNECTED) {
      Lost();
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if ((revents & POLLOUT) || snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) {
      heard = now;
    } else if (now - heard > kStalledFor) {
      Lost();
      break;
    }
    const snd_pcm_sframes_t room = snd_pcm_avail(pcm_);
    if (room < 0) {
      if (!queue.Recover(int(room))) {
        Lost();
        break;
      }
      continue;
    }
    const bool edge = filler_.Reader().EdgeComing(buf) != RingReader::Edge::None;
    if (snd_pcm_uframes_t(room) < period_ && !edge) {
      waiting = false;
      continue;
    }
    waiting = !filler_.Fill(buf, queue, std::uint64_t(room));
  }
}

// The PCM in our format: interleaved floats, stereo or mono, the device's
// rate near 48 kHz, a buffer of AlsaLatencyUs() in periods of kPeriodUs.
bool AlsaDevice::Configure() {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  unsigned rate = kRate, channels = kMaxChannels;
  unsigned bufferUs = unsigned(AlsaLatencyUs()), periodUs = std::min(kPeriodUs, bufferUs / 2);
  if (snd_pcm_hw_params_any(pcm_, hw) < 0) return false;
  // Our own rate where the device has one near it: the stream resamples
  // on its way here, and nothing after it should.
  snd_pcm_hw_params_set_rate_resample(pcm_, hw, 0);
  if (snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_FLOAT) < 0 ||
      snd_pcm_hw_params_set_channels_near(pcm_, hw, &channels) < 0 ||
      snd_pcm_hw_params_set_rate_near(pcm_, hw, &rate, nullptr) < 0)
    return false;
  snd_pcm_hw_params_set_period_time_near(pcm_, hw, &periodUs, nullptr);
  snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &bufferUs, nullptr);
  if (snd_pcm_hw_params(pcm_, hw) < 0) return false;
  snd_pcm_uframes_t period = 0, buffer = 0;
  snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
  snd_pcm_hw_params_get_buffer_size(hw, &buffer);
  if (channels < 1 || int(channels) > kMaxChannels || period == 0 || buffer == 0) return false;

  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_sw_params_current(pcm_, sw);
  // Starts once the buffer is full of (silent) sound, and wakes us for
  // every period of room.
  snd_pcm_sw_params_set_start_threshold(pcm_, sw, buffer);
  snd_pcm_sw_params_set_avail_min(pcm_, sw, period);
  if (snd_pcm_sw_params(pcm_, sw) < 0) return false;
  rate_ = rate;
  channels_ = int(channels);
  period_ = period;
  return true;
}

// The device as named, else through ALSA's converter: a card's own device
// ("hw:0,0") may not take floats, or stereo.
bool AlsaDevice::OpenPcm() {
  const std::string name = deviceName_.empty() ? "default" : deviceName_;
  for (const std::string& tried : {name, "plug:'" + name + "'"}) {
    if (snd_pcm_open(&pcm_, tried.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
      pcm_ = nullptr;
      return false;
    }
    if (Configure()) return true;
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
    if (name.rfind("plug", 0) == 0) break;
  }
  return false;
}

void AlsaDevice::ClosePcm() {
  if (thread_.joinable()) {
    stop_ = true;
    filler_.Wake();
    thread_.join();
  }
  if (pcm_ != nullptr) {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
  }
  pcm_ = nullptr;
  filler_.CloseWake();
}

bool AlsaDevice::Open() {
  gone_ = false;
  stop_ = false;
  if (!OpenPcm()) {
    Fail(GST_RESOURCE_ERROR_OPEN_WRITE, "The ALSA sound device could not be opened.",
         "device \"" + (deviceName_.empty() ? std::string("default") : deviceName_) + "\"");
    return false;
  }
  const int ramp = FadesEnabled() ? std::max(1, int(std::lround(kRampSeconds * rate_))) : 0;
  // A device may fetch a period at a time (a sound server's ALSA plugin
  // does, at its own cycle, near ours but not ours): a start or a cut
  // written closer than that to what it has fetched would leave it short,
  // and it would run dry. Two of our periods cover one of its.
  const double margin = std::max(kMarginSeconds, 2.0 * double(period_) / rate_);
  filler_.Prepare(channels_, int(rate_), ramp, 4096, true, margin);
  if (!filler_.OpenWake()) {
    Fail(GST_RESOURCE_ERROR_OPEN_WRITE, "The ALSA output could not be set up.");
    ClosePcm();
    filler_.Reset();
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

}  // namespace

long AlsaLatencyUs() {
  const char* text = std::getenv("TASTIVO_ALSA_LATENCY_US");
  const long asked = text ? std::atol(text) : 0;
  if (asked > 0) return std::max(asked, 4'000L);
  return 40'000L;
}

GstElement* MakeAlsaOutput(const std::string& device) {
  return MakeOutputSink(kAlsa, {{}, device});
}

}  // namespace engine
