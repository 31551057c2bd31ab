#include "remote/QrCode.h"

#include <qrencode.h>

namespace remote {

std::vector<std::vector<bool>> QrModules(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  QRcode* code = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
  if (code == nullptr) return {};
  std::vector<std::vector<bool>> rows(static_cast<std::size_t>(code->width));
  for (int y = 0; y < code->width; ++y)
    for (int x = 0; x < code->width; ++x)
      rows[static_cast<std::size_t>(y)].push_back((code->data[y * code->width + x] & 1) != 0);
  QRcode_free(code);
  return rows;
}

}  // namespace remote
