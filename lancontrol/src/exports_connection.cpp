// Control_Init and Control_DeInit.
#include "connection.h"
#include "exchange.h"
#include "slot_table.h"
#include "socket_layer.h"
#include "velk_qentrix_control.h"

using namespace velk::lan;

extern "C" int32_t VELK_QENTRIX_CALL Control_Init(int16_t slot, const char* host, uint16_t port) {
  if (!IsSlotNumber(slot)) return kOutOfRange;
  ScopedLock lock(g_slots[slot].call);
  return OpenConnection(slot, host, port);
}

extern "C" void VELK_QENTRIX_CALL Control_DeInit(int16_t slot) {
  if (!IsSlotNumber(slot)) return;
  // A call still running on the slot in another thread (a connect or an answer wait) gives
  // up at once, so the lock comes free without waiting it out.
  Slot& entry = g_slots[slot];
  BeginAbandon(entry);
  {
    ScopedLock lock(entry.call);
    CloseConnection(slot);
    if (SocketLayerStarted()) ReleaseSocketLayerFor(slot);
  }
  EndAbandon(entry);
}
