#pragma once
// Message boxes and file dialogs.
//
// Every box and dialog goes through one DialogProvider. The application uses
// the Qt one; tests install a ScriptedDialogs that answers from a script and
// records what was asked.

#include <QString>

class QDialog;
class QFont;
class QWidget;

namespace platform {

// Answers, with the values the callers compare against.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

enum class BoxIcon { Information, Warning, Question, Error };
enum class BoxButtons { Ok, YesNoCancel };

struct FileDialogRequest {
  QString title;
  QString directory;
  QString fileName;  // proposed name
  QString filter;    // Qt filter text, e.g. "Sets (*.wql);;All files (*)"
  QString defaultSuffix;
};

class DialogProvider {
 public:
  virtual ~DialogProvider() = default;
  // Returns IDOK, IDYES, IDNO or IDCANCEL.
  virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon,
                         BoxButtons buttons) = 0;
  // Return the chosen path, or empty text when cancelled.
  virtual QString OpenFileName(QWidget* owner, const FileDialogRequest& request) = 0;
  virtual QString SaveFileName(QWidget* owner, const FileDialogRequest& request) = 0;
};

// The provider in use. Never null: defaults to the Qt dialogs.
DialogProvider& Dialogs();
// Installs a provider (nullptr restores the Qt one). The caller keeps ownership.
void SetDialogProvider(DialogProvider* provider);

// "Tastivo:  Information", information icon, OK.
void ShowInformation(const QString& text, QWidget* owner = nullptr);
// "Tastivo:  Warning", warning icon, OK.
void ShowWarning(const QString& text, QWidget* owner = nullptr);
// "Tastivo:  Question", Yes, No and Cancel; returns IDYES, IDNO or IDCANCEL.
int AskQuestion(const QString& text, QWidget* owner = nullptr);
// The application's standard error box: the error's text, the error icon,
// caption "Tastivo".
void ShowException(const QString& text, QWidget* owner = nullptr);

inline constexpr const char* kInformationCaption = "Tastivo:  Information";
inline constexpr const char* kWarningCaption = "Tastivo:  Warning";
inline constexpr const char* kQuestionCaption = "Tastivo:  Question";
inline constexpr const char* kApplicationTitle = "Tastivo";

// Whether a box owned by owner has to stay on top to be seen: owner's
// top-level window, or a window it is transient for (its parent window, that
// window's parent, ...), stays on top of others.
bool OwnerStaysOnTop(const QWidget* owner);

// Makes a modal dialog come up above its owner: transient for the owner's
// window, and itself on top when that window is (a dialog in the normal
// layer would open underneath an always-on-top owner). The boxes and file
// dialogs here do it themselves; other dialogs (printing) call it.
void PlaceAboveOwner(QDialog& dialog, QWidget* owner);

// The least width of a message box whose title bar shows caption whole in
// font (the title's text, bold as window managers draw it, and room for the
// title bar's icon and buttons).
int MinimumBoxWidth(const QString& caption, const QFont& font);

// The real dialogs. Qt's own (not the desktop's) file dialog, so that it can
// be kept above a stay-on-top owner under any window manager. Boxes and
// dialogs without an owner are stacked above the active window.
class QtDialogs : public DialogProvider {
 public:
  int MessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon,
                 BoxButtons buttons) override;
  QString OpenFileName(QWidget* owner, const FileDialogRequest& request) override;
  QString SaveFileName(QWidget* owner, const FileDialogRequest& request) override;
};

}  // namespace platform
