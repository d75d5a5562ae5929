#include "port_events.h"

#include <errno.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

PortEvents::PortEvents(std::array<PtyPort*, kSlots> ports) : ports_(ports) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
}

PortEvents::~PortEvents() {
  if (epoll_ >= 0) close(epoll_);
}

void PortEvents::Set(Watched& watched, int fd, uint32_t events) {
  if (epoll_ < 0) return;
  if (fd < 0) events = 0;
  if (watched.fd == fd && watched.events == events) return;
  if (watched.fd >= 0 && watched.events != 0) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, watched.fd, nullptr);  // fails harmlessly once closed
  }
  watched = {fd, 0};
  if (fd < 0 || events == 0) return;
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0 ||
      (errno == EEXIST && epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) == 0)) {
    watched.events = events;
  }
}

void PortEvents::Arm(int current, bool serving) {
  for (size_t k = 0; k < kSlots; ++k) {
    PtyPort* port = ports_[k];
    // Closed descriptors leave the set by themselves. A port made anew may have got the same
    // descriptor numbers as before, so its descriptors are registered again.
    const uint32_t generation = port ? port->generation() : 0;
    if (generation != generation_[k]) {
      generation_[k] = generation;
      watch_[k] = {};
      master_[k] = {};
    }
    Set(watch_[k], port ? port->watch_descriptor() : -1, EPOLLIN);

    uint32_t events = 0;
    const int master = port ? port->master_descriptor() : -1;
    if (port && static_cast<int>(k) == current && port->client_present()) {
      // Nothing of the master while serving is paused: its readiness would only wake the loop
      // again and again.
      if (serving && !port->InputPaused()) events |= EPOLLIN;
      if (serving && port->queued_output() > 0) events |= EPOLLOUT;
    }
    Set(master_[k], master, events);
  }
}

bool PortEvents::WakeOn(int fd) {
  if (epoll_ < 0 || fd < 0) return false;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
}

bool PortEvents::Wait(int timeout_ms) {
  if (epoll_ < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms < 0 ? 10 : timeout_ms));
    return false;
  }
  epoll_event events[2 * kSlots];
  const int n = epoll_wait(epoll_, events, static_cast<int>(2 * kSlots), timeout_ms);
  return n > 0;
}

void PortEvents::FollowClients() {
  for (PtyPort* port : ports_) {
    if (port) port->FollowClients();
  }
}
