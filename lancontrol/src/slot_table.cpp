#include "slot_table.h"

namespace velk::lan {

Slot g_slots[kSlotCount];

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
