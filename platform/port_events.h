// What the serving loop waits for, in one epoll set shared by both front ends: the headless
// program blocks in Wait, the desktop program watches descriptor() from its event loop. The
// set holds every port's client watch (a client came or went) and the current port's master:
// readable while the engine takes its input, writable while answers wait for the client.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "pty_port.h"

class PortEvents {
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

  // Chooses what the set watches from now on: the clients of every port; while serving, the
  // master of slot index current (0..3) for input unless its input is held back, and for
  // output while answers are queued. Call it after every serving step.
  void Arm(int current, bool serving);

  // Lets fd end Wait for as long as it is readable (a stop request's pipe, say); fd stays the
  // caller's and must stay open while this object lives. Returns false when it cannot be
  // watched (fd < 0, no epoll set).
  bool WakeOn(int fd);

  // Waits until something in the set is ready or timeout_ms passes (-1: no limit); a signal
  // ends the wait early. Returns true when something is ready.
  bool Wait(int timeout_ms);

  // Reads the client events of every port, so that arrivals and departures are placed
  // exactly even while no serving step runs (a dialog, a pause).
  void FollowClients();

 private:
  struct Watched {
    int fd = -1;
    uint32_t events = 0;
  };
  void Set(Watched& watched, int fd, uint32_t events);

  std::array<PtyPort*, kSlots> ports_;
  int epoll_ = -1;
  // Per slot: its client watch and its master as registered now.
  std::array<Watched, kSlots> watch_{};
  std::array<Watched, kSlots> master_{};
  std::array<uint32_t, kSlots> generation_{};
};
