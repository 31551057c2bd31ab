#include "engine/ClipProbe.h"

#include "engine/GstInternal.h"
#include "engine/graph/FailureReason.h"

#include <gst/pbutils/pbutils.h>

#include <filesystem>
#include <system_error>

namespace engine {

namespace {

// "gstreamer|1.0|app|MPEG-4 AAC decoder|decoder-audio/mpeg..." carries the
// plugin's description in its fourth field.
std::string MissingDescription(const char* detail) {
  const std::string text = detail;
  std::size_t start = 0;
  for (int field = 0; field < 3; ++field) {
    start = text.find('|', start);
    if (start == std::string::npos) return text;
    ++start;
  }
  const std::size_t end = text.find('|', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool HasMovingPictureOrSound(GstDiscovererInfo* info) {
  GList* audio = gst_discoverer_info_get_audio_streams(info);
  const bool sound = audio != nullptr;
  gst_discoverer_stream_info_list_free(audio);
  if (sound) return true;
  bool picture = false;
  GList* video = gst_discoverer_info_get_video_streams(info);
  for (GList* s = video; s != nullptr; s = s->next)
    if (!gst_discoverer_video_info_is_image(GST_DISCOVERER_VIDEO_INFO(s->data))) picture = true;
  gst_discoverer_stream_info_list_free(video);
  return picture;
}

ClipProbeResult Unplayable(const ClipFailure& failure) {
  std::string reason = ReasonInWords(failure);
  if (reason.empty()) reason = "GStreamer can't play it";
  return {ClipProbeResult::Verdict::kUnplayable, reason};
}

}  // namespace

ClipProbeResult ProbeClip(const std::string& path, std::chrono::milliseconds timeout) {
  EnsureGstInitialized();
  GError* error = nullptr;
  gchar* uri = gst_filename_to_uri(path.c_str(), &error);
  if (uri == nullptr) {
    ClipFailure failure;
    failure.message = error ? error->message : "";
    g_clear_error(&error);
    return Unplayable(failure);
  }
  GstDiscoverer* discoverer = gst_discoverer_new(
      std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count(), &error);
  if (discoverer == nullptr) {
    g_clear_error(&error);
    g_free(uri);
    return {};
  }
  GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, &error);
  g_free(uri);
  ClipProbeResult result;
  ClipFailure failure;
  std::error_code sizeError;
  const auto size = std::filesystem::file_size(path, sizeError);
  if (!sizeError) failure.fileSize = static_cast<std::int64_t>(size);
  if (error != nullptr) {
    failure.domain = error->domain;
    failure.code = error->code;
    failure.message = error->message;
  }
  switch (info ? gst_discoverer_info_get_result(info) : GST_DISCOVERER_ERROR) {
    case GST_DISCOVERER_OK:
      if (HasMovingPictureOrSound(info)) {
        result.verdict = ClipProbeResult::Verdict::kPlayable;
      } else {
        failure.nothingToPlay = true;
        result = Unplayable(failure);
      }
      break;
    case GST_DISCOVERER_MISSING_PLUGINS: {
      const gchar** details = gst_discoverer_info_get_missing_elements_installer_details(info);
      for (const gchar** d = details; d != nullptr && *d != nullptr; ++d)
        failure.missing.push_back(MissingDescription(*d));
      if (failure.missing.empty()) failure.missing.push_back("a decoder");
      result = Unplayable(failure);
      break;
    }
    case GST_DISCOVERER_TIMEOUT:
    case GST_DISCOVERER_BUSY:
      break;
    case GST_DISCOVERER_URI_INVALID:
    case GST_DISCOVERER_ERROR:
      result = Unplayable(failure);
      break;
  }
  g_clear_error(&error);
  if (info) g_object_unref(info);
  g_object_unref(discoverer);
  return result;
}

}  // namespace engine
