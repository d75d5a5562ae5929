// Registers: content, setting and name (commands 30, 31 and 32).
#include "exchange.h"
#include "velk_qentrix_control.h"

using namespace velk::lan;

namespace {

bool IsRegister(unsigned r) { return InRange(r, 1, 2000); }

}  // namespace

extern "C" int32_t VELK_QENTRIX_CALL Control_GetRegister(int16_t slot, uint16_t r, double* value) {
  if (!IsSlotNumber(slot) || !IsRegister(r) || value == nullptr) return kOutOfRange;
  return AskNumber(slot, Request(30).Word(r), *value);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_SetRegister(int16_t slot, uint16_t r, double value) {
  if (!IsSlotNumber(slot) || !IsRegister(r)) return kOutOfRange;
  Request request(31);
  if (!request.Word(r).Number(value)) return kOutOfRange;
  return AskWrite(slot, request);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Get_RegisterName(int16_t slot, uint16_t r,
                                                              char* name) {
  if (!IsSlotNumber(slot) || !IsRegister(r) || name == nullptr) return kOutOfRange;
  return AskText(slot, Request(32).Word(r), name);
}
