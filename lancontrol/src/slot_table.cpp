#include "slot_table.h"

#include "connection.h"

namespace velk::lan {

Slot g_slots[kSlotCount];

namespace {

// A reader thread must not outlive the library's code: on unload (or at process exit) every
// slot is closed, which stops and joins its thread. Defined after the table in this file so
// that it runs before the table is destroyed.
struct CloseSlotsOnUnload {
  ~CloseSlotsOnUnload() {
    for (int slot = 0; slot < kSlotCount; ++slot) {
      std::lock_guard lock(g_slots[slot].call);
      CloseConnection(slot);
    }
  }
} close_slots_on_unload;

}  // namespace

void ConsumeBytes(Slot& slot, int count) {
  const int read_pos = slot.read_pos.load(std::memory_order_relaxed);
  {
    std::lock_guard lock(slot.wake);
    slot.read_pos.store(static_cast<int16_t>((read_pos + count) % kRingSize),
                        std::memory_order_release);
  }
  slot.room_freed.notify_one();
}

}  // namespace velk::lan
