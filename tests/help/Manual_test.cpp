// The compiled manual, read with a help engine of its own, the way any
// viewer would read it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHelpEngineCore>
#include <QHelpLink>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <set>

namespace {

constexpr const char* kNamespace = "org.tastivo.manual";

QString ProgramFile(const char* name) {
  return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

class CompiledManual : public ::testing::Test {
 protected:
  void SetUp() override {
    // A copy of the pair in another folder: the collection must find the
    // manual beside itself wherever the program is installed.
    ASSERT_TRUE(dir_.isValid());
    for (const char* name : {"tastivo.qhc", "tastivo.qch"})
      ASSERT_TRUE(QFile::copy(ProgramFile(name), dir_.filePath(name))) << name;
    engine_ = std::make_unique<QHelpEngineCore>(dir_.filePath("tastivo.qhc"));
    engine_->setReadOnly(true);
    ASSERT_TRUE(engine_->setupData()) << engine_->error().toStdString();
    ASSERT_EQ(engine_->registeredDocumentations(), QStringList{kNamespace});
    EXPECT_EQ(QFileInfo(engine_->documentationFileName(kNamespace)).canonicalFilePath(),
              QFileInfo(dir_.filePath("tastivo.qch")).canonicalFilePath());
    for (const QUrl& url : engine_->files(kNamespace, QString()))
      pages_[url.fileName()] = QString::fromUtf8(engine_->fileData(url));
  }

  QTemporaryDir dir_;
  std::unique_ptr<QHelpEngineCore> engine_;
  std::map<QString, QString> pages_;  // file name -> content
};

}  // namespace

TEST_F(CompiledManual, HoldsEveryPageWithATitle) {
  EXPECT_EQ(QHelpEngineCore::namespaceName(ProgramFile("tastivo.qch")), kNamespace);
  std::set<QString> names;
  for (const auto& [name, content] : pages_) names.insert(name);
  EXPECT_EQ(names, (std::set<QString>{"index.html", "playing.html", "sets.html", "keyeditor.html",
                                      "video.html", "windows.html", "settings.html",
                                      "advanced.html", "style.css"}));
  static const QRegularExpression title("<title>([^<]+)</title>");
  for (const auto& [name, content] : pages_) {
    if (!name.endsWith(".html")) continue;
    EXPECT_TRUE(title.match(content).hasMatch()) << name.toStdString();
  }
}

TEST_F(CompiledManual, EveryLinkReachesAPageAndItsSection) {
  static const QRegularExpression href("href=\"([^\"]+)\"");
  for (const auto& [name, content] : pages_) {
    auto links = href.globalMatch(content);
    while (links.hasNext()) {
      const QString link = links.next().captured(1);
      const QString target = link.section('#', 0, 0).isEmpty() ? name : link.section('#', 0, 0);
      const QString anchor = link.section('#', 1);
      ASSERT_TRUE(pages_.count(target)) << name.toStdString() << " links to " << link.toStdString();
      if (!anchor.isEmpty()) {
        EXPECT_TRUE(pages_[target].contains("id=\"" + anchor + "\""))
            << name.toStdString() << " links to " << link.toStdString();
      }
    }
  }
}

TEST_F(CompiledManual, IndexKeywordsLeadToTheirPages) {
  const std::map<QString, QString> expected{
      {"Key map", "playing.html"},     {"Save question", "sets.html"},
      {".wql", "sets.html"},           {"Key editor", "keyeditor.html"},
      {"Full Screen", "video.html"},   {"Synchronization group", "windows.html"},
      {"Tastivo.ini", "settings.html"}};
  for (const auto& [keyword, page] : expected) {
    const QList<QHelpLink> links = engine_->documentsForKeyword(keyword);
    ASSERT_FALSE(links.isEmpty()) << keyword.toStdString();
    EXPECT_EQ(links.first().url.fileName(), page) << keyword.toStdString();
  }
}

TEST_F(CompiledManual, TellsWhereTheSettingsLiveAndWhatTheSetFilesAre) {
  EXPECT_TRUE(pages_["settings.html"].contains("$XDG_CONFIG_HOME/Tastivo/Tastivo.ini"));
  EXPECT_TRUE(pages_["sets.html"].contains("List modified. Save?"));
  EXPECT_TRUE(pages_["sets.html"].contains(".wql"));
  EXPECT_TRUE(pages_["playing.html"].contains("Midi In Failed: Busy or not found"));
}
