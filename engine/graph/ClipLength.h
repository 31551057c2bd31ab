#pragma once
// The exact length of a clip whose container does not tell it.
//
// A key's marks are shares of its clip's length, so a length that is only
// estimated starts every key with marks in the wrong place. Two kinds of
// file need counting: bare MPEG audio or ADTS streams (FrameCount.h), and
// MPEG program streams (.mpg, .mpeg, .dat), whose demuxer reports the span
// between the first and the last time stamp it finds near the file's ends,
// 0.8 s short for an 8 s clip from some muxers. Such a file's own time line
// runs from its first clock reference; its sound ends where its last audio
// frame does, which the last packets of the file tell.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace engine {

struct FileIdentity;  // ClipCache.h

// The time, from the first clock reference, at which the last MPEG audio
// frame of a program stream ends. `head` holds the file's first bytes,
// `tail` its last ones. None unless the file starts with a pack header and
// its tail holds audio packets with time stamps after that reference.
std::optional<std::int64_t> ProgramStreamLengthNs(const unsigned char* head, std::size_t headSize,
                                                  const unsigned char* tail, std::size_t tailSize);

// The exact length of the regular file `path` (identity as read by the
// caller; none: not a regular file), when it is one of the kinds above.
// The answer is kept while the file stays the same on disk, so the cue pool
// and the graph that takes its clip over agree and count once.
std::optional<std::int64_t> ExactLengthNs(const std::string& path,
                                          const std::optional<FileIdentity>& identity);

}  // namespace engine
