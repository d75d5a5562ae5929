#include "pty_client_watch.h"

#include <errno.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

bool PtyClientWatch::Start(const std::string& slave_path) {
  Stop();
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  if (inotify_add_watch(fd_, slave_path.c_str(), IN_OPEN | IN_CLOSE_WRITE) < 0) {
    const int error = errno;
    Stop();
    errno = error;
    return false;
  }
  return true;
}

void PtyClientWatch::Stop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

PtyClientWatch::Changes PtyClientWatch::Take() {
  Changes changes;
  if (fd_ < 0) return changes;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;  // EAGAIN: the queue is empty
    for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      inotify_event event;
      std::memcpy(&event, buffer + offset, sizeof event);
      offset += static_cast<ssize_t>(sizeof event + event.len);
      if (event.mask & IN_Q_OVERFLOW) changes.lost = true;
      if (event.mask & IN_OPEN) changes.opened = true;
      if (event.mask & IN_CLOSE_WRITE) changes.closed = true;
    }
    // Events of a watched file carry no name: room left for one more means none waited.
    if (static_cast<size_t>(n) + sizeof(inotify_event) <= sizeof buffer) break;
  }
  return changes;
}
