#include "sets/SetFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <climits>
#include <csignal>

namespace {

KeySet Loaded(const QByteArray& bytes, KeySet set = KeySet()) {
  set.InitRows(0, set.RowCount());
  ApplySetFile(set, setfile::Parse(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  return set;
}

// A file of R rows whose fields tell where they came from ("L3" is row 3's
// label), with the given line end.
QByteArray Numbered(int rows, const QByteArray& end = "\r\r\n", int fields = 5,
                    const QByteArray& declared = {}) {
  QByteArray out = QByteArray::number(fields) + end;
  out += (declared.isEmpty() ? QByteArray::number(rows) : declared) + end;
  const char* const tags[5] = {"L", "F", "1", "2", "3"};
  for (int r = 1; r <= rows; ++r)
    for (int k = 0; k < fields; ++k) out += tags[k % 5] + QByteArray::number(r) + end;
  return out;
}

void ExpectDefaults(const KeyRow& row) {
  EXPECT_EQ(row.Label, "");
  EXPECT_EQ(row.File, "");
  EXPECT_EQ(row.Min, "0");
  EXPECT_EQ(row.Max, "10000");
  EXPECT_EQ(row.Rate, "100");
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

}  // namespace

TEST(KeySetFile, WritesTheDefaultSetAsExactly1857Bytes) {
  QByteArray expected = "5\r\r\n77\r\r\n";
  for (int i = 0; i < 77; ++i) expected += "\r\r\n\r\r\n0\r\r\n10000\r\r\n100\r\r\n";
  const QByteArray bytes = SetFileBytes(KeySet());
  EXPECT_EQ(bytes.size(), 1857);
  EXPECT_EQ(bytes, expected);
}

TEST(KeySetFile, ReadsLfAndCrLfLikeCrCrLf) {
  const KeySet crcrlf = Loaded(Numbered(3, "\r\r\n"));
  for (const QByteArray& end : {QByteArray("\n"), QByteArray("\r\n")}) {
    const KeySet other = Loaded(Numbered(3, end));
    EXPECT_EQ(SetFileBytes(other), SetFileBytes(crcrlf));
  }
  EXPECT_EQ(crcrlf.Row(2).Label, "L3");
  EXPECT_EQ(crcrlf.Row(2).Rate, "33");
}

TEST(KeySetFile, FillsTheDeclaredRowsAndLeavesTheRestAtDefaults) {
  const KeySet set = Loaded(Numbered(10));
  EXPECT_EQ(set.RowCount(), 77);
  EXPECT_EQ(set.Row(9).Label, "L10");
  EXPECT_EQ(set.Row(9).File, "F10");
  EXPECT_EQ(set.Row(9).Min, "110");
  EXPECT_EQ(set.Row(9).Max, "210");
  EXPECT_EQ(set.Row(9).Rate, "310");
  for (int i = 10; i < 77; ++i) ExpectDefaults(set.Row(i));
}

TEST(KeySetFile, GrowsForMoreRowsAndNeverShrinks) {
  KeySet set = Loaded(Numbered(80));
  ASSERT_EQ(set.RowCount(), 80);
  for (int i = 77; i < 80; ++i) {
    EXPECT_EQ(set.Row(i).Key, "");
    EXPECT_EQ(set.Row(i).index, QString::number(i + 1));
    EXPECT_EQ(set.Row(i).Label, "L" + QString::number(i + 1));
  }
  const QByteArray saved = SetFileBytes(set);
  EXPECT_TRUE(saved.startsWith("5\r\r\n80\r\r\n"));
  EXPECT_EQ(saved.count("\r\r\n"), 2 + 80 * 5);

  set = Loaded(Numbered(10), set);
  ASSERT_EQ(set.RowCount(), 80);
  EXPECT_EQ(set.Row(9).Label, "L10");
  for (int i = 10; i < 80; ++i) ExpectDefaults(set.Row(i));
}

TEST(KeySetFile, ReadsTheRowCountLikePercentI) {
  EXPECT_EQ(setfile::ParseCInteger("010"), 8);
  EXPECT_EQ(setfile::ParseCInteger("0x10"), 16);
  EXPECT_EQ(setfile::ParseCInteger("0X1f"), 31);
  EXPECT_EQ(setfile::ParseCInteger(" +12abc"), 12);
  EXPECT_EQ(setfile::ParseCInteger("-3"), -3);
  EXPECT_EQ(setfile::ParseCInteger("09"), 0);
  EXPECT_EQ(setfile::ParseCInteger("0x"), 0);
  EXPECT_EQ(setfile::ParseCInteger("x"), 0);
  EXPECT_EQ(setfile::ParseCInteger("99999999999999999999999"), LLONG_MAX);

  // 20 rows present in each file; only the declared ones are read.
  const KeySet octal = Loaded(Numbered(20, "\r\r\n", 5, "010"));
  EXPECT_EQ(octal.Row(7).Label, "L8");
  EXPECT_EQ(octal.Row(8).Label, "");
  const KeySet hex = Loaded(Numbered(20, "\r\r\n", 5, "0x10"));
  EXPECT_EQ(hex.Row(15).Label, "L16");
  EXPECT_EQ(hex.Row(16).Label, "");
}

TEST(KeySetFile, FourFieldsPerRowLeaveTheRateAlone) {
  const KeySet set = Loaded(Numbered(3, "\n", 4));
  EXPECT_EQ(set.Row(2).Label, "L3");
  EXPECT_EQ(set.Row(2).File, "F3");
  EXPECT_EQ(set.Row(2).Min, "13");
  EXPECT_EQ(set.Row(2).Max, "23");
  for (int i = 0; i < 77; ++i) EXPECT_EQ(set.Row(i).Rate, "100");
}

TEST(KeySetFile, SixFieldsPerRowStayAligned) {
  const KeySet set = Loaded(Numbered(3, "\n", 6));
  EXPECT_EQ(set.Row(1).Label, "L2");
  EXPECT_EQ(set.Row(2).Rate, "33");
}

TEST(KeySetFile, NoFieldsOrNoRowsReadNothing) {
  for (const QByteArray& bytes :
       {QByteArray("0\n3\nx\ny\n"), QByteArray("5\n0\nx\ny\n"), QByteArray("5\n-4\nx\n"),
        QByteArray("5\nabc\nx\n"), QByteArray(""), QByteArray("\n")}) {
    const KeySet set = Loaded(bytes);
    EXPECT_EQ(set.RowCount(), 77);
    for (int i = 0; i < 77; ++i) ExpectDefaults(set.Row(i));
  }
}

TEST(KeySetFile, EndOfDataByteEndsTheFile) {
  QByteArray bytes = "5\r\r\n3\r\r\nfirst\r\r\nf.wav\r\r\n5\r\r\n6\r\r\n7\r\r\nsec\x1Aond\r\r\n";
  bytes += "g.wav\r\r\n1\r\r\n2\r\r\n3\r\r\n";
  const KeySet set = Loaded(bytes);
  EXPECT_EQ(set.Row(0).Label, "first");
  EXPECT_EQ(set.Row(0).Rate, "7");
  EXPECT_EQ(set.Row(1).Label, "sec");
  EXPECT_EQ(set.Row(1).File, "");
  ExpectDefaults(set.Row(2));
}

TEST(KeySetFile, DropsCrAnywhereAndCapsLongLines) {
  QByteArray bytes =
      "5 fields per row\n"
      "3      rows and more\n";
  bytes += "a\rb\r\r\n" + QByteArray(12000, 'x') +
           "\n"
           "1\n2\n3\n";
  bytes += "L2\nF2\n0\n1\n2\n";
  const setfile::ParsedSet parsed = setfile::Parse(bytes.constData(), bytes.size());
  EXPECT_EQ(parsed.fieldsPerRow, 5);
  EXPECT_EQ(parsed.declaredRows, 3);
  const KeySet set = Loaded(bytes);
  EXPECT_EQ(set.Row(0).Label, "ab");
  EXPECT_EQ(set.Row(0).File.size(), 9999);
  EXPECT_EQ(set.Row(0).Min, "1");
  EXPECT_EQ(set.Row(1).Label, "L2");
  EXPECT_EQ(set.Row(1).Rate, "2");
  ExpectDefaults(set.Row(2));
}

TEST(KeySetFile, HostileRowCountsGrowOnlyByRowsPresent) {
  for (const QByteArray& declared :
       {QByteArray("2147483647"), QByteArray("0x7fffffff"), QByteArray("999999999")}) {
    QByteArray bytes = "5\n" + declared + "\n";
    for (int r = 0; r < 79; ++r) bytes += "L\nF\n0\n1\n2\n";
    bytes += "last\nonly";  // a row cut short, without its line end
    const setfile::ParsedSet parsed = setfile::Parse(bytes.constData(), bytes.size());
    EXPECT_TRUE(parsed.truncated);
    const KeySet set = Loaded(bytes);
    ASSERT_EQ(set.RowCount(), 80);
    EXPECT_EQ(set.Row(79).Label, "last");
    EXPECT_EQ(set.Row(79).File, "only");
    EXPECT_EQ(set.Row(79).Min, "0");
  }
}

TEST(KeySetFile, StopsAtTheRowLimit) {
  QByteArray bytes = "1\n100000\n";
  bytes += QByteArray(100000, '\n');
  const setfile::ParsedSet parsed = setfile::Parse(bytes.constData(), bytes.size());
  EXPECT_TRUE(parsed.rowsCapped);
  EXPECT_EQ(static_cast<int>(parsed.rows.size()), setfile::kMaxRows);
}

TEST(KeySetFile, KeepsTextAndFallsBackToLatin1) {
  KeySet set;
  set.SetCell(0, kLabelColumn, QString::fromUtf8("Chœur été"));
  set.SetCell(0, kFileColumn, "music\\a.mp3");
  set.SetCell(1, kLabelColumn, "two\nlines\r");
  const KeySet back = Loaded(SetFileBytes(set));
  EXPECT_EQ(back.Row(0).Label, QString::fromUtf8("Chœur été"));
  EXPECT_EQ(back.Row(0).File, "music\\a.mp3");
  EXPECT_EQ(back.Row(1).Label, "two lines ");
  EXPECT_EQ(back.RowCount(), 77);

  EXPECT_EQ(DecodeCell("caf\xe9"), QString::fromLatin1("caf\xe9"));
  // A capped line that ends inside a UTF-8 sequence keeps its text.
  const std::string capped = std::string(9996, 'a') + "\xc3\xa9\xc3";
  EXPECT_EQ(DecodeCell(capped), QString(9996, 'a') + QString::fromUtf8("\xc3\xa9"));
}

TEST(KeySetFileOnDisk, RoundTripsThroughAFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("set.wql");
  KeySet set;
  set.SetCell(4, kLabelColumn, "kick");
  QString error;
  ASSERT_TRUE(WriteSetFile(path, set, &error)) << error.toStdString();
  const SetFileContent content = ReadSetFile(path);
  ASSERT_TRUE(content.opened);
  KeySet back;
  ApplySetFile(back, content.parsed);
  EXPECT_EQ(back.Row(4).Label, "kick");
  EXPECT_EQ(ReadBytes(path), SetFileBytes(set));

  WriteBytes(dir.filePath("empty.wql"), {});
  EXPECT_TRUE(ReadSetFile(dir.filePath("empty.wql")).opened);
  for (const QString& bad : {dir.filePath("missing.wql"), dir.path(), QString("/dev/zero")}) {
    const SetFileContent content = ReadSetFile(bad);
    EXPECT_FALSE(content.opened) << bad.toStdString();
    EXPECT_FALSE(content.error.isEmpty());
  }
  ASSERT_EQ(mkfifo(dir.filePath("fifo.wql").toLocal8Bit().constData(), 0600), 0);
  EXPECT_FALSE(ReadSetFile(dir.filePath("fifo.wql")).opened);
}

TEST(KeySetFileOnDisk, AFailedWriteReportsWhyAndKeepsTheOldFile) {
  QTemporaryDir dir;
  WriteBytes(dir.filePath("plain"), "not a folder");
  QString error;
  EXPECT_FALSE(WriteSetFile(dir.filePath("plain/set.wql"), KeySet(), &error));
  EXPECT_FALSE(error.isEmpty());

  // A folder that can't take the temporary file (honoured unless running as
  // root, which the check above covers).
  const QString locked = dir.filePath("locked");
  QDir().mkdir(locked);
  const QString path = locked + "/set.wql";
  WriteBytes(path, "old");
  QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
  const bool written = WriteSetFile(path, KeySet(), &error);
  QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  if (geteuid() != 0) {
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(path), "old");
  }
}

TEST(KeySetFileOnDisk, AKilledSaveLeavesTheOldFileReadable) {
  QTemporaryDir dir;
  const QString path = dir.filePath("set.wql");
  KeySet old;
  old.SetCell(0, kLabelColumn, "old");
  ASSERT_TRUE(WriteSetFile(path, old, nullptr));

  // The child writes half of a new set and dies before it is complete.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    KeySet changed;
    changed.GrowTo(5000);
    const QByteArray bytes = SetFileBytes(changed);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
      file.write(bytes.left(bytes.size() / 2));
      file.flush();
    }
    kill(getpid(), SIGKILL);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadBytes(path), SetFileBytes(old));
}

TEST(KeySetFile, TellsASetFromOtherFilesByItsTwoHeaderLines) {
  const struct {
    QByteArray bytes;
    bool isSet;
  } cases[] = {
      {"5\r\r\n77\r\r\n", true},
      {"5\n0x4d\n", true},
      {"5 \r\n -3\r\n", true},
      {" 5\n3\n", false},  // the field count is the first character
      {"0\n0\n", true},
      {"5\n12 rows\n", true},  // read like "%i": the number that starts the line
      {"", false},
      {"\n", false},
      {"5", false},
      {"5\r\r\n", false},
      {"\n77\n", false},
      {"x\n77\n", false},
      {"55\n77\n", false},
      {"5 fields per row\n3\n", false},
      {"5        extra\n3\n", false},  // cut at the header limit, but not a digit alone
      {"5\n\n", false},
      {"5\nabc\n", false},
      {"5\n-\n", false},
      {"ID3\x04\x00\x00\n\xff\xfb\x90\x64\n", false},
      {"1. call Ann\n2. buy strings\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.toStdString());
    EXPECT_EQ(setfile::Parse(c.bytes.constData(), c.bytes.size()).isSetFile, c.isSet);
  }
}
