#pragma once
// The length of a bare compressed audio stream, counted frame by frame.
//
// An MP3 without a seek table (most VBR files, many CBR ones) or a raw AAC
// stream does not say how long it is: GStreamer's parsers only estimate the
// length from the bitrate of what they have read so far, and at preroll
// they have read a frame or two. A key's marks are shares of the length,
// so the first press of such a clip would start in the wrong place, or at
// 0 when no estimate is given at all. Counting the frames gives the length
// exactly, from their headers alone, in a millisecond or two for a clip of
// several minutes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace engine {

struct FileIdentity;  // ClipCache.h

struct FrameCount {
  std::int64_t Samples = 0;
  int SampleRate = 0;
  std::int64_t Frames = 0;
  std::int64_t LengthNs() const { return SampleRate > 0 ? Samples * 1000000000 / SampleRate : 0; }
};

// Counts the MPEG audio (layer I, II or III) or ADTS AAC frames of `data`,
// from its first frame after any ID3v2 tag up to the first bytes that are
// not a frame (an ID3v1 or APE tag, the end of a damaged stream). A Xing,
// Info or VBRI frame at the start holds no sound and is not counted. None
// unless the data is such a stream: at least two frames in a row of one
// kind near its start, and frames making up nine tenths of it, so that a
// container holding such frames (an AVI with MP3 sound) is not taken for
// one.
std::optional<FrameCount> CountAudioFrames(const unsigned char* data, std::size_t size);

// The same for a regular file, mapped rather than read. Never opens
// anything that might block (a FIFO, a device). The answer for a path is
// kept while the file stays the same on disk, so the cue pool and the graph
// that takes its clip over agree and count once.
std::optional<FrameCount> CountAudioFrames(const std::string& path);
// The same, for a file whose identity the caller has just read (none: not a
// regular file), so that a key press reads it once.
std::optional<FrameCount> CountAudioFrames(const std::string& path,
                                           const std::optional<FileIdentity>& identity);

}  // namespace engine
