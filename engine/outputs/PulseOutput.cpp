#include "engine/outputs/PulseOutput.h"

#include "engine/outputs/OutputSink.h"
#include "engine/stages/GainRamp.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace engine {

namespace {

// A window plays in stereo (in mono on a mono server); the server maps
// that onto its speakers as it does for any player.
constexpr int kMaxChannels = 2;

// The server asks for sound in pieces of a quarter of what the stream
// keeps (at most 5 ms), and the sink's ring buffer is cut into segments of
// that much. Derived from the queue, so that three quarters of it are
// still queued when the server asks, on any machine; the bounds only keep
// the ring's segments between 1 and 5 ms, as on our other outputs.
long RequestUs(long latencyUs) {
  return std::clamp(latencyUs / 4, 1'000L, 5'000L);
}

// How far ahead of what is heard a start or a cut is written. The server
// may have mixed a little more than its latency says, and on a busy
// machine its thread takes our write a few milliseconds after we wrote it:
// at 4 ms, one edge in about twenty on a machine with both cores taken
// began its fade too late to be heard whole, and clicked. A quarter of the
// queue: a start is still heard long before the queue's end.
constexpr double kMarginSeconds = 0.010;

// A playback stream of the server's (through a threaded main loop, whose
// thread runs every callback below with the loop's lock held), kept
// filled from the ring by a QueueFiller.
class PulseDevice : public OutputDevice {
 public:
  explicit PulseDevice(const OutputSettings& settings)
      : OutputDevice(&filler_), clientName_(settings.clientName), deviceName_(settings.device) {}

  bool Open() override;
  void Close() override {
    CloseConnection();
    filler_.Reset();
  }
  OutputFormat Format() const override {
    if (stream_ == nullptr) return {};
    return {int(format_.rate), int(format_.channels)};
  }
  int SegmentFrames() override {
    return std::max(1, int(std::lround(double(requestUs_) * format_.rate / 1e6)));
  }

 private:
  class StreamQueue;

  static void OnContextState(pa_context* context, void* arg);
  static void OnStreamState(pa_stream* stream, void* arg);
  static void OnServerInfo(pa_context*, const pa_server_info* info, void* arg);
  static void OnSinkInfo(pa_context*, const pa_sink_info* info, int, void* arg);
  static void OnWrite(pa_stream*, size_t bytes, void* arg);
  static void OnWake(pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* arg);

  void Lost() { Lose(GST_RESOURCE_ERROR_WRITE, "The PulseAudio server went away."); }
  void TakeFormat(const pa_sample_spec& spec) {
    format_.rate = spec.rate;
    format_.channels = std::uint8_t(std::clamp<int>(spec.channels, 1, kMaxChannels));
  }
  void Fill(std::uint64_t frames);
  template <typename Done>
  bool WaitFor(Done done);
  bool Connect();
  void CloseConnection();

  std::string clientName_;
  std::string deviceName_;  // the server's sink to play on, "" for its default
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  pa_sample_spec format_{};
  long requestUs_ = 5'000;
  std::string defaultSink_;
  bool rewrites_ = true;  // the server plays what is written over its queue
  bool open_ = false;     // set up; a failure from now on is the server going away
  bool raised_ = false;   // the loop's thread runs ahead of ordinary work
  QueueFiller filler_;
  pa_io_event* wakeEvent_ = nullptr;
};

const OutputKind kPulse("tastivopulsesink", "TastivoPulseSink", "Tastivo PulseAudio output",
                        "Plays sound on a PulseAudio server, fading every cut", kMaxChannels, true,
                        true, "The PulseAudio server went away.",
                        "The sound does not suit the PulseAudio output.", &MakeDevice<PulseDevice>);

void PulseDevice::OnContextState(pa_context* context, void* arg) {
  auto& d = *static_cast<PulseDevice*>(arg);
  if (d.open_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) d.Lost();
  pa_threaded_mainloop_signal(d.loop_, 0);
}

void PulseDevice::OnStreamState(pa_stream* stream, void* arg) {
  auto& d = *static_cast<PulseDevice*>(arg);
  if (d.open_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) d.Lost();
  pa_threaded_mainloop_signal(d.loop_, 0);
}

void PulseDevice::OnServerInfo(pa_context*, const pa_server_info* info, void* arg) {
  auto& d = *static_cast<PulseDevice*>(arg);
  if (info != nullptr) {
    d.TakeFormat(info->sample_spec);
    if (info->default_sink_name != nullptr) d.defaultSink_ = info->default_sink_name;
    // PipeWire's PulseAudio server hands what it is given on to the graph
    // as soon as it has it: what it holds can't be written over.
    d.rewrites_ =
        info->server_name == nullptr || std::strstr(info->server_name, "PipeWire") == nullptr;
  }
  pa_threaded_mainloop_signal(d.loop_, 0);
}

void PulseDevice::OnSinkInfo(pa_context*, const pa_sink_info* info, int, void* arg) {
  auto& d = *static_cast<PulseDevice*>(arg);
  if (info != nullptr) d.TakeFormat(info->sample_spec);
  pa_threaded_mainloop_signal(d.loop_, 0);
}

// The stream as a queue written over from just ahead of what is heard:
// the server takes back what it had not played yet.
class PulseDevice::StreamQueue : public QueuedDevice {
 public:
  explicit StreamQueue(PulseDevice& d) : d_(d) {}

  // What the server holds ahead of its speakers, counted back from its
  // write index (which is ours: every write ends where the stream had got
  // to).
  std::optional<std::uint64_t> Queued() override {
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(d_.stream_, &usec, &negative) < 0) return std::nullopt;
    return negative ? 0 : std::uint64_t(usec) * d_.format_.rate / 1'000'000u;
  }

  std::uint64_t TakeBack(std::uint64_t frames) override {
    seekBytes_ = -std::int64_t(frames * pa_frame_size(&d_.format_));
    return frames;
  }

  bool Write(const float* io, int frames) override {
    const std::int64_t seek = seekBytes_;
    seekBytes_ = 0;
    return pa_stream_write(d_.stream_, io, std::size_t(frames) * pa_frame_size(&d_.format_),
                           nullptr, seek, PA_SEEK_RELATIVE) >= 0;
  }

 private:
  PulseDevice& d_;
  std::int64_t seekBytes_ = 0;
};

// Server thread, when the server has room for `frames` more or an edge is
// coming.
void PulseDevice::Fill(std::uint64_t frames) {
  // The loop's thread writes every edge over the queue from just ahead of
  // what is heard: late by more than the margin, it would tear the fade.
  if (!raised_) raised_ = true, RunAheadOfOrdinaryWork();
  StreamQueue queue(*this);
  filler_.Fill(Ring(), queue, frames);
}

void PulseDevice::OnWrite(pa_stream*, size_t bytes, void* arg) {
  auto& d = *static_cast<PulseDevice*>(arg);
  d.Fill(bytes / pa_frame_size(&d.format_));
}

// Server thread, woken by the ring starting, stopping, being cleared or
// given sound: a start or a cut is written at once instead of at the
// server's next request, some milliseconds later, and so is sound a fill
// had to wait for.
void PulseDevice::OnWake(pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* arg) {
  auto& d = *static_cast<PulseDevice*>(arg);
  d.filler_.TakeWakes();
  if (!d.open_ || d.stream_ == nullptr || pa_stream_get_state(d.stream_) != PA_STREAM_READY ||
      (d.filler_.Reader().EdgeComing(d.Ring()) == RingReader::Edge::None && !d.filler_.Short()))
    return;
  const std::size_t room = pa_stream_writable_size(d.stream_);
  d.Fill(room == std::size_t(-1) ? 0 : room / pa_frame_size(&d.format_));
}

// Waits on the loop (its lock held) until `done` says so, or the context
// fails.
template <typename Done>
bool PulseDevice::WaitFor(Done done) {
  for (;;) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return false;
    if (const int answer = done(); answer != 0) return answer > 0;
    pa_threaded_mainloop_wait(loop_);
  }
}

void PulseDevice::CloseConnection() {
  if (loop_ == nullptr) return;
  pa_threaded_mainloop_lock(loop_);
  open_ = false;
  if (wakeEvent_ != nullptr) {
    pa_threaded_mainloop_get_api(loop_)->io_free(wakeEvent_);
    wakeEvent_ = nullptr;
  }
  if (stream_ != nullptr) {
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  if (context_ != nullptr) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
  pa_threaded_mainloop_unlock(loop_);
  pa_threaded_mainloop_stop(loop_);
  pa_threaded_mainloop_free(loop_);
  loop_ = nullptr;
  filler_.CloseWake();
}

// Under the loop's lock: the server's format, then a running stream in it.
bool PulseDevice::Connect() {
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  const bool ready =
      WaitFor([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY ? 1 : 0; });
  if (!ready) return false;
  // The rate of the sink the stream will play on, so the server has
  // nothing to resample; the server's default rate if it won't say.
  format_ = {PA_SAMPLE_FLOAT32NE, 0, 0};
  auto await = [&](pa_operation* operation) {
    if (operation == nullptr) return;
    WaitFor([&] { return pa_operation_get_state(operation) == PA_OPERATION_RUNNING ? 0 : 1; });
    pa_operation_unref(operation);
  };
  await(pa_context_get_server_info(context_, &OnServerInfo, this));
  const std::string& playOn = deviceName_.empty() ? defaultSink_ : deviceName_;
  if (!playOn.empty())
    await(pa_context_get_sink_info_by_name(context_, playOn.c_str(), &OnSinkInfo, this));
  if (format_.rate == 0 || format_.channels == 0) return false;
  format_.format = PA_SAMPLE_FLOAT32NE;

  pa_channel_map map;
  pa_channel_map_init_auto(&map, format_.channels, PA_CHANNEL_MAP_DEFAULT);
  stream_ = pa_stream_new(context_, clientName_.c_str(), &format_, &map);
  if (stream_ == nullptr) return false;
  const int ramp = FadesEnabled() ? std::max(1, int(std::lround(kRampSeconds * format_.rate))) : 0;
  // The server may ask for its whole buffer at once; the reader goes in
  // pieces of this.
  filler_.Prepare(format_.channels, int(format_.rate), ramp, 4096, rewrites_, kMarginSeconds, true);
  pa_stream_set_state_callback(stream_, &OnStreamState, this);
  pa_stream_set_write_callback(stream_, &OnWrite, this);
  pa_buffer_attr attr;
  attr.maxlength = std::uint32_t(-1);
  const long latencyUs = PulseLatencyUs(rewrites_);
  requestUs_ = RequestUs(latencyUs);
  attr.tlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(latencyUs), &format_));
  attr.prebuf = std::uint32_t(-1);
  attr.minreq = std::uint32_t(pa_usec_to_bytes(pa_usec_t(requestUs_), &format_));
  attr.fragsize = std::uint32_t(-1);
  // The latency asked for is the whole way to the speakers, so the server
  // keeps its own buffer short to match.
  // A stream on a sink the window chose is not moved elsewhere when that
  // sink goes: it ends, and the window tells its user and falls back itself,
  // to return to the sink when it is back.
  const char* device = deviceName_.empty() ? nullptr : deviceName_.c_str();
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_INTERPOLATE_TIMING |
                                       (device != nullptr ? PA_STREAM_DONT_MOVE : 0));
  if (pa_stream_connect_playback(stream_, device, &attr, flags, nullptr, nullptr) < 0) return false;
  const bool streaming = WaitFor([&] {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
  });
  if (!streaming) return false;
  if (filler_.OpenWake())
    wakeEvent_ = pa_threaded_mainloop_get_api(loop_)->io_new(
        pa_threaded_mainloop_get_api(loop_), filler_.WakeFd(), PA_IO_EVENT_INPUT, &OnWake, this);
  return true;
}

bool PulseDevice::Open() {
  gone_ = false;
  loop_ = pa_threaded_mainloop_new();
  if (loop_ == nullptr) return false;
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), clientName_.c_str());
  bool ok = context_ != nullptr;
  if (ok) pa_context_set_state_callback(context_, &OnContextState, this);
  pa_threaded_mainloop_lock(loop_);
  ok = ok && pa_threaded_mainloop_start(loop_) == 0;
  ok = ok && Connect();
  const bool reached = context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
  open_ = ok;
  pa_threaded_mainloop_unlock(loop_);
  if (!ok) {
    Fail(GST_RESOURCE_ERROR_OPEN_WRITE, reached ? "The PulseAudio output could not be set up."
                                                : "No PulseAudio server is running.");
    CloseConnection();
    filler_.Reset();
    return false;
  }
  return true;
}

}  // namespace

long PulseLatencyUs(bool serverRewrites) {
  const char* text = std::getenv("TASTIVO_PULSE_LATENCY_US");
  const long asked = text ? std::atol(text) : 0;
  if (asked > 0) return std::max(asked, 2'000L);
  // Where starts and cuts are written over the queue, a long one costs
  // nothing and rides out a busy machine; elsewhere they wait behind it.
  return serverRewrites ? 40'000L : 20'000L;
}

GstElement* MakePulseOutput(const std::string& clientName) {
  return MakeOutputSink(kPulse, {clientName, {}});
}

}  // namespace engine
