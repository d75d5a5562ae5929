// Control_Get_GTrigVal: the oldest trigger value pushed by Qentrix.
#include <algorithm>

#include "exchange.h"
#include "velk_qentrix_control.h"

using namespace velk::lan;

extern "C" int32_t VELK_QENTRIX_CALL Control_Get_GTrigVal(int16_t slot, int16_t* number,
                                                          double* value) {
  if (!IsSlotNumber(slot) || number == nullptr || value == nullptr) return kOutOfRange;
  Exchange exchange(slot);
  Slot& entry = g_slots[slot];
  if (entry.trigger_count <= 0) return kNoAnswer;
  *number = entry.triggers[0].number;
  *value = entry.triggers[0].value;
  std::copy(entry.triggers + 1, entry.triggers + entry.trigger_count, entry.triggers);
  --entry.trigger_count;
  return kSuccess;
}
