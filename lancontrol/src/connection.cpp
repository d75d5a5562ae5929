#include "connection.h"

#include <algorithm>
#include <cstdint>

#include "host_address.h"
#include "slot_table.h"
#include "socket_calls.h"
#include "socket_layer.h"

namespace velk::lan {
namespace {

// How long the reader thread waits for bytes before it looks at its stop flag again.
constexpr int kReaderWakeMs = 100;
// Slices of the connect wait, between looks at the slot's abandon requests.
constexpr int kConnectSliceMs = 50;

// Waits until the ring has room; returns false when the thread is asked to stop.
bool WaitForRoom(Slot& slot) {
  ScopedLock lock(slot.wake);
  for (;;) {
    if (slot.stop_reader.load(std::memory_order_acquire)) return false;
    if (PendingBytes(slot.read_pos.load(std::memory_order_acquire),
                     slot.write_pos.load(std::memory_order_relaxed)) < kRingCapacity) {
      return true;
    }
    slot.room_freed.Wait(slot.wake);
  }
}

// Receives into the slot's ring until the connection ends or the thread is asked to stop,
// then closes the socket at once. It stops receiving while the ring is full, so unread bytes
// are never overwritten.
void ReaderMain(int number) {
  Slot& slot = g_slots[number];
  SocketHandle socket = kNoSocket;
  {
    ScopedLock lock(slot.wake);
    socket = slot.socket;
  }

  while (!slot.stop_reader.load(std::memory_order_acquire)) {
    const int write_pos = slot.write_pos.load(std::memory_order_relaxed);
    const int pending = PendingBytes(slot.read_pos.load(std::memory_order_acquire), write_pos);
    const int room = kRingCapacity - pending;
    if (room == 0) {
      if (!WaitForRoom(slot)) break;
      continue;
    }
    const SocketWait wait = WaitReadable(socket, kReaderWakeMs);
    if (wait == SocketWait::kTimedOut) continue;
    if (wait == SocketWait::kFailed) break;
    const int contiguous = std::min(room, kRingSize - write_pos);
    const long received =
        ReceiveSome(socket, slot.ring + write_pos, static_cast<size_t>(contiguous));
    if (received == -2) continue;
    if (received <= 0) break;
    {
      ScopedLock lock(slot.wake);
      slot.write_pos.store(static_cast<int16_t>((write_pos + received) % kRingSize),
                           std::memory_order_release);
    }
    slot.data_arrived.NotifyAll();
  }

  {
    ScopedLock lock(slot.wake);
    if (slot.socket != kNoSocket) CloseSocket(slot.socket);
    slot.socket = kNoSocket;
    LinkState connected = LinkState::kConnected;
    slot.state.compare_exchange_strong(connected, LinkState::kEnded, std::memory_order_acq_rel);
    // A closed connection no longer holds the socket layer; the next release may unload it.
    slot.holds_socket.store(false, std::memory_order_release);
  }
  slot.data_arrived.NotifyAll();
}

void CloseSlotSocket(Slot& slot) {
  ScopedLock lock(slot.wake);
  if (slot.socket != kNoSocket) CloseSocket(slot.socket);
  slot.socket = kNoSocket;
}

// Closes a socket that never got a reader thread and frees the slot's socket mark.
int32_t FailOpen(int number, int32_t result) {
  CloseSlotSocket(g_slots[number]);
  ReleaseSocketLayerFor(number);
  return result;
}

// Waits until `deadline` (NowMs clock) for a connect under way to finish. Returns true when
// connected.
bool FinishConnect(Slot& slot, SocketHandle socket, int64_t deadline) {
  for (;;) {
    if (slot.Abandoned()) return false;
    const int64_t left = deadline - NowMs();
    if (left <= 0) return false;
    const SocketWait wait =
        WaitWritable(socket, static_cast<int>(std::min<int64_t>(left, kConnectSliceMs)));
    if (wait == SocketWait::kFailed) return false;
    if (wait == SocketWait::kReady) return !ConnectionFailed(socket);
  }
}

}  // namespace

int32_t OpenConnection(int number, const char* host, uint16_t port) {
  Slot& slot = g_slots[number];
  CloseConnection(number);
  slot.trigger_count = 0;
  // The name look-up counts towards the connect bound.
  const int64_t deadline = NowMs() + kConnectTimeoutMs;

  if (!StartSocketLayerFor(number)) return 1;
  const SocketHandle socket = OpenStreamSocket();
  if (socket == kNoSocket) return FailOpen(number, 1);
  {
    ScopedLock lock(slot.wake);
    slot.socket = socket;
  }

  uint8_t address[4];
  const LookUp found = ResolveHost(host, address, deadline, slot.abandon_requests);
  if (found == LookUp::kNotFound) return FailOpen(number, 2);
  if (found == LookUp::kGaveUp) return FailOpen(number, 1);
  const SocketWait started = StartConnect(socket, address, port);
  if (started == SocketWait::kFailed ||
      (started == SocketWait::kTimedOut && !FinishConnect(slot, socket, deadline))) {
    return FailOpen(number, 1);
  }
  // Requests are small and each waits for its answer: send them at once.
  SetNoDelay(socket);

  slot.read_pos.store(0, std::memory_order_relaxed);
  slot.write_pos.store(0, std::memory_order_relaxed);
  slot.stop_reader.store(false, std::memory_order_relaxed);
  slot.state.store(LinkState::kConnected, std::memory_order_release);
  if (!slot.reader.Start(ReaderMain, number)) {
    slot.state.store(LinkState::kFree, std::memory_order_release);
    return FailOpen(number, 1);
  }
  return 0;
}

void StopReader(int number) {
  Slot& slot = g_slots[number];
  {
    ScopedLock lock(slot.wake);
    slot.stop_reader.store(true, std::memory_order_release);
    if (slot.socket != kNoSocket) ShutdownSocket(slot.socket);
  }
  slot.room_freed.NotifyAll();
}

void CloseConnection(int number) {
  Slot& slot = g_slots[number];
  if (slot.reader.Running()) {
    StopReader(number);
    slot.reader.Join();
  }
  CloseSlotSocket(slot);
  slot.state.store(LinkState::kFree, std::memory_order_release);
}

void CloseConnectionOnUnload(int number, int64_t deadline_ms) {
  Slot& slot = g_slots[number];
  if (slot.reader.Running()) {
    StopReader(number);
    slot.reader.ReleaseOnUnload(deadline_ms);
  }
  CloseSlotSocket(slot);
  slot.state.store(LinkState::kFree, std::memory_order_release);
}

}  // namespace velk::lan
