#include "Application.h"

#include "Dialogs.h"

#include <exception>

namespace platform {

namespace {
QString g_helpFile;
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

QString Application::HelpFile() {
  return g_helpFile;
}

void Application::SetHelpFile(const QString& path) {
  g_helpFile = path;
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleException(std::current_exception());
    return false;
  }
}

void Application::HandleException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ShowException(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowException(QStringLiteral("Unknown error"));
  }
}

bool RunGuarded(const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (...) {
    Application::HandleException(std::current_exception());
    return false;
  }
}

}  // namespace platform
