#pragma once
// The JACK benchmarks' ears: the end-to-end tests' probe, and a client of
// their own that reads the server's frame clock, so that a press can be
// placed on the probe's timeline at the moment it is made.

#include "JackProbe.h"

#include <jack/jack.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace bench {

class JackEars {
 public:
  // Opens the clients "<what>-ears-<tag>" (a probe of `channels` inputs)
  // and "<what>-clock-<tag>" on the running server.
  JackEars(const std::string& what, const std::string& tag, int channels)
      : probe_(what + "-ears-" + tag, channels, 120),
        clock_(jack_client_open((what + "-clock-" + tag).c_str(), JackNoStartServer, nullptr)) {}
  ~JackEars() {
    if (clock_ != nullptr) jack_client_close(clock_);
  }
  JackEars(const JackEars&) = delete;
  JackEars& operator=(const JackEars&) = delete;

  // False, with a word on stderr, when a client did not open.
  bool Ok() const {
    if (probe_.Ok() && clock_ != nullptr) return true;
    std::fprintf(stderr, "cannot open the JACK clients: %s\n", probe_.Error().c_str());
    return false;
  }
  e2e::JackProbe& Probe() { return probe_; }
  const e2e::JackProbe& Probe() const { return probe_; }

  // The server's frame now, on the probe's timeline (once it has recorded a
  // cycle).
  uint64_t FrameNow() const {
    return static_cast<uint64_t>(
        static_cast<jack_nframes_t>(jack_frame_time(clock_) - probe_.Origin()));
  }

 private:
  e2e::JackProbe probe_;
  jack_client_t* clock_;
};

}  // namespace bench
