#include "Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

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

}  // namespace

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
  QFileDialog dialog(owner, request.title, request.directory, request.filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString QtDialogs::SaveFileName(QWidget* owner, const FileDialogRequest& request) {
  QFileDialog dialog(owner, request.title, request.directory, request.filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Replacing an existing file is asked by the caller, with our own wording.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace platform
