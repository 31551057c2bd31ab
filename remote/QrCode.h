#pragma once
// A QR code of a text (the web remote's address with its token), as rows of
// dark and light modules, for a window to draw. Empty when the text does not
// fit in one.

#include <QString>

#include <vector>

namespace remote {

std::vector<std::vector<bool>> QrModules(const QString& text);

}  // namespace remote
