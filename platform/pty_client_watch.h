// Wakes the program when a client opens or closes the slave device of a pseudo-terminal
// (inotify). The events are hints, never a count: the kernel merges identical events that
// follow each other unread, so whether anyone holds the device is asked of the pty itself
// (PtyPort). A close is reported only for descriptions opened for writing, so that the
// program's own read-only descriptor of the slave wakes nothing.
#pragma once

#include <string>
#include <utility>

class PtyClientWatch {
 public:
  // What the events read by one Take() hint at.
  struct Changes {
    bool opened = false;  // at least one open of the device
    bool closed = false;  // at least one last close of a description opened for writing
    bool lost = false;    // the kernel's event queue overflowed: anything may have happened
  };

  PtyClientWatch() = default;
  PtyClientWatch(const PtyClientWatch&) = delete;
  PtyClientWatch& operator=(const PtyClientWatch&) = delete;
  ~PtyClientWatch() { Stop(); }

  // Starts watching the device at slave_path. Returns false (errno set) when inotify cannot
  // be set up; the watch is then stopped.
  bool Start(const std::string& slave_path);
  // Stops watching; nothing without a watch.
  void Stop();
  // Reads every queued event and returns what they hint at; nothing without a watch.
  Changes Take();

  // Exchanges the watches of two objects.
  void Swap(PtyClientWatch& other) { std::swap(fd_, other.fd_); }

  // The inotify descriptor (readable while events wait); -1 without a watch.
  int descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};
