#include "move_key_tracker.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

MoveKeyTracker::MoveKeyTracker(QWidget* window) : QObject(window), window_(window) {
  qApp->installEventFilter(this);
}

MoveKeys MoveKeyTracker::Keys() const {
  MoveKeys keys = keys_;
  keys.alt = keys_.alt || (QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier);
  return keys;
}

bool MoveKeyTracker::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::WindowDeactivate && watched == window_) keys_ = MoveKeys{};
  if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != window_) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->isAutoRepeat() && type == QEvent::KeyRelease) return false;
  const bool down = type == QEvent::KeyPress;
  bool* arrow = nullptr;
  switch (key->key()) {
    case Qt::Key_Alt:
      keys_.alt = down;
      return false;
    case Qt::Key_Left:
      arrow = &keys_.left;
      break;
    case Qt::Key_Up:
      arrow = &keys_.up;
      break;
    case Qt::Key_Down:
      arrow = &keys_.down;
      break;
    case Qt::Key_Right:
      arrow = &keys_.right;
      break;
    default:
      return false;
  }
  *arrow = down;
  return (key->modifiers() & Qt::AltModifier) != 0;
}
