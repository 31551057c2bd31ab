#include "help/HelpViewer.h"

#include <QHBoxLayout>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr const char* kHelpScheme = "qthelp";
constexpr const char* kViewerTitle = "Tastivo Help";

}  // namespace

HelpBrowser::HelpBrowser(QHelpEngineCore* engine, QWidget* parent)
    : QTextBrowser(parent), engine_(engine) {
  // Links between manual pages stay inside the viewer; there are no links
  // that leave the manual.
  setOpenLinks(true);
  setOpenExternalLinks(false);
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
  if (name.scheme() == QLatin1String(kHelpScheme)) return engine_->fileData(name);
  return QTextBrowser::loadResource(type, name);
}

QUrl DefaultTopic(const QHelpEngineCore& engine) {
  const QStringList namespaces = engine.registeredDocumentations();
  if (namespaces.isEmpty()) return {};
  // files() is not const, although it only reads.
  auto& reader = const_cast<QHelpEngineCore&>(engine);
  QList<QUrl> pages = reader.files(namespaces.first(), QString(), QStringLiteral("html"));
  if (pages.isEmpty()) return {};
  std::sort(pages.begin(), pages.end(),
            [](const QUrl& a, const QUrl& b) { return a.path() < b.path(); });
  for (const QUrl& page : pages) {
    // The start page sits directly in the virtual folder: "/<folder>/index.html".
    if (page.path().count('/') == 2 && page.fileName() == QLatin1String("index.html")) return page;
  }
  return pages.first();
}

HelpViewer::HelpViewer(const QString& collectionFile, QWidget* owner)
    : QWidget(owner, Qt::Window),
      collectionFile_(collectionFile),
      owner_(owner),
      engine_(new QHelpEngine(collectionFile, this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  // Several windows and processes may read the same collection; none of
  // them may change it.
  engine_->setReadOnly(true);
  setWindowTitle(kViewerTitle);
  resize(860, 620);
}

HelpViewer::~HelpViewer() {
  // The contents and index views show the engine's models; let them go
  // before the engine does.
  delete sideTabs_;
}

bool HelpViewer::Setup() {
  if (!engine_->setupData() || engine_->registeredDocumentations().isEmpty()) return false;
  BuildLayout();
  return true;
}

void HelpViewer::BuildLayout() {
  browser_ = new HelpBrowser(engine_, this);

  backButton_ = new QToolButton(this);
  backButton_->setText(tr("Back"));
  backButton_->setEnabled(false);
  forwardButton_ = new QToolButton(this);
  forwardButton_->setText(tr("Forward"));
  forwardButton_->setEnabled(false);
  homeButton_ = new QToolButton(this);
  homeButton_->setText(tr("Home"));
  connect(backButton_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
  connect(forwardButton_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
  connect(homeButton_, &QToolButton::clicked, this, &HelpViewer::ShowDefaultTopic);
  connect(browser_, &QTextBrowser::backwardAvailable, backButton_, &QToolButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forwardButton_, &QToolButton::setEnabled);

  auto* tools = new QHBoxLayout;
  tools->addWidget(backButton_);
  tools->addWidget(forwardButton_);
  tools->addWidget(homeButton_);
  tools->addStretch();

  // A single click on a page in Contents opens it, as a link in the page
  // would; activating it (double click, Enter) does the same.
  QHelpContentWidget* contents = engine_->contentWidget();
  connect(contents, &QHelpContentWidget::clicked, this, [this](const QModelIndex& index) {
    if (const QHelpContentItem* item = engine_->contentModel()->contentItemAt(index))
      ShowTopic(item->url());
  });
  connect(contents, &QHelpContentWidget::linkActivated, this, &HelpViewer::ShowTopic);

  auto* indexPage = new QWidget(this);
  auto* indexLayout = new QVBoxLayout(indexPage);
  indexLayout->setContentsMargins(4, 4, 4, 4);
  indexLayout->addWidget(new QLabel(tr("Look for:"), indexPage));
  indexFilter_ = new QLineEdit(indexPage);
  indexLayout->addWidget(indexFilter_);
  QHelpIndexWidget* index = engine_->indexWidget();
  indexLayout->addWidget(index);
  connect(indexFilter_, &QLineEdit::textChanged, index,
          [index](const QString& text) { index->filterIndices(text); });
  connect(indexFilter_, &QLineEdit::returnPressed, index, &QHelpIndexWidget::activateCurrentItem);
  connect(index, &QHelpIndexWidget::documentActivated, this,
          [this](const QHelpLink& document, const QString&) { ShowTopic(document.url); });
  connect(index, &QHelpIndexWidget::documentsActivated, this,
          [this](const QList<QHelpLink>& documents, const QString&) {
            if (!documents.isEmpty()) ShowTopic(documents.first().url);
          });

  sideTabs_ = new QTabWidget(this);
  sideTabs_->addTab(contents, tr("Contents"));
  sideTabs_->addTab(indexPage, tr("Index"));

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(sideTabs_);
  splitter->addWidget(browser_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({230, 630});

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(tools);
  layout->addWidget(splitter, 1);

  connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
    UpdateTitle();
    emit TopicChanged(url);
  });
}

QUrl HelpViewer::DefaultTopic() const {
  return ::DefaultTopic(*engine_);
}

QUrl HelpViewer::CurrentTopic() const {
  return browser_ ? browser_->source() : QUrl();
}

void HelpViewer::ShowTopic(const QUrl& url) {
  if (!browser_ || !url.isValid()) return;
  // The click of a double click has opened the page already; showing it
  // again would only add a second step to the history.
  if (url == browser_->source()) {
    if (url.hasFragment()) browser_->scrollToAnchor(url.fragment());
    return;
  }
  browser_->setSource(url);
}

void HelpViewer::ShowDefaultTopic() {
  ShowTopic(DefaultTopic());
}

bool HelpViewer::ShowKeyword(const QString& keyword) {
  const QList<QHelpLink> documents = engine_->documentsForKeyword(keyword);
  if (documents.isEmpty()) return false;
  ShowTopic(documents.first().url);
  return true;
}

void HelpViewer::UpdateTitle() {
  const QString page = browser_->documentTitle();
  setWindowTitle(page.isEmpty() ? QString(kViewerTitle)
                                : QStringLiteral("%1 - %2").arg(kViewerTitle, page));
}
