// Who holds a port, looked up on a thread of its own: finding the holder scans every process's
// descriptors in /proc, which takes long on a machine with many processes, and the serving
// thread must never wait for it. A lookup is asked for once per client and read when done.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "port_holder.h"

class HolderLookup {
 public:
  // Starts looking up the holder of device_path (FindPortHolder) on the lookup thread; a
  // lookup asked for earlier by this object is forgotten. Returns at once. Wine's server found
  // alone is asked about again for up to a second: it opens the device before its program
  // holds it.
  void Start(const std::string& device_path);
  // Forgets the lookup (the client left): Done() is false until the next Start.
  void Clear() { result_.reset(); }
  // True when the lookup asked for last has finished; holder() then tells what it found.
  bool Done() const;
  // The holder found (nothing: none, or not known yet).
  std::optional<PortHolder> holder() const;

 private:
  struct Result {
    mutable std::mutex mutex;
    bool done = false;
    std::optional<PortHolder> holder;
  };
  std::shared_ptr<Result> result_;
};

// Waits (at most timeout_ms) until every lookup asked for so far has finished; for tests and
// the status of a program that ends. Returns whether they did.
bool WaitForHolderLookups(int timeout_ms);
