#include "slot_io.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "socket_calls.h"
#include "socket_layer.h"

namespace velk::lan {
namespace {

// 4 looks of 5 ms for a trigger record to complete; the reader thread wakes the waiting
// caller as soon as bytes arrive.
constexpr int kTriggerWaitMs = 20;
// Slices of the send wait, between looks at the connection state.
constexpr int kSendSliceMs = 50;

uint8_t RingByte(const Slot& slot, int read_pos, int offset) {
  return slot.ring[(read_pos + offset) % kRingSize];
}

// Copies `count` bytes from the ring at `read_pos` into `out`.
void CopyFromRing(const Slot& slot, int read_pos, int count, char* out) {
  const int first = std::min(count, kRingSize - read_pos);
  std::memcpy(out, slot.ring + read_pos, static_cast<std::size_t>(first));
  std::memcpy(out + first, slot.ring, static_cast<std::size_t>(count - first));
}

// Waits until `deadline_ms` for the write position to move from `seen_write_pos`, the
// connection to end or the slot to be abandoned. Returns false on time-out or abandon.
bool WaitForData(Slot& slot, int seen_write_pos, int64_t deadline_ms) {
  ScopedLock lock(slot.wake);
  for (;;) {
    if (slot.Abandoned()) return false;
    if (slot.write_pos.load(std::memory_order_acquire) != seen_write_pos ||
        slot.state.load(std::memory_order_acquire) != LinkState::kConnected) {
      return true;
    }
    if (NowMs() >= deadline_ms) return false;
    slot.data_arrived.WaitUntil(slot.wake, deadline_ms);
  }
}

void DropPending(Slot& slot, int write_pos) {
  const int read_pos = slot.read_pos.load(std::memory_order_relaxed);
  ConsumeBytes(slot, PendingBytes(read_pos, write_pos));
}

// Hands what the system takes now to the socket. Returns the bytes sent, or -1 when the slot
// is no longer connected or the socket failed.
long SendNow(Slot& slot, const uint8_t* bytes, std::size_t length, SocketHandle& socket) {
  ScopedLock lock(slot.wake);
  if (slot.state.load(std::memory_order_acquire) != LinkState::kConnected ||
      slot.socket == kNoSocket) {
    return -1;
  }
  socket = slot.socket;
  return SendSome(socket, bytes, length);
}

}  // namespace

bool SendRequest(int number, const uint8_t* bytes, std::size_t length, int64_t deadline_ms) {
  Slot& slot = g_slots[number];
  if (!SocketLayerStarted()) return false;
  std::size_t sent = 0;
  while (sent < length) {
    SocketHandle socket = kNoSocket;
    const long now_sent = SendNow(slot, bytes + sent, length - sent, socket);
    if (now_sent < 0) return false;
    sent += static_cast<std::size_t>(now_sent);
    if (sent == length) break;
    if (slot.Abandoned()) return false;
    const int64_t left = deadline_ms - NowMs();
    if (left <= 0) return false;
    // The reader thread may close the socket meanwhile; the next SendNow sees that.
    WaitWritable(socket, static_cast<int>(std::min<int64_t>(left, kSendSliceMs)));
  }
  return true;
}

int ReadAnswerLine(int number, char (&line)[kLineBufferSize], int64_t deadline_ms) {
  Slot& slot = g_slots[number];
  if (slot.state.load(std::memory_order_acquire) == LinkState::kFree) return 2;
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
      if (slot.Abandoned() || NowMs() >= deadline_ms) return 1;
      continue;
    }
    if (!connected) return 2;
    if (!WaitForData(slot, write_pos, deadline_ms)) return 1;
  }
}

int TakeTriggerRecord(int number, int16_t& record_number, double& record_value,
                      int64_t deadline_ms) {
  Slot& slot = g_slots[number];
  if (slot.state.load(std::memory_order_acquire) == LinkState::kFree) return 2;
  const int64_t record_deadline = NowMs() + kTriggerWaitMs;
  const int64_t wait_until = std::min(record_deadline, deadline_ms);
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
    if (!connected) break;
    if (!WaitForData(slot, write_pos, wait_until)) {
      // The call's time is up (or the slot is being closed) before the record's own wait:
      // leave the bytes for the next call.
      if (wait_until < record_deadline) return 1;
      break;
    }
  }
  DropPending(slot, slot.write_pos.load(std::memory_order_acquire));
  return 1;
}

void DrainTriggerRecords(int number, int64_t deadline_ms) {
  Slot& slot = g_slots[number];
  const int64_t drain_deadline = std::min(deadline_ms, NowMs() + kDrainBudgetMs);
  int16_t record_number = 0;
  double record_value = 0;
  while (NowMs() < drain_deadline && !slot.Abandoned() &&
         TakeTriggerRecord(number, record_number, record_value, drain_deadline) == 0) {
    if (slot.trigger_count < kTriggerQueueSize) {
      slot.triggers[slot.trigger_count] = TriggerEntry{record_number, record_value};
      ++slot.trigger_count;
    }
  }
}

}  // namespace velk::lan
