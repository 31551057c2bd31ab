#include "JackProbe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace e2e {

std::string PlayAlsaOnJack(const std::string& path, const std::string& client) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return "cannot write " + path;
  // The device connects its ports when it starts; the probe connects to
  // them on its own, so the server's own outputs do for these.
  std::fprintf(file,
               "pcm.!default {\n  type jack\n  name \"%s\"\n"
               "  playback_ports { 0 system:playback_1 1 system:playback_2 }\n}\n",
               client.c_str());
  std::fclose(file);
  setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
  return {};
}

bool AlsaAsked() {
  const char* sink = std::getenv("TASTIVO_AUDIO_SINK");
  return sink != nullptr && std::string(sink) == "alsasink";
}

namespace {

jack_client_t* OpenClient(const std::string& name, std::string* error) {
  jack_status_t status{};
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (client == nullptr)
    *error = "cannot open JACK client '" + name + "' (status 0x" + std::to_string(status) +
             "); is a JACK server running?";
  return client;
}

std::vector<std::string> PortList(jack_client_t* client, const std::string& pattern,
                                  const char* type, unsigned long flags) {
  std::vector<std::string> names;
  const char** ports = jack_get_ports(client, pattern.c_str(), type, flags);
  if (ports == nullptr) return names;
  for (const char** p = ports; *p != nullptr; ++p) names.emplace_back(*p);
  jack_free(ports);
  return names;
}

// A regular expression matching exactly the ports of `owner`.
std::string PortsOfPattern(const std::string& owner) {
  std::string escaped = "^";
  for (char c : owner) {
    if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr) escaped += '\\';
    escaped += c;
  }
  return escaped + ":";
}

}  // namespace

std::vector<std::string> OutputPortsOf(jack_client_t* client, const std::string& owner) {
  return PortList(client, PortsOfPattern(owner), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
}

JackProbe::JackProbe(const std::string& name, int channels, double seconds) {
  client_ = OpenClient(name, &error_);
  if (client_ == nullptr) return;
  rate_ = jack_get_sample_rate(client_);
  period_ = jack_get_buffer_size(client_);
  capacity_ = static_cast<std::size_t>(seconds * rate_);
  data_ = std::make_unique<float[]>(capacity_ * channels);
  std::fill_n(data_.get(), capacity_ * channels, 0.0f);
  for (int c = 0; c < channels; ++c) {
    const std::string port = "in_" + std::to_string(c + 1);
    jack_port_t* in =
        jack_port_register(client_, port.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (in == nullptr) {
      error_ = "cannot register port " + port;
      jack_client_close(client_);
      client_ = nullptr;
      return;
    }
    inputs_.push_back(in);
  }
  midiOut_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (midiOut_ == nullptr || jack_set_process_callback(client_, &JackProbe::Process, this) != 0 ||
      jack_set_port_registration_callback(client_, &JackProbe::PortRegistered, this) != 0 ||
      jack_set_xrun_callback(client_, &JackProbe::Xrun, this) != 0 || jack_activate(client_) != 0) {
    error_ = "cannot set up JACK client '" + name + "'";
    jack_client_close(client_);
    client_ = nullptr;
  }
}

JackProbe::~JackProbe() {
  if (watcher_.joinable()) {
    {
      std::lock_guard lock(followMutex_);
      stopWatcher_ = true;
    }
    followChanged_.notify_all();
    watcher_.join();
  }
  if (client_ != nullptr) {
    jack_deactivate(client_);
    jack_client_close(client_);
  }
}

int JackProbe::Xrun(void* self) {
  static_cast<JackProbe*>(self)->xruns_.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

std::string JackProbe::ClientName() const {
  return client_ ? jack_get_client_name(client_) : "";
}

std::string JackProbe::MidiPortName() const {
  return midiOut_ ? jack_port_name(midiOut_) : "";
}

std::vector<std::string> JackProbe::InputPortNames() const {
  std::vector<std::string> names;
  for (jack_port_t* in : inputs_) names.emplace_back(jack_port_name(in));
  return names;
}

bool JackProbe::ClientExists(const std::string& client) const {
  return !PortList(client_, PortsOfPattern(client), nullptr, 0).empty();
}

std::vector<std::string> JackProbe::OutputPortsOf(const std::string& client) const {
  return e2e::OutputPortsOf(client_, client);
}

std::vector<std::string> JackProbe::MidiSources() const {
  return PortList(client_, "", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
}

int JackProbe::ListenTo(const std::string& client, int first, int count) {
  if (count <= 0) count = static_cast<int>(inputs_.size()) - first;
  const std::vector<std::string> ports = OutputPortsOf(client);
  int connected = 0;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const char* in = jack_port_name(inputs_[first + i % count]);
    const int result = jack_connect(client_, ports[i].c_str(), in);
    if (result == 0 || result == EEXIST) ++connected;
  }
  return connected;
}

void JackProbe::Follow(const std::string& client, int first, int count) {
  {
    std::lock_guard lock(followMutex_);
    followed_.push_back({client, first, count, 0});
    portsChanged_ = true;
    if (!watcher_.joinable()) watcher_ = std::thread([this] { ConnectFollowed(); });
  }
  followChanged_.notify_all();
}

int JackProbe::FollowedConnections(const std::string& client) const {
  std::lock_guard lock(followMutex_);
  for (const Followed& f : followed_)
    if (f.client == client) return f.connected;
  return 0;
}

void JackProbe::PortRegistered(jack_port_id_t, int registered, void* self) {
  auto* me = static_cast<JackProbe*>(self);
  if (!registered) return;
  {
    std::lock_guard lock(me->followMutex_);
    me->portsChanged_ = true;
  }
  me->followChanged_.notify_all();
}

void JackProbe::ConnectFollowed() {
  std::unique_lock lock(followMutex_);
  for (;;) {
    followChanged_.wait(lock, [&] { return portsChanged_ || stopWatcher_; });
    if (stopWatcher_) return;
    portsChanged_ = false;
    std::vector<Followed> todo = followed_;
    lock.unlock();
    for (Followed& f : todo) f.connected = ListenTo(f.client, f.first, f.count);
    lock.lock();
    for (std::size_t i = 0; i < todo.size(); ++i) followed_[i].connected = todo[i].connected;
  }
}

bool JackProbe::ConnectMidiTo(const std::string& port) {
  const int result = jack_connect(client_, jack_port_name(midiOut_), port.c_str());
  return result == 0 || result == EEXIST;
}

int JackProbe::MidiConnections() const {
  return jack_port_connected(midiOut_);
}

bool JackProbe::WaitForFrame(uint64_t frame, std::chrono::milliseconds deadline) const {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (RecordedUntil() < frame) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::vector<float> JackProbe::Samples(int channel, uint64_t from, uint64_t to) const {
  to = std::min<uint64_t>({to, RecordedUntil(), capacity_});
  if (from >= to) return {};
  const float* base = data_.get() + static_cast<std::size_t>(channel) * capacity_;
  return std::vector<float>(base + from, base + to);
}

std::vector<float> JackProbe::Level(uint64_t from, uint64_t to, int first, int count) const {
  if (count <= 0) count = static_cast<int>(inputs_.size()) - first;
  std::vector<float> level;
  for (int c = first; c < first + count; ++c) {
    const std::vector<float> samples = Samples(c, from, to);
    if (level.empty()) level.assign(samples.size(), 0.0f);
    for (std::size_t i = 0; i < samples.size(); ++i)
      level[i] = std::max(level[i], std::fabs(samples[i]));
  }
  return level;
}

bool JackProbe::WriteWav(const std::string& path, uint64_t from, uint64_t to) const {
  const int channels = static_cast<int>(inputs_.size());
  std::vector<std::vector<float>> data;
  for (int c = 0; c < channels; ++c) data.push_back(Samples(c, from, to));
  const auto frames = static_cast<uint32_t>(data.empty() ? 0 : data[0].size());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const auto put32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, file); };
  const auto put16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, file); };
  const uint32_t bytes = frames * channels * 4;
  std::fwrite("RIFF", 1, 4, file);
  put32(36 + bytes);
  std::fwrite("WAVEfmt ", 1, 8, file);
  put32(16);
  put16(3);  // IEEE float
  put16(static_cast<uint16_t>(channels));
  put32(rate_);
  put32(rate_ * channels * 4);
  put16(static_cast<uint16_t>(channels * 4));
  put16(32);
  std::fwrite("data", 1, 4, file);
  put32(bytes);
  for (uint32_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) std::fwrite(&data[c][i], 4, 1, file);
  return std::fclose(file) == 0;
}

std::optional<uint64_t> JackProbe::SendMidi(unsigned char status, unsigned char data1,
                                            unsigned char data2,
                                            std::chrono::milliseconds deadline) {
  const std::size_t index = midiWritten_.load(std::memory_order_relaxed);
  if (index - midiSent_.load(std::memory_order_acquire) >= kMidiSlots) return std::nullopt;
  MidiSlot& slot = midi_[index % kMidiSlots];
  slot.bytes = {status, data1, data2};
  slot.sentAt.store(-1, std::memory_order_relaxed);
  midiWritten_.store(index + 1, std::memory_order_release);
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    const int64_t sent = slot.sentAt.load(std::memory_order_acquire);
    if (sent >= 0) return static_cast<uint64_t>(sent);
    if (std::chrono::steady_clock::now() > end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

uint64_t JackProbe::FrameNow() const {
  return static_cast<jack_nframes_t>(jack_frame_time(client_) - Origin());
}

int JackProbe::Process(jack_nframes_t frames, void* self) {
  return static_cast<JackProbe*>(self)->OnProcess(frames);
}

int JackProbe::OnProcess(jack_nframes_t frames) {
  const jack_nframes_t start = jack_last_frame_time(client_);
  if (!started_) {
    origin_ = start;
    originShared_.store(start, std::memory_order_release);
    started_ = true;
  }
  // Unsigned difference, so a wrap of JACK's 32-bit frame counter is harmless.
  const uint64_t at = static_cast<jack_nframes_t>(start - origin_);
  if (at + frames <= capacity_) {
    for (std::size_t c = 0; c < inputs_.size(); ++c) {
      const auto* in = static_cast<const float*>(jack_port_get_buffer(inputs_[c], frames));
      std::memcpy(data_.get() + c * capacity_ + at, in, frames * sizeof(float));
    }
  }

  void* midi = jack_port_get_buffer(midiOut_, frames);
  jack_midi_clear_buffer(midi);
  std::size_t sent = midiSent_.load(std::memory_order_relaxed);
  const std::size_t written = midiWritten_.load(std::memory_order_acquire);
  for (; sent < written; ++sent) {
    MidiSlot& slot = midi_[sent % kMidiSlots];
    if (jack_midi_event_write(midi, 0, slot.bytes.data(), slot.bytes.size()) != 0) break;
    slot.sentAt.store(static_cast<int64_t>(at), std::memory_order_release);
  }
  midiSent_.store(sent, std::memory_order_release);

  recorded_.store(at + frames, std::memory_order_release);
  return 0;
}

JackAnswerer::JackAnswerer(const std::string& name) {
  client_ = OpenClient(name, &error_);
  if (client_ == nullptr) return;
  midiIn_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  out_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (midiIn_ == nullptr || out_ == nullptr ||
      jack_set_process_callback(client_, &JackAnswerer::Process, this) != 0 ||
      jack_activate(client_) != 0) {
    error_ = "cannot set up JACK client '" + name + "'";
    jack_client_close(client_);
    client_ = nullptr;
  }
}

JackAnswerer::~JackAnswerer() {
  if (client_ != nullptr) {
    jack_deactivate(client_);
    jack_client_close(client_);
  }
}

std::string JackAnswerer::MidiInName() const {
  return midiIn_ ? jack_port_name(midiIn_) : "";
}

std::string JackAnswerer::OutputName() const {
  return out_ ? jack_port_name(out_) : "";
}

int JackAnswerer::Process(jack_nframes_t frames, void* self) {
  auto* me = static_cast<JackAnswerer*>(self);
  me->sounding_ = me->nextSounding_;
  auto* out = static_cast<float*>(jack_port_get_buffer(me->out_, frames));
  for (jack_nframes_t i = 0; i < frames; ++i, ++me->phase_)
    out[i] = me->sounding_ ? ((me->phase_ / 24) % 2 ? 0.5f : -0.5f) : 0.0f;

  void* midi = jack_port_get_buffer(me->midiIn_, frames);
  const jack_nframes_t count = jack_midi_get_event_count(midi);
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, midi, i) != 0 || event.size < 3) continue;
    const unsigned char command = event.buffer[0] & 0xF0;
    if (command == 0x90 && event.buffer[2] > 0)
      me->nextSounding_ = true;
    else if (command == 0x80 || command == 0x90)
      me->nextSounding_ = false;
  }
  return 0;
}

}  // namespace e2e
