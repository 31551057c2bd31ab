#pragma once
// Plain types shared by the media graph interface and its users: result
// codes, class identifiers, filter states and event codes. Nothing here
// depends on GStreamer.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace engine {

// A result code: 0 for success, small positive values for qualified
// success, negative values (high bit set) for failures.
using HRESULT = std::int32_t;

constexpr HRESULT MakeResult(std::uint32_t value) {
  return static_cast<HRESULT>(value);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002);
constexpr HRESULT E_POINTER = MakeResult(0x80004003);
constexpr HRESULT E_ABORT = MakeResult(0x80004004);
// Not finished yet: the clip is still being read.
constexpr HRESULT E_PENDING = MakeResult(0x8000000A);
constexpr HRESULT E_FAIL = MakeResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFF);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057);
// The file named does not exist or cannot be opened.
constexpr HRESULT E_FILE_NOT_FOUND = MakeResult(0x80070002);
// The state change is still in progress.
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeResult(0x00040237);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeResult(0x80040209);
// No media plugin can read the file or one of its streams.
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MakeResult(0x8004022F);
// The file is not a media file the graph understands (or it is damaged).
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MakeResult(0x8004022B);
// The graph did not finish a state change in time.
constexpr HRESULT VFW_E_TIMEOUT = MakeResult(0x8004022E);
// The sound output failed (its server went away, its device was taken).
constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = MakeResult(0x80040256);
constexpr HRESULT VFW_E_WRONG_STATE = MakeResult(0x80040227);

constexpr bool Succeeded(HRESULT hr) {
  return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
  return hr < 0;
}

// A 128-bit class or interface identifier.
struct Guid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};

  friend bool operator==(const Guid&, const Guid&) = default;

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex, braces included.
  std::string ToString() const;
  // Accepts the form above, braces required; nullopt when it does not parse.
  static std::optional<Guid> Parse(const std::string& text);
};

// Filter and graph states; the numbers are those the player compares with.
enum class FilterState : int { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

enum class PinDirection : int { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

// Event codes the graph queues.
constexpr long EC_COMPLETE = 1;
constexpr long EC_USERABORT = 2;
constexpr long EC_ERRORABORT = 3;
// The clip reached its end and looped by itself, as the window had asked
// ahead: the window has nothing to answer.
constexpr long EC_LOOPED = 0x8001;

// Seeking flags.
constexpr unsigned AM_SEEKING_NoPositioning = 0;
constexpr unsigned AM_SEEKING_AbsolutePositioning = 1;

// Media time: 100 ns units.
using REFERENCE_TIME = std::int64_t;

// A stop position that means the end of the clip, whatever its length: the
// stop of a clip whose length is not known yet.
constexpr REFERENCE_TIME kPlayToEnd = INT64_MAX;

}  // namespace engine
