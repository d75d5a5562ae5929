// Control_Init and Control_DeInit.
#include "connection.h"
#include "exchange.h"
#include "slot_table.h"
#include "socket_layer.h"
#include "velk_qentrix_control.h"

using namespace velk::lan;

extern "C" int32_t Control_Init(int16_t slot, const char* host, uint16_t port) {
  if (!IsSlotNumber(slot)) return kOutOfRange;
  std::lock_guard lock(g_slots[slot].call);
  return OpenConnection(slot, host, port);
}

extern "C" void Control_DeInit(int16_t slot) {
  if (!IsSlotNumber(slot)) return;
  std::lock_guard lock(g_slots[slot].call);
  CloseConnection(slot);
  if (SocketLayerStarted()) ReleaseSocketLayerFor(slot);
}
