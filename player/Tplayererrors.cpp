#include "player/Tplayererrors.h"

#include <cstdint>

namespace {
constexpr std::uint32_t U(int v) {
  return static_cast<std::uint32_t>(v);
}
}  // namespace

std::string EPlayerError::ClipErrorMessage(const std::string& text, const std::string& fileName,
                                           const std::string& reason, const std::string& detail) {
  std::string message = text + "\n" + fileName;
  if (!reason.empty()) message += ": " + reason + ".";
  if (!detail.empty() && detail != reason) message += "\nDetails: " + detail;
  return message;
}

int SCheck(int result, const std::string& detail) {
  switch (U(result)) {
    case 0x00000000:
    case 0x00000001:
    case 0x0004022D:
    case 0x00000209:
    case 0x80004002:
    case 0x80004001:
      return result;
    default:
      throw EPlayerError(SCheckText(result), detail);
  }
}

std::string SCheckText(int result) {
  switch (U(result)) {
    case 0x80004003:
      return "This method tried to access an invalid pointer.";
    case 0x80004004:
      return "Operation aborted.";
    case 0x80040110:
      return "This class cannot be created as part of an aggregate.";
    case 0x80040154:
      return "A specified class is not registered in the registration database.";
    case 0x8007000E:
      return "Insufficient memory to complete the task.";
    case 0x80070057:
      return "One of the parameters is invalid.";
    default:
      return _ERR_UNKNOWN;
  }
}

int SMCICheck(int result) {
  if (result != 0) throw EPlayerError(_ERR_UNKNOWN);
  return result;
}

void GetMCIDeviceErrorMessage(int code, std::string& text) {
  switch (code) {
    case 2:
      text = "Specified device identifier is out of range.";
      break;
    case 5:
      text = "Specified device handle is invalid.";
      break;
    case 6:
      text = "No device driver is present.";
      break;
    case 7:
      text = "Unable to allocate or lock memory.";
      break;
    case 8:
      text = "Function is not supported.";
      break;
    default:
      text = _ERR_UNKNOWN;
  }
}
