#include "sets/SetFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>

namespace {

const QByteArray kLineEnd("\r\r\n");

constexpr int kFieldColumns[setfile::kStoredFields] = {kLabelColumn, kFileColumn, kMinColumn,
                                                       kMaxColumn, kRateColumn};

QByteArray CellBytes(const QString& text) {
  QByteArray bytes = text.toUtf8();
  bytes.replace('\r', ' ');
  bytes.replace('\n', ' ');
  return bytes;
}

}  // namespace

QByteArray SetFileBytes(const KeySet& set) {
  QByteArray out;
  out.reserve(16 + set.RowCount() * 40);
  out += "5" + kLineEnd;
  out += QByteArray::number(set.RowCount()) + kLineEnd;
  for (int i = 0; i < set.RowCount(); ++i) {
    const KeyRow& row = set.Row(i);
    for (int column : kFieldColumns) out += CellBytes(row.Cell(column)) + kLineEnd;
  }
  return out;
}

bool WriteSetFile(const QString& path, const KeySet& set, QString* error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  const QByteArray bytes = SetFileBytes(set);
  if (file.write(bytes) != bytes.size()) {
    if (error) *error = file.errorString();
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

SetFileContent ReadSetFile(const QString& path) {
  SetFileContent content;
  // Only regular files: a FIFO would block the window and a device such as
  // /dev/zero would never end.
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) {
    content.error = QStringLiteral("Not a regular file");
    return content;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    content.error = file.errorString();
    return content;
  }
  content.opened = true;
  const qint64 size = file.size();
  // Mapping avoids copying a large file; pipes and empty files fall back to
  // reading.
  if (size > 0) {
    if (uchar* mapped = file.map(0, size)) {
      content.parsed =
          setfile::Parse(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(size));
      file.unmap(mapped);
      return content;
    }
  }
  const QByteArray bytes = file.readAll();
  content.parsed = setfile::Parse(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return content;
}

namespace {

bool DecodeUtf8(const char* data, qsizetype size, QString* text) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  *text = decoder(QByteArrayView(data, size));
  return !decoder.hasError();
}

}  // namespace

QString DecodeCell(const std::string& bytes) {
  const auto size = static_cast<qsizetype>(bytes.size());
  QString text;
  if (DecodeUtf8(bytes.data(), size, &text)) return text;
  // A line cut at the length limit may end inside a UTF-8 sequence.
  if (bytes.size() == setfile::kFieldLineLimit) {
    for (qsizetype drop = 1; drop <= 3 && drop < size; ++drop)
      if (DecodeUtf8(bytes.data(), size - drop, &text)) return text;
  }
  return QString::fromLatin1(bytes.data(), size);
}

void ApplySetFile(KeySet& set, const setfile::ParsedSet& parsed) {
  const int present = static_cast<int>(parsed.rows.size());
  set.GrowTo(present);
  for (int j = 0; j < present; ++j) {
    const auto& fields = parsed.rows[j];
    for (std::size_t k = 0; k < fields.size() && k < std::size(kFieldColumns); ++k)
      set.SetCell(j, kFieldColumns[k], DecodeCell(fields[k]));
  }
}
