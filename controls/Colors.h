#pragma once
// Colour values as the windows store them: 24-bit 0x00BBGGRR, or one of the
// desktop's system colours, marked by the top bit and resolved through the
// application palette when drawn.

#include <QColor>

#include <cstdint>

namespace controls {

using TColor = std::uint32_t;

inline constexpr TColor kSystemColorFlag = 0x80000000u;
inline constexpr TColor kColorButtonFace = kSystemColorFlag | 1u;
inline constexpr TColor kColorButtonShadow = kSystemColorFlag | 2u;
inline constexpr TColor kColorButtonHighlight = kSystemColorFlag | 3u;

// 0x00BBGGRR (or a system colour) to a QColor.
QColor ToQColor(TColor color);

// A QColor back to 0x00BBGGRR.
TColor FromQColor(const QColor& color);

}  // namespace controls
