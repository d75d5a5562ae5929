#include "stop_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <initializer_list>

namespace {

volatile sig_atomic_t stop_requested = 0;
volatile sig_atomic_t hand_over_requested = 0;
volatile sig_atomic_t end_requested = 0;  // SIGTERM, SIGINT or SIGHUP: no hand-over then
int stop_pipe[2] = {-1, -1};
bool installed = false;

void OnStopSignal(int number) {
  if (number == SIGUSR2) {
    hand_over_requested = 1;
  } else {
    end_requested = 1;
  }
  stop_requested = 1;
  if (stop_pipe[1] < 0) return;
  const int saved = errno;
  [[maybe_unused]] const ssize_t written = write(stop_pipe[1], "", 1);
  errno = saved;
}

}  // namespace

int InstallStopSignals() {
  if (installed) return stop_pipe[0];
  installed = true;
  if (pipe2(stop_pipe, O_NONBLOCK | O_CLOEXEC) != 0) stop_pipe[0] = stop_pipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigset_t stops;
  sigemptyset(&stops);
  for (int number : {SIGTERM, SIGINT, SIGHUP, SIGUSR2}) {
    sigaction(number, &action, nullptr);
    sigaddset(&stops, number);
  }
  // A run handed over by the one before starts with these blocked (see BlockStopSignals): one
  // that came meanwhile is taken now.
  pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
  return stop_pipe[0];
}

void BlockStopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int number : {SIGTERM, SIGINT, SIGHUP, SIGUSR2}) sigaddset(&stops, number);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

bool StopRequested() { return stop_requested != 0; }

bool HandOverRequested() { return hand_over_requested != 0 && end_requested == 0; }
