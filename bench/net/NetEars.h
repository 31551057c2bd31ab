#pragma once
// The ears of one machine of the network group benchmark: a JACK client on
// that machine's server that notes when each sound begins, on the time line
// of the server's cycles (jack_get_cycle_times: the machine's monotonic
// clock, in microseconds), so that onsets heard on two servers compare.

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>

namespace bench {

class NetEars {
 public:
  // A sound begins where the level first passes `threshold` after at least
  // `quietFrames` below it.
  NetEars(const std::string& server, const std::string& name, float threshold, int quietFrames)
      : threshold_(threshold), quietFrames_(quietFrames) {
    jack_status_t status{};
    client_ = jack_client_open(name.c_str(), jack_options_t(JackNoStartServer | JackServerName),
                               &status, server.c_str());
    if (client_ == nullptr) return;
    port_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &NetEars::Process, this);
    jack_set_xrun_callback(client_, &NetEars::Xrun, this);
    jack_activate(client_);
  }
  ~NetEars() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  NetEars(const NetEars&) = delete;
  NetEars& operator=(const NetEars&) = delete;

  bool Ok() const { return client_ != nullptr; }
  // Hears the first output port of the client `source`; false while it has
  // none.
  bool Follow(const std::string& source) {
    const char** ports =
        jack_get_ports(client_, ("^" + source + ":").c_str(), nullptr, JackPortIsOutput);
    if (ports == nullptr) return false;
    const bool ok =
        ports[0] != nullptr && jack_connect(client_, ports[0], jack_port_name(port_)) == 0;
    jack_free(ports);
    return ok;
  }
  int Count() const { return count_.load(); }
  // It has been quiet long enough for the next sound to count as an onset.
  bool Quiet() const { return quiet_.load(std::memory_order_relaxed) >= quietFrames_; }
  // The n-th onset, in µs of the monotonic clock; -1 when untimed.
  double Onset(int n) const { return onsets_[static_cast<std::size_t>(n)]; }
  // The server's missed cycles counted when the n-th onset was heard.
  int XrunsAt(int n) const { return onsetXruns_[static_cast<std::size_t>(n)]; }
  double PeriodUs() const { return periodUs_.load(); }
  // Cycles the server reported missed: time its sound fell behind.
  int Xruns() const { return xruns_.load(); }

 private:
  // Runs on the JACK process thread: no lock, no allocation.
  static int Process(jack_nframes_t frames, void* self) {
    auto* ears = static_cast<NetEars*>(self);
    const auto* in = static_cast<const float*>(jack_port_get_buffer(ears->port_, frames));
    jack_nframes_t cycleFrame = 0;
    jack_time_t cycleUs = 0, nextUs = 0;
    float periodUs = 0;
    // Under load the server's times are now and then read torn (far off in
    // their high bits): read again, and an onset in a cycle whose times
    // stay off is marked untimed (-1).
    const double nominalUs = 1e6 * frames / jack_get_sample_rate(ears->client_);
    bool known = false;
    for (int tries = 0; tries < 3 && !known; ++tries) {
      const bool read =
          jack_get_cycle_times(ears->client_, &cycleFrame, &cycleUs, &nextUs, &periodUs) == 0;
      const jack_time_t now = jack_get_time();
      // Torn times are off by years; a loaded machine's by milliseconds.
      const double spanUs = double(nextUs) - double(cycleUs);
      const double sinceUs = double(now) - double(cycleUs);
      known = read && spanUs > nominalUs / 2 && spanUs < 2 * nominalUs && std::fabs(sinceUs) < 1e6;
    }
    if (known) ears->periodUs_ = periodUs;
    const double usPerFrame = static_cast<double>(nextUs - cycleUs) / frames;
    for (jack_nframes_t i = 0; i < frames; ++i) {
      if (std::fabs(in[i]) < ears->threshold_) {
        ears->quiet_.store(ears->quiet_.load(std::memory_order_relaxed) + 1,
                           std::memory_order_relaxed);
        continue;
      }
      const int n = ears->count_.load(std::memory_order_relaxed);
      if (ears->quiet_.load(std::memory_order_relaxed) >= ears->quietFrames_ &&
          n < static_cast<int>(ears->onsets_.size())) {
        ears->onsets_[static_cast<std::size_t>(n)] =
            known ? static_cast<double>(cycleUs) + i * usPerFrame : -1;
        ears->onsetXruns_[static_cast<std::size_t>(n)] = ears->xruns_.load();
        ears->count_.store(n + 1, std::memory_order_release);
      }
      ears->quiet_.store(0, std::memory_order_relaxed);
    }
    return 0;
  }

  // Runs on a JACK thread.
  static int Xrun(void* self) {
    ++static_cast<NetEars*>(self)->xruns_;
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  float threshold_;
  int quietFrames_;
  std::atomic<int> quiet_{1 << 30};  // frames below the threshold so far
  std::array<double, 8192> onsets_{};
  std::array<int, 8192> onsetXruns_{};
  std::atomic<int> count_{0};
  std::atomic<double> periodUs_{0};
  std::atomic<int> xruns_{0};
};

}  // namespace bench
