#include "Dialogs.h"

#include "FileIcons.h"

#include <QApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeView>
#include <QUrl>
#include <QWindow>

#include <algorithm>

namespace platform {

namespace {

DialogProvider* g_provider = nullptr;

QtDialogs& DefaultDialogs() {
  static QtDialogs dialogs;
  return dialogs;
}

QMessageBox::Icon ToQtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information:
      return QMessageBox::Information;
    case BoxIcon::Warning:
      return QMessageBox::Warning;
    case BoxIcon::Question:
      return QMessageBox::Question;
    case BoxIcon::Error:
      return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

// Title bar room besides the caption: the window icon and the close,
// maximize and minimize buttons with their margins.
constexpr int kTitleBarExtras = 140;

// The window a box without an owner belongs to, for stacking only: it is not
// made the box's parent, so that it can't take the box (still on the caller's
// stack) with it when it closes while the box is up.
QWidget* StackingOwner(QWidget* owner) {
  return owner ? owner : QApplication::activeWindow();
}

// A file dialog lists the folder it is made in, and the last one any dialog
// visited, before it can be given our icon provider; Qt's own would read
// files there. So each dialog is made in an empty folder of the run's own,
// and left there when it closes, which is also what Qt remembers for the
// next one. A folder remembered by an earlier run (or by another program's
// dialog) is replaced before the run's first dialog.
QString EmptyFolder() {
  static const QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/tastivo-dialog-XXXXXX"));
  static const bool forgotten = [] {
    QSettings qtDialogs(QSettings::UserScope, QStringLiteral("QtProject"));
    if (qtDialogs.childGroups().contains(QStringLiteral("FileDialog")))
      qtDialogs.setValue(QStringLiteral("FileDialog/lastVisited"),
                         QUrl::fromLocalFile(folder.path()).toString());
    return true;
  }();
  Q_UNUSED(forgotten);
  return folder.path();
}

// The folder asked for, or the nearest one above it that exists.
QString ExistingFolder(const QString& wanted) {
  QString folder = wanted.isEmpty() ? QDir::currentPath() : QDir::cleanPath(wanted);
  while (!QFileInfo(folder).isDir()) {
    const QString up = QFileInfo(folder).path();
    if (up == folder) return QDir::homePath();
    folder = up;
  }
  return folder;
}

// Gives the detail view's Size, Type and Date columns room for what they
// show (Qt's widths cut "287 bytes" and the time of day), and the dialog
// room for them beside the names.
void FitDetailColumns(QFileDialog& dialog) {
  auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (!tree) return;
  const QFontMetrics metrics(tree->font());
  const int pad = metrics.horizontalAdvance(QStringLiteral("MM"));
  const QDateTime late(QDate(2026, 12, 30), QTime(23, 59));
  const int date =
      std::max(metrics.horizontalAdvance(QLocale().toString(late, QLocale::ShortFormat)),
               metrics.horizontalAdvance(QStringLiteral("30 Dec 2026 23:59")));
  const int widths[] = {metrics.horizontalAdvance(QStringLiteral("1023 bytes")) + pad,
                        metrics.horizontalAdvance(QStringLiteral("wql File")) + pad, date + pad};
  int details = 0;
  for (int i = 0; i < 3; ++i) {
    tree->header()->resizeSection(i + 1, widths[i]);
    details += widths[i];
  }
  // Beside the places on the left, the names keep room for about 20 letters.
  const int wanted = metrics.horizontalAdvance(QLatin1Char('M')) * 40 + details;
  const QScreen* screen = dialog.screen();
  dialog.setMinimumWidth(screen ? std::min(wanted, screen->availableGeometry().width()) : wanted);
}

// Runs a Qt file dialog made as EmptyFolder() tells, and returns the chosen
// file: an existing one to open, any name to save.
QString RunFileDialog(QWidget* owner, const FileDialogRequest& request,
                      QFileDialog::AcceptMode mode) {
  QFileDialog dialog(owner, request.title, EmptyFolder(), request.filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  PlaceAboveOwner(dialog, StackingOwner(owner));
  dialog.setAcceptMode(mode);
  if (mode == QFileDialog::AcceptOpen) {
    dialog.setFileMode(QFileDialog::ExistingFile);
  } else {
    dialog.setFileMode(QFileDialog::AnyFile);
    // Replacing an existing file is asked by the caller, with our own wording.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  }
  dialog.setIconProvider(FileIconsByName());
  FitDetailColumns(dialog);
  dialog.setDirectory(ExistingFolder(request.directory));
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  const QString file = chosen ? dialog.selectedFiles().first() : QString();
  dialog.setDirectory(EmptyFolder());
  return file;
}

}  // namespace

bool OwnerStaysOnTop(const QWidget* owner) {
  if (!owner) return false;
  for (const QWidget* w = owner->window(); w;
       w = w->parentWidget() ? w->parentWidget()->window() : nullptr) {
    if (w->windowFlags() & Qt::WindowStaysOnTopHint) return true;
    // A window may be tied to another only through its native window.
    if (!w->parentWidget() && w->windowHandle()) {
      for (const QWindow* t = w->windowHandle()->transientParent(); t; t = t->transientParent())
        if (t->flags() & Qt::WindowStaysOnTopHint) return true;
    }
  }
  return false;
}

void PlaceAboveOwner(QDialog& dialog, QWidget* owner) {
  if (!owner) return;
  if (OwnerStaysOnTop(owner)) dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  dialog.winId();  // creates the native window so it can be tied to the owner's
  QWidget* top = owner->window();
  if (dialog.windowHandle() && top->windowHandle())
    dialog.windowHandle()->setTransientParent(top->windowHandle());
}

int MinimumBoxWidth(const QString& caption, const QFont& font) {
  QFont title = font;
  title.setBold(true);
  return QFontMetrics(title).horizontalAdvance(caption) + kTitleBarExtras;
}

DialogProvider& Dialogs() {
  return g_provider ? *g_provider : DefaultDialogs();
}

void SetDialogProvider(DialogProvider* provider) {
  g_provider = provider;
}

void ShowInformation(const QString& text, QWidget* owner) {
  Dialogs().MessageBox(owner, text, kInformationCaption, BoxIcon::Information, BoxButtons::Ok);
}

void ShowWarning(const QString& text, QWidget* owner) {
  Dialogs().MessageBox(owner, text, kWarningCaption, BoxIcon::Warning, BoxButtons::Ok);
}

int AskQuestion(const QString& text, QWidget* owner) {
  return Dialogs().MessageBox(owner, text, kQuestionCaption, BoxIcon::Question,
                              BoxButtons::YesNoCancel);
}

void ShowException(const QString& text, QWidget* owner) {
  Dialogs().MessageBox(owner, text, kApplicationTitle, BoxIcon::Error, BoxButtons::Ok);
}

int QtDialogs::MessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon,
                          BoxButtons buttons) {
  QMessageBox box(ToQtIcon(icon), caption, text, QMessageBox::NoButton, owner);
  PlaceAboveOwner(box, StackingOwner(owner));
  // A message box sizes itself to its text alone, and window managers then
  // cut a longer title short. Its button row spans the box, and keeps its
  // least width when the box rebuilds its layout (it does on taking the
  // style of a skinned owner, as when it is kept on top for one).
  if (auto* buttons = box.findChild<QDialogButtonBox*>())
    buttons->setMinimumWidth(MinimumBoxWidth(caption, box.font()));
  if (buttons == BoxButtons::Ok) {
    box.setStandardButtons(QMessageBox::Ok);
  } else {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
  }
  switch (box.exec()) {
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    case QMessageBox::Cancel:
      return IDCANCEL;
    default:
      return buttons == BoxButtons::Ok ? IDOK : IDCANCEL;
  }
}

QString QtDialogs::OpenFileName(QWidget* owner, const FileDialogRequest& request) {
  return RunFileDialog(owner, request, QFileDialog::AcceptOpen);
}

QString QtDialogs::SaveFileName(QWidget* owner, const FileDialogRequest& request) {
  return RunFileDialog(owner, request, QFileDialog::AcceptSave);
}

}  // namespace platform
