#include "net/NetMessage.h"

#include <cstring>

namespace net {

namespace {

constexpr char kMagic[4] = {'T', 'S', 'N', 'G'};
constexpr std::uint8_t kVersion = 1;

void Put(std::vector<char>& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

class Reader {
 public:
  Reader(const char* data, std::size_t size) : data_(data), size_(size) {}
  bool Take(std::uint64_t& value, int bytes) {
    if (size_ - at_ < static_cast<std::size_t>(bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<unsigned char>(data_[at_++]);
    return true;
  }
  bool Text(std::string& text) {
    std::uint64_t length = 0;
    if (!Take(length, 1) || size_ - at_ < length) return false;
    text.assign(data_ + at_, length);
    at_ += length;
    return true;
  }
  bool AtEnd() const { return at_ == size_; }

 private:
  const char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

std::vector<char> EncodeMessage(const NetMessage& m) {
  if (m.group.size() > kMaxText || m.token.size() > kMaxText || m.name.size() > kMaxText) return {};
  std::vector<char> out(kMagic, kMagic + 4);
  Put(out, kVersion, 1);
  Put(out, static_cast<std::uint8_t>(m.kind), 1);
  Put(out, m.seq, 4);
  Put(out, m.groupNs, 8);
  Put(out, m.stamp, 8);
  Put(out, static_cast<std::uint32_t>(m.key), 4);
  Put(out, m.port, 2);
  for (const std::string* text : {&m.group, &m.token, &m.name}) {
    Put(out, text->size(), 1);
    out.insert(out.end(), text->begin(), text->end());
  }
  return out;
}

std::optional<NetMessage> DecodeMessage(const char* data, std::size_t size) {
  if (size < 6 || std::memcmp(data, kMagic, 4) != 0) return std::nullopt;
  Reader in(data + 4, size - 4);
  std::uint64_t version = 0, kind = 0, seq = 0, key = 0, port = 0;
  NetMessage m;
  if (!in.Take(version, 1) || version != kVersion || !in.Take(kind, 1)) return std::nullopt;
  if (kind < static_cast<std::uint8_t>(MessageKind::kJoin) ||
      kind > static_cast<std::uint8_t>(MessageKind::kRelease))
    return std::nullopt;
  m.kind = static_cast<MessageKind>(kind);
  if (!in.Take(seq, 4) || !in.Take(m.groupNs, 8) || !in.Take(m.stamp, 8) || !in.Take(key, 4) ||
      !in.Take(port, 2) || !in.Text(m.group) || !in.Text(m.token) || !in.Text(m.name) ||
      !in.AtEnd())
    return std::nullopt;
  m.seq = static_cast<std::uint32_t>(seq);
  m.key = static_cast<std::int32_t>(static_cast<std::uint32_t>(key));
  m.port = static_cast<std::uint16_t>(port);
  return m;
}

}  // namespace net
