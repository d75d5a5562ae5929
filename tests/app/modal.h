// Acting on modal windows from inside their own event loop, as a user would.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

// Runs action on the next modal window of type T once it is open. Looks every few
// milliseconds, at most 2000 times; gives up silently (the test then fails on what follows).
template <class T>
void WhenModal(std::function<void(T*)> action) {
  auto tries = std::make_shared<int>(0);
  auto look = std::make_shared<std::function<void()>>();
  *look = [action, tries, look] {
    if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
      action(window);
    } else if (++*tries < 2000) {
      QTimer::singleShot(5, *look);
    }
  };
  QTimer::singleShot(0, *look);
}

// What a message box said.
struct SeenMessage {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int count = 0;
};

// Closes the next message box with OK and records it into seen.
inline void AnswerNextMessage(std::shared_ptr<SeenMessage> seen) {
  WhenModal<QMessageBox>([seen](QMessageBox* box) {
    seen->title = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    ++seen->count;
    box->accept();
  });
}
