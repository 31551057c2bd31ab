#pragma once
// Result checks of the playback engine and their fixed texts.

#include <stdexcept>
#include <string>

// The exception every player failure raises. what() is the fixed text shown
// to the user; Detail() keeps what the media layer said (for logs and a
// details view), never instead of the text.
class EPlayerError : public std::runtime_error {
 public:
  explicit EPlayerError(const std::string& text, std::string detail = {})
      : std::runtime_error(text), detail_(std::move(detail)) {}
  const std::string& Detail() const { return detail_; }

 private:
  std::string detail_;
};

inline constexpr const char* _ERSTR_NO_AUDIO_STREAM =
    "Specified file doesn't have any audio stream.";
inline constexpr const char* _ERSTR_DEVICE_NOT_CONNECTED = "Selected audio device not connected.";
inline constexpr const char* _ERSTR_NOT_VALID_AUDIO_DEVICE = "Not a valid audio device specified.";
inline constexpr const char* _ERSTR_ADD_FILTER_FAILED = "Couldn't add the specified audio filter.";
inline constexpr const char* _ERR_NOFILE = "The specified file can not be found.";
inline constexpr const char* _ERR_UNKNOWN = "Player encountered unrecognized error value.";

// Returns result when it is 0, 1, 0x0004022D, 0x00000209, 0x80004002 or
// 0x80004001; raises EPlayerError with the text for any other value (with
// detail attached when given).
int SCheck(int result, const std::string& detail = {});
// The text SCheck raises for a result that does not pass.
std::string SCheckText(int result);
// Returns result when it is 0; otherwise raises _ERR_UNKNOWN.
int SMCICheck(int result);
// The text for a sound device result code.
void GetMCIDeviceErrorMessage(int code, std::string& text);
