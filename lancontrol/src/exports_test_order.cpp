// The active test order, scheme and step (commands 51, 53, 54 and 55).
#include <cstring>

#include "exchange.h"
#include "velk_qentrix_control.h"

using namespace velk::lan;

namespace {

constexpr std::size_t kMaxOrderName = 96;

int32_t AskActive(int16_t slot, uint8_t code, char* text) {
  if (!IsSlotNumber(slot) || text == nullptr) return kOutOfRange;
  return AskText(slot, Request(code), text);
}

}  // namespace

extern "C" int32_t VELK_QENTRIX_CALL Control_ChangeTestOrder(int16_t slot, const char* name) {
  if (!IsSlotNumber(slot) || name == nullptr) return kOutOfRange;
  const std::size_t length = strnlen(name, kMaxOrderName + 1);
  if (length > kMaxOrderName) return kOutOfRange;
  Request request(51);
  request.Byte(static_cast<int>(length)).Text(name, length);
  return AskWrite(slot, request);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Get_ActTestOrder(int16_t slot, char* text) {
  return AskActive(slot, 53, text);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Get_ActTestScheme(int16_t slot, char* text) {
  return AskActive(slot, 54, text);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Get_ActTestStep(int16_t slot, char* text) {
  return AskActive(slot, 55, text);
}
