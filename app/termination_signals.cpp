#include "termination_signals.h"

#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include "stop_signals.h"

bool CloseOnTerminationSignals(QWidget* window) {
  const int fd = InstallStopSignals();
  if (fd < 0) return false;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, window);
  QPointer<QWidget> target(window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [fd, target] {
    char byte;
    [[maybe_unused]] const ssize_t got = read(fd, &byte, 1);
    if (target) target->close();
  });
  return true;
}
