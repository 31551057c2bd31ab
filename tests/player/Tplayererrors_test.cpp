#include "player/Tplayererrors.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

int R(std::uint32_t v) {
  return static_cast<int>(v);
}

std::string TextOf(int result) {
  try {
    SCheck(result);
  } catch (const EPlayerError& e) {
    return e.what();
  }
  return "passed";
}

TEST(SCheck, PassesExactlyTheSixAcceptedResults) {
  for (std::uint32_t v : {0x0u, 0x1u, 0x0004022Du, 0x00000209u, 0x80004002u, 0x80004001u})
    EXPECT_EQ(SCheck(R(v)), R(v)) << std::hex << v;
}

TEST(SCheck, RaisesOtherSuccessCodesAsUnrecognized) {
  EXPECT_EQ(TextOf(2), "Player encountered unrecognized error value.");
  EXPECT_EQ(TextOf(R(0x00040237)), "Player encountered unrecognized error value.");
}

TEST(SCheck, RaisesTheFixedTextForEachKnownFailure) {
  EXPECT_EQ(TextOf(R(0x80004003)), "This method tried to access an invalid pointer.");
  EXPECT_EQ(TextOf(R(0x80004004)), "Operation aborted.");
  EXPECT_EQ(TextOf(R(0x80040110)), "This class cannot be created as part of an aggregate.");
  EXPECT_EQ(TextOf(R(0x80040154)),
            "A specified class is not registered in the registration database.");
  EXPECT_EQ(TextOf(R(0x8007000E)), "Insufficient memory to complete the task.");
  EXPECT_EQ(TextOf(R(0x80070057)), "One of the parameters is invalid.");
  EXPECT_EQ(TextOf(R(0x80004005)), "Player encountered unrecognized error value.");
}

TEST(SCheck, KeepsTheDetailBesideTheFixedText) {
  try {
    SCheck(R(0x80004005), "gst-stream-error-quark 7: no decoder");
    FAIL();
  } catch (const EPlayerError& e) {
    EXPECT_STREQ(e.what(), "Player encountered unrecognized error value.");
    EXPECT_EQ(e.Detail(), "gst-stream-error-quark 7: no decoder");
  }
}

TEST(SMCICheck, PassesOnlyZero) {
  EXPECT_EQ(SMCICheck(0), 0);
  EXPECT_THROW(SMCICheck(1), EPlayerError);
  try {
    SMCICheck(2);
  } catch (const EPlayerError& e) {
    EXPECT_STREQ(e.what(), "Player encountered unrecognized error value.");
  }
}

TEST(GetMCIDeviceErrorMessage, GivesTheDeviceTexts) {
  std::string text;
  const std::pair<int, const char*> table[] = {{2, "Specified device identifier is out of range."},
                                               {5, "Specified device handle is invalid."},
                                               {6, "No device driver is present."},
                                               {7, "Unable to allocate or lock memory."},
                                               {8, "Function is not supported."},
                                               {3, "Player encountered unrecognized error value."}};
  for (auto [code, expected] : table) {
    GetMCIDeviceErrorMessage(code, text);
    EXPECT_EQ(text, expected) << code;
  }
}

TEST(PlayerTexts, AreTheFixedResourceStrings) {
  EXPECT_STREQ(_ERSTR_NO_AUDIO_STREAM, "Specified file doesn't have any audio stream.");
  EXPECT_STREQ(_ERSTR_DEVICE_NOT_CONNECTED, "Selected audio device not connected.");
  EXPECT_STREQ(_ERSTR_NOT_VALID_AUDIO_DEVICE, "Not a valid audio device specified.");
  EXPECT_STREQ(_ERSTR_ADD_FILTER_FAILED, "Couldn't add the specified audio filter.");
  EXPECT_STREQ(_ERR_NOFILE, "The specified file can not be found.");
  EXPECT_STREQ(_ERR_UNKNOWN, "Player encountered unrecognized error value.");
}

}  // namespace
