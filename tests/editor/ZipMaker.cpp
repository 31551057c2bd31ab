#include "ZipMaker.h"

#include <QFile>

#include <zip.h>

#include <cstring>
#include <stdexcept>

namespace zip_maker {

void MakeZip(const QString& path, const std::vector<std::pair<QString, QByteArray>>& entries) {
  QFile::remove(path);
  int code = 0;
  zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!archive) throw std::runtime_error("zip_open failed");
  for (const auto& [name, bytes] : entries) {
    // libzip frees the copy when the archive is written.
    void* copy = std::malloc(static_cast<size_t>(bytes.size()) + 1);
    std::memcpy(copy, bytes.constData(), static_cast<size_t>(bytes.size()));
    zip_source_t* source =
        zip_source_buffer(archive, copy, static_cast<zip_uint64_t>(bytes.size()), 1);
    if (!source || zip_file_add(archive, name.toUtf8().constData(), source,
                                ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      zip_discard(archive);
      throw std::runtime_error("zip_file_add failed");
    }
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    throw std::runtime_error("zip_close failed");
  }
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

}  // namespace zip_maker
