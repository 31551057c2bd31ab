#include "help/Hh.h"

#include "help/HelpViewer.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHelpEngineCore>
#include <QKeyEvent>
#include <QPointer>

#include <algorithm>
#include <memory>

bool AutoLoadAPI = true;

namespace {

QString g_engineFolder;  // empty: the executable's folder
std::unique_ptr<QHelpEngineCore> g_engine;
QList<QPointer<HelpViewer>> g_viewers;

// Drops viewers that are gone or closed (a closed viewer deletes itself at
// the next turn of the event loop).
void PruneViewers() {
  g_viewers.removeIf(
      [](const QPointer<HelpViewer>& viewer) { return viewer.isNull() || !viewer->isVisible(); });
}

QString CanonicalOrSame(const QString& path) {
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
}

// Our keyboard windows stay on top of other windows; a manual that did not
// would open behind them.
bool OursStayOnTop() {
  const QWidgetList windows = QApplication::topLevelWidgets();
  return std::any_of(windows.begin(), windows.end(), [](const QWidget* window) {
    return window->isVisible() && !qobject_cast<const HelpViewer*>(window) &&
           platform::OwnerStaysOnTop(window);
  });
}

void BringToFront(HelpViewer* viewer) {
  const bool onTop = OursStayOnTop();
  if (viewer->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop)
    viewer->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
  viewer->show();
  viewer->raise();
  viewer->activateWindow();
}

HelpViewer* DisplayTopic(QWidget* owner, const QString& file) {
  const QString collection = file.isEmpty() ? g_engine->collectionFile() : file;
  const QString wanted = CanonicalOrSame(collection);
  PruneViewers();
  for (const QPointer<HelpViewer>& viewer : g_viewers) {
    if (viewer->Owner() == owner && CanonicalOrSame(viewer->CollectionFile()) == wanted) {
      viewer->ShowDefaultTopic();
      BringToFront(viewer.data());
      return viewer.data();
    }
  }
  auto* viewer = new HelpViewer(collection, owner);
  if (!QFileInfo::exists(collection) || !viewer->Setup()) {
    delete viewer;
    platform::ShowWarning(QStringLiteral("The help file %1 could not be opened.")
                              .arg(QDir::toNativeSeparators(collection)),
                          owner);
    return nullptr;
  }
  viewer->ShowDefaultTopic();
  g_viewers.append(viewer);
  BringToFront(viewer);
  return viewer;
}

void CloseAll() {
  const QList<QPointer<HelpViewer>> viewers = g_viewers;
  g_viewers.clear();
  for (const QPointer<HelpViewer>& viewer : viewers) {
    if (viewer.isNull()) continue;
    viewer->hide();
    // Deferred, so that a viewer may safely be closed from one of its own
    // handlers; its owner's destruction would take it along anyway.
    viewer->deleteLater();
  }
}

// Sees each key press before the widget it is meant for.
class HelpKey : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->windowModality() == Qt::ApplicationModal) return false;
    HtmlHelp(nullptr, platform::Application::HelpFile(), HH_DISPLAY_TOPIC, 0);
    return true;
  }
};

}  // namespace

QString HelpEngineFolder() {
  if (!g_engineFolder.isEmpty()) return g_engineFolder;
  const QDir program(QCoreApplication::applicationDirPath());
  if (QFileInfo(program.filePath(kHelpCollectionName)).isFile()) return program.path();
  // Installed: the program in <prefix>/bin, its data in <prefix>/share/tastivo.
  const QString installed = QDir::cleanPath(program.filePath(kInstalledDataFolder));
  if (QFileInfo(QDir(installed).filePath(kHelpCollectionName)).isFile()) return installed;
  return program.path();
}

void SetHelpEngineFolder(const QString& folder) {
  g_engineFolder = folder;
}

QString GetPathToHHCtrlOCX() {
  const QString path = QDir(HelpEngineFolder()).absoluteFilePath(kHelpCollectionName);
  return QFileInfo(path).isFile() ? path : QString();
}

void LoadHtmlHelp() {
  if (g_engine) return;
  const QString path = GetPathToHHCtrlOCX();
  if (path.isEmpty()) return;
  auto engine = std::make_unique<QHelpEngineCore>(path);
  engine->setReadOnly(true);
  if (!engine->setupData() || engine->registeredDocumentations().isEmpty()) return;
  g_engine = std::move(engine);
}

void UnloadHtmlHelp() {
  CloseAll();
  g_engine.reset();
}

QHelpEngineCore* HHCtrlHandle() {
  return g_engine.get();
}

bool HtmlHelpLoaded() {
  return g_engine != nullptr;
}

HelpViewer* HtmlHelp(QWidget* owner, const QString& file, unsigned command,
                     std::uintptr_t /*data*/) {
  if (!g_engine) return nullptr;
  switch (command) {
    case HH_DISPLAY_TOPIC:
      return DisplayTopic(owner, file);
    case HH_CLOSE_ALL:
      CloseAll();
      return nullptr;
    default:
      return nullptr;
  }
}

QList<HelpViewer*> HelpViewers() {
  PruneViewers();
  QList<HelpViewer*> open;
  for (const QPointer<HelpViewer>& viewer : g_viewers) {
    if (!viewer.isNull()) open.append(viewer.data());
  }
  return open;
}

void InstallHelpKey() {
  static HelpKey* const key = [] {
    auto* filter = new HelpKey;
    qApp->installEventFilter(filter);
    return filter;
  }();
  Q_UNUSED(key);
}

HhModule::HhModule() {
  if (AutoLoadAPI) LoadHtmlHelp();
  InstallHelpKey();
}

HhModule::~HhModule() {
  if (HtmlHelpLoaded()) UnloadHtmlHelp();
}
