#include "termination_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>

namespace {

int signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
}

}  // namespace

bool CloseOnTerminationSignals(QWidget* window) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) != 0) return false;
  auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, window);
  QPointer<QWidget> target(window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [target] {
    char byte;
    [[maybe_unused]] const ssize_t got = read(signal_pipe[0], &byte, 1);
    if (target) target->close();
  });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
  return true;
}
