#pragma once
// The clip cache: keeps the decoder of the last clip that played through the
// default output alone, linked and cued, after the player has emptied the
// graph, so pressing the same key again opens with a seek instead of a new
// decoder. Apart from GStreamer, so its states can be checked on their own.
//
// The player empties the graph one filter at a time, renderers first and the
// source last. The cache follows that with explicit states:
//
//   Empty     nothing kept; the clip in the graph (if any) is not keepable.
//   Live      the graph holds a keepable clip: its source feeds the default
//             output and nothing else.
//   Releasing the default output of a Live clip was removed; its removal is
//             held back in case the source follows.
//   Kept      the source followed: both stay linked and cued outside the
//             player's view until the same file comes again (Reuse) or
//             anything else happens (Drop).
//
// Any other call on the graph while Releasing finishes the held-back removal
// (Settle). A kept source is reused only for the same file, unchanged on
// disk: same path, device, inode, size, modification and change time.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace engine {

// Who a file is on disk. A file replaced by another of the same size with
// its modification time preserved (cp -p, rsync -t, unzip, FAT's 2 s steps)
// still gets a new inode or at least a new change time.
struct FileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t Size = 0;
  std::int64_t ModifiedNs = 0;
  std::int64_t ChangedNs = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;

  // The identity of a regular file; none when it can't be read.
  static std::optional<FileIdentity> Of(const std::string& path);
};

template <typename Source>
class ClipCache {
 public:
  enum class State { Empty, Live, Releasing, Kept };

  State Current() const { return state_; }
  bool Holds(const Source& source) const { return state_ != State::Empty && source_ == source; }
  std::int64_t Duration() const { return duration_; }
  const std::string& Path() const { return path_; }

  // A clip was rendered. It can be kept only when it plays through the
  // default output alone and its file has an identity. Anything kept must
  // have been dropped or reused before.
  void Loaded(Source source, std::string path, std::optional<FileIdentity> identity,
              std::int64_t duration, bool defaultOutputAlone) {
    Reset();
    if (!defaultOutputAlone || !identity) return;
    state_ = State::Live;
    source_ = std::move(source);
    path_ = std::move(path);
    identity_ = *identity;
    duration_ = duration;
  }

  // The clip's length as the graph knows it now (it may learn it late).
  void SetDuration(std::int64_t duration) {
    if (state_ == State::Live || state_ == State::Releasing) duration_ = duration;
  }

  // The graph's renderers changed (another output, a null renderer): the
  // clip no longer plays through the default output alone.
  void NotKeepable() {
    if (state_ == State::Live) Reset();
  }

  // The default output is being removed. True when the removal is held back:
  // the clip was Live and still feeds the default output alone.
  bool OutputRemoved(bool defaultOutputAlone) {
    if (state_ != State::Live) return false;
    if (!defaultOutputAlone) {
      Reset();
      return false;
    }
    state_ = State::Releasing;
    return true;
  }

  // The source is being removed. True when it is now kept: the caller
  // leaves it and the default output linked and cued.
  bool SourceRemoved(const Source& source) {
    if (state_ == State::Live && source_ == source) {
      Reset();
      return false;
    }
    if (state_ != State::Releasing || !(source_ == source)) return false;
    state_ = State::Kept;
    return true;
  }

  // Something else touched the graph while a removal was held back. True
  // when the caller must now remove the default output after all.
  bool Settle() {
    if (state_ != State::Releasing) return false;
    Reset();
    return true;
  }

  // The kept source, when the same file, unchanged, is rendered again. The
  // clip is then Live once more.
  std::optional<Source> Reuse(const std::string& path,
                              const std::optional<FileIdentity>& identity) {
    if (state_ != State::Kept || path != path_ || !identity || !(*identity == identity_))
      return std::nullopt;
    state_ = State::Live;
    return source_;
  }

  // Gives up a kept source: the caller detaches it and the default output.
  std::optional<Source> Drop() {
    if (state_ != State::Kept) return std::nullopt;
    Source source = std::move(source_);
    Reset();
    return source;
  }

  // Forgets everything without handing anything back (the output died, or
  // the graph is going away and frees what it holds).
  void Reset() {
    state_ = State::Empty;
    source_ = Source{};
    path_.clear();
    identity_ = {};
    duration_ = 0;
  }

 private:
  State state_ = State::Empty;
  Source source_{};
  std::string path_;
  FileIdentity identity_;
  std::int64_t duration_ = 0;
};

}  // namespace engine
