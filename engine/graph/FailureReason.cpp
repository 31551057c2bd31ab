#include "engine/graph/FailureReason.h"

#include <gst/gst.h>

#include <cstdio>
#include <utility>

namespace engine {

namespace {

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// "0:12", "1:03:07": where in the clip, as a player's display shows it.
std::string Clock(std::int64_t ns) {
  const std::int64_t s = ns / GST_SECOND;
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  return text;
}

std::string Damaged(const ClipFailure& f) {
  const std::string format = FormatOfElement(f.element);
  std::string reason =
      format.empty() ? "the file's data is damaged" : "the " + format + " data is damaged";
  // Damage found while cueing the start says nothing about where it is.
  if (f.positionNs >= GST_SECOND) reason += " at " + Clock(f.positionNs);
  return reason;
}

constexpr const char* kNoDecoder = "no decoder for this format is installed";
constexpr const char* kCannotHandle = "the decoder could not handle the format of the data";
constexpr const char* kNoPermission = "you have no permission to read the file";

std::string FromStream(const ClipFailure& f) {
  switch (f.code) {
    case GST_STREAM_ERROR_TYPE_NOT_FOUND:
      return "could not tell what kind of file this is";
    case GST_STREAM_ERROR_CODEC_NOT_FOUND:
      return kNoDecoder;
    case GST_STREAM_ERROR_NOT_IMPLEMENTED: {
      const std::string format = FormatOfElement(f.element);
      return format.empty() ? "this variant of the format is not supported"
                            : "this variant of the " + format + " format is not supported";
    }
    case GST_STREAM_ERROR_DECRYPT:
    case GST_STREAM_ERROR_DECRYPT_NOKEY:
      return "the file is encrypted";
    case GST_STREAM_ERROR_FAILED:
      // A stream that stopped because no two elements agreed on a format.
      if (Contains(f.debug, "not-negotiated")) return kCannotHandle;
      return Damaged(f);
    case GST_STREAM_ERROR_DECODE:
    case GST_STREAM_ERROR_DEMUX:
    case GST_STREAM_ERROR_FORMAT:
    // A parser that found no frame it knows in the whole file says so.
    case GST_STREAM_ERROR_WRONG_TYPE:
      return Damaged(f);
    default:
      return {};
  }
}

std::string FromResource(const ClipFailure& f) {
  if (Contains(f.debug, "ermission denied") || Contains(f.message, "ermission denied"))
    return kNoPermission;
  switch (f.code) {
    case GST_RESOURCE_ERROR_NOT_FOUND:
      return "there is no file of that name";
    case GST_RESOURCE_ERROR_OPEN_READ:
    case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
      return "the file could not be opened";
    case GST_RESOURCE_ERROR_READ:
    case GST_RESOURCE_ERROR_SEEK:
      return "the file could not be read";
    case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
      return kNoPermission;
    default:
      return {};
  }
}

std::string FromCore(const ClipFailure& f) {
  switch (f.code) {
    case GST_CORE_ERROR_MISSING_PLUGIN:
      return kNoDecoder;
    case GST_CORE_ERROR_NEGOTIATION:
      return kCannotHandle;
    default:
      return {};
  }
}

// GStreamer's own sentence as a clause: "Internal data stream error." reads
// "internal data stream error".
std::string AsClause(std::string message) {
  while (!message.empty() &&
         (message.back() == '.' || message.back() == ' ' || message.back() == '\n'))
    message.pop_back();
  if (message.size() > 1 && message[0] >= 'A' && message[0] <= 'Z' &&
      !(message[1] >= 'A' && message[1] <= 'Z'))
    message[0] = static_cast<char>(message[0] - 'A' + 'a');
  return message;
}

}  // namespace

std::string FormatOfElement(const std::string& factory) {
  static const std::pair<const char*, const char*> kFormats[] = {
      {"wavparse", "WAV"},
      {"aiffparse", "AIFF"},
      {"avdemux_aiff", "AIFF"},
      {"avidemux", "AVI"},
      {"oggdemux", "Ogg"},
      {"oggparse", "Ogg"},
      {"vorbis", "Vorbis"},
      {"opus", "Opus"},
      {"flac", "FLAC"},
      {"mpegaudioparse", "MP3"},
      {"mpg123", "MP3"},
      {"avdec_mp3", "MP3"},
      {"avdec_mp2", "MPEG audio"},
      {"aacparse", "AAC"},
      {"avdec_aac", "AAC"},
      {"faad", "AAC"},
      {"qtdemux", "MP4"},
      {"matroskademux", "Matroska"},
      {"mpegpsdemux", "MPEG"},
      {"tsdemux", "MPEG"},
      {"mpegvideoparse", "MPEG video"},
      {"mpeg2dec", "MPEG video"},
      {"avdec_mpeg2video", "MPEG video"},
      {"avdec_mpeg1video", "MPEG video"},
      {"mpeg4videoparse", "MPEG-4 video"},
      {"avdec_mpeg4", "MPEG-4 video"},
      {"avdec_msmpeg4", "MPEG-4 video"},
      {"h264parse", "H.264"},
      {"avdec_h264", "H.264"},
      {"jpegdec", "Motion JPEG"},
      {"avdec_mjpeg", "Motion JPEG"},
      {"midiparse", "MIDI"},
      {"fluiddec", "MIDI"},
      {"wildmidi", "MIDI"},
  };
  for (const auto& [prefix, format] : kFormats)
    if (factory.rfind(prefix, 0) == 0) return format;
  return {};
}

std::string ReasonInWords(const ClipFailure& f) {
  if (f.fileSize == 0) return "the file is empty";
  if (!f.missing.empty()) {
    std::string what;
    for (const std::string& m : f.missing) what += (what.empty() ? "" : ", ") + m;
    return std::string(kNoDecoder) + " (" + what + ")";
  }
  std::string reason;
  if (f.domain != 0) {
    if (f.domain == GST_STREAM_ERROR)
      reason = FromStream(f);
    else if (f.domain == GST_RESOURCE_ERROR)
      reason = FromResource(f);
    else if (f.domain == GST_CORE_ERROR)
      reason = FromCore(f);
  }
  if (!reason.empty()) return reason;
  if (f.nothingToPlay) return "the file has no sound or picture that can be played";
  if (!f.message.empty()) return "the media framework reported: " + AsClause(f.message);
  return "the media framework failed without saying why";
}

}  // namespace engine
