// Every text that the manual quotes between double quotes (captions, hints,
// messages, setting names) must be one the program actually uses: a string
// literal of its sources, or one put together from such literals and
// numbers ("Properties " and 2, "Volume %1/100" with 70). A caption renamed
// in the code, or a manual page that describes a message the program never
// shows, fails here instead of misleading the reader.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHelpEngineCore>
#include <QRegularExpression>
#include <QTextDocumentFragment>

#include <map>
#include <set>
#include <vector>

namespace {

// The string literals of one C++ source, comments and character literals
// skipped, escapes decoded, adjacent literals joined as the compiler does.
QStringList StringLiterals(const QString& source) {
  QStringList literals;
  QString current;
  bool open = false;  // a literal ended and only blanks followed so far
  const int n = source.size();
  for (int i = 0; i < n; ++i) {
    const QChar c = source[i];
    if (c == '/' && i + 1 < n && source[i + 1] == '/') {
      while (i < n && source[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && source[i + 1] == '*') {
      const int end = source.indexOf(QLatin1String("*/"), i + 2);
      i = end < 0 ? n : end + 1;
      continue;
    }
    if (c == '\'') {
      for (++i; i < n && source[i] != '\''; ++i)
        if (source[i] == '\\') ++i;
      continue;
    }
    if (c == '"') {
      if (!open) current.clear();
      for (++i; i < n && source[i] != '"'; ++i) {
        if (source[i] != '\\' || i + 1 >= n) {
          current += source[i];
          continue;
        }
        const QChar e = source[++i];
        if (e == 'n')
          current += '\n';
        else if (e == 'r')
          current += '\r';
        else if (e == 't')
          current += '\t';
        else if (e == 'u' && i + 4 < n)
          current += QChar(source.mid(i + 1, 4).toUShort(nullptr, 16)), i += 4;
        else
          current += e;
      }
      open = true;
      continue;
    }
    if (open && !c.isSpace()) {
      literals << current;
      open = false;
    }
  }
  if (open) literals << current;
  return literals;
}

// The texts of the program: every literal of every source outside tests/.
std::set<QString> ProgramTexts() {
  std::set<QString> texts;
  const QDir root(QStringLiteral(TASTIVO_SOURCE_DIR));
  for (const char* folder :
       {"app", "controls", "editor", "help", "midi", "platform", "player", "sets", "video"}) {
    QDirIterator it(root.filePath(folder), {"*.cpp", "*.h"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      QFile file(it.next());
      if (!file.open(QIODevice::ReadOnly)) continue;
      for (const QString& literal : StringLiterals(QString::fromUtf8(file.readAll()))) {
        if (literal.trimmed().isEmpty()) continue;
        texts.insert(literal);
        // "  Stay on top    " reads as "Stay on top" on the screen.
        texts.insert(literal.trimmed());
      }
    }
  }
  return texts;
}

// Whether text can be put together from the program's texts and decimal
// numbers; a literal's "%1" stands for any part of the text.
class Composer {
 public:
  explicit Composer(const std::set<QString>& texts) {
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    for (const QString& t : texts) {
      if (t.contains(placeholder)) {
        QStringList parts = t.split(placeholder);
        for (QString& part : parts) part = QRegularExpression::escape(part);
        patterns_.emplace_back(QRegularExpression::anchoredPattern(parts.join(".*")));
      } else {
        plain_.insert(t);
      }
    }
  }

  bool Composes(const QString& text) const {
    const int n = text.size();
    std::vector<bool> reach(n + 1, false);
    reach[0] = true;
    for (int i = 0; i < n; ++i) {
      if (!reach[i]) continue;
      for (int j = i + 1; j <= n; ++j) {
        if (reach[j]) continue;
        const QString part = text.mid(i, j - i);
        static const QRegularExpression number(QStringLiteral("^\\d+$"));
        if (plain_.count(part) || number.match(part).hasMatch() || MatchesPattern(part))
          reach[j] = true;
      }
    }
    return reach[n];
  }

 private:
  bool MatchesPattern(const QString& part) const {
    for (const QRegularExpression& p : patterns_)
      if (p.match(part).hasMatch()) return true;
    return false;
  }
  std::set<QString> plain_;
  std::vector<QRegularExpression> patterns_;
};

// The quoted texts of one page, as a reader sees them.
QStringList Quotes(const QString& html) {
  QString text = QTextDocumentFragment::fromHtml(html).toPlainText();
  text.replace(QChar::Nbsp, ' ');
  QStringList quotes;
  static const QRegularExpression quoted(QStringLiteral("\"([^\"\\n]*)\""));
  auto matches = quoted.globalMatch(text);
  while (matches.hasNext()) quotes << matches.next().captured(1);
  return quotes;
}

}  // namespace

TEST(ManualQuotes, ReadsLiteralsTheWayTheCompilerDoes) {
  const QStringList literals = StringLiterals(
      "// \"not this\"\n"
      "a = QStringLiteral(\"Midi In  Device\"); /* \"nor this\" */ c = '\"';\n"
      "b = \"Keep the ratio \"\n   \"of the video\"; d = \"x\\\"y\\n\";\n");
  EXPECT_EQ(literals, (QStringList{"Midi In  Device", "Keep the ratio of the video", "x\"y\n"}));
  const Composer composer({"Volume %1/100", "Properties ", "Tastivo ", ": ", "Save"});
  EXPECT_TRUE(composer.Composes("Volume 70/100"));
  EXPECT_TRUE(composer.Composes("Properties 2"));
  EXPECT_TRUE(composer.Composes("Tastivo 2: "));
  EXPECT_TRUE(composer.Composes("Save"));
  EXPECT_FALSE(composer.Composes("Volume 70/10"));
  EXPECT_FALSE(composer.Composes("Save as"));
  EXPECT_FALSE(composer.Composes("Properties two"));
}

TEST(ManualQuotes, EveryQuotedTextIsOneTheProgramUses) {
  const std::set<QString> texts = ProgramTexts();
  ASSERT_GT(texts.size(), 200u);
  ASSERT_TRUE(texts.count("List modified. Save?"));
  const Composer composer(texts);
  const QDir manual(QStringLiteral(TASTIVO_SOURCE_DIR "/help/manual"));
  const QStringList pages = manual.entryList({"*.html"}, QDir::Files);
  ASSERT_GE(pages.size(), 7);
  int checked = 0;
  for (const QString& page : pages) {
    QFile file(manual.filePath(page));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    for (const QString& quote : Quotes(QString::fromUtf8(file.readAll()))) {
      ++checked;
      EXPECT_TRUE(composer.Composes(quote))
          << page.toStdString() << " quotes \"" << quote.toStdString()
          << "\", which no source of the program says";
    }
  }
  EXPECT_GT(checked, 100);
}
