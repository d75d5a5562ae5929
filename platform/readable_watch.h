// Where a part of the program asks to be called when one of its descriptors is readable: the
// serving loop's event set, so that its requests run on the serving thread, between serving
// steps.
#pragma once

#include <functional>

class IReadableWatch {
 public:
  virtual ~IReadableWatch() = default;
  // Calls ready (on the serving thread, never inside a serving step) whenever fd is readable,
  // until Unwatch(fd); fd stays the caller's. Returns false when fd cannot be watched.
  virtual bool WatchReadable(int fd, std::function<void()> ready) = 0;
  // Stops watching fd; nothing when it is not watched. Call it before closing fd.
  virtual void Unwatch(int fd) = 0;
};
