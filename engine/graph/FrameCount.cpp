#include "engine/graph/FrameCount.h"

#include "engine/graph/ClipCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace engine {

namespace {

struct Frame {
  enum Kind { Mpeg, Adts } kind = Mpeg;
  int version = 0;  // MPEG: 1, 2 or 25 (2.5)
  int layer = 0;
  int sampleRate = 0;
  int samples = 0;
  std::size_t bytes = 0;
  bool mono = false;
  bool SameStream(const Frame& other) const {
    return kind == other.kind && version == other.version && layer == other.layer &&
           sampleRate == other.sampleRate;
  }
};

std::optional<Frame> MpegFrameAt(const unsigned char* p, std::size_t left) {
  if (left < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
  const int versionBits = (p[1] >> 3) & 3, layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3)
    return std::nullopt;
  static constexpr int kKbps[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // V1 L1
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // V1 L2
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // V1 L3
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // V2 L1
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // V2 L2, L3
  };
  static constexpr int kRates[3] = {44100, 48000, 32000};
  Frame f;
  f.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  f.layer = 4 - layerBits;
  f.sampleRate = kRates[rateIndex] / (f.version == 1 ? 1 : f.version == 2 ? 2 : 4);
  const int table = f.version == 1 ? f.layer - 1 : (f.layer == 1 ? 3 : 4);
  const long bitrate = kKbps[table][bitrateIndex] * 1000L;
  if (f.layer == 1) {
    f.samples = 384;
    f.bytes = static_cast<std::size_t>((12 * bitrate / f.sampleRate + padding) * 4);
  } else {
    const bool halfFrame = f.layer == 3 && f.version != 1;
    f.samples = halfFrame ? 576 : 1152;
    f.bytes = static_cast<std::size_t>((halfFrame ? 72 : 144) * bitrate / f.sampleRate + padding);
  }
  f.mono = (p[3] >> 6) == 3;
  return f;
}

std::optional<Frame> AdtsFrameAt(const unsigned char* p, std::size_t left) {
  if (left < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return std::nullopt;
  static constexpr int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};
  const int rateIndex = (p[2] >> 2) & 0xF;
  if (rateIndex >= 13) return std::nullopt;
  Frame f;
  f.kind = Frame::Adts;
  f.sampleRate = kRates[rateIndex];
  f.bytes = (std::size_t(p[3] & 3) << 11) | (std::size_t(p[4]) << 3) | (p[5] >> 5);
  f.samples = 1024 * ((p[6] & 3) + 1);
  if (f.bytes < 7) return std::nullopt;
  return f;
}

std::optional<Frame> FrameAt(const unsigned char* p, std::size_t left) {
  if (auto f = MpegFrameAt(p, left)) return f;
  return AdtsFrameAt(p, left);
}

// A frame that only describes the stream: LAME's and Xing's tags, or
// Fraunhofer's VBRI, in the place of the first frame's sound.
bool IsTagFrame(const unsigned char* p, const Frame& f, std::size_t left) {
  if (f.kind != Frame::Mpeg || f.layer != 3) return false;
  const std::size_t sideInfo = f.version == 1 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17);
  const auto says = [&](std::size_t at, const char* word) {
    return 4 + at + 4 <= std::min(f.bytes, left) && std::memcmp(p + 4 + at, word, 4) == 0;
  };
  return says(sideInfo, "Xing") || says(sideInfo, "Info") || says(32, "VBRI");
}

std::size_t Id3v2Size(const unsigned char* data, std::size_t size) {
  if (size < 10 || std::memcmp(data, "ID3", 3) != 0) return 0;
  std::size_t length = 10;
  for (int i = 6; i < 10; ++i) length = (length - 10) * 128 + (data[i] & 0x7F) + 10;
  if (data[5] & 0x10) length += 10;  // a footer
  return length;
}

// How far to look for the first frame: past junk a tagger left between its
// tag and the sound, but not through a whole file that is something else.
constexpr std::size_t kSearch = 64 * 1024;

// Bytes of a clip, by offset: all in memory, or a window over a file.
struct MemoryBytes {
  const unsigned char* data;
  std::size_t size;
  std::size_t Size() const { return size; }
  // At least `n` bytes from `at`, or fewer where the data ends.
  const unsigned char* Get(std::size_t at, std::size_t) { return data + at; }
};

// Reads with pread rather than mapping: a file cut short under a mapping
// kills the process, under pread it only ends the count early.
struct FileBytes {
  int fd;
  std::size_t size;
  std::vector<unsigned char> window = std::vector<unsigned char>(1 << 18);
  std::size_t from = 0, held = 0;
  std::size_t Size() const { return size; }
  const unsigned char* Get(std::size_t at, std::size_t n) {
    if (at < from || at + n > from + held) {
      from = at;
      held = 0;
      while (held < window.size()) {
        const ssize_t got = ::pread(fd, window.data() + held, window.size() - held,
                                    static_cast<off_t>(from + held));
        if (got <= 0) break;
        held += static_cast<std::size_t>(got);
      }
      // A short read is the file's end, wherever it is now.
      if (held < window.size()) size = std::min(size, from + held);
    }
    return window.data() + (at - from);
  }
};

// The longest look at one place: an MPEG frame's header with a VBRI tag.
constexpr std::size_t kLook = 48;

template <typename Bytes>
std::optional<FrameCount> Count(Bytes& bytes) {
  std::size_t at = 0;
  const auto left = [&] { return bytes.Size() - std::min(at, bytes.Size()); };
  // Tags may be stacked.
  while (true) {
    const unsigned char* p = bytes.Get(at, 10);
    const std::size_t tag = Id3v2Size(p, std::min<std::size_t>(left(), 10));
    if (tag == 0) break;
    if (tag > left()) return std::nullopt;
    at += tag;
  }
  std::optional<Frame> first;
  const std::size_t searchEnd = std::min(bytes.Size(), at + kSearch);
  for (; at < searchEnd; ++at) {
    const unsigned char* p = bytes.Get(at, kLook);
    first = FrameAt(p, std::min(left(), kLook));
    if (!first || first->bytes > left()) continue;
    const std::size_t next = at + first->bytes;
    const unsigned char* q = bytes.Get(next, kLook);
    const auto second =
        next < bytes.Size() ? FrameAt(q, std::min(bytes.Size() - next, kLook)) : std::nullopt;
    if (second && second->SameStream(*first)) break;
    first.reset();
  }
  if (!first || at >= searchEnd) return std::nullopt;

  const std::size_t firstFrame = at;
  FrameCount count;
  count.SampleRate = first->sampleRate;
  bool leading = true;
  while (at < bytes.Size()) {
    const unsigned char* p = bytes.Get(at, kLook);
    const auto f = FrameAt(p, std::min(left(), kLook));
    if (!f || !f->SameStream(*first) || f->bytes > left()) break;
    if (!(leading && IsTagFrame(p, *f, std::min(left(), kLook)))) {
      count.Samples += f->samples;
      ++count.Frames;
    }
    leading = false;
    at += f->bytes;
  }
  // The frames must be the file, not a stream inside a container that
  // happens to hold a few of them in a row: only a tag may follow them.
  const std::size_t rest = bytes.Size() - firstFrame;
  if (count.Frames == 0 || at - firstFrame < rest - rest / 10) return std::nullopt;
  return count;
}

}  // namespace

std::optional<FrameCount> CountAudioFrames(const unsigned char* data, std::size_t size) {
  MemoryBytes bytes{data, size};
  return Count(bytes);
}

std::optional<FrameCount> CountAudioFrames(const std::string& path) {
  return CountAudioFrames(path, FileIdentity::Of(path));
}

std::optional<FrameCount> CountAudioFrames(const std::string& path,
                                           const std::optional<FileIdentity>& identity) {
  static std::mutex mutex;
  static std::map<std::string, std::pair<FileIdentity, std::optional<FrameCount>>> counted;
  if (!identity) return std::nullopt;
  {
    std::lock_guard lock(mutex);
    if (auto it = counted.find(path); it != counted.end() && it->second.first == *identity)
      return it->second.second;
  }
  std::optional<FrameCount> count;
  // FileIdentity::Of answers for regular files only, and a regular file
  // never blocks an open; O_NONBLOCK is for one replaced in between.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    FileBytes bytes{fd, static_cast<std::size_t>(st.st_size)};
    count = Count(bytes);
  }
  if (fd >= 0) ::close(fd);
  std::lock_guard lock(mutex);
  // A few hundred keys at most; a changed file replaces its own entry.
  counted[path] = {*identity, count};
  return count;
}

}  // namespace engine
