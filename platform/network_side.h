// The network side of a port slot (its listening socket and its network client), as the
// serving loop's event set sees it: descriptors to watch, what to do when they are ready, and
// deadlines. Implemented where the sockets live; the event set knows only this.
#pragma once

#include <cstdint>
#include <vector>

class INetworkSide {
 public:
  struct Watch {
    int fd = -1;
    uint32_t events = 0;  // epoll events
  };
  virtual ~INetworkSide() = default;
  // Appends the descriptors to watch now with their events.
  virtual void Watches(std::vector<Watch>& out) const = 0;
  // Changes whenever a descriptor it watched was closed, so that a new one with the same
  // number is registered anew.
  virtual uint32_t generation() const = 0;
  // Handles what epoll reported for fd (one of Watches).
  virtual void Ready(int fd, uint32_t events) = 0;
  // Handles the deadlines that passed; returns milliseconds until the next one, -1 for none.
  virtual int FollowTimers() = 0;
};
