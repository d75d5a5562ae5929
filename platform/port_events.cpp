#include "port_events.h"

#include <errno.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

PortEvents::PortEvents(std::array<PtyPort*, kSlots> ports) : ports_(ports) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
}

PortEvents::~PortEvents() {
  if (epoll_ >= 0) close(epoll_);
}

void PortEvents::Set(Watched& watched, int fd, bool watch, uint32_t events) {
  if (epoll_ < 0) return;
  if (fd < 0) watch = false;
  if (watched.fd == fd && watched.registered == watch && (!watch || watched.events == events)) {
    return;
  }
  if (watched.registered) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, watched.fd, nullptr);  // fails harmlessly once closed
  }
  watched = {fd, 0, false};
  if (!watch) return;
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0 ||
      (errno == EEXIST && epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) == 0)) {
    watched.events = events;
    watched.registered = true;
  }
}

void PortEvents::FollowNetworkTimers() {
  timeout_ms_ = -1;
  for (INetworkSide* side : network_) {
    if (!side) continue;
    const int next = side->FollowTimers();
    if (next >= 0 && (timeout_ms_ < 0 || next < timeout_ms_)) timeout_ms_ = next;
  }
}

void PortEvents::Arm(int current, bool serving, bool every_slot) {
  // Limits that passed end their network clients before the set is chosen.
  FollowNetworkTimers();
  for (size_t k = 0; k < kSlots; ++k) {
    PtyPort* port = ports_[k];
    // Closed descriptors leave the set by themselves. A port made anew may have got the same
    // descriptor numbers as before, so its descriptors are registered again.
    const uint32_t generation = port ? port->generation() : 0;
    if (generation != generation_[k]) {
      generation_[k] = generation;
      watch_[k] = {};
      retired_[k] = {};
      master_[k] = {};
    }
    Set(watch_[k], port ? port->watch_descriptor() : -1, true, EPOLLIN);
    Set(retired_[k], port ? port->retired_watch_descriptor() : -1, true, EPOLLIN);

    // A master nobody holds is hung up for good: it is watched only while a client holds it,
    // for the moment it leaves.
    const bool held = port && port->client_present();
    uint32_t events = EPOLLHUP;
    if (held && (every_slot || static_cast<int>(k) == current) && serving) {
      // Nothing of the master while serving is paused: its readiness would only wake the loop
      // again and again.
      if (!port->InputPaused()) events |= EPOLLIN;
      if (port->queued_output() > 0) events |= EPOLLOUT;
    }
    Set(master_[k], port ? port->master_descriptor() : -1, held, events);
    ArmNetwork(k);
  }
}

void PortEvents::SetNetworkSide(size_t k, INetworkSide* side) {
  if (k >= kSlots) return;
  for (const auto& [fd, events] : network_registered_[k]) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  }
  network_registered_[k].clear();
  network_[k] = side;
  network_generation_[k] = side ? side->generation() - 1 : 0;
}

void PortEvents::ArmNetwork(size_t k) {
  INetworkSide* side = network_[k];
  if (!side || epoll_ < 0) return;
  std::map<int, uint32_t>& registered = network_registered_[k];
  // Closed descriptors left the set by themselves; numbers may have been reused since.
  if (side->generation() != network_generation_[k]) {
    network_generation_[k] = side->generation();
    registered.clear();
  }
  // Asked after every serving step: the list's memory is kept from one step to the next.
  std::vector<INetworkSide::Watch>& wanted = network_wanted_;
  wanted.clear();
  side->Watches(wanted);
  for (auto it = registered.begin(); it != registered.end();) {
    const bool kept = std::any_of(wanted.begin(), wanted.end(),
                                  [&](const INetworkSide::Watch& w) { return w.fd == it->first; });
    if (kept) {
      ++it;
      continue;
    }
    epoll_ctl(epoll_, EPOLL_CTL_DEL, it->first, nullptr);
    it = registered.erase(it);
  }
  for (const INetworkSide::Watch& w : wanted) {
    auto it = registered.find(w.fd);
    if (it != registered.end() && it->second == w.events) continue;
    epoll_event event{};
    event.events = w.events;
    event.data.fd = w.fd;
    if (epoll_ctl(epoll_, EPOLL_CTL_MOD, w.fd, &event) == 0 ||
        (errno == ENOENT && epoll_ctl(epoll_, EPOLL_CTL_ADD, w.fd, &event) == 0)) {
      registered[w.fd] = w.events;
    }
  }
}

bool PortEvents::WakeOn(int fd) {
  if (epoll_ < 0 || fd < 0) return false;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
}

int PortEvents::Collect(int timeout_ms) {
  epoll_event events[2 * kSlots + 16];
  const int n = epoll_wait(epoll_, events, static_cast<int>(std::size(events)), timeout_ms);
  ready_.clear();
  for (int i = 0; i < n; ++i) {
    const int fd = events[i].data.fd;
    const uint32_t ready = events[i].events;
    ready_.emplace_back(fd, ready);
  }
  have_ready_ = true;
  return n;
}

bool PortEvents::Wait(int timeout_ms) {
  if (epoll_ < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms < 0 ? 10 : timeout_ms));
    return false;
  }
  return Collect(timeout_ms) > 0;
}

void PortEvents::FollowClients() {
  if (epoll_ >= 0 && !have_ready_) Collect(0);
  have_ready_ = false;
  for (size_t k = 0; k < kSlots; ++k) {
    PtyPort* port = ports_[k];
    if (!port) continue;
    bool due = epoll_ < 0;
    for (const auto& [fd, events] : ready_) {
      if (fd < 0) continue;
      if (fd == port->watch_descriptor() || fd == port->retired_watch_descriptor()) due = true;
      // A master counts only for its hang-up; its input and output are the serving step's.
      if (fd == port->master_descriptor() && (events & (EPOLLHUP | EPOLLERR))) due = true;
    }
    if (due) port->FollowClients();
  }
  // The network sides: arrivals and departures.
  for (size_t k = 0; k < kSlots; ++k) {
    INetworkSide* side = network_[k];
    if (!side) continue;
    for (const auto& [fd, events] : ready_) {
      if (network_registered_[k].count(fd) > 0) side->Ready(fd, events);
    }
  }
  FollowNetworkTimers();
  std::vector<int> readable;
  for (const auto& [fd, events] : ready_) {
    if (readers_.count(fd) > 0) readable.push_back(fd);
  }
  ready_.clear();
  for (int fd : readable) {
    // A handler may stop watching its own or another descriptor.
    auto it = readers_.find(fd);
    if (it == readers_.end()) continue;
    std::function<void()> ready = it->second;
    ready();
  }
}

bool PortEvents::WatchReadable(int fd, std::function<void()> ready) {
  if (epoll_ < 0 || fd < 0) return false;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) return false;
  readers_[fd] = std::move(ready);
  return true;
}

void PortEvents::Unwatch(int fd) {
  if (readers_.erase(fd) == 0) return;
  epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
}
