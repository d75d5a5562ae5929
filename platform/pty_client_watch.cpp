#include "pty_client_watch.h"

#include <errno.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

bool PtyClientWatch::Start(const std::string& slave_path) {
  Stop();
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  if (inotify_add_watch(fd_, slave_path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    const int error = errno;
    Stop();
    errno = error;
    return false;
  }
  holders_ = 0;
  return true;
}

void PtyClientWatch::Stop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  holders_ = 0;
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
      if (event.mask & IN_Q_OVERFLOW) {
        changes.lost = true;
        changes.departed = true;
        holders_ = 0;
      }
      if (event.mask & IN_OPEN) {
        if (holders_++ == 0) changes.arrived = true;
      }
      if (event.mask & IN_CLOSE) {
        // A close of a description opened before the watch began is no departure of ours.
        if (holders_ > 0 && --holders_ == 0) changes.departed = true;
      }
    }
  }
  return changes;
}
