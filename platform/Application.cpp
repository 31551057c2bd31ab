#include "Application.h"

#include "Dialogs.h"

#include <exception>

namespace platform {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

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
