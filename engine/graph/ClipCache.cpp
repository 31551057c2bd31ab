#include "engine/graph/ClipCache.h"

#include <sys/stat.h>

namespace engine {

std::optional<FileIdentity> FileIdentity::Of(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  FileIdentity id;
  id.Device = static_cast<std::uint64_t>(info.st_dev);
  id.Inode = static_cast<std::uint64_t>(info.st_ino);
  id.Size = static_cast<std::int64_t>(info.st_size);
  id.ModifiedNs =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  id.ChangedNs = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
  return id;
}

}  // namespace engine
