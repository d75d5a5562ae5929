#include "slot_io.h"

#include <sys/socket.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>

#include "socket_layer.h"

namespace velk::lan {
namespace {

using Clock = std::chrono::steady_clock;

// 400 looks of 5 ms for an answer line, 4 looks of 5 ms for a trigger record; the reader
// thread wakes the waiting caller as soon as bytes arrive.
constexpr auto kAnswerWait = std::chrono::milliseconds(2000);
constexpr auto kTriggerWait = std::chrono::milliseconds(20);

uint8_t RingByte(const Slot& slot, int read_pos, int offset) {
  return slot.ring[(read_pos + offset) % kRingSize];
}

// Copies `count` bytes from the ring at `read_pos` into `out`.
void CopyFromRing(const Slot& slot, int read_pos, int count, char* out) {
  const int first = std::min(count, kRingSize - read_pos);
  std::memcpy(out, slot.ring + read_pos, static_cast<std::size_t>(first));
  std::memcpy(out + first, slot.ring, static_cast<std::size_t>(count - first));
}

// Waits until `deadline` for the write position to move from `seen_write_pos` or the
// connection to end. Returns false on time-out.
bool WaitForData(Slot& slot, int seen_write_pos, Clock::time_point deadline) {
  std::unique_lock lock(slot.wake);
  return slot.data_arrived.wait_until(lock, deadline, [&] {
    return slot.write_pos.load(std::memory_order_acquire) != seen_write_pos ||
           slot.state.load(std::memory_order_acquire) != LinkState::kConnected;
  });
}

void DropPending(Slot& slot, int write_pos) {
  const int read_pos = slot.read_pos.load(std::memory_order_relaxed);
  ConsumeBytes(slot, PendingBytes(read_pos, write_pos));
}

}  // namespace

bool SendRequest(int number, const uint8_t* bytes, std::size_t length) {
  Slot& slot = g_slots[number];
  if (!SocketLayerStarted() ||
      slot.state.load(std::memory_order_acquire) != LinkState::kConnected) {
    return false;
  }
  (void)send(slot.fd, bytes, length, MSG_NOSIGNAL);
  return true;
}

int ReadAnswerLine(int number, char (&line)[kLineBufferSize]) {
  Slot& slot = g_slots[number];
  if (slot.state.load(std::memory_order_acquire) == LinkState::kFree) return 2;
  const Clock::time_point deadline = Clock::now() + kAnswerWait;
  constexpr int kLineRoom = kLineBufferSize - 1;
  int kept = 0;     // bytes of an overlong line already taken out of a full ring
  int scanned = 0;  // pending bytes known to hold no CR
  for (;;) {
    // The state is read before the write position: once the connection has ended, the write
    // position read afterwards covers every byte that arrived.
    const bool connected = slot.state.load(std::memory_order_acquire) == LinkState::kConnected;
    const int read_pos = slot.read_pos.load(std::memory_order_relaxed);
    const int write_pos = slot.write_pos.load(std::memory_order_acquire);
    const int pending = PendingBytes(read_pos, write_pos);
    for (; scanned < pending; ++scanned) {
      if (RingByte(slot, read_pos, scanned) != kCarriageReturn) continue;
      const int copied = std::min(scanned, kLineRoom - kept);
      CopyFromRing(slot, read_pos, copied, line + kept);
      line[kept + copied] = '\0';
      ConsumeBytes(slot, scanned + 1);
      return 0;
    }
    if (pending == kRingCapacity) {
      // A line longer than the ring: keep its head, discard the rest up to the CR.
      const int copied = std::min(pending, kLineRoom - kept);
      CopyFromRing(slot, read_pos, copied, line + kept);
      kept += copied;
      ConsumeBytes(slot, pending);
      scanned = 0;
      continue;
    }
    if (!connected) return 2;
    if (!WaitForData(slot, write_pos, deadline)) return 1;
  }
}

int TakeTriggerRecord(int number, int16_t& record_number, double& record_value) {
  Slot& slot = g_slots[number];
  if (slot.state.load(std::memory_order_acquire) == LinkState::kFree) return 2;
  const Clock::time_point deadline = Clock::now() + kTriggerWait;
  for (bool first = true;; first = false) {
    const bool connected = slot.state.load(std::memory_order_acquire) == LinkState::kConnected;
    const int read_pos = slot.read_pos.load(std::memory_order_relaxed);
    const int write_pos = slot.write_pos.load(std::memory_order_acquire);
    const int pending = PendingBytes(read_pos, write_pos);
    if (first && pending == 0) return 1;
    if (pending >= kTriggerRecordSize) {
      if (RingByte(slot, read_pos, kTriggerRecordSize - 1) != kCarriageReturn) break;
      uint8_t record[kTriggerRecordSize];
      CopyFromRing(slot, read_pos, kTriggerRecordSize, reinterpret_cast<char*>(record));
      record_number = static_cast<int16_t>(record[2] | (record[3] << 8));
      uint64_t bits = 0;
      for (int i = 7; i >= 0; --i) bits = (bits << 8) | record[10 + i];
      record_value = std::bit_cast<double>(bits);
      ConsumeBytes(slot, kTriggerRecordSize);
      return 0;
    }
    if (!connected || !WaitForData(slot, write_pos, deadline)) break;
  }
  DropPending(slot, slot.write_pos.load(std::memory_order_acquire));
  return 1;
}

void DrainTriggerRecords(int number) {
  Slot& slot = g_slots[number];
  int16_t record_number = 0;
  double record_value = 0;
  while (TakeTriggerRecord(number, record_number, record_value) == 0) {
    if (slot.trigger_count < kTriggerQueueSize) {
      slot.triggers[slot.trigger_count] = TriggerEntry{record_number, record_value};
      ++slot.trigger_count;
    }
  }
}

}  // namespace velk::lan
