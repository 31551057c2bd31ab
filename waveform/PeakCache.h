#pragma once
// Peaks kept on disk, so a clip seen once shows its waveform at once. One
// file per clip file (device and inode); it holds the clip's size and times,
// and a clip that changed since finds its old peaks dropped. A damaged or
// foreign cache file counts as missing and is written anew.

#include "waveform/Peaks.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace waveform {

// Who a file is, as far as its peaks go: the same file, unchanged.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at path (symbolic links followed); none when it
// can't be read.
std::optional<FileIdentity> IdentityOf(const QString& path);

class PeakCache {
 public:
  // $XDG_CACHE_HOME/Tastivo/peaks (~/.cache/Tastivo/peaks).
  static QString DefaultFolder();

  explicit PeakCache(QString folder = DefaultFolder());

  // The stored peaks of this file; none when there are none, when the file
  // changed since (those are removed) or when the cache file is damaged.
  std::optional<Peaks> Load(const FileIdentity& file) const;
  // Writes the peaks, replacing whatever was stored for the file. A failure
  // to write only costs the next reading its speed.
  bool Store(const FileIdentity& file, const Peaks& peaks) const;
  QString FileFor(const FileIdentity& file) const;

 private:
  QString folder_;
};

}  // namespace waveform
