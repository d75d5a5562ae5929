#include "connection.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "host_address.h"
#include "slot_table.h"
#include "socket_layer.h"

namespace velk::lan {
namespace {

// Waits until the ring has room; returns false when the thread is asked to stop.
bool WaitForRoom(Slot& slot) {
  std::unique_lock lock(slot.wake);
  slot.room_freed.wait(lock, [&] {
    return slot.stop_reader.load(std::memory_order_acquire) ||
           PendingBytes(slot.read_pos.load(std::memory_order_acquire),
                        slot.write_pos.load(std::memory_order_relaxed)) < kRingCapacity;
  });
  return !slot.stop_reader.load(std::memory_order_acquire);
}

// Receives into the slot's ring until the connection ends or the thread is asked to stop.
// It stops receiving while the ring is full, so unread bytes are never overwritten.
void* ReaderMain(void* argument) {
  const int number = static_cast<int>(reinterpret_cast<intptr_t>(argument));
  Slot& slot = g_slots[number];
  const int fd = slot.fd;  // set before the thread was created; constant until it is joined

  while (!slot.stop_reader.load(std::memory_order_acquire)) {
    const int write_pos = slot.write_pos.load(std::memory_order_relaxed);
    const int pending = PendingBytes(slot.read_pos.load(std::memory_order_acquire), write_pos);
    const int room = kRingCapacity - pending;
    if (room == 0) {
      if (!WaitForRoom(slot)) break;
      continue;
    }
    const int contiguous = std::min(room, kRingSize - write_pos);
    const ssize_t received = recv(fd, slot.ring + write_pos, static_cast<size_t>(contiguous), 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) break;
    {
      std::lock_guard lock(slot.wake);
      slot.write_pos.store(static_cast<int16_t>((write_pos + received) % kRingSize),
                           std::memory_order_release);
    }
    slot.data_arrived.notify_all();
  }

  {
    std::lock_guard lock(slot.wake);
    LinkState connected = LinkState::kConnected;
    if (slot.state.compare_exchange_strong(connected, LinkState::kEnded,
                                           std::memory_order_acq_rel)) {
      // A connection closed by the peer no longer holds the socket layer, but the socket
      // itself stays open until the slot's owner joins this thread and closes it.
      slot.holds_socket.store(false, std::memory_order_release);
    }
  }
  slot.data_arrived.notify_all();
  return nullptr;
}

// Starts the reader thread with every signal blocked, so the caller's signal handlers never
// run on it. Returns false when the thread cannot be created.
bool StartReader(int number) {
  Slot& slot = g_slots[number];
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  const int error = pthread_create(&slot.reader, nullptr, ReaderMain,
                                   reinterpret_cast<void*>(static_cast<intptr_t>(number)));
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return error == 0;
}

// Closes a socket that never got a reader thread and frees the slot's socket mark.
int32_t FailOpen(int number, int32_t result) {
  Slot& slot = g_slots[number];
  if (slot.fd >= 0) close(slot.fd);
  slot.fd = -1;
  ReleaseSocketLayerFor(number);
  return result;
}

}  // namespace

int32_t OpenConnection(int number, const char* host, uint16_t port) {
  Slot& slot = g_slots[number];
  CloseConnection(number);
  slot.trigger_count = 0;

  StartSocketLayerFor(number);
  slot.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (slot.fd < 0) return FailOpen(number, 1);

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  if (!ResolveHost(host, peer.sin_addr)) return FailOpen(number, 2);
  if (connect(slot.fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    return FailOpen(number, 1);
  }
  // Requests are small and each waits for its answer: send them at once.
  const int on = 1;
  setsockopt(slot.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

  slot.read_pos.store(0, std::memory_order_relaxed);
  slot.write_pos.store(0, std::memory_order_relaxed);
  slot.stop_reader.store(false, std::memory_order_relaxed);
  slot.state.store(LinkState::kConnected, std::memory_order_release);
  if (!StartReader(number)) {
    slot.state.store(LinkState::kFree, std::memory_order_release);
    return FailOpen(number, 1);
  }
  slot.reader_running = true;
  return 0;
}

void CloseConnection(int number) {
  Slot& slot = g_slots[number];
  if (slot.reader_running) {
    {
      std::lock_guard lock(slot.wake);
      slot.stop_reader.store(true, std::memory_order_release);
    }
    slot.room_freed.notify_all();
    shutdown(slot.fd, SHUT_RDWR);
    pthread_join(slot.reader, nullptr);
    slot.reader_running = false;
  }
  if (slot.fd >= 0) {
    close(slot.fd);
    slot.fd = -1;
  }
  slot.state.store(LinkState::kFree, std::memory_order_release);
}

}  // namespace velk::lan
