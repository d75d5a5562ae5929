// What the serving loop waits for, in one epoll set shared by both front ends: the headless
// program blocks in Wait, the desktop program watches descriptor() from its event loop. The
// set holds every port's client watch (a client came or went) and the current port's master:
// readable while the engine takes its input, writable while answers wait for the client.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "network_side.h"
#include "pty_port.h"
#include "readable_watch.h"

class PortEvents : public IReadableWatch {
 public:
  static constexpr size_t kSlots = 4;

  // ports are the elements of slots 1..4 (null: no element); they must outlive this object.
  explicit PortEvents(std::array<PtyPort*, kSlots> ports);
  PortEvents(const PortEvents&) = delete;
  PortEvents& operator=(const PortEvents&) = delete;
  ~PortEvents();

  // The epoll descriptor, readable while something waits; -1 when epoll could not be made
  // (then Wait only sleeps and the loop falls back to its tick).
  int descriptor() const { return epoll_; }

  // Chooses what the set watches from now on (after ending network clients whose limits
  // passed): the clients of every port, the hang-up of every held port, the network sides; while
  // serving, the master of slot index current (0..3) (of every slot with every_slot) for input
  // unless its input is held back, and for output while answers are queued. Call it after every
  // serving step.
  void Arm(int current, bool serving, bool every_slot = false);

  // Watches the network side of slot index k (0..3) too: its listener and its client's
  // connection; null stops. side must outlive this object or be unset first.
  void SetNetworkSide(size_t k, INetworkSide* side);

  // Milliseconds until the next deadline of a network side (an idle limit) as the last Arm or
  // FollowClients saw it, -1 for none: the loop waits no longer than this.
  int TimeoutMs() const { return timeout_ms_; }

  // Lets fd end Wait for as long as it is readable (a stop request's pipe, say); fd stays the
  // caller's and must stay open while this object lives. Returns false when it cannot be
  // watched (fd < 0, no epoll set).
  bool WakeOn(int fd);

  // Waits until something in the set is ready or timeout_ms passes (-1: no limit); a signal
  // ends the wait early. Returns true when something is ready, and remembers what for
  // FollowClients.
  bool Wait(int timeout_ms);

  // Follows the clients of every port whose watch or hang-up is ready (as the last Wait saw
  // it, or as the set tells now when no Wait came since the last call), so that arrivals and
  // departures are seen also while no serving step runs (a dialog, a pause). Without an
  // epoll set every port is asked. Then runs the handlers of the watched readable
  // descriptors that are ready (WatchReadable).
  void FollowClients();

  bool WatchReadable(int fd, std::function<void()> ready) override;
  void Unwatch(int fd) override;

 private:
  struct Watched {
    int fd = -1;
    uint32_t events = 0;
    bool registered = false;
  };
  // Registers fd for events (EPOLLHUP alone watches only the hang-up); fd -1 or !watch
  // removes it.
  void Set(Watched& watched, int fd, bool watch, uint32_t events);
  int Collect(int timeout_ms);

  std::array<PtyPort*, kSlots> ports_;
  int epoll_ = -1;
  // What the last Wait found ready, until FollowClients takes it.
  std::vector<std::pair<int, uint32_t>> ready_;
  bool have_ready_ = false;
  // Per slot: its client watch, the watch of its retired terminal and its master as
  // registered now.
  std::array<Watched, kSlots> watch_{};
  std::array<Watched, kSlots> retired_{};
  std::array<Watched, kSlots> master_{};
  std::array<uint32_t, kSlots> generation_{};
  std::map<int, std::function<void()>> readers_;
  // Per slot: the network side, what of it is registered (fd to events), and its generation.
  std::array<INetworkSide*, kSlots> network_{};
  std::array<std::map<int, uint32_t>, kSlots> network_registered_{};
  std::array<uint32_t, kSlots> network_generation_{};
  int timeout_ms_ = -1;
  std::vector<INetworkSide::Watch> network_wanted_;  // ArmNetwork's list, reused
  void ArmNetwork(size_t k);
  void FollowNetworkTimers();
};
