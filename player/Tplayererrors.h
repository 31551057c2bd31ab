#pragma once
// Result checks of the playback engine and their fixed texts.

#include <stdexcept>
#include <string>
#include <utility>

// The exception every player failure raises. Its message starts with the
// fixed text (Text()), so that whoever compares texts compares the first
// line. A failure of a clip goes on with the file and the reason in plain
// words, and the media layer's detail on a "Details" line; Detail() keeps
// that detail for logs.
class EPlayerError : public std::runtime_error {
 public:
  explicit EPlayerError(const std::string& text, std::string detail = {})
      : std::runtime_error(text), text_(text), detail_(std::move(detail)) {}
  EPlayerError(const std::string& text, const std::string& fileName, const std::string& reason,
               std::string detail)
      : std::runtime_error(ClipErrorMessage(text, fileName, reason, detail)),
        text_(text),
        detail_(std::move(detail)) {}
  const std::string& Text() const { return text_; }
  const std::string& Detail() const { return detail_; }

  // "text\nfile: reason.\nDetails: detail"; the reason and the details
  // lines are left out when empty (and the details when they only repeat
  // the reason).
  static std::string ClipErrorMessage(const std::string& text, const std::string& fileName,
                                      const std::string& reason, const std::string& detail);

 private:
  std::string text_;
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
