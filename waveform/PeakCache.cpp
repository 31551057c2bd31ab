#include "waveform/PeakCache.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

#include <cstring>

namespace waveform {

namespace {

constexpr char kMagic[8] = {'T', 'V', 'P', 'E', 'A', 'K', 'S', '\n'};
// Raised whenever the layout below changes; older files are then rewritten.
constexpr std::uint32_t kVersion = 1;

#pragma pack(push, 1)
struct Header {
  char magic[8];
  std::uint32_t version;
  std::uint32_t byteOrder;  // 0x01020304 as written, so another order reads as foreign
  std::uint64_t device;
  std::uint64_t inode;
  std::int64_t size;
  std::int64_t modifiedNs;
  std::int64_t changedNs;
  std::int32_t rate;
  std::int32_t channels;
  std::int64_t framesPerBucket;
  std::int64_t frames;
  std::int64_t buckets;
};
#pragma pack(pop)

constexpr std::uint32_t kByteOrder = 0x01020304;

std::int64_t Nanoseconds(const struct timespec& t) {
  return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.modifiedNs = Nanoseconds(st.st_mtim);
  id.changedNs = Nanoseconds(st.st_ctim);
  return id;
}

QString PeakCache::DefaultFolder() {
  // Beside the archives' extracted entries, in the program's one cache folder.
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
         QStringLiteral("/Tastivo/peaks");
}

PeakCache::PeakCache(QString folder) : folder_(std::move(folder)) {}

QString PeakCache::FileFor(const FileIdentity& file) const {
  return folder_ + QStringLiteral("/%1-%2.peaks").arg(file.device, 0, 16).arg(file.inode, 0, 16);
}

std::optional<Peaks> PeakCache::Load(const FileIdentity& file) const {
  QFile in(FileFor(file));
  if (!in.open(QIODevice::ReadOnly)) return std::nullopt;
  Header h{};
  const bool headerRead = in.read(reinterpret_cast<char*>(&h), sizeof h) == qint64(sizeof h);
  const bool sound = headerRead && std::memcmp(h.magic, kMagic, sizeof kMagic) == 0 &&
                     h.version == kVersion && h.byteOrder == kByteOrder &&
                     (h.channels == 1 || h.channels == 2) && h.framesPerBucket > 0 &&
                     h.buckets >= 0 && h.buckets <= PeakFolder::kMaxBuckets && h.frames >= 0 &&
                     in.size() == qint64(sizeof h) + h.buckets * 4 * h.channels;
  const bool same = sound && h.device == file.device && h.inode == file.inode &&
                    h.size == file.size && h.modifiedNs == file.modifiedNs &&
                    h.changedNs == file.changedNs;
  if (!same) {
    in.close();
    in.remove();
    return std::nullopt;
  }
  Peaks peaks;
  peaks.rate = h.rate;
  peaks.channels = h.channels;
  peaks.framesPerBucket = h.framesPerBucket;
  peaks.frames = h.frames;
  peaks.values.resize(std::size_t(h.buckets) * 2 * h.channels);
  const qint64 bytes = qint64(peaks.values.size() * sizeof(std::int16_t));
  if (in.read(reinterpret_cast<char*>(peaks.values.data()), bytes) != bytes) return std::nullopt;
  return peaks;
}

bool PeakCache::Store(const FileIdentity& file, const Peaks& peaks) const {
  if (!QDir().mkpath(folder_)) return false;
  Header h{};
  std::memcpy(h.magic, kMagic, sizeof kMagic);
  h.version = kVersion;
  h.byteOrder = kByteOrder;
  h.device = file.device;
  h.inode = file.inode;
  h.size = file.size;
  h.modifiedNs = file.modifiedNs;
  h.changedNs = file.changedNs;
  h.rate = peaks.rate;
  h.channels = peaks.channels;
  h.framesPerBucket = peaks.framesPerBucket;
  h.frames = peaks.frames;
  h.buckets = peaks.BucketCount();
  // Written aside and renamed, so a reader never sees half a file.
  QSaveFile out(FileFor(file));
  if (!out.open(QIODevice::WriteOnly)) return false;
  out.write(reinterpret_cast<const char*>(&h), sizeof h);
  out.write(reinterpret_cast<const char*>(peaks.values.data()),
            qint64(peaks.values.size() * sizeof(std::int16_t)));
  return out.commit();
}

}  // namespace waveform
