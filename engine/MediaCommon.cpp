// Identifiers, the graph factory and the application-wide output level.

#include "engine/MediaGraph.h"
#include "engine/MediaInternal.h"
#include "engine/graph/GstMediaGraph.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>

namespace engine {

std::string Guid::ToString() const {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Data1,
                Data2, Data3, Data4[0], Data4[1], Data4[2], Data4[3], Data4[4], Data4[5], Data4[6],
                Data4[7]);
  return text;
}

std::optional<Guid> Guid::Parse(const std::string& text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  static const int dashes[] = {9, 14, 19, 24};
  for (int d : dashes)
    if (text[d] != '-') return std::nullopt;
  auto hex = [&](int from, int count, std::uint64_t& out) {
    out = 0;
    for (int i = from; i < from + count; ++i) {
      const char c = text[i];
      int v;
      if (c >= '0' && c <= '9')
        v = c - '0';
      else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
      else
        return false;
      out = out * 16 + v;
    }
    return true;
  };
  Guid g;
  std::uint64_t v;
  if (!hex(1, 8, v)) return std::nullopt;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!hex(10, 4, v)) return std::nullopt;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!hex(15, 4, v)) return std::nullopt;
  g.Data3 = static_cast<std::uint16_t>(v);
  const int bytes[] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!hex(bytes[i], 2, v)) return std::nullopt;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  return g;
}

const Guid kTimeFormatMediaTime{
    0x7B785574, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};
const Guid kClassNullRenderer{
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const Guid kMediaTypeAudio{
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const Guid kMediaTypeVideo{
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// Our own identifier for "whatever output the machine plays through by default".
const Guid kClassDefaultAudioRenderer{
    0x9D1B6E20, 0x7A43, 0x4C35, {0x8E, 0x51, 0x54, 0x41, 0x53, 0x54, 0x49, 0x56}};

namespace {

std::mutex& FactoryMutex() {
  static std::mutex m;
  return m;
}
std::function<std::shared_ptr<MediaGraph>()>& Factory() {
  static std::function<std::shared_ptr<MediaGraph>()> f;
  return f;
}

struct WaveOut {
  std::mutex mutex;
  std::uint32_t volume = 0xFFFFFFFF;
  std::set<WaveOutListener*> listeners;
};
WaveOut& TheWaveOut() {
  static WaveOut w;
  return w;
}

constexpr unsigned kMmSysErrBadDeviceId = 2;

}  // namespace

std::shared_ptr<MediaGraph> CreateFilterGraph() {
  std::function<std::shared_ptr<MediaGraph>()> f;
  {
    std::lock_guard lock(FactoryMutex());
    f = Factory();
  }
  if (f) return f();
  return std::make_shared<GstMediaGraph>();
}

void SetFilterGraphFactory(std::function<std::shared_ptr<MediaGraph>()> factory) {
  std::lock_guard lock(FactoryMutex());
  Factory() = std::move(factory);
}

namespace {
struct OutputHealth {
  std::mutex mutex;
  bool lost = false;
  OutputChange pending = OutputChange::None;
  std::string detail;
};
OutputHealth& TheOutputHealth() {
  static OutputHealth h;
  return h;
}
}  // namespace

void ReportOutputLost(const std::string& detail) {
  auto& h = TheOutputHealth();
  std::lock_guard lock(h.mutex);
  if (h.lost) return;
  h.lost = true;
  h.pending = OutputChange::Lost;
  h.detail = detail;
}

namespace {
std::atomic<std::uint64_t> outputsFoundWorking{0};
}  // namespace

std::uint64_t OutputsFoundWorking() {
  return outputsFoundWorking.load();
}

void ReportOutputWorking() {
  ++outputsFoundWorking;
  auto& h = TheOutputHealth();
  std::lock_guard lock(h.mutex);
  if (!h.lost) return;
  h.lost = false;
  // A loss nobody was told of yet needs no news that it is over.
  h.pending = h.pending == OutputChange::Lost ? OutputChange::None : OutputChange::Back;
}

OutputChange TakeOutputChange(std::string& detail) {
  auto& h = TheOutputHealth();
  std::lock_guard lock(h.mutex);
  const OutputChange change = h.pending;
  h.pending = OutputChange::None;
  detail = change == OutputChange::Lost ? h.detail : std::string();
  return change;
}

unsigned WaveOutGetVolume(unsigned device, std::uint32_t& volume) {
  if (device != 0) return kMmSysErrBadDeviceId;
  std::lock_guard lock(TheWaveOut().mutex);
  volume = TheWaveOut().volume;
  return 0;
}

unsigned WaveOutSetVolume(unsigned device, std::uint32_t volume) {
  if (device != 0) return kMmSysErrBadDeviceId;
  auto& w = TheWaveOut();
  std::lock_guard lock(w.mutex);
  w.volume = volume;
  const double level = WaveLevelOf(volume);
  for (auto* l : w.listeners) l->WaveLevelChanged(level);
  return 0;
}

double WaveLevelOf(std::uint32_t volume) {
  const double low = volume & 0xFFFF, high = volume >> 16;
  return (low + high) / 2.0 / 65535.0;
}

double CurrentWaveLevel() {
  std::lock_guard lock(TheWaveOut().mutex);
  return WaveLevelOf(TheWaveOut().volume);
}

WaveOutListener::WaveOutListener() {
  std::lock_guard lock(TheWaveOut().mutex);
  TheWaveOut().listeners.insert(this);
}

WaveOutListener::~WaveOutListener() {
  std::lock_guard lock(TheWaveOut().mutex);
  TheWaveOut().listeners.erase(this);
}

}  // namespace engine
