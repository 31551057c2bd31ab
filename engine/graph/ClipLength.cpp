#include "engine/graph/ClipLength.h"

#include "engine/graph/ClipCache.h"
#include "engine/graph/FrameCount.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace engine {

namespace {

constexpr unsigned char kPack = 0xBA;
constexpr unsigned char kEnd = 0xB9;

bool StartCode(const unsigned char* p, std::size_t left) {
  return left >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// A 33-bit time stamp of 90 kHz in the five bytes of a PES header.
std::int64_t TimeStamp(const unsigned char* p) {
  return (std::int64_t((p[0] >> 1) & 7) << 30) | (std::int64_t(p[1]) << 22) |
         (std::int64_t(p[2] >> 1) << 15) | (std::int64_t(p[3]) << 7) | (p[4] >> 1);
}

// The pack header at `p`: its clock reference and its size.
std::optional<std::pair<std::int64_t, std::size_t>> Pack(const unsigned char* p, std::size_t left) {
  if (!StartCode(p, left) || p[3] != kPack || left < 12) return std::nullopt;
  if ((p[4] & 0xC0) == 0x40) {  // MPEG-2
    if (left < 14) return std::nullopt;
    const std::int64_t scr = (std::int64_t((p[4] >> 3) & 7) << 30) |
                             (std::int64_t(p[4] & 3) << 28) | (std::int64_t(p[5]) << 20) |
                             (std::int64_t(p[6] >> 3) << 15) | (std::int64_t(p[6] & 3) << 13) |
                             (std::int64_t(p[7]) << 5) | (p[8] >> 3);
    return std::pair{scr, std::size_t(14 + (p[13] & 7))};
  }
  if ((p[4] & 0xF0) == 0x20) return std::pair{TimeStamp(p + 4), std::size_t(12)};  // MPEG-1
  return std::nullopt;
}

struct AudioPacket {
  int id = 0;
  std::optional<std::int64_t> pts;
  std::size_t payload = 0, end = 0;
};

// The MPEG audio packets of `data`, walked from its first pack header on;
// after bytes that are no packet, from the next pack header.
std::vector<AudioPacket> AudioPackets(const unsigned char* data, std::size_t size) {
  std::vector<AudioPacket> packets;
  std::size_t at = 0;
  const auto resync = [&] {
    for (++at; at + 4 <= size; ++at)
      if (StartCode(data + at, size - at) && data[at + 3] == kPack) return;
    at = size;
  };
  at = size;
  for (std::size_t i = 0; i + 4 <= size; ++i)
    if (StartCode(data + i, size - i) && data[i + 3] == kPack) {
      at = i;
      break;
    }
  while (at + 6 <= size) {
    const unsigned char* p = data + at;
    if (!StartCode(p, size - at)) {
      resync();
      continue;
    }
    if (p[3] == kPack) {
      const auto pack = Pack(p, size - at);
      if (!pack) {
        resync();
        continue;
      }
      at += pack->second;
      continue;
    }
    if (p[3] == kEnd) {
      at += 4;
      continue;
    }
    if (p[3] < 0xBB) {
      resync();
      continue;
    }
    const std::size_t end = at + 6 + ((std::size_t(p[4]) << 8) | p[5]);
    if (end > size) break;
    if (p[3] >= 0xC0 && p[3] <= 0xDF) {
      AudioPacket packet{p[3] & 0x1F, std::nullopt, 0, end};
      std::size_t h = at + 6;
      if ((data[h] & 0xC0) == 0x80) {  // MPEG-2
        if (h + 3 > end) break;
        if ((data[h + 1] & 0x80) && h + 8 <= end) packet.pts = TimeStamp(data + h + 3);
        packet.payload = h + 3 + data[h + 2];
      } else {  // MPEG-1: stuffing, buffer size, then the time stamps
        while (h < end && data[h] == 0xFF) ++h;
        if (h < end && (data[h] & 0xC0) == 0x40) h += 2;
        if (h + 5 <= end && (data[h] & 0xE0) == 0x20) {
          packet.pts = TimeStamp(data + h);
          h += (data[h] & 0x10) ? 10 : 5;
        } else {
          ++h;
        }
        packet.payload = h;
      }
      if (packet.payload <= end) packets.push_back(packet);
    }
    at = end;
  }
  return packets;
}

// Where the audio of stream `id` ends: the last stamped packet's time plus
// the frames from there to the end. A packet's stamp is that of the first
// frame starting in it, which the count starts from; a last packet that
// holds too little to be counted gives way to the one before.
std::optional<std::int64_t> AudioEnd(const unsigned char* data,
                                     const std::vector<AudioPacket>& packets, int id) {
  int tries = 0;
  for (auto it = packets.rbegin(); it != packets.rend() && tries < 8; ++it) {
    if (it->id != id || !it->pts) continue;
    ++tries;
    std::vector<unsigned char> frames;
    for (auto from = it.base() - 1; from != packets.end(); ++from)
      if (from->id == id) frames.insert(frames.end(), data + from->payload, data + from->end);
    const auto count = CountAudioFrames(frames.data(), frames.size());
    if (count && count->SampleRate > 0)
      return *it->pts + count->Samples * 90000 / count->SampleRate;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> ProgramStreamLengthNs(const unsigned char* head, std::size_t headSize,
                                                  const unsigned char* tail, std::size_t tailSize) {
  const auto first = Pack(head, headSize);
  if (!first) return std::nullopt;
  const std::vector<AudioPacket> packets = AudioPackets(tail, tailSize);
  std::optional<std::int64_t> end;
  for (int id = 0; id < 32; ++id)
    if (const auto e = AudioEnd(tail, packets, id)) end = std::max(end.value_or(*e), *e);
  // A clock that wrapped or restarted in between is beyond this count.
  if (!end || *end <= first->first) return std::nullopt;
  return (*end - first->first) * 100000 / 9;
}

std::optional<std::int64_t> ExactLengthNs(const std::string& path,
                                          const std::optional<FileIdentity>& identity) {
  if (const auto count = CountAudioFrames(path, identity)) return count->LengthNs();
  static std::mutex mutex;
  static std::map<std::string, std::pair<FileIdentity, std::optional<std::int64_t>>> counted;
  if (!identity) return std::nullopt;
  {
    std::lock_guard lock(mutex);
    if (auto it = counted.find(path); it != counted.end() && it->second.first == *identity)
      return it->second.second;
  }
  std::optional<std::int64_t> length;
  // FileIdentity::Of answers for regular files only, and a regular file
  // never blocks an open; O_NONBLOCK is for one replaced in between.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    const auto read = [&](std::vector<unsigned char>& into, off_t from) {
      std::size_t held = 0;
      while (held < into.size()) {
        const ssize_t got =
            ::pread(fd, into.data() + held, into.size() - held, from + static_cast<off_t>(held));
        if (got <= 0) break;
        held += static_cast<std::size_t>(got);
      }
      into.resize(held);
    };
    std::vector<unsigned char> head(16);
    read(head, 0);
    if (Pack(head.data(), head.size())) {
      // The last audio packets of a program stream lie in its last second
      // or so; a DVD's 10 Mbit/s fill a megabyte in less.
      const auto size = static_cast<std::size_t>(st.st_size);
      std::vector<unsigned char> tail(std::min<std::size_t>(size, 2 << 20));
      read(tail, static_cast<off_t>(size - tail.size()));
      length = ProgramStreamLengthNs(head.data(), head.size(), tail.data(), tail.size());
    }
  }
  if (fd >= 0) ::close(fd);
  std::lock_guard lock(mutex);
  // A few hundred keys at most; a changed file replaces its own entry.
  counted[path] = {*identity, length};
  return length;
}

}  // namespace engine
