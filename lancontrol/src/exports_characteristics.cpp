// Names, units, data sets and statistical parameters of characteristics (commands 57, 60,
// 61, 84, 85 and 90).
#include <cstring>

#include "exchange.h"
#include "velk_qentrix_control.h"

using namespace velk::lan;

namespace {

constexpr std::size_t kMaxUnit = 96;
constexpr std::size_t kMaxDataSetText = 93;

bool IsCharacteristic(int c) { return InRange(c, 1, 128); }
bool IsDataSet(int d, int c) { return InRange(d, 1, 30) && InRange(c, 0, 128); }

}  // namespace

extern "C" int32_t VELK_QENTRIX_CALL Control_Get_CharName(int16_t slot, int16_t c, char* name) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || name == nullptr) return kOutOfRange;
  return AskText(slot, Request(57).Byte(c), name);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Get_CharUnit(int16_t slot, int16_t c, char* unit) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || unit == nullptr) return kOutOfRange;
  return AskText(slot, Request(84).Byte(c), unit);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Set_CharUnit(int16_t slot, int16_t c,
                                                          const char* unit) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || unit == nullptr) return kOutOfRange;
  const std::size_t length = strnlen(unit, kMaxUnit + 1);
  if (length > kMaxUnit) return kOutOfRange;
  Request request(85);
  request.Byte(c).Text(unit, length);
  return AskWrite(slot, request);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Set_RIDataSet(int16_t slot, int16_t d, int16_t c,
                                                           const char* text) {
  if (!IsSlotNumber(slot) || !IsDataSet(d, c) || text == nullptr) return kOutOfRange;
  const std::size_t length = strnlen(text, kMaxDataSetText + 1);
  if (length > kMaxDataSetText) return kOutOfRange;
  Request request(60);
  request.Byte(d).Byte(0).Byte(c).Byte(static_cast<int>(length)).Text(text, length);
  return AskWrite(slot, request);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Read_RIDataSet(int16_t slot, int16_t d, int16_t c,
                                                            char* text) {
  if (!IsSlotNumber(slot) || !IsDataSet(d, c) || text == nullptr) return kOutOfRange;
  return AskText(slot, Request(61).Byte(d).Byte(0).Byte(c), text);
}

extern "C" int32_t VELK_QENTRIX_CALL Control_Get_StatParam(int16_t slot, int16_t c, int16_t p,
                                                           double* value) {
  if (!IsSlotNumber(slot) || !IsCharacteristic(c) || value == nullptr) return kOutOfRange;
  return AskNumber(slot, Request(90).Byte(c).Byte(p), *value);
}
