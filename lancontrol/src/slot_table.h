// The fixed table of the 100 connection slots and the receive ring of each.
#pragma once

#include <atomic>
#include <cstdint>

#include "socket_calls.h"
#include "thread_primitives.h"

namespace velk::lan {

constexpr int kSlotCount = 100;
constexpr int kRingSize = 1000;
// One place of the ring stays empty so that a full ring differs from an empty one.
constexpr int kRingCapacity = kRingSize - 1;
constexpr int kTriggerQueueSize = 100;
constexpr int kLineBufferSize = 104;
constexpr int kTriggerRecordSize = 19;
constexpr uint8_t kCarriageReturn = 0x0D;

struct TriggerEntry {
  int16_t number;
  double value;
};

enum class LinkState : uint8_t {
  kFree,       // no connection; the ring holds nothing of interest
  kConnected,  // reader thread receiving
  kEnded,      // the connection ended (socket closed); the ring keeps what had arrived
};

struct Slot {
  // Held by every export, Control_Init and Control_DeInit for the slot, so that one
  // exchange (drain, request, answer) is never mixed with another on the same slot.
  Mutex call;

  // Owned by the caller side (guarded by `call`).
  Thread reader;
  TriggerEntry triggers[kTriggerQueueSize]{};
  int16_t trigger_count = 0;

  // Control_DeInit calls (and the library's unload) waiting to close the slot. While it is
  // nonzero every wait of a call on the slot ends at once, so the closer gets the call lock
  // without waiting out a connect or an answer.
  std::atomic<int> abandon_requests{0};

  // Guarded by `wake`. While the reader thread runs only it closes the socket (when the
  // connection ends or it is told to stop); otherwise the caller side owns it.
  SocketHandle socket = kNoSocket;

  // Shared with the reader thread.
  std::atomic<LinkState> state{LinkState::kFree};
  std::atomic<bool> stop_reader{false};
  // Counts as an open socket for the socket layer's release rule.
  std::atomic<bool> holds_socket{false};
  // The reader thread fills the ring and publishes write_pos (release); the caller side
  // consumes and publishes read_pos (release).
  std::atomic<int16_t> write_pos{0};
  std::atomic<int16_t> read_pos{0};
  uint8_t ring[kRingSize]{};

  Mutex wake;
  CondVar data_arrived;  // reader thread or closer -> waiting caller
  CondVar room_freed;    // caller -> reader thread waiting for room

  bool Abandoned() const { return abandon_requests.load(std::memory_order_acquire) > 0; }
};

// The slot table, one per process.
extern Slot g_slots[kSlotCount];

// Returns whether `slot` names a slot (0 to 99).
inline bool IsSlotNumber(int slot) { return slot >= 0 && slot < kSlotCount; }

// Returns the number of unread bytes for the given positions (0 to 999).
inline int PendingBytes(int read_pos, int write_pos) {
  int pending = write_pos - read_pos;
  return pending < 0 ? pending + kRingSize : pending;
}

// Marks the first `count` pending bytes of the slot as consumed and wakes its reader thread
// if it waits for room. Caller side only.
void ConsumeBytes(Slot& slot, int count);

// Announces a closer of the slot: every wait of a call on it ends at once until
// EndAbandon. Needs no lock.
void BeginAbandon(Slot& slot);
void EndAbandon(Slot& slot);

}  // namespace velk::lan
