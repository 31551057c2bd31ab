#include "sets/SetFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <fcntl.h>

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

TEST(KeySetFile, KeepsTextAcrossASave) {
  KeySet set;
  set.SetCell(0, kLabelColumn, QString::fromUtf8("Chœur été"));
  set.SetCell(0, kFileColumn, "music\\a.mp3");
  set.SetCell(1, kLabelColumn, "two\nlines\r");
  const KeySet back = Loaded(SetFileBytes(set));
  EXPECT_EQ(back.Row(0).Label, QString::fromUtf8("Chœur été"));
  EXPECT_EQ(back.Row(0).File, "music\\a.mp3");
  EXPECT_EQ(back.Row(1).Label, "two lines ");
  EXPECT_EQ(back.RowCount(), 77);

  // A capped line that ends inside a UTF-8 sequence keeps its text.
  const std::string capped = std::string(9996, 'a') + "\xc3\xa9\xc3";
  EXPECT_EQ(DecodeCell(capped, setfile::Encoding::kUtf8),
            QString(9996, 'a') + QString::fromUtf8("\xc3\xa9"));
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
      {"5 \r\n 3\r\n", true},
      {"5\n-3\n", false},  // a negative row count
      {"5\r\r\n-0x10\r\r\n", false},
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

namespace {

// A set as the Windows program writes it: Windows-1252 text, CR CR LF, 77
// rows. Row 1 carries ’ (0x92), € (0x80) and … (0x85) in its label and path.
QByteArray Windows1252Set() {
  QByteArray bytes = "5\r\r\n77\r\r\n";
  bytes +=
      "Rock\x92n\x92Roll \x80"
      "5 \x85\r\r\n";
  bytes += "clips\\Caf\xe9 \x92live\x92 \x85.wav\r\r\n";
  bytes += "0\r\r\n10000\r\r\n100\r\r\n";
  for (int i = 1; i < 77; ++i) bytes += "\r\r\n\r\r\n0\r\r\n10000\r\r\n100\r\r\n";
  return bytes;
}

}  // namespace

TEST(KeySetFileText, AWindows1252SetRoundTripsByteForByte) {
  QTemporaryDir dir;
  const QString path = dir.filePath("show.wql");
  WriteBytes(path, Windows1252Set());
  const SetFileContent content = ReadSetFile(path);
  ASSERT_TRUE(content.opened);
  EXPECT_EQ(content.encoding, setfile::Encoding::kWindows1252);
  KeySet set;
  EXPECT_EQ(ApplySetFile(set, content.parsed), setfile::Encoding::kWindows1252);
  EXPECT_EQ(set.Row(0).Label, QString::fromUtf8("Rock’n’Roll €5 …"));
  EXPECT_EQ(set.Row(0).File, QString::fromUtf8("clips\\Café ’live’ ….wav"));
  ASSERT_TRUE(WriteSetFile(path, set, nullptr, content.encoding));
  EXPECT_EQ(ReadBytes(path), Windows1252Set());
}

TEST(KeySetFileText, EveryWindows1252ByteComesBackUnchanged) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string text = setfile::DecodeWindows1252(all);
  ASSERT_EQ(text.size(), all.size());
  EXPECT_EQ(text[0x92 - 1], u'’');
  EXPECT_EQ(text[0x80 - 1], u'€');
  EXPECT_EQ(text[0x85 - 1], u'…');
  EXPECT_EQ(text[0x8A - 1], u'Š');
  bool complete = false;
  EXPECT_EQ(setfile::EncodeWindows1252(text, &complete), all);
  EXPECT_TRUE(complete);
}

TEST(KeySetFileText, AUtf8SetStaysUtf8) {
  KeySet set;
  set.SetCell(0, kLabelColumn, QString::fromUtf8("Rock’n’Roll €5 … 日本"));
  set.SetCell(0, kFileColumn, QString::fromUtf8("clips/Café ’live’.wav"));
  const QByteArray bytes = SetFileBytes(set);
  EXPECT_TRUE(bytes.contains("Rock\xe2\x80\x99n"));
  QTemporaryDir dir;
  const QString path = dir.filePath("utf8.wql");
  WriteBytes(path, bytes);
  const SetFileContent content = ReadSetFile(path);
  EXPECT_EQ(content.encoding, setfile::Encoding::kUtf8);
  KeySet back;
  ApplySetFile(back, content.parsed);
  EXPECT_EQ(back.Row(0).Label, set.Row(0).Label);
  EXPECT_EQ(SetFileBytes(back, content.encoding), bytes);
}

TEST(KeySetFileText, TellsWindows1252FromUtf8ByTheWholeFile) {
  const struct {
    QByteArray cells;
    setfile::Encoding encoding;
  } cases[] = {
      {"plain ascii\n", setfile::Encoding::kUtf8},
      {"caf\xc3\xa9\n", setfile::Encoding::kUtf8},
      // "Café" in Windows-1252 ends in 0xE9, which also starts a UTF-8
      // sequence: a short cell is not cut, so it is not UTF-8.
      {"Caf\xe9\n", setfile::Encoding::kWindows1252},
      // One cell that is not UTF-8 decides for the whole file.
      {"caf\xc3\xa9\nRock\x92n\n", setfile::Encoding::kWindows1252},
      {"\xc0\xaf overlong\n", setfile::Encoding::kWindows1252},
      {"\xed\xa0\x80 surrogate\n", setfile::Encoding::kWindows1252},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cells.toStdString());
    const QByteArray bytes = "1\n9\n" + c.cells;
    const setfile::ParsedSet parsed = setfile::Parse(bytes.constData(), bytes.size());
    EXPECT_EQ(setfile::DetectEncoding(parsed.rows), c.encoding);
  }
  // A line cut at the length limit inside a sequence is still UTF-8.
  const QByteArray capped = "1\n1\n" + QByteArray(9998, 'a') + "\xc3\xa9\n";
  EXPECT_EQ(setfile::DetectEncoding(setfile::Parse(capped.constData(), capped.size()).rows),
            setfile::Encoding::kUtf8);
}

TEST(KeySetFileText, FindsTextThatWindows1252CannotHold) {
  KeySet set;
  set.SetCell(3, kLabelColumn, QString::fromUtf8("Rock’n’Roll €5 …"));
  EXPECT_FALSE(FindTextLoss(set, setfile::Encoding::kWindows1252).Any());
  set.SetCell(5, kFileColumn, QString::fromUtf8("clips/日本.wav"));
  set.SetCell(6, kLabelColumn, QString::fromUtf8("🎵"));
  const TextLoss loss = FindTextLoss(set, setfile::Encoding::kWindows1252);
  EXPECT_EQ(loss.row, 5);
  EXPECT_EQ(loss.column, kFileColumn);
  EXPECT_FALSE(FindTextLoss(set, setfile::Encoding::kUtf8).Any());
  const QByteArray bytes = SetFileBytes(set, setfile::Encoding::kWindows1252);
  EXPECT_TRUE(bytes.contains("clips/??.wav\r\r\n"));
  EXPECT_TRUE(bytes.contains("\r\r\n?\r\r\n"));  // one "?" for a character beyond 16 bits
  EXPECT_TRUE(
      bytes.contains("Rock\x92n\x92Roll \x80"
                     "5 \x85"));
}

TEST(KeySetFile, CountsTheRowsOfAFileThatEndsEarly) {
  QByteArray bytes = Numbered(3);
  bytes.replace("5\r\r\n3\r\r\n", "5\r\r\n7\r\r\n");
  bytes += "L4\r\r\nF4\r\r\n";
  const setfile::ParsedSet parsed = setfile::Parse(bytes.constData(), bytes.size());
  EXPECT_TRUE(parsed.truncated);
  EXPECT_EQ(parsed.completeRows, 3);
  EXPECT_EQ(parsed.rows.size(), 4u);
  const KeySet set = Loaded(bytes);
  EXPECT_EQ(set.Row(2).Rate, "33");
  EXPECT_EQ(set.Row(3).File, "F4");  // the cut row keeps what it has
  EXPECT_EQ(set.Row(3).Min, "0");

  const QByteArray whole = Numbered(3);
  EXPECT_FALSE(setfile::Parse(whole.constData(), whole.size()).truncated);
  EXPECT_EQ(setfile::Parse(whole.constData(), whole.size()).completeRows, 3);
}

TEST(KeySetFileOnDisk, AFileTruncatedWhileItIsReadEndsEarlyWithoutACrash) {
  QTemporaryDir dir;
  const QString path = dir.filePath("big.wql");
  KeySet set;
  set.GrowTo(20000);
  for (int i = 0; i < set.RowCount(); ++i) set.SetCell(i, kLabelColumn, QString::number(i));
  ASSERT_TRUE(WriteSetFile(path, set, nullptr));
  const qint64 size = QFileInfo(path).size();

  // In a child process: a reader that maps the file dies of SIGBUS here,
  // which would take every window's unsaved set with it.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const SetFileContent content = ReadSetFile(path, [&] {
      const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY);
      if (fd < 0 || ftruncate(fd, size / 3) != 0) _exit(3);
      ::close(fd);
    });
    const bool ok = content.opened && content.parsed.truncated && content.parsed.completeRows > 0 &&
                    content.parsed.completeRows < 20000;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(KeySetFileOnDisk, RefusesAFileOverTheSizeCap) {
  QTemporaryDir dir;
  const QString path = dir.filePath("huge.wql");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("5\n1\n");
  ASSERT_TRUE(file.resize(kMaxSetFileBytes + 1));  // sparse: costs no disk
  file.close();
  const SetFileContent content = ReadSetFile(path);
  EXPECT_TRUE(content.opened);
  EXPECT_TRUE(content.tooLarge);
  EXPECT_TRUE(content.parsed.rows.empty());
}
