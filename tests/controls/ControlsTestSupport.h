#pragma once
// Small helpers for the control tests: synthetic mouse events (with the held
// buttons stated explicitly) and an ordered event log.

#include <QApplication>
#include <QMouseEvent>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace controls_test {

inline void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
                      Qt::MouseButtons held, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const QPointF local(at);
  QMouseEvent event(type, local, target->mapToGlobal(local), button, held, modifiers);
  QApplication::sendEvent(target, &event);
}

inline void Press(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  SendMouse(w, QEvent::MouseButtonPress, at, button, button, modifiers);
}
inline void Drag(QWidget* w, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  SendMouse(w, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton, modifiers);
}
inline void Hover(QWidget* w, QPoint at) {
  SendMouse(w, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
}
inline void Release(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

// Records events as short texts, e.g. "on 5 127".
struct EventLog {
  QStringList entries;
  void Add(const QString& entry) { entries << entry; }
  QString Joined() const { return entries.join(QStringLiteral(", ")); }
};

}  // namespace controls_test
