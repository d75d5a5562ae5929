#include "slot_table.h"

#include "connection.h"

namespace velk::lan {

Slot g_slots[kSlotCount];

namespace {

// How long unloading waits in all for calls still running on other threads to give up, and
// then for the reader threads to end.
constexpr int kUnloadCallWaitMs = 500;
constexpr int kUnloadReaderWaitMs = 1000;

// A reader thread must not outlive the library's code: on unload (or at process exit) every
// slot is closed and its thread stopped. Calls running on other threads are told to give up
// and get a short grace time; a slot whose call lock stays taken (a thread killed at process
// exit holds it) only has its reader told to stop. Defined after the table in this file so
// that it runs before the table is destroyed.
struct CloseSlotsOnUnload {
  ~CloseSlotsOnUnload() {
    // Every reader is told to stop before any is waited for, so they end side by side.
    for (int number = 0; number < kSlotCount; ++number) {
      BeginAbandon(g_slots[number]);
      StopReader(number);
    }
    const int64_t call_deadline = NowMs() + kUnloadCallWaitMs;
    const int64_t reader_deadline = call_deadline + kUnloadReaderWaitMs;
    for (int number = 0; number < kSlotCount; ++number) {
      Slot& slot = g_slots[number];
      bool locked = slot.call.try_lock();
      while (!locked && NowMs() < call_deadline) {
        SleepMs(5);
        locked = slot.call.try_lock();
      }
      if (!locked) continue;
      CloseConnectionOnUnload(number, reader_deadline);
      slot.call.unlock();
    }
  }
} close_slots_on_unload;

}  // namespace

void ConsumeBytes(Slot& slot, int count) {
  const int read_pos = slot.read_pos.load(std::memory_order_relaxed);
  {
    ScopedLock lock(slot.wake);
    slot.read_pos.store(static_cast<int16_t>((read_pos + count) % kRingSize),
                        std::memory_order_release);
  }
  slot.room_freed.NotifyAll();
}

void BeginAbandon(Slot& slot) {
  slot.abandon_requests.fetch_add(1, std::memory_order_acq_rel);
  { ScopedLock lock(slot.wake); }
  slot.data_arrived.NotifyAll();
}

void EndAbandon(Slot& slot) { slot.abandon_requests.fetch_sub(1, std::memory_order_acq_rel); }

}  // namespace velk::lan
