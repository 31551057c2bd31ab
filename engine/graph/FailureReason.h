#pragma once
// Why a clip could not be played, in words a performer understands, made
// from what GStreamer reported. GStreamer's own wording stays in the
// detail; this is the line the user reads.

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// What GStreamer said about a clip that failed.
struct ClipFailure {
  std::uint32_t domain = 0;          // the GError's domain (a GQuark); 0 when no error came
  int code = 0;                      // its code in that domain
  std::string message;               // the GError's message
  std::string debug;                 // its debug string
  std::string element;               // factory name of the element that reported it ("wavparse")
  std::vector<std::string> missing;  // descriptions of plugins found missing
  std::int64_t fileSize = -1;        // bytes; -1 when not known
  std::int64_t positionNs = -1;      // where the clip was; -1 when not known
  bool nothingToPlay = false;        // it decoded, but gave no sound or picture
};

// The reason in plain words, without a final full stop: "the MP3 data is
// damaged at 0:12", "could not tell what kind of file this is".
std::string ReasonInWords(const ClipFailure& failure);

// The kind of data an element handles, for the reason ("MP3" for
// mpegaudioparse); empty when it is not known.
std::string FormatOfElement(const std::string& factory);

}  // namespace engine
