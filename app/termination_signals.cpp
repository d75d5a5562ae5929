#include "termination_signals.h"

#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "stop_signals.h"

namespace {

constexpr int kModalCheckMs = 20;

// Closes the modal window on top, as Cancel; the sequence that opened it then goes on and
// the window's pending close runs the shutdown once the sequence ends.
void CancelModalWindow() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr) return;
  if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    dialog->reject();
  } else {
    modal->close();
  }
}

}  // namespace

bool CloseOnTerminationSignals(QWidget* window) {
  const int fd = InstallStopSignals();
  if (fd < 0) return false;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, window);
  QPointer<QWidget> target(window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [fd, target] {
    char byte;
    [[maybe_unused]] const ssize_t got = read(fd, &byte, 1);
    if (!target) return;
    target->close();
    CancelModalWindow();
    // Modal windows under the first one, or opened by the sequence after it, are cancelled
    // as they come up, until the window goes.
    if (target->findChild<QTimer*>("stopRequestModalCheck") != nullptr) return;
    auto* check = new QTimer(target);
    check->setObjectName("stopRequestModalCheck");
    QObject::connect(check, &QTimer::timeout, target, &CancelModalWindow);
    check->start(kModalCheckMs);
  });
  return true;
}
