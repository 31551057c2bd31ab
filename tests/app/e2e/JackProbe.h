#pragma once
// Ears and a MIDI keyboard on the JACK graph, for tests and benchmarks that
// treat the program as a black box: a client that records what another
// client outputs, frame by frame, and sends MIDI notes at known frames.
//
// Every frame number handed out is counted from the probe's first process
// cycle, so notes sent and sound recorded share one timeline.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// Audio output port names of a client ("client:port"), in JACK's order.
std::vector<std::string> OutputPortsOf(jack_client_t* client, const std::string& owner);

// Makes ALSA's default device, for this process, a JACK client named
// `client` (ALSA's JACK device), by a configuration written to `path`: a
// program's ALSA output can then be heard by a probe that follows the
// client. Must run before ALSA first reads its configuration. Returns an
// empty text on success, else why not.
std::string PlayAlsaOnJack(const std::string& path, const std::string& client);
// True when $TASTIVO_AUDIO_SINK asks for ALSA: a run that then plays
// through ALSA's JACK device (PlayAlsaOnJack) to be heard.
bool AlsaAsked();

class JackProbe {
 public:
  // Opens `name` on the default server (never starts one) with `channels`
  // audio inputs and one MIDI output, able to keep `seconds` of sound.
  JackProbe(const std::string& name, int channels = 2, double seconds = 120);
  ~JackProbe();
  JackProbe(const JackProbe&) = delete;
  JackProbe& operator=(const JackProbe&) = delete;

  bool Ok() const { return client_ != nullptr; }
  const std::string& Error() const { return error_; }
  jack_nframes_t SampleRate() const { return rate_; }
  jack_nframes_t Period() const { return period_; }
  // The name JACK gave the client (it may differ from the one asked for).
  std::string ClientName() const;
  std::string MidiPortName() const;
  std::vector<std::string> InputPortNames() const;

  bool ClientExists(const std::string& client) const;
  std::vector<std::string> OutputPortsOf(const std::string& client) const;
  // MIDI output ports of every client ("client:port"), in JACK's order.
  std::vector<std::string> MidiSources() const;
  // Connects every audio output of `client` to `count` of the probe's
  // inputs from input `first` on (all inputs when count is 0): the i-th
  // output to input first + i modulo count. Returns how many are connected
  // (0 when the client has no audio outputs).
  int ListenTo(const std::string& client, int first = 0, int count = 0);
  // Like ListenTo, now and whenever `client` registers ports later: a
  // program may make its output only when it first plays, and the probe
  // connects to it within moments. Returns at once.
  void Follow(const std::string& client, int first = 0, int count = 0);
  // Connections made so far to the outputs of a followed client.
  int FollowedConnections(const std::string& client) const;

  // Connects the MIDI output to a MIDI input port ("client:port").
  bool ConnectMidiTo(const std::string& port);
  // How many ports read from the MIDI output.
  int MidiConnections() const;

  // The server's frame time (jack_last_frame_time) of the probe's frame 0,
  // valid once a cycle has run: two probes' timelines differ by the
  // difference of their origins.
  jack_nframes_t Origin() const { return originShared_.load(std::memory_order_acquire); }
  // Cycles the server reported as late (xruns) since the probe started: a
  // stretch of silence in a recording may be the server's, not the
  // program's.
  int Xruns() const { return xruns_.load(std::memory_order_acquire); }
  // The server's estimate of the frame it is at now, on the probe's
  // timeline: when something sent from outside JACK left.
  uint64_t FrameNow() const;
  // Frames recorded so far: every frame below this has been through a cycle.
  uint64_t RecordedUntil() const { return recorded_.load(std::memory_order_acquire); }
  // Waits until frame `frame` has been recorded; false when the deadline
  // passes first.
  bool WaitForFrame(uint64_t frame,
                    std::chrono::milliseconds deadline = std::chrono::seconds(20)) const;
  // Copies of the recording over [from, to), clamped to what was recorded:
  // one channel, or the absolute value of the loudest of `count` channels
  // from `first` on (all when count is 0) per frame.
  std::vector<float> Samples(int channel, uint64_t from, uint64_t to) const;
  std::vector<float> Level(uint64_t from, uint64_t to, int first = 0, int count = 0) const;
  // Writes the recording over [from, to) as a 32-bit float WAV file of all
  // inputs, for a look at what a failed check heard.
  bool WriteWav(const std::string& path, uint64_t from, uint64_t to) const;

  // Sends a 3-byte MIDI message at the start of the next cycle. Returns the
  // frame it went out at, or nothing when no cycle took it before the
  // deadline.
  std::optional<uint64_t> SendMidi(unsigned char status, unsigned char data1, unsigned char data2,
                                   std::chrono::milliseconds deadline = std::chrono::seconds(5));

 private:
  // Runs on the JACK process thread; must not block.
  static int Process(jack_nframes_t frames, void* self);
  int OnProcess(jack_nframes_t frames);
  // Runs on JACK's notification thread; only counts.
  static int Xrun(void* self);
  // Runs on JACK's notification thread; only flags the change.
  static void PortRegistered(jack_port_id_t port, int registered, void* self);
  void ConnectFollowed();

  struct Followed {
    std::string client;
    int first = 0;
    int count = 0;
    int connected = 0;
  };

  struct MidiSlot {
    std::array<unsigned char, 3> bytes{};
    std::atomic<int64_t> sentAt{-1};
  };
  static constexpr std::size_t kMidiSlots = 64;

  jack_client_t* client_ = nullptr;
  std::string error_;
  jack_nframes_t rate_ = 0;
  jack_nframes_t period_ = 0;
  std::vector<jack_port_t*> inputs_;
  jack_port_t* midiOut_ = nullptr;

  std::size_t capacity_ = 0;  // frames per channel
  std::unique_ptr<float[]> data_;
  bool started_ = false;  // process thread only
  jack_nframes_t origin_ = 0;
  std::atomic<jack_nframes_t> originShared_{0};
  std::atomic<uint64_t> recorded_{0};
  std::atomic<int> xruns_{0};

  std::array<MidiSlot, kMidiSlots> midi_;
  std::atomic<std::size_t> midiWritten_{0};  // producer
  std::atomic<std::size_t> midiSent_{0};     // process thread

  // Guards the followed clients and the flags below; the watcher thread
  // connects, since JACK forbids connecting from its callbacks.
  mutable std::mutex followMutex_;
  std::condition_variable followChanged_;
  std::vector<Followed> followed_;
  bool portsChanged_ = false;
  bool stopWatcher_ = false;
  std::thread watcher_;
};

// A tiny in-graph instrument: a note-on on its MIDI input starts a square
// wave on its output at the first frame of the next cycle; a note-off (or a
// note-on of velocity 0) stops it the same way. It shows the least latency
// any program can reach from a MIDI note to sound through this server.
class JackAnswerer {
 public:
  explicit JackAnswerer(const std::string& name);
  ~JackAnswerer();
  JackAnswerer(const JackAnswerer&) = delete;
  JackAnswerer& operator=(const JackAnswerer&) = delete;

  bool Ok() const { return client_ != nullptr; }
  const std::string& Error() const { return error_; }
  std::string MidiInName() const;
  std::string OutputName() const;

 private:
  // Runs on the JACK process thread; must not block.
  static int Process(jack_nframes_t frames, void* self);

  jack_client_t* client_ = nullptr;
  std::string error_;
  jack_port_t* midiIn_ = nullptr;
  jack_port_t* out_ = nullptr;
  bool sounding_ = false;      // process thread only
  bool nextSounding_ = false;  // process thread only
  uint32_t phase_ = 0;
};

}  // namespace e2e
