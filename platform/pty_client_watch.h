// Follows the clients of one pseudo-terminal: every open and every last close of its slave
// device, in the order the kernel made them, from inotify. The kernel queues a client's open
// before the client can write and its close after its last write, so the events place every
// arrival and departure exactly against the bytes read from the master.
#pragma once

#include <string>

class PtyClientWatch {
 public:
  // What the events read by one Take() amounted to.
  struct Changes {
    bool arrived = false;   // the number of holders went from 0 to 1 at least once
    bool departed = false;  // the number of holders went to 0 at least once
    bool lost = false;      // the kernel's event queue overflowed: the count is unknown
  };

  PtyClientWatch() = default;
  PtyClientWatch(const PtyClientWatch&) = delete;
  PtyClientWatch& operator=(const PtyClientWatch&) = delete;
  ~PtyClientWatch() { Stop(); }

  // Starts watching the device at slave_path with no holder counted. Returns false (errno
  // set) when inotify cannot be set up; the watch is then stopped.
  bool Start(const std::string& slave_path);
  // Stops watching; nothing without a watch.
  void Stop();
  // Reads every queued event and returns what they amounted to; nothing without a watch.
  Changes Take();
  // Sets the number of holders after the queue overflowed (from another source).
  void SetHolders(int holders) { holders_ = holders; }

  // Open descriptions of the device not yet closed, as the events counted them.
  int holders() const { return holders_; }
  // The inotify descriptor (readable while events wait); -1 without a watch.
  int descriptor() const { return fd_; }

 private:
  int fd_ = -1;
  int holders_ = 0;
};
