#pragma once
// The application object. An exception that escapes an event handler is shown
// in the standard error box ("Tastivo", error icon, the error's text) and the
// program goes on, as a desktop user expects from a failed command.

#include <QApplication>

#include <functional>

namespace platform {

class Application : public QApplication {
  Q_OBJECT
 public:
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows the standard error box for the exception in flight.
  static void HandleException(std::exception_ptr error);

  // The application's help file (set at start-up next to the executable).
  static QString HelpFile();
  static void SetHelpFile(const QString& path);
};

// Runs body and shows any escaping exception in the standard error box.
// Returns false when something was shown.
bool RunGuarded(const std::function<void()>& body);

}  // namespace platform
