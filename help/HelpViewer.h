#pragma once
// The help viewer window: the manual's contents and index beside a text
// browser that reads its pages straight out of the compiled help.

#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

class QHelpEngine;
class QHelpEngineCore;
class QLineEdit;
class QTabWidget;
class QToolButton;

// A text browser whose "qthelp:" resources come from a help engine.
class HelpBrowser : public QTextBrowser {
  Q_OBJECT
 public:
  HelpBrowser(QHelpEngineCore* engine, QWidget* parent);

  QVariant loadResource(int type, const QUrl& name) override;

 private:
  QHelpEngineCore* engine_;
};

// The topic a help file opens at: the "index.html" page at the top of its
// first documentation set, else that set's first page; empty when the
// collection registers nothing.
QUrl DefaultTopic(const QHelpEngineCore& engine);

class HelpViewer : public QWidget {
  Q_OBJECT
 public:
  // A window of its own, owned by owner (which may be null). Call Setup()
  // before showing it.
  HelpViewer(const QString& collectionFile, QWidget* owner);
  ~HelpViewer() override;

  // Opens the collection read-only; false when it cannot be read or holds no
  // documentation.
  bool Setup();

  QString CollectionFile() const { return collectionFile_; }
  QWidget* Owner() const { return owner_; }
  QHelpEngine* Engine() const { return engine_; }
  HelpBrowser* Browser() const { return browser_; }
  QToolButton* HomeButton() const { return homeButton_; }

  QUrl DefaultTopic() const;
  QUrl CurrentTopic() const;
  void ShowTopic(const QUrl& url);
  void ShowDefaultTopic();
  // Shows the first page indexed under keyword; false when there is none.
  bool ShowKeyword(const QString& keyword);

 signals:
  void TopicChanged(const QUrl& url);

 private:
  void BuildLayout();
  void UpdateTitle();

  QString collectionFile_;
  QWidget* owner_;
  QHelpEngine* engine_;
  HelpBrowser* browser_ = nullptr;
  QTabWidget* sideTabs_ = nullptr;
  QLineEdit* indexFilter_ = nullptr;
  QToolButton* backButton_ = nullptr;
  QToolButton* forwardButton_ = nullptr;
  QToolButton* homeButton_ = nullptr;
};
