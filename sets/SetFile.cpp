#include "sets/SetFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

const QByteArray kLineEnd("\r\r\n");

constexpr int kFieldColumns[setfile::kStoredFields] = {kLabelColumn, kFileColumn, kMinColumn,
                                                       kMaxColumn, kRateColumn};

std::u16string Utf16(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<std::size_t>(text.size()));
}

QByteArray CellBytes(const QString& text, setfile::Encoding encoding) {
  QByteArray bytes;
  if (encoding == setfile::Encoding::kWindows1252)
    bytes = QByteArray::fromStdString(setfile::EncodeWindows1252(Utf16(text)));
  else
    bytes = text.toUtf8();
  bytes.replace('\r', ' ');
  bytes.replace('\n', ' ');
  return bytes;
}

}  // namespace

TextLoss FindTextLoss(const KeySet& set, setfile::Encoding encoding) {
  TextLoss loss;
  if (encoding == setfile::Encoding::kUtf8) return loss;
  for (int i = 0; i < set.RowCount(); ++i) {
    for (int column : kFieldColumns) {
      const QString& text = set.Row(i).Cell(column);
      bool complete = true;
      setfile::EncodeWindows1252(Utf16(text), &complete);
      if (!complete) {
        loss.row = i;
        loss.column = column;
        loss.text = text;
        return loss;
      }
    }
  }
  return loss;
}

QByteArray SetFileBytes(const KeySet& set, setfile::Encoding encoding) {
  QByteArray out;
  out.reserve(16 + set.RowCount() * 40);
  out += "5" + kLineEnd;
  out += QByteArray::number(set.RowCount()) + kLineEnd;
  for (int i = 0; i < set.RowCount(); ++i) {
    const KeyRow& row = set.Row(i);
    for (int column : kFieldColumns) out += CellBytes(row.Cell(column), encoding) + kLineEnd;
  }
  return out;
}

bool WriteSetFile(const QString& path, const KeySet& set, QString* error,
                  setfile::Encoding encoding) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  const QByteArray bytes = SetFileBytes(set, encoding);
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

SetFileContent ReadSetFile(const QString& path, const std::function<void()>& afterOpen) {
  SetFileContent content;
  // Only regular files: a FIFO would block the window and a device such as
  // /dev/zero would never end.
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) {
    content.error = QStringLiteral("Not a regular file");
    return content;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    content.error = file.errorString();
    return content;
  }
  content.opened = true;
  if (afterOpen) afterOpen();
  // Read until the end that the file has now, whatever size it had when it
  // was opened; one byte past the cap tells a file that is too large.
  QByteArray bytes;
  constexpr qint64 kChunk = 64 * 1024;
  while (bytes.size() <= kMaxSetFileBytes) {
    const qsizetype before = bytes.size();
    bytes.resize(before + kChunk);
    const qint64 got = file.read(bytes.data() + before, kChunk);
    if (got <= 0) {
      bytes.resize(before);
      if (got < 0) {
        content.readFailed = true;
        content.error = file.errorString();
      }
      break;
    }
    bytes.resize(before + got);
  }
  if (bytes.size() > kMaxSetFileBytes) {
    content.tooLarge = true;
    return content;
  }
  content.parsed = setfile::Parse(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  content.encoding = setfile::DetectEncoding(content.parsed.rows);
  return content;
}

QString DecodeCell(const std::string& bytes, setfile::Encoding encoding) {
  if (encoding == setfile::Encoding::kWindows1252) {
    const std::u16string text = setfile::DecodeWindows1252(bytes);
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
  }
  // A line cut at the length limit may end inside a sequence: the cut
  // sequence goes, the text before it stays.
  std::size_t size = bytes.size();
  if (size == setfile::kFieldLineLimit && !setfile::IsUtf8(bytes)) {
    for (std::size_t drop = 1; drop <= 3 && drop < size; ++drop) {
      if (setfile::IsUtf8(bytes.substr(0, size - drop))) {
        size -= drop;
        break;
      }
    }
  }
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(size));
}

setfile::Encoding ApplySetFile(KeySet& set, const setfile::ParsedSet& parsed) {
  const setfile::Encoding encoding = setfile::DetectEncoding(parsed.rows);
  const int present = static_cast<int>(parsed.rows.size());
  set.GrowTo(present);
  for (int j = 0; j < present; ++j) {
    const auto& fields = parsed.rows[j];
    for (std::size_t k = 0; k < fields.size() && k < std::size(kFieldColumns); ++k)
      set.SetCell(j, kFieldColumns[k], DecodeCell(fields[k], encoding));
  }
  return encoding;
}

QString EncodingName(setfile::Encoding encoding) {
  return encoding == setfile::Encoding::kWindows1252 ? QStringLiteral("Windows-1252")
                                                     : QStringLiteral("UTF-8");
}
